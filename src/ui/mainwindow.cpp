#include "ui/mainwindow.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeySequence>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "capture/nonsongtitles.h"
#include "capture/trackwriter.h"
#include "model/recording.h"
#include "platform/autostart.h"
#include "platform/resources.h"
#include "ui/alerts.h"
#include "ui/closedecision.h"
#include "ui/plaintext.h"
#include "ui/recordingsortmodel.h"
#include "ui/recordingtablemodel.h"
#include "ui/savequestion.h"
#include "ui/stationsearchdialog.h"
#include "ui/stationdrop.h"
#include "ui/trayicon.h"
#include "ui/windowsettings.h"
#include "ui_mainwindow.h"

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::SkyvaneWindow>()),
      m_directory(WindowSettings::directoryUrl())
{
    m_ui->setupUi(this);
    // The status line shows stream titles, and labels may show names: none is markup.
    PlainText::enforce(this);
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
    m_editor->setLeaveHandler([this] { return leaveFreshRecording() || m_editor->save(); });
    connectButtons();
    addShortcuts();
    setUpOverview();
    nameComboBoxEditors();
    QObject::connect(&m_list, &RecordingList::problem, this, &MainWindow::reportProblem);
    QObject::connect(m_editor.get(), &RecordingEditor::shownChanged, this, &MainWindow::showTitle);
    QObject::connect(&m_list, &RecordingList::rowChanged, this, &MainWindow::showTitle);
    loadList();
    fitToScreen();

    addBackgroundOptions();
    if (TrayIcon::isAvailable()) {
        m_tray = new TrayIcon(this, m_options, m_list);
        QObject::connect(m_tray, &TrayIcon::showRequested, this, &MainWindow::bringToFront);
        QObject::connect(m_tray, &TrayIcon::quitRequested, this, &MainWindow::requestQuit);
        QObject::connect(m_tray, &TrayIcon::stopAllRequested, this, [this] {
            for (int i = 0; i < m_list.size(); ++i)
                m_list.at(i)->stopByUser();
        });
    }
    m_notifications.setTellStarts(WindowSettings::notifyStarts());
    QObject::connect(&m_notifications, &DesktopNotifications::showRequested, this,
                     [this](QObject *source) { showRecording(qobject_cast<Recording *>(source)); });
    QObject::connect(&m_notifications, &DesktopNotifications::openFolderRequested, this,
                     &MainWindow::openFolder);
    watchEdits();
}

MainWindow::~MainWindow() = default;

// A first start shows the empty overview, which says how to add a recording.
void MainWindow::loadList()
{
    m_list.load();
    m_list.scheduleAll();
    int shown = m_list.isEmpty() ? -1 : 0;
    for (int i = 0; i < m_list.size(); ++i) {
        follow(m_list.at(i));
        if (m_list.at(i)->name() == WindowSettings::lastRecording())
            shown = i;
    }
    m_editor->show(shown);
}

// The overview takes the spare height; the editor below it scrolls. The
// window opens no larger than the screen, which at 800x600 still holds a
// few rows, the editor's first fields and the status line.
void MainWindow::fitToScreen()
{
    m_ui->splitter->setStretchFactor(0, 3);
    m_ui->splitter->setStretchFactor(1, 2);
    m_ui->splitter->setSizes({600, 400});
    // The library's fields hold long names; the clock needs little room.
    m_ui->groupsLayout->setStretch(1, 1);
    // The status line's song and figures need the room more than the bar.
    m_ui->progress->setMaximumWidth(fontMetrics().averageCharWidth() * 24);
    resize(QSize(960, 760).boundedTo(screen()->availableGeometry().size()));
    if (const QByteArray geometry = WindowSettings::geometry(); !geometry.isEmpty())
        restoreGeometry(geometry);
}

// Once shown, the frame is known: the window and its frame fit the screen.
void MainWindow::keepOnScreen()
{
    const QRect available = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    resize(size().boundedTo(available.size() - frame));
    const QRect outer = frameGeometry();
    if (!available.contains(outer))
        move(pos() +
             QPoint(std::min(0, available.right() - outer.right()),
                    std::min(0, available.bottom() - outer.bottom())) +
             QPoint(std::max(0, available.left() - outer.left()),
                    std::max(0, available.top() - outer.top())));
}

void MainWindow::setUpOverview()
{
    QTableView *overview = m_ui->overview;
    QObject::connect(m_ui->filterField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_editor->sortedOverview().setFilterText(text);
        showEmptyState();
    });
    QObject::connect(overview, &QAbstractItemView::activated, this, &MainWindow::editPressed);
    overview->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(overview, &QWidget::customContextMenuRequested, this,
                     &MainWindow::showRowMenu);
    addRowActions();

    m_emptyState = new QLabel(overview->viewport());
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    m_emptyState->setAlignment(Qt::AlignCenter);
    m_emptyState->setWordWrap(true);
    m_emptyState->setTextFormat(Qt::PlainText);
    m_emptyState->setForegroundRole(QPalette::PlaceholderText);
    QAbstractItemModel *rows = &m_editor->sortedOverview();
    for (const auto change : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        QObject::connect(rows, change, this, &MainWindow::showEmptyState);
    QObject::connect(rows, &QAbstractItemModel::modelReset, this, &MainWindow::showEmptyState);
    QObject::connect(rows, &QAbstractItemModel::dataChanged, this, &MainWindow::fitNameColumn);
    // Like the other columns, sized by Skyvane rather than dragged.
    overview->horizontalHeader()->setSectionResizeMode(RecordingTableModel::Name,
                                                       QHeaderView::Fixed);
    overview->installEventFilter(this);
    // The viewport's own resize: the view's comes before the viewport has its size.
    overview->viewport()->installEventFilter(this);
}

void MainWindow::showEmptyState()
{
    const bool none = m_list.isEmpty();
    m_emptyState->setText(
        none ? QStringLiteral("No recordings yet.\n\nClick Find Station (Ctrl+Shift+F) to pick "
                              "one from the radio directory, New (Ctrl+N) to enter a station's "
                              "address, or drop a station's link from your web browser here.")
             : QStringLiteral("No recording's name or station holds \u201c%1\u201d.")
                   .arg(m_ui->filterField->text()));
    m_emptyState->setVisible(m_editor->sortedOverview().rowCount() == 0);
    m_emptyState->resize(m_ui->overview->viewport()->size());
    fitNameColumn();
}

// Names take what they need, up to a quarter of the width: one long name must
// not squeeze the station and the last result to "...".
void MainWindow::fitNameColumn()
{
    QTableView *overview = m_ui->overview;
    overview->resizeColumnToContents(RecordingTableModel::Name);
    const int widest = overview->viewport()->width() / 4;
    if (overview->columnWidth(RecordingTableModel::Name) > widest)
        overview->setColumnWidth(RecordingTableModel::Name, widest);
}

// Every command of a row, in its menu; they act on the row picked, which is
// the one the editor shows.
void MainWindow::addRowActions()
{
    const auto add = [this](const QString &text, const char *name, auto command) {
        auto *action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        QObject::connect(action, &QAction::triggered, this, command);
        m_rowActions.append(action);
    };
    add(QStringLiteral("Record Now"), "recordNowAction", &MainWindow::nowPressed);
    add(QStringLiteral("Stop"), "stopAction", &MainWindow::stopPressed);
    add(QStringLiteral("Edit"), "editAction", &MainWindow::editPressed);
    add(QStringLiteral("Clone"), "cloneAction", &MainWindow::clonePressed);
    add(QStringLiteral("Delete\u2026"), "deleteAction", &MainWindow::deletePressed);
    add(QStringLiteral("Open Folder"), "openFolderAction", &MainWindow::openFolder);
}

void MainWindow::showRowMenu(const QPoint &at)
{
    const QModelIndex row = m_ui->overview->indexAt(at);
    if (!row.isValid())
        return;
    // Picking the row saves the one shown; a refused save keeps it shown.
    m_ui->overview->setCurrentIndex(row);
    const Recording *picked = m_editor->current();
    if (!picked || m_ui->overview->currentIndex().row() != row.row())
        return;
    m_rowActions[0]->setEnabled(m_ui->nowButton->isEnabled());
    m_rowActions[1]->setEnabled(m_ui->stopButton->isEnabled());
    m_rowActions[4]->setEnabled(m_ui->deleteButton->isEnabled());
    QMenu menu(this);
    menu.addActions(m_rowActions);
    menu.exec(m_ui->overview->viewport()->mapToGlobal(at));
}

// Delete and Enter on a row of the overview.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->overview && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Delete && m_ui->deleteButton->isEnabled()) {
            deletePressed();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            editPressed();
            return true;
        }
    }
    if (watched == m_ui->overview->viewport() && event->type() == QEvent::Resize)
        showEmptyState();
    return QWidget::eventFilter(watched, event);
}

// As a notification's Show asks: the window in front, the recording picked
// (which saves the one shown first), unless it went meanwhile.
void MainWindow::showRecording(const Recording *recording)
{
    bringToFront();
    const RecordingTableModel &rows = m_editor->overview();
    const QModelIndex row =
        m_editor->sortedOverview().mapFromSource(rows.index(rows.rowOf(recording), 0));
    if (recording && row.isValid())
        m_ui->overview->setCurrentIndex(row);
}

void MainWindow::editPressed()
{
    if (!m_editor->current())
        return;
    m_ui->editorScroll->ensureWidgetVisible(m_ui->nameField);
    m_ui->nameField->setFocus(Qt::OtherFocusReason);
}

void MainWindow::openFolder()
{
    const QString folder = TrackWriter::folder();
    QDir().mkpath(folder);
    openLocalFile(folder, QStringLiteral("The folder could not be opened"));
}

// The desktop's editor of plain text opens the file, made with the defaults
// first; a line in it that is no pattern is for the user to mend there.
void MainWindow::editNonSongTitles()
{
    QString problem;
    NonSongTitles::load(&problem);
    const QString path = NonSongTitles::path();
    const QString failure = QStringLiteral("The non-song titles could not be opened");
    if (QFileInfo(path).isFile())
        openLocalFile(path, failure);
    else
        runAlert(this, Alert{failure, problem, {}, {}});
}

// Says so when no program opened it: without a desktop to start one, Qt only
// tells standard error.
void MainWindow::openLocalFile(const QString &path, const QString &failure)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        runAlert(this, Alert{failure, QStringLiteral("No program opened %1.").arg(path), {}, {}});
}

// Screen readers announce an editable box by its line edit, which has no
// name of its own: it takes the box's.
void MainWindow::nameComboBoxEditors()
{
    for (QComboBox *box : findChildren<QComboBox *>()) {
        if (QLineEdit *edit = box->lineEdit()) {
            edit->setAccessibleName(box->accessibleName());
            edit->setAccessibleDescription(box->toolTip());
        }
    }
}

// The title names the recording shown, and marks unsaved edits.
void MainWindow::showTitle()
{
    const Recording *shown = m_editor->current();
    setWindowTitle(shown && !shown->name().isEmpty()
                       ? QStringLiteral("%1[*] \u2014 Skyvane").arg(shown->name())
                       : QStringLiteral("Skyvane[*]"));
}

void MainWindow::connectButtons()
{
    const auto onClick = [this](QAbstractButton *button, void (MainWindow::*command)()) {
        QObject::connect(button, &QAbstractButton::clicked, this, command);
    };
    onClick(m_ui->newButton, &MainWindow::newPressed);
    onClick(m_ui->findButton, &MainWindow::findPressed);
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
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), m_ui->findButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_D), m_ui->cloneButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_R), m_ui->nowButton);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Period), m_ui->stopButton);
    shortcut(QKeySequence::Save, m_ui->saveButton);
    shortcut(QKeySequence::HelpContents, m_ui->helpButton);
    auto *find = new QAction(this);
    find->setShortcut(QKeySequence::Find);
    QObject::connect(find, &QAction::triggered, this, [this] {
        m_ui->filterField->setFocus(Qt::ShortcutFocusReason);
        m_ui->filterField->selectAll();
    });
    addAction(find);

    auto *closeAction = new QAction(this);
    closeAction->setShortcut(QKeySequence::Close);
    QObject::connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);
    // With a tray, closing only hides the window; quitting is its own command.
    auto *quitAction = new QAction(this);
    quitAction->setShortcut(QKeySequence::Quit);
    QObject::connect(quitAction, &QAction::triggered, this, &MainWindow::requestQuit);
    addAction(quitAction);
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
    m_fresh = addRow(std::make_unique<Recording>(settings));
}

// A new row at the end of the list, followed by the notifications, and shown.
Recording *MainWindow::addRow(std::unique_ptr<Recording> recording)
{
    Recording *added = m_list.append(std::move(recording));
    follow(added);
    m_editor->show(m_list.size() - 1);
    return added;
}

void MainWindow::newPressed()
{
    // A refused save says why beside its field; the new recording comes all the same.
    if (!leaveFreshRecording())
        m_editor->save();
    addNewRecording();
    // Its station is the first thing to type.
    m_ui->editorScroll->ensureWidgetVisible(m_ui->stationField);
    m_ui->stationField->setFocus(Qt::OtherFocusReason);
    m_ui->stationField->selectAll();
}

// The search runs beside the window, which goes on; a station chosen becomes
// a new recording, stored at once since it holds a real address.
void MainWindow::findPressed()
{
    auto *dialog = new StationSearchDialog(m_directory.baseUrl(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, this,
                     [this, dialog] { addStation(dialog->chosen()); });
    dialog->show();
}

void MainWindow::addStation(const DirectoryStation &station)
{
    if (!leaveFreshRecording() && !m_editor->save() && m_editor->current())
        return;
    RecordingSettings settings;
    settings.name =
        m_list.contains(station.name) ? m_list.unusedCloneName(station.name) : station.name;
    settings.url = station.streamUrl;
    if (!station.genre().isEmpty())
        settings.customGenre = station.genre();
    addRow(std::make_unique<Recording>(settings));
    m_list.storeSoon();
    m_directory.countClick(station.uuid);
    editPressed();
}

void MainWindow::clonePressed()
{
    if (!m_editor->current() || !m_editor->save())
        return;
    const Recording *source = m_editor->current();
    addRow(source->clone(m_list.unusedCloneName(source->name())));
}

void MainWindow::deletePressed()
{
    if (!m_editor->current())
        return;
    // Named as saved: that is the one the list loses.
    const Alert question{
        QStringLiteral("Delete the recording \u201c%1\u201d?").arg(m_editor->current()->name()),
        QStringLiteral("Its settings and log go; the tracks it recorded stay."),
        QStringLiteral("Cancel"), QStringLiteral("Delete")};
    if (runAlert(this, question) == AlertAnswer::Default)
        return;
    const int index = m_editor->currentIndex();
    m_editor->release();
    // Out of the list first, so that its capture ending stores nothing.
    std::unique_ptr<Recording> going = m_list.takeAt(index);
    going->stopCapture();
    going->unschedule();
    going.reset();
    m_editor->show(std::min(index, m_list.size() - 1));
    m_list.storeSoon();
}

void MainWindow::nowPressed()
{
    if (m_editor->save())
        m_editor->current()->startCapture();
}

void MainWindow::stopPressed()
{
    if (Recording *shown = m_editor->current())
        shown->stopByUser();
}

// The editor first: its alert runs an event loop in which the schedule may
// still start a capture, which then ends with the others.
void MainWindow::stopAndSave()
{
    if (!m_closed) {
        m_closed = true;
        if (!leaveFreshRecording() && m_editor->hasUnsavedEdits())
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
    event->setAccepted(m_quitting || settleQuit(false));
}

bool MainWindow::requestQuit()
{
    if (!settleQuit(true))
        return false;
    close();
    return true;
}

void MainWindow::quitNow()
{
    finishQuit();
    close();
}

// Closing the window, or quitting: the same questions wherever quitting would
// end or skip recordings. True when Skyvane quits.
bool MainWindow::settleQuit(bool quitting)
{
    bool capturing = false;
    bool scheduled = false;
    for (int i = 0; i < m_list.size(); ++i) {
        capturing = capturing || m_list.at(i)->isCapturing();
        scheduled = scheduled || m_list.at(i)->nextStart().isValid();
    }
    using CloseDecision::Step;
    const CloseDecision::Situation situation{hasTray(), capturing, scheduled,
                                             m_editor->hasUnsavedEdits(), quitting};
    for (const Step step : CloseDecision::steps(situation)) {
        switch (step) {
        case Step::Hide:
            hideToTray();
            return false;
        case Step::AskAboutEdits:
            bringToFront();
            if (!settleEdits())
                return false;
            break;
        case Step::AskToEndCaptures:
            if (!confirmQuit(QStringLiteral("Quit and end the recordings?"),
                             QStringLiteral("Skyvane is recording; quitting ends every capture "
                                            "now, and the song under way is incomplete."),
                             QStringLiteral("Quit and End the Recordings")))
                return false;
            break;
        case Step::AskToSkipScheduled:
            if (!confirmQuit(QStringLiteral("Quit and skip the scheduled recordings?"),
                             QStringLiteral("Recordings only start while Skyvane runs: those due "
                                            "before it is started again will not be recorded."),
                             QStringLiteral("Quit and Skip Them")))
                return false;
            break;
        case Step::Quit:
            finishQuit();
            return true;
        }
    }
    return false;
}

bool MainWindow::confirmQuit(const QString &question, const QString &text, const QString &quit)
{
    return runAlert(this, Alert{question, text, QStringLiteral("Cancel"), quit}) !=
           AlertAnswer::Default;
}

// Save, discard or stay; a refused save stays, its alert shown.
bool MainWindow::settleEdits()
{
    switch (askToSave(this, m_editor->current()->name())) {
    case SaveAnswer::Save:
        return m_editor->save();
    case SaveAnswer::Discard:
        m_editor->revert();
        return true;
    case SaveAnswer::Cancel:
        break;
    }
    return false;
}

// A new recording left before its first save, with nothing typed, is dropped:
// it never reaches the list file with an empty station. True when it was.
bool MainWindow::leaveFreshRecording()
{
    Recording *current = m_editor->current();
    if (!m_fresh || current != m_fresh || !current->logText().isEmpty() ||
        m_editor->hasUnsavedEdits())
        return false;
    const int index = m_editor->currentIndex();
    m_editor->release();
    m_fresh = nullptr;
    m_list.takeAt(index).reset();
    m_editor->show(std::min(index, m_list.size() - 1));
    return true;
}

void MainWindow::hideToTray()
{
    rememberWindow();
    hide();
    if (WindowSettings::toldAboutTray())
        return;
    WindowSettings::setToldAboutTray();
    m_tray->tell(QStringLiteral("Skyvane keeps running"),
                 QStringLiteral("Recordings go on in the background. Click Skyvane's icon in the "
                                "tray to open the window; its menu quits Skyvane."));
}

void MainWindow::finishQuit()
{
    m_quitting = true;
    rememberWindow();
    stopAndSave();
    Q_EMIT quitRequested();
}

void MainWindow::rememberWindow() const
{
    WindowSettings::setGeometry(saveGeometry());
    if (const Recording *shown = m_editor->current())
        WindowSettings::setLastRecording(shown->name());
}

void MainWindow::follow(Recording *recording)
{
    DesktopNotifications *notifications = &m_notifications;
    QObject::connect(recording, &Recording::capturingChanged, notifications,
                     [notifications, recording](bool capturing) {
                         if (capturing)
                             notifications->captureStarted(recording, recording->name());
                     });
    QObject::connect(recording, &Recording::captureEnded, notifications,
                     [notifications, recording](const Outcome &outcome) {
                         notifications->captureEnded(recording, recording->name(),
                                                     outcome.summary());
                     });
    QObject::connect(recording, &QObject::destroyed, notifications,
                     [notifications, recording] { notifications->forget(recording); });
}

// Any change of a control, or a click that may have saved, has the title
// marked or unmarked once the change has settled.
void MainWindow::watchEdits()
{
    m_modifiedCheck.setSingleShot(true);
    m_modifiedCheck.setInterval(0);
    QObject::connect(&m_modifiedCheck, &QTimer::timeout, this,
                     [this] { setWindowModified(m_editor->hasUnsavedEdits()); });
    // The timer receives: the controls outlive it as the window goes.
    QTimer *check = &m_modifiedCheck;
    const auto start = qOverload<>(&QTimer::start);
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        QObject::connect(edit, &QLineEdit::textChanged, check, start);
    for (QComboBox *box : findChildren<QComboBox *>())
        QObject::connect(box, &QComboBox::currentTextChanged, check, start);
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        QObject::connect(button, &QAbstractButton::toggled, check, start);
        QObject::connect(button, &QAbstractButton::clicked, check, start);
    }
}

// Where the tray's menu offers them, and the window's own context menu.
void MainWindow::addBackgroundOptions()
{
    auto *autostart = new QAction(QStringLiteral("Start with the &Desktop"), this);
    autostart->setObjectName(QStringLiteral("autostartAction"));
    autostart->setCheckable(true);
    autostart->setChecked(Autostart::isEnabled());
    QObject::connect(autostart, &QAction::toggled, this, [this, autostart](bool on) {
        if (Autostart::setEnabled(on))
            return;
        runAlert(this, Alert{QStringLiteral("Could not change the desktop's start list"),
                             QStringLiteral("%1 could not be written.").arg(Autostart::entryPath()),
                             {},
                             {}});
        const QSignalBlocker quiet(autostart);
        autostart->setChecked(Autostart::isEnabled());
    });
    auto *starts = new QAction(QStringLiteral("&Notify When Recordings Start"), this);
    starts->setObjectName(QStringLiteral("notifyStartsAction"));
    starts->setCheckable(true);
    starts->setChecked(WindowSettings::notifyStarts());
    QObject::connect(starts, &QAction::toggled, this, [this](bool on) {
        WindowSettings::setNotifyStarts(on);
        m_notifications.setTellStarts(on);
    });
    auto *titles = new QAction(QStringLiteral("Edit Non-Song Titles\u2026"), this);
    titles->setObjectName(QStringLiteral("nonSongTitlesAction"));
    QObject::connect(titles, &QAction::triggered, this, &MainWindow::editNonSongTitles);
    m_options = {autostart, starts, titles};

    setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(this);
        menu.addActions(m_options);
        menu.exec(mapToGlobal(at));
    });
}

void MainWindow::showEvent(QShowEvent *event)
{
    // Closing stopped the schedule.
    if (m_closed)
        m_list.scheduleAll();
    m_closed = false;
    m_quitting = false;
    QWidget::showEvent(event);
    keepOnScreen();
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
    // Without a browser or a desktop to start one, Qt only tells standard error.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        runAlert(this,
                 Alert{QStringLiteral("The help page could not be opened"),
                       QStringLiteral("No program opened %1. Open it in a web browser.").arg(path),
                       {},
                       {}});
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
        m_ui->nameField->setText(*link->title);
        m_ui->playlistField->setText(*link->title);
    }
    m_ui->stationField->setText(link->url);
}
