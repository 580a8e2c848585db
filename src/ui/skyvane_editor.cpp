// The editor: moving a recording between the list and the controls, the checks
// of a save, which controls are enabled, and the recording picker.
#include "ui/skyvane.h"

#include <algorithm>
#include <limits>

#include <QComboBox>
#include <QUrl>

#include "model/recording.h"
#include "platform/textscan.h"
#include "ui/alerts.h"
#include "ui/logwidgets.h"
#include "ui_mainwindow.h"

namespace {

QString twoDigits(qint32 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0'));
}

// The editor does not limit its numbers; a sum beyond 32 bits saturates
// rather than wrapping round to something unrelated.
qint32 minutesOf(qint64 hours, qint64 minutes)
{
    return qint32(std::clamp<qint64>(hours * 60 + minutes, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

// A URL reference as a strict parser takes it: relative references pass,
// spaces, stray percent signs and characters a URL cannot hold do not.
bool isUrl(const QString &text)
{
    return QUrl(text, QUrl::StrictMode).isValid();
}

} // namespace

void Skyvane::loadRecord(int index)
{
    if (m_current)
        m_current->detach();
    m_curIndex = index;
    m_current = m_list.at(index);
    m_current->loadToUI(m_form);
    for (size_t i = 0; i < m_days.size(); ++i)
        m_days[i]->setChecked(m_current->days[i]);
    showDuration(m_current->duration);
    showTime(m_current->startTime);

    m_ui->shoutLang->setCurrentIndex(m_ui->shoutLang->count() > 0 ? 0 : -1);
    if (const qsizetype k = m_langList.indexOf(quint32(m_current->shoutLang)); k >= 0)
        m_ui->shoutLang->setCurrentIndex(int(k));

    enableButtons();
    m_current->attachLog(m_logView.get(), m_progressBar.get());
}

void Skyvane::showDuration(qint32 duration)
{
    m_hourDuration->setIntValue(duration / 60);
    m_minuteDuration->setStringValue(twoDigits(duration - 60 * (duration / 60)));
}

void Skyvane::showTime(qint32 startTime)
{
    qint32 hour = startTime / 60;
    if (hour <= 11) {
        m_ampm->setStringValue(QStringLiteral("AM"));
    } else {
        m_ampm->setStringValue(QStringLiteral("PM"));
        hour -= 12;
    }
    if (hour == 0)
        hour = 12;
    m_hourTime->setIntValue(hour);
    m_minuteTime->setStringValue(twoDigits(startTime - 60 * (startTime / 60)));
}

bool Skyvane::saveRecord()
{
    QString name = trim(m_ui->recordingChoice->currentText());
    const QString station = trim(m_ui->stationField->text());
    // A label picked with its capture marker must not become part of the name.
    while (name.endsWith(u'*'))
        name.chop(1);
    name = trim(name);
    m_ui->recordingChoice->setEditText(name);

    if (name.compare(m_current->name, Qt::CaseInsensitive) != 0 && m_list.hasRecordNamed(name)) {
        runAlert(this, Alert{QStringLiteral("Name already in use"),
                             QStringLiteral("You already have a recording named %1. Please edit "
                                            "your entry.")
                                 .arg(name),
                             {},
                             {}});
        return false;
    }
    if (station.isEmpty()) {
        runAlert(this, Alert{QStringLiteral("Missing Station URL"),
                             QStringLiteral("Please fill in the station field"),
                             {},
                             {}});
        return false;
    }
    if (!isUrl(station)) {
        runAlert(this, Alert{QStringLiteral("Invalid URL"),
                             QStringLiteral("Station URL is invalid. Perhaps you should start it "
                                            "with http://?"),
                             {},
                             {}});
        return false;
    }

    m_current->saveFromUI(m_form);
    readTimeAndDuration();
    for (size_t i = 0; i < m_days.size(); ++i)
        m_current->days[i] = m_days[i]->isChecked();
    // No selected encoding saves the first one.
    if (!m_langList.isEmpty()) {
        const int selected = m_ui->shoutLang->currentIndex();
        m_current->shoutLang =
            qint32(m_langList.value(selected >= 0 ? selected : 0, m_langList.first()));
    }
    // A running capture re-arms its schedule itself when it ends.
    if (!m_current->inProgress)
        m_current->schedule();
    storeRecList();
    return true;
}

void Skyvane::readTimeAndDuration()
{
    qint64 hour = m_hourTime->intValue();
    const qint64 minute = m_minuteTime->intValue();
    // An empty AM/PM text counts as AM.
    const QString half = m_ampm->stringValue();
    if (hour == 12)
        hour = 0;
    if (!half.isEmpty() && half.at(0).toUpper() == u'P')
        hour += 12;
    m_current->startTime = minutesOf(hour, minute);
    m_current->duration = minutesOf(m_hourDuration->intValue(), m_minuteDuration->intValue());
}

void Skyvane::enableButtons()
{
    const bool once = m_ui->onceButton->isChecked();
    m_ui->dailyButton->setEnabled(!once);
    const bool everyDay = !once && m_ui->dailyButton->isChecked();
    for (QAbstractButton *day : m_days)
        day->setEnabled(!everyDay);

    const bool capturing = m_current && m_current->inProgress;
    m_ui->nowButton->setEnabled(!capturing);
    m_ui->deleteButton->setEnabled(!capturing);
    m_ui->stopButton->setEnabled(capturing);
    if (!capturing)
        m_progressBar->setDoubleValue(0.0);
    m_ui->progress->setHidden(!capturing);

    const bool split = m_ui->splitButton->checkState() == Qt::Checked;
    m_ui->shoutLang->setEnabled(split);
    m_ui->shoutLangLabel->setEnabled(split);
    m_ui->splitTitle->setEnabled(split);
    m_ui->keepPartial->setEnabled(split);
}

QString Skyvane::trim(const QString &text)
{
    return TextScan::trimInlineWhitespace(text);
}

void Skyvane::fixComboBox(QComboBox *box)
{
    for (int i = 0; i < box->count(); ++i)
        box->setItemData(i, TextScan::leadingDouble(box->itemText(i)));
}

void Skyvane::comboBoxWillPopUp()
{
    m_curIndex = m_list.sortAndRelocate(m_current);
    QStringList labels;
    labels.reserve(m_list.size());
    for (int i = 0; i < m_list.size(); ++i) {
        const Recording *row = m_list.at(i);
        labels.append(row->inProgress ? row->name + QStringLiteral(" *") : row->name);
    }
    m_ui->recordingChoice->setLabels(labels, m_curIndex);
}

void Skyvane::comboBoxSelectionIsChanging()
{
    m_saveName = m_ui->recordingChoice->currentText();
}

bool Skyvane::comboBoxSelectionDidChange(int index)
{
    if (index < 0 || index >= m_list.size())
        return false;
    if (index == m_curIndex)
        return true;
    if (!saveRecord()) {
        m_ui->recordingChoice->setEditText(m_saveName);
        return false;
    }
    loadRecord(index);
    return true;
}

void Skyvane::recordingChosen(int index, const QString &label)
{
    comboBoxSelectionIsChanging();
    if (comboBoxSelectionDidChange(index))
        m_ui->recordingChoice->setEditText(label);
}
