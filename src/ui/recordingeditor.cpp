#include "ui/recordingeditor.h"

#include <algorithm>
#include <cmath>

#include <QAbstractButton>
#include <QAction>
#include <QColor>
#include <QPalette>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QScopedValueRollback>
#include <QStringList>
#include <QScrollBar>
#include <QTextCursor>

#include "capture/stationprobe.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "model/savecheck.h"
#include "values/recordingsettings.h"
#include "platform/failures.h"
#include "platform/textscan.h"
#include "ui/recordingsortmodel.h"
#include "ui/recordingtablemodel.h"
#include "ui_mainwindow.h"

namespace {

// The bar shows a tenth of a percent.
constexpr int stepsPerPercent = 10;

// Space and tab go from both ends; line breaks stay.
QString trim(const QString &text)
{
    return TextScan::trimInlineWhitespace(text);
}

// Hours may pass 24: a capture may be planned for longer.
QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
        .arg(seconds % 60, 2, 10, QChar(u'0'));
}

void setUpOverview(QTableView *view, RecordingSortModel *model)
{
    view->setModel(model);
    QHeaderView *header = view->horizontalHeader();
    header->setSortIndicator(RecordingTableModel::Name, Qt::AscendingOrder);
    view->setSortingEnabled(true);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(RecordingTableModel::Station, QHeaderView::Stretch);
    header->setSectionResizeMode(RecordingTableModel::LastResult, QHeaderView::Stretch);
}

} // namespace

RecordingEditor::RecordingEditor(Ui::SkyvaneWindow &ui, RecordingList &list, QWidget *window)
    : m_ui(ui), m_list(list), m_days(weekdayButtons(window)),
      m_overview(new RecordingTableModel(list, this)), m_sorted(new RecordingSortModel(this)),
      m_mark(new QAction(this))
{
    m_sorted->setSourceModel(m_overview);
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (!field.control)
            continue;
        std::unique_ptr<FieldEditor> editor = FieldEditor::forControl(window, field.control);
        if (!editor)
            throw InternalInconsistency(QStringLiteral("RecordingEditor"),
                                        QStringLiteral("The window has no control named %1")
                                            .arg(QString::fromLatin1(field.control)));
        m_editors.emplace(field.control, std::move(editor));
    }
    m_ui.progress->setRange(0, 100 * stepsPerPercent);
    // The status line comes and goes with the capture, like the bar beside it.
    QSizePolicy statusPolicy = m_ui.captureStatus->sizePolicy();
    statusPolicy.setRetainSizeWhenHidden(true);
    m_ui.captureStatus->setSizePolicy(statusPolicy);
    setUpOverview(m_ui.overview, m_sorted);
    m_mark->setIcon(window->style()->standardIcon(QStyle::SP_MessageBoxWarning));
    QObject::connect(m_ui.tryButton, &QPushButton::clicked, this, &RecordingEditor::tryStation);
    m_ui.problemMessage->hide();
    // Red that reads on a light and on a dark window alike.
    QPalette warning = m_ui.problemMessage->palette();
    const bool dark = warning.color(QPalette::Window).lightness() < 128;
    warning.setColor(QPalette::WindowText,
                     dark ? QColor(0xff, 0x7b, 0x72) : QColor(0xc0, 0x1c, 0x28));
    m_ui.problemMessage->setPalette(warning);
    QObject::connect(m_ui.overview->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                     &RecordingEditor::rowPicked);

    // Toggled rather than clicked: the enabling follows the state however it
    // changed.
    for (QAbstractButton *button : {m_ui.dailyButton, m_ui.onceButton, m_ui.splitButton})
        QObject::connect(button, &QAbstractButton::toggled, this, &RecordingEditor::updateEnabled);
}

RecordingEditor::~RecordingEditor() = default;

int RecordingEditor::currentIndex() const
{
    return m_current ? m_list.indexOf(m_current) : -1;
}

void RecordingEditor::show(int index)
{
    const QScopedValueRollback guard(m_selecting, true);
    release();
    showProblem({});
    m_probe.reset();
    m_ui.tryButton->setEnabled(true);
    m_ui.tryResult->hide();
    if (index < 0 || index >= m_list.size()) {
        showNothing();
        return;
    }
    m_current = m_list.at(index);
    setEditing(true);
    const RecordingSettings &settings = m_current->settings();
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (field.control)
            m_editors.find(field.control)->second->setValue(field.value(settings));
    }
    updateEnabled();
    showLog();
    selectCurrent();

    QObject::connect(m_current, &Recording::logAppended, this, &RecordingEditor::appendLog);
    QObject::connect(m_current, &Recording::stateChanged, this, &RecordingEditor::updateEnabled);
    QObject::connect(m_current, &Recording::figuresChanged, this, &RecordingEditor::showProgress);
    QObject::connect(m_current, &Recording::resultChanged, this, &RecordingEditor::showProgress);
    QObject::connect(m_current, &Recording::titleChanged, this, &RecordingEditor::showProgress);
    QObject::connect(m_current, &Recording::weekdayCleared, this, &RecordingEditor::clearWeekday);
    Q_EMIT shownChanged();
}

// With no recording the controls show the defaults of a new one, and only
// New and Help can be used.
void RecordingEditor::showNothing()
{
    const RecordingSettings defaults;
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (field.control)
            m_editors.find(field.control)->second->setValue(field.value(defaults));
    }
    m_ui.log->clear();
    m_logShown = 0;
    setEditing(false);
    updateEnabled();
    Q_EMIT shownChanged();
}

void RecordingEditor::setEditing(bool editing)
{
    for (QWidget *part : std::initializer_list<QWidget *>{
             m_ui.nameField, m_ui.stationField, m_ui.scheduleBox, m_ui.libraryBox, m_ui.captureBox,
             m_ui.cloneButton, m_ui.saveButton, m_ui.revertButton, m_ui.log, m_ui.tryButton})
        part->setEnabled(editing);
}

void RecordingEditor::selectCurrent()
{
    // None when the filter hides it.
    const QModelIndex row =
        m_sorted->mapFromSource(m_overview->index(m_overview->rowOf(m_current), 0));
    const QScopedValueRollback guard(m_selecting, true);
    m_ui.overview->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    m_ui.overview->scrollTo(row);
}

// Leaving the recording shown saves it first. When that is refused, the
// overview goes back to it once the click that moved it has been handled, and
// the controls keep what the user typed.
void RecordingEditor::rowPicked(const QModelIndex &row)
{
    Recording *picked = m_overview->recordingAt(m_sorted->mapToSource(row).row());
    if (m_selecting || !m_current || !picked || picked == m_current)
        return;
    const QScopedValueRollback guard(m_selecting, true);
    if (!(m_leave ? m_leave() : save())) {
        QMetaObject::invokeMethod(this, &RecordingEditor::selectCurrent, Qt::QueuedConnection);
        return;
    }
    show(m_list.indexOf(picked));
}

void RecordingEditor::release()
{
    if (m_current)
        m_current->disconnect(this);
    m_current = nullptr;
}

bool RecordingEditor::save()
{
    if (!m_current)
        return false;
    const QString name = trim(m_ui.nameField->text());
    if (name != m_ui.nameField->text())
        m_ui.nameField->setText(name);
    const RecordingSettings edited = editedSettings();
    if (const std::optional<Problem> problem = check(edited)) {
        showProblem(*problem);
        return false;
    }
    showProblem({});

    m_current->setSettings(edited);
    // A running capture plans its next start itself when it ends.
    if (!m_current->isCapturing())
        m_current->schedule();
    m_list.storeSoon();
    return true;
}

bool RecordingEditor::hasUnsavedEdits() const
{
    if (!m_current)
        return false;
    const RecordingSettings &saved = m_current->settings();
    const RecordingSettings edited = editedSettings();
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (field.control && field.value(edited) != field.value(saved))
            return true;
    }
    return false;
}

// The recording shown, with what its controls now hold.
RecordingSettings RecordingEditor::editedSettings() const
{
    RecordingSettings settings = m_current->settings();
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (!field.control)
            continue;
        const QVariant value = m_editors.find(field.control)->second->value();
        if (value.isValid())
            field.setValue(settings, value);
    }
    return settings;
}

std::optional<RecordingEditor::Problem>
RecordingEditor::check(const RecordingSettings &edited) const
{
    const std::optional<SaveCheck::Problem> problem = SaveCheck::problem(m_list, m_current, edited);
    if (!problem)
        return std::nullopt;
    switch (problem->field) {
    case SaveCheck::Problem::Field::Name:
        return Problem{m_ui.nameField, problem->message};
    case SaveCheck::Problem::Field::Station:
        return Problem{m_ui.stationField, problem->message};
    case SaveCheck::Problem::Field::Duration:
        break;
    }
    return Problem{m_ui.hourDuration, problem->message};
}

// Beside the fields, not in a dialog: the field is marked and focused, and the
// message says what is wrong with it until the next save or another recording.
void RecordingEditor::showProblem(const std::optional<Problem> &problem)
{
    if (m_marked) {
        m_marked->removeAction(m_mark);
        m_marked = nullptr;
    }
    m_ui.problemMessage->setText(problem ? problem->message : QString());
    m_ui.problemMessage->setHidden(!problem);
    if (!problem)
        return;
    if (auto *edit = qobject_cast<QLineEdit *>(problem->field)) {
        edit->addAction(m_mark, QLineEdit::TrailingPosition);
        m_marked = edit;
    }
    problem->field->setFocus(Qt::OtherFocusReason);
}

void RecordingEditor::updateEnabled()
{
    const bool once = m_ui.onceButton->isChecked();
    m_ui.dailyButton->setEnabled(!once);
    const bool everyDay = !once && m_ui.dailyButton->isChecked();
    for (QAbstractButton *day : m_days)
        day->setEnabled(!everyDay);

    const Recording::State state = m_current ? m_current->state() : Recording::State::Disabled;
    const bool capturing = state == Recording::State::Recording;
    // Stop also ends the wait before a broken capture is resumed.
    const bool waiting = state == Recording::State::WaitingToReconnect;
    m_ui.nowButton->setEnabled(m_current && !capturing);
    m_ui.deleteButton->setEnabled(m_current && !capturing);
    m_ui.stopButton->setEnabled(capturing || waiting);
    m_ui.progress->setHidden(!capturing);
    m_ui.captureStatus->setHidden(!capturing && !waiting);
    showProgress();

    const bool split = m_ui.splitButton->checkState() == Qt::Checked;
    for (QWidget *option : std::initializer_list<QWidget *>{
             m_ui.shoutLang, m_ui.shoutLangLabel, m_ui.splitTitle, m_ui.keepPartial,
             m_ui.fileNamePattern, m_ui.fileNamePatternLabel, m_ui.titleOffset,
             m_ui.titleOffsetLabel, m_ui.cutWindow, m_ui.cutWindowLabel})
        option->setEnabled(split);
}

// The whole log, scrolled to its end.
void RecordingEditor::showLog()
{
    if (!m_current)
        return;
    const QString &log = m_current->logText();
    m_ui.log->setPlainText(log);
    m_logShown = log.size();
    if (!log.isEmpty())
        scrollLogToEnd();
}

// A new line goes at the end; a log that lost its front to make room is shown anew.
void RecordingEditor::appendLog(const QString &message)
{
    const qsizetype length = m_current->logText().size();
    if (length != m_logShown + message.size()) {
        showLog();
        return;
    }
    QTextCursor end(m_ui.log->document());
    end.movePosition(QTextCursor::End);
    end.insertText(message);
    m_logShown = length;
    scrollLogToEnd();
}

void RecordingEditor::scrollLogToEnd()
{
    QTextCursor cursor = m_ui.log->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_ui.log->setTextCursor(cursor);
    m_ui.log->ensureCursorVisible();
    // The cursor's line may show with the bar a step short of the end, the
    // last line cut, depending on the font's line height.
    QScrollBar *const bar = m_ui.log->verticalScrollBar();
    bar->setValue(bar->maximum());
}

// The bar follows the clock, so it moves every few seconds and shows the same
// whenever the recording is shown again.
void RecordingEditor::showProgress()
{
    const Recording *recording = m_current;
    double percent = 0.0;
    QString status;
    if (recording && recording->isCapturing()) {
        const qint64 elapsed = recording->elapsedSeconds();
        percent = recording->progress();
        QStringList parts;
        if (!recording->title().isEmpty())
            parts.append(recording->title());
        parts.append(QStringLiteral("%1 recorded, %2 left")
                         .arg(clockText(elapsed), clockText(recording->remainingSeconds())));
        parts.append(QLocale::system().formattedDataSize(recording->bytesWritten()));
        status = parts.join(QStringLiteral(" · "));
    } else if (recording && recording->state() == Recording::State::WaitingToReconnect) {
        status = QStringLiteral("Waiting to reconnect at %1")
                     .arg(QLocale::system().toString(recording->nextStart().time(),
                                                     QLocale::LongFormat));
    }
    m_ui.progress->setValue(int(std::lround(percent * stepsPerPercent)));
    m_ui.captureStatus->setText(status);
}

void RecordingEditor::tryStation()
{
    m_probe = std::make_unique<StationProbe>();
    QObject::connect(m_probe.get(), &StationProbe::finished, this, &RecordingEditor::showTried);
    m_ui.tryButton->setEnabled(false);
    m_ui.tryResult->setText(QStringLiteral("Trying the station for up to ten seconds\u2026"));
    m_ui.tryResult->show();
    m_probe->start(trim(m_ui.stationField->text()));
}

void RecordingEditor::showTried(const ProbeReport &report)
{
    // The probe is inside its own signal: it goes once that returns.
    m_probe.release()->deleteLater();
    m_ui.tryButton->setEnabled(true);
    m_ui.tryResult->setText(report.sentence());
}

void RecordingEditor::clearWeekday(int index)
{
    if (index >= 0 && index < int(m_days.size()))
        m_days[size_t(index)]->setChecked(false);
}
