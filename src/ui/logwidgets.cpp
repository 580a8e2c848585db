#include "ui/logwidgets.h"

#include <algorithm>
#include <cmath>

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>

void PlainTextLogView::setString(const QString &text)
{
    m_view->setPlainText(text);
}

void PlainTextLogView::scrollRangeToVisible(qsizetype start, qsizetype length)
{
    // The document counts one more character than the text: its final block end.
    const qsizetype last = std::max<qsizetype>(0, m_view->document()->characterCount() - 1);
    QTextCursor cursor(m_view->document());
    cursor.setPosition(int(std::clamp<qsizetype>(start + length, 0, last)));
    m_view->setTextCursor(cursor);
    m_view->ensureCursorVisible();
}

WidgetProgressBar::WidgetProgressBar(QProgressBar *bar) : m_bar(bar)
{
    m_bar->setRange(0, 100 * stepsPerPercent);
}

void WidgetProgressBar::setDoubleValue(double value)
{
    const double percent = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
    m_bar->setValue(int(std::lround(percent * stepsPerPercent)));
}
