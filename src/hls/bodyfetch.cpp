#include "hls/bodyfetch.h"

#include <utility>

namespace {

// Segments are fetched while the stream goes on: a server that sends nothing
// for this long is not worth waiting for, whatever the deadline.
constexpr int idleTimeoutSeconds = 30;

QString sizeInWords(qint64 bytes)
{
    return bytes >= 1024 * 1024 ? QStringLiteral("%1 MB").arg(bytes / (1024 * 1024))
                                : QStringLiteral("%1 KB").arg(bytes / 1024);
}

} // namespace

BodyFetch::BodyFetch(QObject *parent) : QObject(parent), m_deadline(this)
{
    m_deadline.setSingleShot(true);
    QObject::connect(&m_deadline, &QTimer::timeout, this,
                     [this] { fail(QStringLiteral("it did not arrive in time")); });
}

BodyFetch::~BodyFetch() = default;

void BodyFetch::start(const QUrl &url, qint64 maxBytes, std::chrono::milliseconds deadline,
                      std::optional<Range> range)
{
    cancel();
    m_url = url;
    m_maxBytes = maxBytes;
    HttpTransfer::Request request;
    request.url = url.toString(QUrl::FullyEncoded);
    request.headerFields = {{"User-Agent", "Skyvane"}};
    if (range)
        request.headerFields.append(
            {"Range", QByteArray("bytes=%1-%2")
                          .replace("%1", QByteArray::number(range->offset))
                          .replace("%2", QByteArray::number(range->offset + range->length - 1))});
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    request.maxRedirects = 5;
    m_transfer = HttpTransfer::start(request);
    if (!m_transfer) {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT failed(QStringLiteral("its address can not be fetched")); },
            Qt::QueuedConnection);
        return;
    }
    HttpTransfer *const transfer = m_transfer.get();
    QObject::connect(transfer, &HttpTransfer::redirected, this,
                     [this](const QString &target) { m_url = QUrl(target); });
    QObject::connect(transfer, &HttpTransfer::responseReceived, this, &BodyFetch::onResponse);
    QObject::connect(transfer, &HttpTransfer::dataReceived, this, &BodyFetch::onData);
    QObject::connect(transfer, &HttpTransfer::finished, this, &BodyFetch::onFinished);
    QObject::connect(transfer, &HttpTransfer::failed, this, &BodyFetch::fail);
    m_deadline.start(deadline);
}

void BodyFetch::cancel()
{
    m_transfer.reset();
    m_deadline.stop();
    m_body.clear();
    m_status = 0;
}

void BodyFetch::onResponse(const HttpResponse &response)
{
    m_status = response.isHttp ? response.statusCode : 200;
}

void BodyFetch::onData(QByteArrayView data)
{
    if (m_body.size() + data.size() > m_maxBytes) {
        fail(QStringLiteral("it is larger than %1").arg(sizeInWords(m_maxBytes)));
        return;
    }
    m_body.append(data);
}

void BodyFetch::onFinished()
{
    if (m_status < 200 || m_status >= 300) {
        fail(QStringLiteral("the server answered HTTP %1").arg(m_status));
        return;
    }
    QByteArray body = std::exchange(m_body, QByteArray());
    cancel();
    Q_EMIT done(body);
}

void BodyFetch::fail(const QString &reason)
{
    cancel();
    Q_EMIT failed(reason);
}
