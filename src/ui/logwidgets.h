#pragma once

#include "log/logsinks.h"

class QPlainTextEdit;
class QProgressBar;

// The window's log view, lent to the recording the editor shows.
class PlainTextLogView final : public LogView
{
public:
    explicit PlainTextLogView(QPlainTextEdit *view) : m_view(view) {}
    void setString(const QString &text) override;
    void scrollRangeToVisible(qsizetype start, qsizetype length) override;

private:
    QPlainTextEdit *m_view;
};

// The window's progress bar: percent with a tenth of a percent of resolution.
class WidgetProgressBar final : public ProgressBar
{
public:
    static constexpr int stepsPerPercent = 10;

    explicit WidgetProgressBar(QProgressBar *bar);
    void setDoubleValue(double value) override;

private:
    QProgressBar *m_bar;
};
