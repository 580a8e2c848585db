#include "ui/mainwindow.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeySequence>
#include <QMimeData>
#include <QUrl>

#include "model/recording.h"
#include "platform/resources.h"
#include "ui/alerts.h"
#include "ui/stationdrop.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::SkyvaneWindow>())
{
    m_ui->setupUi(this);
    m_ui->log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The bar comes and goes with the capture; the log must not jump with it.
    QSizePolicy barPolicy = m_ui->progress->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    m_ui->progress->setSizePolicy(barPolicy);
    // Station links may be dropped anywhere on the window: no control takes a
    // drop for itself.
    for (QWidget *child : findChildren<QWidget *>())
        child->setAcceptDrops(false);
    setAcceptDrops(true);

    m_editor = std::make_unique<RecordingEditor>(*m_ui, m_list, this);
    connectButtons();
    addShortcuts();
    QObject::connect(&m_list, &RecordingList::problem, this, &MainWindow::reportProblem);
    loadList();
    resize(sizeHint().expandedTo(QSize(820, 660)));
}

MainWindow::~MainWindow() = default;

void MainWindow::loadList()
{
    m_list.load();
    m_list.scheduleAll();
    if (m_list.isEmpty())
        addNewRecording();
    else
        m_editor->show(0);
}

void MainWindow::connectButtons()
{
    const auto onClick = [this](QAbstractButton *button, void (MainWindow::*command)()) {
        QObject::connect(button, &QAbstractButton::clicked, this, command);
    };
    onClick(m_ui->newButton, &MainWindow::newPressed);
    onClick(m_ui->cloneButton, &MainWindow::clonePressed);
    onClick(m_ui->deleteButton, &MainWindow::deletePressed);
    onClick(m_ui->nowButton, &MainWindow::nowPressed);
    onClick(m_ui->stopButton, &MainWindow::stopPressed);
    onClick(m_ui->helpButton, &MainWindow::displayHelp);
    QObject::connect(m_ui->saveButton, &QAbstractButton::clicked, this,
                     [this] { m_editor->save(); });
    QObject::connect(m_ui->revertButton, &QAbstractButton::clicked, this,
                     [this] { m_editor->revert(); });
}

void MainWindow::addShortcuts()
{
    const auto shortcut = [this](const QKeySequence &keys, QAbstractButton *button) {
        auto *action = new QAction(this);
        action->setShortcut(keys);
        QObject::connect(action, &QAction::triggered, button, &QAbstractButton::animateClick);
        addAction(action);
    };
    shortcut(QKeySequence::New, m_ui->newButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_D), m_ui->cloneButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_R), m_ui->nowButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Period), m_ui->stopButton);
    shortcut(QKeySequence::Save, m_ui->saveButton);
    shortcut(QKeySequence::HelpContents, m_ui->helpButton);

    auto *closeAction = new QAction(this);
    closeAction->setShortcuts(
        {QKeySequence(QKeySequence::Quit), QKeySequence(QKeySequence::Close)});
    QObject::connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);
}

void MainWindow::reportProblem(const QString &title, const QString &text)
{
    // Shown from the event loop, never from inside the capture callback that
    // stored the list; the same problem is not stacked up while it shows.
    const QString key = title + u'\n' + text;
    if (m_pendingProblems.contains(key))
        return;
    m_pendingProblems.insert(key);
    QMetaObject::invokeMethod(
        this,
        [this, title, text, key] {
            runAlert(this, Alert{title, text, {}, {}});
            m_pendingProblems.remove(key);
        },
        Qt::QueuedConnection);
}

// Not scheduled: an added recording waits for its first save.
void MainWindow::addNewRecording()
{
    RecordingSettings settings;
    settings.name = m_list.unusedNewName();
    m_list.append(std::make_unique<Recording>(settings));
    m_editor->show(m_list.size() - 1);
}

void MainWindow::newPressed()
{
    // A refused save has shown its alert; the new recording comes all the same.
    m_editor->save();
    addNewRecording();
}

void MainWindow::clonePressed()
{
    if (!m_editor->save())
        return;
    const Recording *source = m_editor->current();
    m_list.append(source->clone(m_list.unusedCloneName(source->name())));
    m_editor->show(m_list.size() - 1);
}

void MainWindow::deletePressed()
{
    const Alert question{QStringLiteral("Delete this recording?"),
                         QStringLiteral("Do you want to proceed?"), QStringLiteral("Cancel"),
                         QStringLiteral("Delete")};
    if (runAlert(this, question) == AlertAnswer::Default)
        return;
    const int index = m_editor->currentIndex();
    m_editor->release();
    // Out of the list first, so that its capture ending stores nothing.
    std::unique_ptr<Recording> going = m_list.takeAt(index);
    going->stopCapture();
    going->unschedule();
    going.reset();
    if (m_list.isEmpty())
        addNewRecording();
    else
        m_editor->show(std::min(index, m_list.size() - 1));
    m_list.store();
}

void MainWindow::nowPressed()
{
    if (m_editor->save())
        m_editor->current()->startCapture();
}

void MainWindow::stopPressed()
{
    Recording *recording = m_editor->current();
    recording->log(QStringLiteral("Stopped by user\n"));
    recording->stopCapture();
}

// The editor first: its alert runs an event loop in which the schedule may
// still start a capture, which then ends with the others.
void MainWindow::stopAndSave()
{
    if (!m_closed) {
        m_closed = true;
        m_editor->save();
    }
    // Each capture's end stores the list; the new start each one plans is dropped.
    m_list.stopAll();
    for (int i = 0; i < m_list.size(); ++i)
        m_list.at(i)->unschedule();
    // Those stores run off the event loop; they are on the disk before this returns.
    m_list.flushStores();
}

void MainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopAndSave();
    event->accept();
}

void MainWindow::showEvent(QShowEvent *event)
{
    // Closing stopped the schedule.
    if (m_closed)
        m_list.scheduleAll();
    m_closed = false;
    QWidget::showEvent(event);
}

QString MainWindow::helpPagePath()
{
    const QString page = Resources::find(QStringLiteral("Skyvane Help/Skyvane.html"));
    return page.isEmpty() ? page : QFileInfo(page).canonicalFilePath();
}

void MainWindow::displayHelp()
{
    const QString path = helpPagePath();
    if (path.isEmpty()) {
        runAlert(this, Alert{QStringLiteral("The help page is missing"),
                             QStringLiteral("Skyvane's help page is not installed."),
                             {},
                             {}});
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool MainWindow::acceptStationDrag(QDropEvent *event)
{
    const QMimeData *data = event->mimeData();
    const Qt::DropAction action = StationDrop::actionFor(event->possibleActions());
    if (!data || !StationDrop::canTake(*data) || action == Qt::IgnoreAction) {
        event->ignore();
        return false;
    }
    event->setDropAction(action);
    event->accept();
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    acceptStationDrag(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    acceptStationDrag(event);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    if (!acceptStationDrag(event))
        return;
    const std::optional<StationLink> link = StationDrop::linkFrom(*event->mimeData());
    if (!link) {
        event->ignore();
        return;
    }
    // Only the controls change: nothing is saved until the user saves.
    if (link->title) {
        m_ui->recordingChoice->setEditText(*link->title);
        m_ui->playlistField->setText(*link->title);
    }
    m_ui->stationField->setText(link->url);
}
