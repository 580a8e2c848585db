#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// The one check of a station address, shared by the editor and the transfer:
// an http or https URL with a host, that both Qt and curl parse.
namespace StationUrl {

// The URL as curl should get it (encoded, without fragment); nothing when it
// is not a usable station address.
std::optional<QByteArray> encoded(const QString &text);

// Why the text is not a usable station address, as a clause for the log and
// the alerts ("the address names no host"); nothing when it is one.
std::optional<QString> problem(const QString &text);

inline bool isValid(const QString &text)
{
    return encoded(text).has_value();
}

} // namespace StationUrl
