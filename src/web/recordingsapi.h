#pragma once

#include <QByteArray>
#include <QStringList>
#include <QtHttpServer/QHttpServerRequest>

#include "model/recordingcommands.h"
#include "web/webreply.h"

class RecordingList;

// The recordings' part of the web API, below /api/recordings:
//   GET    /                list every recording
//   POST   /                add one (201, the stored recording)
//   PUT    /<index>         change its fields
//   DELETE /<index>         delete it (204)
//   GET    /<index>/log     its log
//   POST   /<index>/clone   copy it (201)
//   POST   /<index>/now     start it now
//   POST   /<index>/stop    stop it
// A changed or added recording is answered as the list describes it.
class RecordingsApi
{
public:
    explicit RecordingsApi(RecordingList &list);

    // `path` is what follows /api/recordings, split at its slashes.
    WebReply handle(QHttpServerRequest::Method method, const QStringList &path,
                    const QByteArray &body);

private:
    WebReply handleRecording(QHttpServerRequest::Method method, int index, const QString &action,
                             const QByteArray &body);
    WebReply described(int status, const RecordingCommands::Result &result) const;

    RecordingCommands m_commands;
};
