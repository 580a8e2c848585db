#include "app/headlessrunner.h"

#include <cstdio>

#include <QCoreApplication>

#include "platform/textscan.h"

HeadlessRunner::HeadlessRunner(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_termination, &TerminationSignals::received, this, [this] {
        shutDown();
        QCoreApplication::exit(0);
    });
}

bool HeadlessRunner::start()
{
    m_list.load();
    if (m_list.isEmpty()) {
        std::fprintf(stderr, "skyvane: no recordings in %s; make some in the window first.\n",
                     qUtf8Printable(RecordingList::filePath()));
        return false;
    }
    for (int i = 0; i < m_list.size(); ++i) {
        const Recording *row = m_list.at(i);
        QObject::connect(row, &Recording::logAppended, this,
                         [row](const QString &message) { printLogLines(row->name(), message); });
        // What the capture came to, in the words a notification would use.
        QObject::connect(row, &Recording::captureEnded, this, [row](const Outcome &outcome) {
            printLogLines(row->name(),
                          outcome.summary().replace(u'\n', QStringLiteral("; ")) + u'\n');
        });
    }
    m_list.scheduleAll();
    return true;
}

void HeadlessRunner::shutDown()
{
    m_list.stopAll();
    m_list.store();
}

void HeadlessRunner::printLogLines(const QString &name, const QString &message)
{
    const QByteArray prefix = name.toUtf8() + ": ";
    const QStringList lines = message.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // The piece after a message's final line break is empty, not a line.
        if (i + 1 == lines.size() && lines[i].isEmpty())
            break;
        const QByteArray line = prefix + TextScan::escapeControls(lines[i]).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    std::fflush(stdout);
}
