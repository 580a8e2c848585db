#include "web/webrequest.h"

#include <QUrl>

namespace WebRequest {

QByteArray header(const Headers &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}

QByteArray sessionToken(QByteArrayView cookieHeader)
{
    for (const QByteArray &pair : cookieHeader.toByteArray().split(';')) {
        const QByteArray trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.left(equals) == sessionCookie)
            return trimmed.mid(equals + 1);
    }
    return {};
}

bool isSameOrigin(const Headers &headers)
{
    const QByteArray host = header(headers, "Host");
    QByteArray origin = header(headers, "Origin");
    if (origin.isEmpty() || origin == "null")
        origin = header(headers, "Referer");
    const QUrl url(QString::fromLatin1(origin), QUrl::StrictMode);
    // The authority holds any user name too, which a Host never does.
    if (host.isEmpty() || !url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    return url.authority(QUrl::FullyEncoded)
               .compare(QString::fromLatin1(host), Qt::CaseInsensitive) == 0;
}

std::variant<ListenAddress, QString> parseListenAddress(const QString &text)
{
    const QString wrong =
        QStringLiteral(
            "\u201c%1\u201d is not a port or ADDRESS:PORT, such as 8080 or 0.0.0.0:8080.")
            .arg(text);
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon < 0 ? QString() : text.left(colon);
    bool isNumber = false;
    const uint port = text.mid(colon + 1).toUInt(&isNumber);
    if (!isNumber || port == 0 || port > 65535)
        return wrong;
    ListenAddress listen{QHostAddress(QHostAddress::LocalHost), quint16(port)};
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || host.isEmpty())
        return listen;
    if (!listen.address.setAddress(host))
        return wrong;
    return listen;
}

} // namespace WebRequest
