#include "model/recording.h"

#include <QTimer>

#include "model/keyedarchive.h"

namespace {

constexpr ValueInfo recordingTable[] = {
    {"name", "recordingChoice", nullptr, 0.0, 0},
    {"url", "stationField", "http://", 0.0, 0},
    {"playList", "playlistField", "My Skyvane Recordings", 0.0, 0},
    {"customTitle", "titleField", nullptr, 0.0, 0},
    {"customArtist", "artistField", "Skyvane", 0.0, 0},
    {"customAlbum", "albumField", nullptr, 0.0, 0},
    {"customGenre", "genreChoice", "Skyvane", 0.0, 0},
    {"daily", "dailyButton", nullptr, 0.0, 0},
    {"once", "onceButton", nullptr, 0.0, 0},
    {"recCount", "recCount", nullptr, 1000.0, 0},
    {"splitSongs", "splitButton", nullptr, 0.0, 0},
    {"reconnect", "reconnectButton", nullptr, 0.0, 0},
    {"splitTitle", "splitTitle", nullptr, 1.0, 0},
    {"keepPartial", "keepPartial", nullptr, 0.0, 0},
    {"startTime", nullptr, nullptr, 600.0, 0},
    {"duration", nullptr, nullptr, 60.0, 0},
    {"shoutLang", nullptr, nullptr, 134217984.0, 0},
};

using Field = FieldEntry<Recording>;
const Field recordingFields[] = {
    Field::of("name", &Recording::name),
    Field::of("url", &Recording::url),
    Field::of("playList", &Recording::playList),
    Field::of("customTitle", &Recording::customTitle),
    Field::of("customArtist", &Recording::customArtist),
    Field::of("customAlbum", &Recording::customAlbum),
    Field::of("customGenre", &Recording::customGenre),
    Field::of("daily", &Recording::daily),
    Field::of("once", &Recording::once),
    Field::of("recCount", &Recording::recCount),
    Field::of("splitSongs", &Recording::splitSongs),
    Field::of("reconnect", &Recording::reconnect),
    Field::of("splitTitle", &Recording::splitTitle),
    Field::of("keepPartial", &Recording::keepPartial),
    Field::of("startTime", &Recording::startTime),
    Field::of("duration", &Recording::duration),
    Field::of("shoutLang", &Recording::shoutLang),
};

const QString daysKey = QStringLiteral("days");
const QString logKey = QStringLiteral("log");

} // namespace

const UIValueManager<Recording> &Recording::valueManager()
{
    static const UIValueManager<Recording> manager(recordingTable, std::size(recordingTable));
    return manager;
}

FieldDirectory<Recording> Recording::fieldDirectory()
{
    return recordingFields;
}

std::unique_ptr<Recording> Recording::initWithName(const QString &name)
{
    std::unique_ptr<Recording> record(new Recording);
    valueManager().initObject(*record);
    record->name = name;
    return record;
}

std::unique_ptr<Recording> Recording::initWithRecording(const Recording &source,
                                                        const QString &name)
{
    std::unique_ptr<Recording> record(new Recording);
    valueManager().copyObject(*record, source);
    record->days = source.days;
    record->name = name;
    return record;
}

std::unique_ptr<Recording> Recording::initWithCoder(const KeyedUnarchiver &coder)
{
    std::unique_ptr<Recording> record(new Recording);
    valueManager().decodeObject(*record, coder);
    if (const auto stored = coder.decodeBytesForKey(daysKey, qsizetype(record->days.size()))) {
        for (qsizetype i = 0; i < stored->size(); ++i)
            record->days[size_t(i)] = stored->at(i) != 0;
    }
    record->logText = coder.decodeObjectForKey(logKey).value_or(QString());
    record->schedule();
    return record;
}

void Recording::encodeWithCoder(KeyedArchiver &coder) const
{
    valueManager().encodeObject(*this, coder);
    QByteArray dayBytes;
    for (const bool day : days)
        dayBytes.append(char(day ? 1 : 0));
    coder.encodeBytes(dayBytes, daysKey);
    coder.encodeObject(logText, logKey);
}

void Recording::loadToUI(const Form &form) const
{
    valueManager().loadObject(*this, form);
}

void Recording::saveFromUI(const Form &form)
{
    valueManager().saveUI(form, *this);
}

int Recording::compareTo(const Recording &other) const
{
    const int order = name.compare(other.name, Qt::CaseInsensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

Recording::~Recording()
{
    // Ending first re-arms the schedule, so the timer goes after it.
    endRecord();
    deschedule();
    valueManager().deallocObject(*this);
}
