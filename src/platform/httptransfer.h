#pragma once

#include <optional>

#include <memory>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class HttpTransfer;

// The answer of a station, as far as it came with header fields.
struct HttpResponse
{
    // True when the answer had a status line that curl understood (HTTP/x or
    // "ICY 200 OK") and so header fields. False for any other answer, which is
    // then delivered whole, status and header lines included, as body bytes.
    bool isHttp = false;
    int statusCode = 0;
    // Header fields in the order received, names as sent.
    QList<QPair<QString, QString>> headerFields;
    // The media type of Content-Type without parameters ("audio/mpeg"); "" when none.
    QString mimeType;

    // The value of the first field of that name, compared case-insensitively.
    QString headerValue(QStringView name) const;
};

// Cancels the transfer and frees it at the end of the current pass of the event
// loop, so that a slot of the very transfer being dropped can return normally.
struct HttpTransferDisposer
{
    void operator()(HttpTransfer *transfer) const;
};
using HttpTransferPtr = std::unique_ptr<HttpTransfer, HttpTransferDisposer>;

// One GET over a curl easy handle, driven by the process's one curl multi
// handle from the Qt event loop.
class HttpTransfer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QString url;
        // Sent in this order; nothing else is added that changes the answer.
        QList<QPair<QByteArray, QByteArray>> headerFields;
        // No byte (or no connection) for this long fails the transfer. A
        // stream may run for days; there is no limit on the whole transfer.
        int idleTimeoutSeconds = 300;
        // Redirects followed before the transfer fails; none: the caller
        // counts them from redirected() and cancels when it has had enough.
        std::optional<int> maxRedirects = 20;
    };

    // Starts the transfer. Returns nullptr when it cannot be created (a URL that
    // is not a station address, or curl refusing the handle). Signals come from
    // the event loop only, so the caller connects to them after this returns.
    static HttpTransferPtr start(const Request &request);

    ~HttpTransfer() override;

    // Stops the transfer; no signal is emitted after this returns, even when
    // it is called from a slot connected to one of the transfer's signals.
    void cancel();

Q_SIGNALS:
    // All on the main thread, in this order: redirected (0..n times, each before
    // that redirect is followed), responseReceived (once, before any data),
    // dataReceived (0..n times, chunks of any size), then exactly one of
    // finished or failed. Connect directly: the data view lives only during
    // the emission.
    void redirected(const QString &url);
    void responseReceived(const HttpResponse &response);
    void dataReceived(QByteArrayView data);
    void finished();
    void failed(const QString &error);

private:
    HttpTransfer();
    struct Private;
    std::unique_ptr<Private> d;
    friend class CurlDriver;
};
