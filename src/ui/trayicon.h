#pragma once

#include <QList>
#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// Skyvane's icon in the desktop's tray while it runs, through which a hidden
// window comes back: a click shows the window; the menu shows it, ends every
// capture, offers the window's options, or quits.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // `options` are the window's checkable settings, shown in the menu.
    TrayIcon(QWidget *window, const QList<QAction *> &options);
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
    QMenu *m_menu;           // a child of the window
    QSystemTrayIcon *m_icon; // a child of this
};
