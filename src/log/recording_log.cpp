#include "model/recording.h"

#include "log/logsinks.h"

namespace {

// A log longer than this loses its head before the next append, which keeps
// both the window's text and the stored list file bounded.
constexpr qsizetype trimThreshold = 16000;
constexpr qsizetype trimAmount = 8000;

Recording::LogListener &logListener()
{
    static Recording::LogListener listener;
    return listener;
}

void showWholeLog(LogView *view, const QString &log)
{
    view->setString(log);
    if (!log.isEmpty())
        view->scrollRangeToVisible(log.size() - 1, 1);
}

} // namespace

void Recording::attachLog(LogView *view, ProgressBar *bar)
{
    text = view;
    progress = bar;
    if (progress)
        progress->setDoubleValue(percent);
    if (text)
        showWholeLog(text, logText);
}

void Recording::detach()
{
    text = nullptr;
    progress = nullptr;
}

void Recording::log(const QString &message)
{
    // QString counts UTF-16 code units, which is the unit the limits are in.
    if (logText.size() >= trimThreshold)
        logText.remove(0, trimAmount);
    logText.append(message);
    if (text)
        showWholeLog(text, logText);
    if (const LogListener &listener = logListener())
        listener(*this, message);
}

void Recording::setLogListener(LogListener listener)
{
    logListener() = std::move(listener);
}

QString Recording::formatLogLine(const char *format, std::initializer_list<QString> arguments)
{
    // Each "%d" or "%@" takes the next argument's text; the arguments are never
    // scanned again, so a "%" inside a station's name or title stays as it is.
    QString line;
    auto next = arguments.begin();
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && (p[1] == 'd' || p[1] == '@')) {
            if (next != arguments.end())
                line += *next++;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            line += u'%';
            ++p;
        } else {
            const char *run = p;
            while (p[1] && p[1] != '%')
                ++p;
            line += QString::fromUtf8(run, p - run + 1);
        }
    }
    return line;
}
