#include "app/listcommand.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QJsonArray>
#include <QTime>

#include "app/commandchannel.h"
#include "app/instancelock.h"
#include "model/recordingcommands.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/textscan.h"

namespace {

const QStringList commandNames{QStringLiteral("list"), QStringLiteral("add"),
                               QStringLiteral("remove"), QStringLiteral("now"),
                               QStringLiteral("stop")};

QJsonObject error(const QString &sentence)
{
    return {{QStringLiteral("error"), sentence}};
}

QJsonObject done(const QString &sentence)
{
    return {{QStringLiteral("done"), sentence}};
}

QString quoted(const QString &name)
{
    return QStringLiteral("\u201c%1\u201d").arg(name);
}

// "mon,tue,fri" (or the days' whole names): Monday first, as the list keeps them.
std::optional<QJsonArray> weekdays(const QString &text)
{
    static const QStringList names{QStringLiteral("monday"),    QStringLiteral("tuesday"),
                                   QStringLiteral("wednesday"), QStringLiteral("thursday"),
                                   QStringLiteral("friday"),    QStringLiteral("saturday"),
                                   QStringLiteral("sunday")};
    QJsonArray days{0, 0, 0, 0, 0, 0, 0};
    for (const QString &given : text.split(u',')) {
        const QString day = given.trimmed().toLower();
        const auto found = std::ranges::find_if(names, [&](const QString &name) {
            return day == name || (day.size() == 3 && name.startsWith(day));
        });
        if (found == names.end())
            return std::nullopt;
        days[found - names.begin()] = 1;
    }
    return days;
}

std::variant<QJsonObject, QString> addRequest(const QCommandLineParser &parser,
                                              const QDateTime &now)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return QStringLiteral("--add takes the name and then the station's address: skyvane "
                              "--add NAME URL --at HH:MM --for MINUTES.");
    const QTime at = QTime::fromString(parser.value(QStringLiteral("at")), QStringLiteral("H:mm"));
    if (!at.isValid())
        return QStringLiteral("--at takes the start time as HH:MM, such as 07:30.");
    bool isNumber = false;
    const int minutes = parser.value(QStringLiteral("for")).toInt(&isNumber);
    if (!isNumber || minutes <= 0)
        return QStringLiteral("--for takes the minutes to record, such as 60.");
    QJsonObject fields{{QStringLiteral("name"), parser.value(QStringLiteral("add"))},
                       {QStringLiteral("url"), positional.first()},
                       {QStringLiteral("startTime"), at.hour() * 60 + at.minute()},
                       {QStringLiteral("duration"), minutes},
                       {QStringLiteral("splitSongs"), parser.isSet(QStringLiteral("split"))}};
    const bool once = parser.isSet(QStringLiteral("once"));
    if (parser.isSet(QStringLiteral("days"))) {
        const std::optional<QJsonArray> days = weekdays(parser.value(QStringLiteral("days")));
        if (!days)
            return QStringLiteral("--days takes weekdays such as mon,tue,fri.");
        fields.insert(QStringLiteral("days"), *days);
    } else if (once) {
        // Once, at the next time the clock shows --at: today, or else tomorrow.
        const QDate day = now.time() < at ? now.date() : now.date().addDays(1);
        QJsonArray days{0, 0, 0, 0, 0, 0, 0};
        days[day.dayOfWeek() - 1] = 1;
        fields.insert(QStringLiteral("days"), days);
    }
    // Without days a recording would never start: every day, then.
    const bool daily =
        parser.isSet(QStringLiteral("daily")) || (!parser.isSet(QStringLiteral("days")) && !once);
    fields.insert(QStringLiteral("daily"), daily);
    fields.insert(QStringLiteral("once"), once);
    return QJsonObject{{QStringLiteral("command"), QStringLiteral("add")},
                       {QStringLiteral("fields"), fields}};
}

void print(FILE *stream, const QString &text)
{
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
}

// One recording a line: name, next start, state and last result, as the
// window's overview says them, apart by tabs. A tab in a name becomes a
// space and other controls escapes, so that every line stays one recording
// of four columns that cannot steer the terminal.
void printList(const QJsonArray &recordings)
{
    for (const QJsonValue &value : recordings) {
        const QJsonObject recording = value.toObject();
        const QJsonObject overview = recording.value(QStringLiteral("overview")).toObject();
        QStringList columns{recording.value(QStringLiteral("name")).toString()};
        for (const char *key : {"nextStart", "state", "lastResult"})
            columns.append(overview.value(QLatin1String(key)).toString());
        for (QString &column : columns)
            column = TextScan::escapeControls(column.replace(u'\t', u' '));
        print(stdout, columns.join(u'\t'));
    }
}

int printAnswer(const QJsonObject &answer)
{
    if (answer.contains(QStringLiteral("error"))) {
        print(stderr,
              QStringLiteral("skyvane: ") + answer.value(QStringLiteral("error")).toString());
        return 1;
    }
    if (answer.contains(QStringLiteral("recordings")))
        printList(answer.value(QStringLiteral("recordings")).toArray());
    else
        print(stdout, answer.value(QStringLiteral("done")).toString());
    return 0;
}

// None runs the list: this start changes the file itself, under the lock.
QJsonObject executeOnFile(const QJsonObject &request)
{
    RecordingList list;
    list.load();
    RecordingCommands commands(list);
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("list")) {
        // Plans each start as a running Skyvane would; the file is not written.
        for (int i = 0; i < list.size(); ++i)
            list.at(i)->schedule();
    }
    const QJsonObject answer = ListCommand::execute(commands, request, false);
    if (command == QLatin1String("list") || answer.contains(QStringLiteral("error")))
        return answer;
    if (!list.store())
        return error(QStringLiteral("The list %1 could not be written; it is as it was.")
                         .arg(RecordingList::filePath()));
    return answer;
}

} // namespace

namespace ListCommand {

bool isAsked(const QCommandLineParser &parser)
{
    return std::ranges::any_of(commandNames,
                               [&](const QString &name) { return parser.isSet(name); });
}

std::variant<QJsonObject, QString> request(const QCommandLineParser &parser, const QDateTime &now)
{
    if (std::ranges::count_if(commandNames,
                              [&](const QString &name) { return parser.isSet(name); }) != 1)
        return QStringLiteral("Give one of --list, --add, --remove, --now and --stop at a time.");
    if (parser.isSet(QStringLiteral("list")))
        return QJsonObject{{QStringLiteral("command"), QStringLiteral("list")}};
    if (parser.isSet(QStringLiteral("add")))
        return addRequest(parser, now);
    // `--remove Morning Show` must not delete a recording named "Morning".
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("Put a name of several words in quotes, such as --remove "
                              "\"Morning Show\".");
    for (const QString &command : commandNames) {
        if (parser.isSet(command))
            return QJsonObject{{QStringLiteral("command"), command},
                               {QStringLiteral("name"), parser.value(command)}};
    }
    return QString();
}

QJsonObject execute(RecordingCommands &commands, const QJsonObject &request, bool running)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("list"))
        return {{QStringLiteral("recordings"), commands.describeAll(Clock::now())}};
    if (command == QLatin1String("add")) {
        const auto added = commands.add(request.value(QStringLiteral("fields")).toObject());
        if (const auto *failure = std::get_if<RecordingCommands::Error>(&added))
            return error(failure->message);
        const QJsonObject described = commands.describe(std::get<int>(added), Clock::now());
        return done(QStringLiteral("Added %1; next start: %2.")
                        .arg(quoted(described.value(QStringLiteral("name")).toString()),
                             described.value(QStringLiteral("overview"))
                                 .toObject()
                                 .value(QStringLiteral("nextStart"))
                                 .toString()));
    }
    const QString name = request.value(QStringLiteral("name")).toString();
    const std::optional<int> index = commands.indexOf(name);
    if (!index)
        return error(QStringLiteral("There is no recording named %1.").arg(quoted(name)));
    if (command == QLatin1String("remove")) {
        commands.remove(*index);
        return done(QStringLiteral("Deleted %1; the tracks it recorded stay.").arg(quoted(name)));
    }
    if (command != QLatin1String("now") && command != QLatin1String("stop"))
        return error(QStringLiteral("Skyvane does not know the command %1.").arg(quoted(command)));
    if (!running)
        return error(QStringLiteral("No Skyvane runs on the list, so none can record: start "
                                    "skyvane --headless first."));
    const std::optional<RecordingCommands::Error> failure =
        command == QLatin1String("now") ? commands.startNow(*index) : commands.stop(*index);
    if (failure)
        return error(failure->message);
    return done(command == QLatin1String("now")
                    ? QStringLiteral("%1 is recording now.").arg(quoted(name))
                    : QStringLiteral("%1 is stopped.").arg(quoted(name)));
}

int run(const QCommandLineParser &parser)
{
    const auto asked = request(parser, Clock::now());
    if (const QString *wrong = std::get_if<QString>(&asked)) {
        print(stderr, QStringLiteral("skyvane: ") + *wrong);
        return 2;
    }
    const QJsonObject &request = std::get<QJsonObject>(asked);
    const QString listPath = RecordingList::filePath();
    InstanceLock lock(listPath);
    switch (lock.tryLock()) {
    case InstanceLock::Outcome::Locked:
        return printAnswer(executeOnFile(request));
    case InstanceLock::Outcome::Unavailable:
        print(stderr, QStringLiteral("skyvane: The list %1 cannot be locked: %2.")
                          .arg(listPath, lock.failure()));
        return 1;
    case InstanceLock::Outcome::Held:
        break;
    }
    if (const std::optional<QJsonObject> answer = CommandChannel::ask(listPath, request))
        return printAnswer(*answer);
    // A window takes changes in its editor only; a headless copy always listens.
    print(stderr, QStringLiteral("skyvane: The Skyvane that holds the list %1 takes no commands; "
                                 "make the change in its window.")
                      .arg(listPath));
    return 1;
}

} // namespace ListCommand
