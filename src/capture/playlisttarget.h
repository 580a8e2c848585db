#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// A short body that gave no audio is a PLS/M3U playlist, or an error page
// that names where the stream is.
namespace PlaylistTarget {

// The first "http://" or "https://" URL of the body (up to its first zero
// byte), up to the first control character; nothing when the body is not
// UTF-8 or names no URL.
std::optional<QString> first(const QByteArray &body);

} // namespace PlaylistTarget
