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

inline bool isValid(const QString &text)
{
    return encoded(text).has_value();
}

} // namespace StationUrl
