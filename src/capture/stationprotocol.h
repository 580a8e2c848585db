#pragma once

#include <optional>

#include <QString>

#include "platform/httptransfer.h"

// How Skyvane speaks to a station, for a capture and for "Try" alike: what
// it asks for (titles in the stream) and how it reads a metadata block.
namespace StationProtocol {

// Redirects and playlists followed, together, before a connection gives up.
constexpr int maxHops = 10;

// A GET of `url` that asks for in-band titles. Redirects are not limited by
// curl: the caller counts them together with the playlists it follows.
HttpTransfer::Request request(const QString &url, int idleTimeoutSeconds);
// The stream title of a metadata block's text: between "StreamTitle='" and
// "';", zero padding dropped.
std::optional<QString> streamTitle(const QString &blockText);

} // namespace StationProtocol
