#pragma once

#include <array>
#include <memory>

#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include "model/recorderhost.h"
#include "model/recordinglist.h"
#include "ui/widgetcontrols.h"

class QAbstractButton;
class QComboBox;
class QDropEvent;
class PlainTextLogView;
class Recording;
class WidgetProgressBar;
namespace Ui {
class SkyvaneWindow;
}

// Skyvane's one window and its controller: the editor of one recording at a
// time, the list commands, the log view and progress bar of the recording
// shown, and station links dropped from a browser. It owns the list of
// recordings and is the host the capture code calls back into.
//
// The widgets keep the outlet names the field table binds by (stationField,
// recordingChoice, ...), so the form finds them by object name.
class Skyvane : public QWidget, public RecorderHost
{
    Q_OBJECT

public:
    // Builds the window and loads the list: every stored recording schedules
    // itself, and the editor shows the first one, or a new "New Recording 1".
    explicit Skyvane(QWidget *parent = nullptr);
    ~Skyvane() override;

    RecordingList &recList() { return m_list; }
    Recording *current() const { return m_current; }
    int curIndex() const { return m_curIndex; }
    // The weekday buttons, Monday first.
    const std::array<QAbstractButton *, 7> &days() const { return m_days; }
    // The encoding number behind each item of the encoding box.
    const QList<quint32> &langList() const { return m_langList; }

    // Ends every running capture, then saves the editor. Runs once per showing
    // of the window, whichever comes first: closing it or the application
    // quitting.
    void windowWillClose();

    // ---- The editor (skyvane_editor.cpp) ----
    void loadRecord(int index);
    // Checks and saves the editor into the current recording, schedules it and
    // stores the list. False, after an alert, when a check refuses the input.
    bool saveRecord();
    void enableButtons() override;
    // Space and tab stripped from both ends; line breaks are kept.
    static QString trim(const QString &text);
    // Keeps each item's text and gives it the number it shows as its data.
    static void fixComboBox(QComboBox *box);
    void comboBoxWillPopUp();
    void comboBoxSelectionIsChanging();
    // True when the editor shows the chosen row afterwards.
    bool comboBoxSelectionDidChange(int index);

    // ---- The list commands (skyvane_commands.cpp) ----
    void newPressed();
    void clonePressed();
    void deletePressed();
    void nowPressed();
    void stopPressed();
    void savePressed();
    void revertPressed();
    void dailyPressed();
    void adjustEnabled();
    void clearDay(int index) override;
    void newRecord();
    void storeRecList() override;

    // The help page: installed beside the program, or in the source tree when
    // run from a build folder. "" when there is none.
    static QString helpPagePath();
    void displayHelp();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void awakeFromNib();
    void fillEncodingList();
    void connectControls();
    void addShortcuts();
    void reportProblem(const QString &title, const QString &text);
    void recordingChosen(int index, const QString &label);
    void showTime(qint32 startTime);
    void showDuration(qint32 duration);
    void readTimeAndDuration();
    static bool acceptStationDrag(QDropEvent *event);

    std::unique_ptr<Ui::SkyvaneWindow> m_ui;
    WidgetForm m_form;
    // Adapters of the controls the controller reads and writes itself.
    std::unique_ptr<ComboControl> m_hourTime, m_minuteTime, m_ampm, m_hourDuration,
        m_minuteDuration;
    std::unique_ptr<PlainTextLogView> m_logView;
    std::unique_ptr<WidgetProgressBar> m_progressBar;
    std::array<QAbstractButton *, 7> m_days{};
    QList<quint32> m_langList;
    QSet<QString> m_pendingProblems;
    QString m_saveName;
    bool m_closed = false;

    // Last, so that the recordings go before the adapters they may be
    // attached to.
    RecordingList m_list;
    Recording *m_current = nullptr;
    int m_curIndex = 0;
};
