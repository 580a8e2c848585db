// The list commands of the window's buttons, and the host calls of the
// capture code.
#include "ui/skyvane.h"

#include <QAbstractButton>

#include "model/recording.h"
#include "ui/alerts.h"

void Skyvane::newRecord()
{
    m_list.append(Recording::initWithName(m_list.freeNewRecordingName()));
    loadRecord(m_list.size() - 1);
}

void Skyvane::newPressed()
{
    // A refused save has shown its alert; the new recording comes all the same.
    saveRecord();
    newRecord();
}

void Skyvane::clonePressed()
{
    if (!saveRecord())
        return;
    m_list.append(Recording::initWithRecording(*m_current, m_list.freeCloneName(m_current->name)));
    loadRecord(m_list.size() - 1);
}

void Skyvane::deletePressed()
{
    const Alert question{QStringLiteral("Delete this recording?"),
                         QStringLiteral("Do you want to proceed?"), QStringLiteral("Cancel"),
                         QStringLiteral("Delete")};
    if (runAlert(this, question) == AlertAnswer::Default)
        return;
    Recording *const going = m_current;
    going->detach();
    going->endRecord();
    going->deschedule();
    m_current = nullptr;
    m_list.takeAt(m_curIndex).reset();
    if (m_list.isEmpty()) {
        newRecord();
    } else {
        if (m_curIndex == m_list.size())
            --m_curIndex;
        loadRecord(m_curIndex);
    }
    storeRecList();
}

void Skyvane::nowPressed()
{
    if (saveRecord())
        m_current->record(nullptr);
}

void Skyvane::stopPressed()
{
    m_current->log(QStringLiteral("Stopped by user\n"));
    m_current->endRecord();
}

void Skyvane::savePressed()
{
    saveRecord();
}

void Skyvane::revertPressed()
{
    loadRecord(m_curIndex);
}

void Skyvane::dailyPressed()
{
    enableButtons();
}

void Skyvane::adjustEnabled()
{
    enableButtons();
}

void Skyvane::clearDay(int index)
{
    if (index >= 0 && index < int(m_days.size()))
        m_days[size_t(index)]->setChecked(false);
}

void Skyvane::storeRecList()
{
    m_list.storeRecList();
}
