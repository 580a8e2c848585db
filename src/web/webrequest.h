#pragma once

#include <optional>
#include <variant>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// The rules the web server reads a request by, apart from the server.
namespace WebRequest {

using Headers = QList<QPair<QByteArray, QByteArray>>;

// The header's value, its name in any case; empty when it is missing.
QByteArray header(const Headers &headers, QByteArrayView name);
// The session cookie's value in a Cookie header; empty when there is none.
QByteArray sessionToken(QByteArrayView cookieHeader);
// Whether a change comes from the page itself: its Origin (or, without one,
// its Referer) names the host the request was sent to. A page of another
// site cannot make a browser send either falsely.
bool isSameOrigin(const Headers &headers);

struct ListenAddress
{
    QHostAddress address;
    quint16 port = 0;
};
// "[ADDRESS:]PORT": "8080", "127.0.0.1:8080", "[::1]:8080", "0.0.0.0:8080",
// "localhost:8080". The address is 127.0.0.1 when none is given. A sentence
// saying what is wrong otherwise.
std::variant<ListenAddress, QString> parseListenAddress(const QString &text);

inline constexpr QByteArrayView sessionCookie = "skyvane_session";

} // namespace WebRequest
