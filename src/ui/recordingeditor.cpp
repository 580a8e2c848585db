#include "ui/recordingeditor.h"

#include <algorithm>
#include <cmath>

#include <QAbstractButton>
#include <QComboBox>
#include <QStringList>
#include <QTextCursor>

#include "model/recording.h"
#include "model/recordinglist.h"
#include "model/recordingsettings.h"
#include "platform/failures.h"
#include "platform/stationurl.h"
#include "platform/textscan.h"
#include "ui/alerts.h"
#include "ui_mainwindow.h"

namespace {

// The bar shows a tenth of a percent.
constexpr int stepsPerPercent = 10;

// Space and tab go from both ends; line breaks stay.
QString trim(const QString &text)
{
    return TextScan::trimInlineWhitespace(text);
}

} // namespace

RecordingEditor::RecordingEditor(Ui::SkyvaneWindow &ui, RecordingList &list, QWidget *window)
    : m_ui(ui), m_list(list), m_window(window), m_days(weekdayButtons(window))
{
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

    // Toggled rather than clicked: the enabling follows the state however it
    // changed.
    for (QAbstractButton *button : {m_ui.dailyButton, m_ui.onceButton, m_ui.splitButton})
        QObject::connect(button, &QAbstractButton::toggled, this, &RecordingEditor::updateEnabled);
    QObject::connect(m_ui.recordingChoice, &RecordingPicker::aboutToPopUp, this,
                     &RecordingEditor::pickerWillPopUp);
    QObject::connect(m_ui.recordingChoice, &RecordingPicker::chosen, this,
                     &RecordingEditor::pickerChose);
}

RecordingEditor::~RecordingEditor() = default;

int RecordingEditor::currentIndex() const
{
    return m_current ? m_list.indexOf(m_current) : -1;
}

void RecordingEditor::show(int index)
{
    release();
    m_current = m_list.at(index);
    const RecordingSettings &settings = m_current->settings();
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (field.control)
            m_editors.find(field.control)->second->setValue(field.value(settings));
    }
    updateEnabled();
    showProgress(m_current->progress());
    showLog();

    QObject::connect(m_current, &Recording::logAppended, this, &RecordingEditor::showLog);
    QObject::connect(m_current, &Recording::progressChanged, this, &RecordingEditor::showProgress);
    QObject::connect(m_current, &Recording::capturingChanged, this,
                     &RecordingEditor::updateEnabled);
    QObject::connect(m_current, &Recording::weekdayCleared, this, &RecordingEditor::clearWeekday);
}

void RecordingEditor::release()
{
    if (m_current)
        m_current->disconnect(this);
    m_current = nullptr;
}

bool RecordingEditor::save()
{
    QString name = trim(m_ui.recordingChoice->currentText());
    const QString station = trim(m_ui.stationField->text());
    // A label picked with its capture marker must not keep the marker in the name.
    while (name.endsWith(u'*'))
        name.chop(1);
    name = trim(name);
    m_ui.recordingChoice->setEditText(name);
    if (!check(name, station))
        return false;

    RecordingSettings settings = m_current->settings();
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        if (!field.control)
            continue;
        const QVariant value = m_editors.find(field.control)->second->value();
        if (value.isValid())
            field.setValue(settings, value);
    }
    m_current->setSettings(settings);
    // A running capture plans its next start itself when it ends.
    if (!m_current->isCapturing())
        m_current->schedule();
    m_list.store();
    return true;
}

bool RecordingEditor::check(const QString &name, const QString &station)
{
    if (name.compare(m_current->name(), Qt::CaseInsensitive) != 0 && m_list.contains(name)) {
        alert(QStringLiteral("Name already in use"),
              QStringLiteral("You already have a recording named %1. Please edit your entry.")
                  .arg(name));
        return false;
    }
    if (station.isEmpty()) {
        alert(QStringLiteral("Missing Station URL"),
              QStringLiteral("Please fill in the station field"));
        return false;
    }
    if (!StationUrl::isValid(station)) {
        alert(QStringLiteral("Invalid URL"),
              QStringLiteral("Station URL is invalid. Perhaps you should start it with http://?"));
        return false;
    }
    return true;
}

void RecordingEditor::alert(const QString &title, const QString &text)
{
    runAlert(m_window, Alert{title, text, {}, {}});
}

void RecordingEditor::updateEnabled()
{
    const bool once = m_ui.onceButton->isChecked();
    m_ui.dailyButton->setEnabled(!once);
    const bool everyDay = !once && m_ui.dailyButton->isChecked();
    for (QAbstractButton *day : m_days)
        day->setEnabled(!everyDay);

    const bool capturing = m_current && m_current->isCapturing();
    m_ui.nowButton->setEnabled(!capturing);
    m_ui.deleteButton->setEnabled(!capturing);
    m_ui.stopButton->setEnabled(capturing);
    if (!capturing)
        showProgress(0.0);
    m_ui.progress->setHidden(!capturing);

    const bool split = m_ui.splitButton->checkState() == Qt::Checked;
    m_ui.shoutLang->setEnabled(split);
    m_ui.shoutLangLabel->setEnabled(split);
    m_ui.splitTitle->setEnabled(split);
    m_ui.keepPartial->setEnabled(split);
}

// The whole log, scrolled to its end.
void RecordingEditor::showLog()
{
    const QString &log = m_current->logText();
    m_ui.log->setPlainText(log);
    if (log.isEmpty())
        return;
    QTextCursor cursor = m_ui.log->textCursor();
    cursor.movePosition(QTextCursor::End);
    m_ui.log->setTextCursor(cursor);
    m_ui.log->ensureCursorVisible();
}

void RecordingEditor::showProgress(double percent)
{
    const double shown = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
    m_ui.progress->setValue(int(std::lround(shown * stepsPerPercent)));
}

void RecordingEditor::clearWeekday(int index)
{
    if (index >= 0 && index < int(m_days.size()))
        m_days[size_t(index)]->setChecked(false);
}

void RecordingEditor::pickerWillPopUp()
{
    const int index = m_list.sortByName(m_current);
    QStringList labels;
    labels.reserve(m_list.size());
    for (int i = 0; i < m_list.size(); ++i) {
        const Recording *row = m_list.at(i);
        labels.append(row->isCapturing() ? row->name() + QStringLiteral(" *") : row->name());
    }
    m_ui.recordingChoice->setLabels(labels, index);
}

// Leaving the recording shown saves it first; when that is refused, the picker
// stays on it and gets back the text typed, before the save cleaned it.
void RecordingEditor::pickerChose(int index, const QString &label)
{
    const QString typed = m_ui.recordingChoice->currentText();
    if (index < 0 || index >= m_list.size())
        return;
    if (index != currentIndex()) {
        if (!save()) {
            m_ui.recordingChoice->setEditText(typed);
            return;
        }
        show(index);
    }
    m_ui.recordingChoice->setEditText(label);
}
