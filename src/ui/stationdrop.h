#pragma once

#include <optional>

#include <QString>
#include <Qt>

class QMimeData;

// A station link dragged onto the window: its URL and, when the drag carries
// one, the link's title (browsers send it as "text/x-moz-url").
struct StationLink
{
    QString url;
    std::optional<QString> title;
};

namespace StationDrop {

// A dropped link is only ever copied: the copy action when the source allows
// it, no action otherwise.
Qt::DropAction actionFor(Qt::DropActions possibleActions);

// Whether the drag carries a link the window can take.
bool canTake(const QMimeData &data);

// The first URL of the drag and its title; nullopt when it carries no URL.
std::optional<StationLink> linkFrom(const QMimeData &data);

// The title in a "text/x-moz-url" payload: UTF-16 text of lines alternating
// URL and title. nullopt when there is no second line or it is empty.
std::optional<QString> titleFromMozUrl(const QByteArray &payload);

} // namespace StationDrop
