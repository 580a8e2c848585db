#include "ui/trayicon.h"

#include <algorithm>

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

#include "model/recordinglist.h"
#include "platform/clock.h"
#include "ui/traytext.h"

TrayIcon::TrayIcon(QWidget *window, const QList<QAction *> &options, const RecordingList &list)
    : QObject(window), m_list(list), m_menu(new QMenu(window)),
      m_stopAll(new QAction(QStringLiteral("S&top All Recordings"), m_menu)),
      m_icon(new QSystemTrayIcon(this))
{
    QObject::connect(m_menu->addAction(QStringLiteral("&Show Skyvane")), &QAction::triggered, this,
                     &TrayIcon::showRequested);
    // The Stop item of each capture goes here, before Stop All.
    m_menu->addAction(m_stopAll);
    QObject::connect(m_stopAll, &QAction::triggered, this, &TrayIcon::stopAllRequested);
    m_menu->addSeparator();
    m_menu->addActions(options);
    m_menu->addSeparator();
    QObject::connect(m_menu->addAction(QStringLiteral("&Quit Skyvane")), &QAction::triggered, this,
                     &TrayIcon::quitRequested);

    const QIcon icon = QApplication::windowIcon();
    m_icon->setIcon(icon.isNull() ? window->style()->standardIcon(QStyle::SP_MediaPlay) : icon);
    m_icon->setContextMenu(m_menu);
    QObject::connect(m_icon, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick)
                             Q_EMIT showRequested();
                     });

    // The list relays what its rows announce (capturing, title, figures, state,
    // next start), every few seconds while a capture runs.
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(0);
    QObject::connect(&m_updateTimer, &QTimer::timeout, this, &TrayIcon::update);
    const auto updateSoon = [this] { m_updateTimer.start(); };
    QObject::connect(&list, &RecordingList::rowAdded, this, updateSoon);
    QObject::connect(&list, &RecordingList::rowRemoved, this, updateSoon);
    QObject::connect(&list, &RecordingList::rowChanged, this, updateSoon);
    QObject::connect(&list, &RecordingList::reset, this, updateSoon);
    update();
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

void TrayIcon::update()
{
    QList<Recording *> capturing;
    QList<TrayText::Capture> captures;
    TrayText::NextStart next;
    for (int i = 0; i < m_list.size(); ++i) {
        Recording *recording = m_list.at(i);
        if (recording->isCapturing()) {
            capturing.append(recording);
            captures.append({recording->name(), recording->title(), recording->remainingSeconds()});
        } else if (recording->nextStart().isValid() &&
                   (!next.when.isValid() || recording->nextStart() < next.when)) {
            next = {recording->name(), recording->nextStart()};
        }
    }
    m_icon->setToolTip(TrayText::toolTip(captures, next, Clock::now()));
    m_stopAll->setEnabled(!capturing.isEmpty());
    setStopItems(capturing);
}

// The items are made anew only when the captures or their names changed: the
// figures change every few seconds, and an open menu would flicker.
void TrayIcon::setStopItems(const QList<Recording *> &capturing)
{
    const bool same =
        std::equal(capturing.cbegin(), capturing.cend(), m_stopItems.cbegin(), m_stopItems.cend(),
                   [](const Recording *recording, const StopItem &item) {
                       return item.recording == recording &&
                              item.action->text() == TrayText::stopText(recording->name());
                   });
    if (same)
        return;
    for (const StopItem &item : std::as_const(m_stopItems)) {
        m_menu->removeAction(item.action);
        item.action->deleteLater();
    }
    m_stopItems.clear();
    for (Recording *recording : capturing) {
        auto *action = new QAction(TrayText::stopText(recording->name()), m_menu);
        const QPointer<Recording> target = recording;
        QObject::connect(action, &QAction::triggered, this, [target] {
            if (target)
                target->stopByUser();
        });
        m_menu->insertAction(m_stopAll, action);
        m_stopItems.append({target, action});
    }
}
