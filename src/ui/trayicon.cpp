#include "ui/trayicon.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QWidget *window, const QList<QAction *> &options)
    : QObject(window), m_menu(new QMenu(window)), m_icon(new QSystemTrayIcon(this))
{
    QObject::connect(m_menu->addAction(QStringLiteral("&Show Skyvane")), &QAction::triggered, this,
                     &TrayIcon::showRequested);
    QObject::connect(m_menu->addAction(QStringLiteral("S&top All Recordings")), &QAction::triggered,
                     this, &TrayIcon::stopAllRequested);
    m_menu->addSeparator();
    m_menu->addActions(options);
    m_menu->addSeparator();
    QObject::connect(m_menu->addAction(QStringLiteral("&Quit Skyvane")), &QAction::triggered, this,
                     &TrayIcon::quitRequested);

    const QIcon icon = QApplication::windowIcon();
    m_icon->setIcon(icon.isNull() ? window->style()->standardIcon(QStyle::SP_MediaPlay) : icon);
    m_icon->setToolTip(QStringLiteral("Skyvane"));
    m_icon->setContextMenu(m_menu);
    QObject::connect(m_icon, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick)
                             Q_EMIT showRequested();
                     });
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::isAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::tell(const QString &title, const QString &text)
{
    m_icon->showMessage(title, text, m_icon->icon());
}
