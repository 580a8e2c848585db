#include "ui/skyvane.h"

#include <cstdio>

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeySequence>
#include <QMimeData>
#include <QUrl>

#include "log/logsinks.h"
#include "model/recording.h"
#include "platform/resources.h"
#include "platform/textencodings.h"
#include "ui/alerts.h"
#include "ui/logwidgets.h"
#include "ui/stationdrop.h"
#include "ui_mainwindow.h"

Skyvane::Skyvane(QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::SkyvaneWindow>()), m_form(this)
{
    m_ui->setupUi(this);
    m_hourTime = std::make_unique<ComboControl>(m_ui->hourTime);
    m_minuteTime = std::make_unique<ComboControl>(m_ui->minuteTime);
    m_ampm = std::make_unique<ComboControl>(m_ui->ampm);
    m_hourDuration = std::make_unique<ComboControl>(m_ui->hourDuration);
    m_minuteDuration = std::make_unique<ComboControl>(m_ui->minuteDuration);
    m_logView = std::make_unique<PlainTextLogView>(m_ui->log);
    m_progressBar = std::make_unique<WidgetProgressBar>(m_ui->progress);

    m_ui->log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The bar comes and goes with the capture; the log must not jump with it.
    QSizePolicy barPolicy = m_ui->progress->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    m_ui->progress->setSizePolicy(barPolicy);

    connectControls();
    addShortcuts();
    m_list.setProblemReporter(
        [this](const QString &title, const QString &text) { reportProblem(title, text); });
    awakeFromNib();
    resize(sizeHint().expandedTo(QSize(820, 660)));
}

Skyvane::~Skyvane()
{
    // The recordings go with the list, after this body: nothing they do on
    // the way may reach a window being taken down.
    if (m_current)
        m_current->detach();
    m_current = nullptr;
    if (recorder == this)
        recorder = nullptr;
    m_list.setProblemReporter(nullptr);
}

void Skyvane::awakeFromNib()
{
    // Station links may be dropped anywhere on the window: no control takes a
    // drop for itself.
    for (QWidget *child : findChildren<QWidget *>())
        child->setAcceptDrops(false);
    setAcceptDrops(true);

    m_days = {m_ui->monButton, m_ui->tueButton, m_ui->wedButton, m_ui->thuButton,
              m_ui->friButton, m_ui->satButton, m_ui->sunButton};

    for (QComboBox *box : {m_ui->hourTime, m_ui->minuteTime, m_ui->hourDuration,
                           m_ui->minuteDuration, m_ui->recCount})
        fixComboBox(box);

    fillEncodingList();
    recorder = this;

    m_list.loadRecList();
    if (m_list.isEmpty())
        newRecord();
    else
        loadRecord(0);
}

void Skyvane::fillEncodingList()
{
    for (const TextEncodings::Encoding &encoding : TextEncodings::available()) {
        if (encoding.displayName.isEmpty())
            continue;
        m_ui->shoutLang->addItem(encoding.displayName);
        m_langList.append(encoding.number);
    }
}

void Skyvane::connectControls()
{
    const auto onClick = [this](QAbstractButton *button, void (Skyvane::*command)()) {
        QObject::connect(button, &QAbstractButton::clicked, this, command);
    };
    onClick(m_ui->newButton, &Skyvane::newPressed);
    onClick(m_ui->cloneButton, &Skyvane::clonePressed);
    onClick(m_ui->deleteButton, &Skyvane::deletePressed);
    onClick(m_ui->nowButton, &Skyvane::nowPressed);
    onClick(m_ui->stopButton, &Skyvane::stopPressed);
    onClick(m_ui->saveButton, &Skyvane::savePressed);
    onClick(m_ui->revertButton, &Skyvane::revertPressed);
    onClick(m_ui->helpButton, &Skyvane::displayHelp);
    // Toggled rather than clicked: the enabling follows the state however it
    // changed.
    QObject::connect(m_ui->dailyButton, &QAbstractButton::toggled, this, &Skyvane::dailyPressed);
    QObject::connect(m_ui->onceButton, &QAbstractButton::toggled, this, &Skyvane::adjustEnabled);
    QObject::connect(m_ui->splitButton, &QAbstractButton::toggled, this, &Skyvane::adjustEnabled);

    QObject::connect(m_ui->recordingChoice, &RecordingPicker::aboutToPopUp, this,
                     &Skyvane::comboBoxWillPopUp);
    QObject::connect(m_ui->recordingChoice, &RecordingPicker::chosen, this,
                     &Skyvane::recordingChosen);
}

void Skyvane::addShortcuts()
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

void Skyvane::reportProblem(const QString &title, const QString &text)
{
    std::fprintf(stderr, "skyvane: %s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
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

void Skyvane::windowWillClose()
{
    if (m_closed)
        return;
    m_closed = true;
    // By index against the current length: ending a capture stores the list,
    // which never changes its rows.
    for (int i = 0; i < m_list.size(); ++i)
        m_list.at(i)->endRecord();
    saveRecord();
}

void Skyvane::closeEvent(QCloseEvent *event)
{
    windowWillClose();
    event->accept();
}

void Skyvane::showEvent(QShowEvent *event)
{
    m_closed = false;
    QWidget::showEvent(event);
}

QString Skyvane::helpPagePath()
{
    const QString page = Resources::find(QStringLiteral("Skyvane Help/Skyvane.html"));
    return page.isEmpty() ? page : QFileInfo(page).canonicalFilePath();
}

void Skyvane::displayHelp()
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

bool Skyvane::acceptStationDrag(QDropEvent *event)
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

void Skyvane::dragEnterEvent(QDragEnterEvent *event)
{
    acceptStationDrag(event);
}

void Skyvane::dragMoveEvent(QDragMoveEvent *event)
{
    acceptStationDrag(event);
}

void Skyvane::dropEvent(QDropEvent *event)
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
