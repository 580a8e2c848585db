#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class Recording;
class RecordingList;

// Skyvane's icon in the desktop's tray while it runs, through which a hidden
// window comes back: a click shows the window; the menu shows it, ends one
// capture or every one, offers the window's options, or quits. Its tooltip and
// menu follow the list: what records, how long yet, or what starts next.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // `options` are the window's checkable settings, shown in the menu. The
    // list outlives the icon.
    TrayIcon(QWidget *window, const QList<QAction *> &options, const RecordingList &list);
    ~TrayIcon() override;

    // A tray is where the desktop has one; offscreen there is none.
    static bool isAvailable();
    // Says once, in a balloon or notification, what the icon is for.
    void tell(const QString &title, const QString &text);

Q_SIGNALS:
    void showRequested();
    void stopAllRequested();
    void quitRequested();

private:
    // One "Stop" item of the menu and the capture it ends.
    struct StopItem
    {
        QPointer<Recording> recording; // null once its row is gone
        QAction *action;               // a child of the menu
    };

    void update();
    void setStopItems(const QList<Recording *> &capturing);

    const RecordingList &m_list;
    QMenu *m_menu;           // a child of the window
    QAction *m_stopAll;      // a child of the menu
    QSystemTrayIcon *m_icon; // a child of this
    QList<StopItem> m_stopItems;
    QTimer m_updateTimer; // a burst of changes updates once
};
