#pragma once

#include <variant>

#include <QJsonObject>
#include <QString>

class QCommandLineParser;
class RecordingCommands;

// The list's command line: --list, --add, --remove, --now and --stop. Each
// becomes one request, which the headless Skyvane holding the list carries
// out (over the CommandChannel), or, when none runs, this start itself on the
// list file, under the lock.
namespace ListCommand {

// Whether the command line asks for one of these.
bool isAsked(const QCommandLineParser &parser);
// Runs it: what it prints goes to standard output, an error as one sentence
// to standard error. The process's exit code.
int run(const QCommandLineParser &parser);

// The request the command line makes, or what is wrong with it.
std::variant<QJsonObject, QString> request(const QCommandLineParser &parser, const QDateTime &now);
// Carries a request out on the list: {"recordings": [...]}, {"done": sentence}
// or {"error": sentence}. `running`: whether this process runs the
// recordings, without which none can start or stop.
QJsonObject execute(RecordingCommands &commands, const QJsonObject &request, bool running);

} // namespace ListCommand
