#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>

#include "values/recordingsettings.h"
#include "ui/fieldeditors.h"

class QAbstractButton;
class QAction;
class StationProbe;
struct ProbeReport;
class QLineEdit;
class QModelIndex;
class QWidget;
class Recording;
class RecordingList;
class RecordingSortModel;
class RecordingTableModel;
namespace Ui {
class SkyvaneWindow;
}

// The window's editor of one recording of the list at a time: it moves the
// recording's settings to the controls and back, checks what the user typed
// before it is saved, keeps which controls are enabled, shows the recording's
// log, progress and live figures as they grow, and runs the overview of all
// recordings: the row picked there is the one edited.
class RecordingEditor : public QObject
{
    Q_OBJECT

public:
    // The controls are children of `window`.
    RecordingEditor(Ui::SkyvaneWindow &ui, RecordingList &list, QWidget *window);
    ~RecordingEditor() override;

    Recording *current() const { return m_current; }
    // The row of the recording shown; -1 when none is.
    int currentIndex() const;

    RecordingTableModel &overview() { return *m_overview; }
    // The overview as the view shows it: sorted, by name at first, and filtered.
    RecordingSortModel &sortedOverview() { return *m_sorted; }

    // Shows row `index` of the list, follows it from now on, and selects it
    // in the overview; an index outside the list shows no recording.
    void show(int index);
    // Stops following the recording shown, which is about to go.
    void release();
    // Checks the controls and saves them into the recording shown, plans its
    // next start and has the list stored, off the event loop. False when a
    // check refuses the input, which is then said beside the field; the
    // controls keep what the user typed.
    bool save();
    void revert() { show(currentIndex()); }
    // What picking another row does with the recording shown; true when the
    // switch may go on. By default it is saved.
    void setLeaveHandler(std::function<bool()> leave) { m_leave = std::move(leave); }
    // Whether the controls differ from the settings of the recording shown, as
    // a save would take them.
    bool hasUnsavedEdits() const;

    // Which controls are enabled follows the repeat and split choices, and
    // whether the recording shown captures.
    void updateEnabled();

    // Try: connects to the station as typed for a few seconds and says
    // beside the fields what it sends, titles above all.
    void tryStation();

Q_SIGNALS:
    // Another recording, or none, is shown.
    void shownChanged();

private:
    // What a save refuses, and the control to mend.
    struct Problem
    {
        QWidget *field = nullptr;
        QString message;
    };

    RecordingSettings editedSettings() const;
    std::optional<Problem> check(const RecordingSettings &edited) const;
    void showProblem(const std::optional<Problem> &problem);
    void showNothing();
    void showTried(const ProbeReport &report);
    void setEditing(bool editing);
    void showLog();
    void appendLog(const QString &message);
    void scrollLogToEnd();
    void showProgress();
    void clearWeekday(int index);
    void rowPicked(const QModelIndex &row);
    void selectCurrent();

    Ui::SkyvaneWindow &m_ui;
    RecordingList &m_list;
    // The editor of each control of the field table, by its name.
    std::map<std::string, std::unique_ptr<FieldEditor>, std::less<>> m_editors;
    std::array<QAbstractButton *, 7> m_days{};
    Recording *m_current = nullptr;
    std::function<bool()> m_leave;
    RecordingTableModel *m_overview;       // a child
    RecordingSortModel *m_sorted;          // a child, over m_overview
    qsizetype m_logShown = 0;              // the length of the log the view shows
    bool m_selecting = false;              // the editor moves the overview's selection
    QAction *m_mark;                       // a child: the warning sign in a refused field
    QLineEdit *m_marked = nullptr;         // the field that shows it
    std::unique_ptr<StationProbe> m_probe; // while a try runs
};
