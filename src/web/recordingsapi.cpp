#include "web/recordingsapi.h"

#include "platform/clock.h"

namespace {

using Method = QHttpServerRequest::Method;
using Error = RecordingCommands::Error;

int statusOf(Error::Kind kind)
{
    switch (kind) {
    case Error::Kind::NotFound:
        return 404;
    case Error::Kind::Invalid:
        return 400;
    case Error::Kind::Refused:
        return 422;
    case Error::Kind::Busy:
        break;
    }
    return 409;
}

WebReply failed(const Error &error)
{
    return WebReply::error(statusOf(error.kind), error.message, error.field);
}

WebReply notAllowed()
{
    return WebReply::error(405, QStringLiteral("That is not done to this address."));
}

std::optional<QJsonObject> objectOf(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? std::optional(document.object()) : std::nullopt;
}

WebReply notAnObject()
{
    return WebReply::error(400, QStringLiteral("The request does not hold a JSON object."));
}

// Only plain decimal places: "+1", " 1" or "1e0" name nothing.
std::optional<int> indexOf(const QString &text)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return text.toInt();
}

} // namespace

RecordingsApi::RecordingsApi(RecordingList &list) : m_commands(list) {}

WebReply RecordingsApi::handle(Method method, const QStringList &path, const QByteArray &body)
{
    if (path.isEmpty()) {
        if (method == Method::Get)
            return WebReply::json(200, m_commands.describeAll(Clock::now()));
        if (method != Method::Post)
            return notAllowed();
        const std::optional<QJsonObject> fields = objectOf(body);
        return fields ? described(201, m_commands.add(*fields)) : notAnObject();
    }
    const std::optional<int> index = indexOf(path.first());
    if (!index || path.size() > 2)
        return WebReply::error(404, QStringLiteral("There is no such address."));
    return handleRecording(method, *index, path.value(1), body);
}

WebReply RecordingsApi::handleRecording(Method method, int index, const QString &action,
                                        const QByteArray &body)
{
    if (action.isEmpty() && method == Method::Put) {
        const std::optional<QJsonObject> fields = objectOf(body);
        return fields ? described(200, m_commands.update(index, *fields)) : notAnObject();
    }
    if (action.isEmpty() && method == Method::Delete) {
        const std::optional<Error> error = m_commands.remove(index);
        return error ? failed(*error) : WebReply{204, {}};
    }
    if (action == QLatin1String("log") && method == Method::Get) {
        const auto log = m_commands.log(index);
        if (const Error *error = std::get_if<Error>(&log))
            return failed(*error);
        return WebReply::json(200, QJsonObject{{QStringLiteral("log"), std::get<QString>(log)}});
    }
    if (method != Method::Post)
        return notAllowed();
    if (action == QLatin1String("clone"))
        return described(201, m_commands.clone(index));
    std::optional<Error> error;
    if (action == QLatin1String("now"))
        error = m_commands.startNow(index);
    else if (action == QLatin1String("stop"))
        error = m_commands.stop(index);
    else
        return WebReply::error(404, QStringLiteral("There is no such address."));
    return error ? failed(*error) : described(200, index);
}

WebReply RecordingsApi::described(int status, const RecordingCommands::Result &result) const
{
    if (const Error *error = std::get_if<Error>(&result))
        return failed(*error);
    return WebReply::json(status, m_commands.describe(std::get<int>(result), Clock::now()));
}
