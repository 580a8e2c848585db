// Drives the window through its real widgets, offscreen, with the list file in
// the scratch home each test executable runs in.
#pragma once

#include <functional>
#include <memory>

#include <QtTest>
#include <QtWidgets>

#include "model/recording.h"
#include "model/recordinglist.h"
#include "ui/alerts.h"
#include "ui/recordingpicker.h"
#include "ui/skyvane.h"

// Answers every alert of the window while it lives, and keeps what it was asked.
struct AlertRecorder
{
    AlertRecorder()
    {
        setAlertPresenter([this](QWidget *, const Alert &alert) {
            alerts.append(alert);
            return answer;
        });
    }
    ~AlertRecorder() { setAlertPresenter(nullptr); }
    AlertRecorder(const AlertRecorder &) = delete;
    AlertRecorder &operator=(const AlertRecorder &) = delete;

    QStringList titles() const
    {
        QStringList result;
        for (const Alert &alert : alerts)
            result.append(alert.title);
        return result;
    }

    QList<Alert> alerts;
    AlertAnswer answer = AlertAnswer::Default;
};

// The window's controls, found by their object names as a user finds them by
// their labels.
struct Controls
{
    explicit Controls(Skyvane &shown) : window(shown) {}

    template<class Widget> Widget *get(const char *name) const
    {
        auto *widget = window.findChild<Widget *>(QString::fromUtf8(name));
        if (!widget)
            qFatal("the window has no control named %s", name);
        return widget;
    }

    Skyvane &window;
    RecordingPicker *picker = get<RecordingPicker>("recordingChoice");
    QLineEdit *station = get<QLineEdit>("stationField"),
              *playlist = get<QLineEdit>("playlistField"), *artist = get<QLineEdit>("artistField");
    QComboBox *hourTime = get<QComboBox>("hourTime"), *minuteTime = get<QComboBox>("minuteTime"),
              *ampm = get<QComboBox>("ampm"), *hourDuration = get<QComboBox>("hourDuration"),
              *minuteDuration = get<QComboBox>("minuteDuration"),
              *shoutLang = get<QComboBox>("shoutLang");
    QCheckBox *daily = get<QCheckBox>("dailyButton");
    QPushButton *newButton = get<QPushButton>("newButton"),
                *cloneButton = get<QPushButton>("cloneButton"),
                *deleteButton = get<QPushButton>("deleteButton"),
                *nowButton = get<QPushButton>("nowButton"),
                *stopButton = get<QPushButton>("stopButton"),
                *revertButton = get<QPushButton>("revertButton");
    QPlainTextEdit *log = get<QPlainTextEdit>("log");
    QProgressBar *progress = get<QProgressBar>("progress");
};

namespace Harness {

// The station of every stored row unless a test changes it: nothing listens.
inline const QString storedUrl = QStringLiteral("http://127.0.0.1:9/stream");

// Removes the list file and anything kept aside from it.
inline void removeListFiles()
{
    const QFileInfo list(RecordingList::prefPath());
    for (const QFileInfo &leftover : list.dir().entryInfoList(
             {list.fileName() + u'*'}, QDir::AllEntries | QDir::NoDotAndDotDot))
        leftover.isDir() ? QDir(leftover.filePath()).removeRecursively()
                         : QFile::remove(leftover.filePath());
}

// A shown window on a list file of these rows, each changed by `edit` before it
// is written; without rows, on no list file at all.
inline std::unique_ptr<Skyvane> start(const QStringList &names = {},
                                      const std::function<void(Recording &)> &edit = {})
{
    if (!names.isEmpty()) {
        RecordingList list;
        for (const QString &name : names) {
            Recording *row = list.append(Recording::initWithName(name));
            row->url = storedUrl;
            if (edit)
                edit(*row);
        }
        if (!list.storeRecList())
            qFatal("could not write the list file");
    }
    auto window = std::make_unique<Skyvane>();
    window->show();
    return window;
}

inline QByteArray storedBytes()
{
    QFile file(RecordingList::prefPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A value of a row as the list file holds it.
inline QJsonValue stored(int row, const char *key)
{
    return QJsonDocument::fromJson(storedBytes()).array().at(row)[QString::fromUtf8(key)];
}

inline QStringList storedNames()
{
    QStringList result;
    for (const QJsonValue &row : QJsonDocument::fromJson(storedBytes()).array())
        result.append(row[u"name"].toString());
    return result;
}

inline QStringList names(Skyvane &window)
{
    QStringList result;
    for (int i = 0; i < window.recList().size(); ++i)
        result.append(window.recList().at(i)->name);
    return result;
}

// Opens the picker and chooses a row from its list with the keyboard.
inline void choose(RecordingPicker *picker, int index)
{
    picker->showPopup();
    QAbstractItemView *list = picker->view();
    QVERIFY(list->isVisible());
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCoreApplication::sendPostedEvents();
}

// Drags the data over the window and drops it, as the platform does; the
// action the drop was accepted with, or IgnoreAction.
inline Qt::DropAction drop(Skyvane &window, QMimeData &data, Qt::DropActions allowed)
{
    const QPoint point(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(point, allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent dropped(QPointF(point), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

} // namespace Harness
