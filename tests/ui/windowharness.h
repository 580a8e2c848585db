#pragma once

#include <memory>

#include <QList>
#include <QString>
#include <QStringList>
#include <Qt>

#include "ui/alerts.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class RecordingPicker;
class Skyvane;

// Answers every alert of the window while it lives, and keeps what it was asked.
class AlertRecorder
{
public:
    AlertRecorder();
    ~AlertRecorder();
    AlertRecorder(const AlertRecorder &) = delete;
    AlertRecorder &operator=(const AlertRecorder &) = delete;

    QStringList titles() const;
    QList<Alert> alerts;
    AlertAnswer answer = AlertAnswer::Default;
};

// The window's controls, found by their object names as a user would find them
// by their labels.
struct Controls
{
    explicit Controls(Skyvane &window);

    RecordingPicker *picker;
    QLineEdit *station, *playlist, *title, *artist, *album;
    QComboBox *genre, *recCount, *hourTime, *minuteTime, *ampm, *hourDuration, *minuteDuration,
        *shoutLang;
    QCheckBox *daily, *once, *split, *reconnect, *splitTitle, *keepPartial;
    QPushButton *newButton, *cloneButton, *deleteButton, *nowButton, *stopButton, *saveButton,
        *revertButton;
    QPlainTextEdit *log;
    QProgressBar *progress;

    void setTime(const QString &hour, const QString &minute, const QString &half);
    void setDuration(const QString &hours, const QString &minutes);
};

// A recording as a test writes it into the list file before the window starts.
struct StoredRecording
{
    QString name;
    QString url = QStringLiteral("http://127.0.0.1:9/stream");
    QString playList = QStringLiteral("My Skyvane Recordings");
    qint32 startTime = 600;
    qint32 shoutLang = 134217984;
    bool everyDay = false;
};

namespace Harness {
StoredRecording row(const QString &name, qint32 startTime = 600, qint32 shoutLang = 134217984,
                    bool everyDay = false);
QString listPath();
// Removes the list file and anything kept aside from it.
void removeListFiles();
void writeList(const QList<StoredRecording> &rows);
QList<StoredRecording> readList();
QStringList names(Skyvane &window);
// Drags the data over the window and drops it, as the platform does; the
// action the drop was accepted with, or IgnoreAction.
Qt::DropAction drop(Skyvane &window, QMimeData &data, Qt::DropActions allowed);
} // namespace Harness
