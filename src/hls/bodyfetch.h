#pragma once

#include <chrono>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include "platform/httptransfer.h"

// One whole HTTP body that HLS needs (a playlist, a key, an init section or a
// segment), bounded in size and in time: a hostile server that sends forever,
// or too slowly for a live stream, fails the fetch instead of holding it.
// Exactly one of done() or failed() follows start(), from the event loop.
class BodyFetch : public QObject
{
    Q_OBJECT

public:
    struct Range
    {
        qint64 offset = 0;
        qint64 length = 0;
    };

    explicit BodyFetch(QObject *parent = nullptr);
    ~BodyFetch() override;

    // Starts over, dropping a fetch under way. A body over maxBytes fails.
    void start(const QUrl &url, qint64 maxBytes, std::chrono::milliseconds deadline,
               std::optional<Range> range = std::nullopt);
    // Drops the fetch under way; no signal follows.
    void cancel();
    bool isActive() const { return m_transfer != nullptr; }
    // The address the body came from, after redirects.
    const QUrl &url() const { return m_url; }

Q_SIGNALS:
    void done(const QByteArray &body);
    // What went wrong in a few words: "HTTP 404", "larger than 4 MB", curl's error.
    void failed(const QString &reason);

private:
    void onResponse(const HttpResponse &response);
    void onData(QByteArrayView data);
    void onFinished();
    void fail(const QString &reason);

    HttpTransferPtr m_transfer;
    QTimer m_deadline;
    QUrl m_url;
    QByteArray m_body;
    qint64 m_maxBytes = 0;
    int m_status = 0;
};
