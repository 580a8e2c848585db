#pragma once

#include <memory>

#include <QSet>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "directory/directoryclient.h"
#include "model/recordinglist.h"
#include "platform/desktopnotifications.h"
#include "ui/recordingeditor.h"

class QAction;
class QLabel;
class QDropEvent;
class TrayIcon;
namespace Ui {
class SkyvaneWindow;
}

// Skyvane's one window: the editor of one recording at a time, the list
// commands of its buttons and shortcuts, problems of the list file shown as
// alerts, and station links dropped from a browser. It owns the list.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // Builds the window and loads the list: every stored recording plans its
    // next start, and the editor shows the first one, or a new
    // "New Recording 1".
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    RecordingList &list() { return m_list; }
    const RecordingList &list() const { return m_list; }
    RecordingEditor &editor() { return *m_editor; }

    // Quitting: saves the editor's unsaved edits, once per showing of the
    // window (a refusal's alert may show), and drops a new recording never
    // saved; then ends every capture, each end stored in the list file, and
    // stops the schedule. Called again, it ends whatever started since.
    void stopAndSave();
    // Shows the window in front, as asked by a second start of Skyvane.
    void bringToFront();
    // Whether closing keeps Skyvane running in the desktop's tray.
    bool hasTray() const { return m_tray != nullptr; }
    // Quits as asked from the tray: asks about unsaved edits first. False when
    // the user stays.
    bool requestQuit();
    // Quits without a question, as when the session ends: valid edits are
    // saved, every capture ends.
    void quitNow();

    // The help page: installed beside the program, or in the source tree when
    // run from a build folder. "" when there is none.
    static QString helpPagePath();

    // The list commands of the buttons and of a row's menu.
    void newPressed();
    void clonePressed();
    void deletePressed();
    void nowPressed();
    void stopPressed();
    void editPressed();
    void findPressed();
    // The radio directory searched by Find Station (`--directory`).
    void setDirectoryUrl(const QUrl &url) { m_directory.setBaseUrl(url); }
    void showRecording(const Recording *recording);
    void openFolder();
    void editNonSongTitles();
    void displayHelp();

Q_SIGNALS:
    // The window has ended everything: the application may quit.
    void quitRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void connectButtons();
    void addShortcuts();
    void loadList();
    void addStation(const DirectoryStation &station);
    void fitToScreen();
    void keepOnScreen();
    void setUpOverview();
    void showEmptyState();
    void fitNameColumn();
    void addRowActions();
    void showRowMenu(const QPoint &at);
    void nameComboBoxEditors();
    void showTitle();
    bool settleQuit(bool quitting);
    bool confirmQuit(const QString &question, const QString &text, const QString &quit);
    void addNewRecording();
    Recording *addRow(std::unique_ptr<Recording> recording);
    void reportProblem(const QString &title, const QString &text);
    static bool acceptStationDrag(QDropEvent *event);
    void addBackgroundOptions();
    void openLocalFile(const QString &path, const QString &failure);
    void follow(Recording *recording);
    void watchEdits();
    bool settleEdits();
    bool leaveFreshRecording();
    void hideToTray();
    void finishQuit();
    void rememberWindow() const;

    std::unique_ptr<Ui::SkyvaneWindow> m_ui;
    DirectoryClient m_directory; // its address is Find Station's; counts the stations taken
    QSet<QString> m_pendingProblems;
    bool m_closed = false;
    RecordingList m_list;
    // After the list, so that it stops following a recording before the
    // recordings go.
    std::unique_ptr<RecordingEditor> m_editor;
    DesktopNotifications m_notifications;
    QList<QAction *> m_options;     // children: autostart, notify starts, non-song titles
    QList<QAction *> m_rowActions;  // children: the commands of a row's menu
    QLabel *m_emptyState = nullptr; // a child of the overview, while it has no rows
    TrayIcon *m_tray = nullptr;     // a child, where the desktop has a tray
    QPointer<Recording> m_fresh;    // a new recording, until its first save
    QTimer m_modifiedCheck;         // marks the title once the controls have settled
    bool m_quitting = false;
};
