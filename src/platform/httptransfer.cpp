#include "platform/httptransfer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <optional>
#include <utility>

#include <sys/socket.h>

#include <curl/curl.h>

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include "platform/curldriver.h"
#include "platform/descriptorlimit.h"
#include "platform/stationurl.h"
#include "platform/textscan.h"
#include "platform/textencodings.h"

namespace {

// curl's receive buffer, one per transfer; curl hands dataReceived at most
// 16 KiB per call whatever its size. On a fast network a bigger one saves system
// calls: against 32 KiB, 128 KiB reads a stream on loopback in a quarter of the
// recv calls and half the polls (256 KiB saves little more). A station at
// 128 kbit/s sends a few KB at a time, so only the buffer's first pages are ever
// touched: 200 recordings at once hold little more memory (bench_many).
constexpr long receiveBufferSize = 128 * 1024;

// How long the receivers of one transfer may work on its data before the event
// loop turns: curl hands over everything it has read in one go, and a station
// that floods titles would otherwise keep timers and signals waiting for seconds.
constexpr qint64 busyBudgetNs = 20'000'000;

struct CurlUrlDeleter
{
    void operator()(CURLU *url) const { curl_url_cleanup(url); }
};
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;

bool isWebScheme(const QString &scheme)
{
    return scheme == u"http" || scheme == u"https";
}

// Header text is bytes; stations send UTF-8 or, traditionally, Latin-1.
QString headerText(QByteArrayView bytes)
{
    return TextEncodings::decode(bytes.trimmed(), TextEncodings::utf8);
}

struct CurlFreeDeleter
{
    void operator()(char *text) const { curl_free(text); }
};

// A Location relative to the URL that answered with it, made absolute by
// curl's own URL parser, the one that will fetch it.
std::optional<QString> resolveRedirect(const QString &base, const QString &location)
{
    const CurlUrlPtr url(curl_url());
    constexpr unsigned int flags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE | CURLU_ALLOW_SPACE;
    char *resolved = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.toUtf8().constData(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.toUtf8().constData(), flags) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK)
        return std::nullopt;
    const std::unique_ptr<char, CurlFreeDeleter> owned(resolved);
    return QString::fromUtf8(owned.get());
}

QString exceptionText()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("Unknown error in a slot of a transfer");
    }
}

} // namespace

QString HttpResponse::headerValue(QStringView name) const
{
    for (const auto &[fieldName, value] : headerFields) {
        if (fieldName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

void HttpTransferDisposer::operator()(HttpTransfer *transfer) const
{
    transfer->cancel();
    transfer->deleteLater();
}

struct HttpTransfer::Private final : public CurlClient
{
    explicit Private(HttpTransfer &owner) : q(owner) {}

    bool configure(const Request &request, const QByteArray &url, curl_slist *aliases);
    void curlTransferDone(CURLcode result) override;

    static size_t onWrite(char *data, size_t size, size_t count, void *self) noexcept;
    static size_t onHeader(char *data, size_t size, size_t count, void *self) noexcept;
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose,
                                      curl_sockaddr *address) noexcept;
    size_t receiveData(char *data, size_t length);
    void yieldToEventLoop();
    bool receiveHeaderLine(QByteArrayView line);
    bool endOfHeaders();
    void deliverResponse();
    void followRedirect();
    void finish();
    void fail(const QString &error);
    QString describe(CURLcode result) const;

    HttpTransfer &q;
    CurlSlistPtr headers;
    CurlEasyPtr easy;
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    QString url;
    HttpResponse response;
    std::optional<QString> redirectTarget;
    std::optional<QString> callbackError;
    std::optional<QString> socketError; // why the last socket could not be made
    int redirectCount = 0;
    std::optional<int> maxRedirects;
    bool inHeaderBlock = false;
    bool responseDelivered = false;
    bool cancelled = false;
    bool paused = false;
    qint64 busyNs = 0; // time the receivers spent since the loop last turned
};

HttpTransfer::HttpTransfer() : d(std::make_unique<Private>(*this)) {}

HttpTransfer::~HttpTransfer()
{
    if (!d->easy)
        return;
    // curl may still hold the handle for a moment (the driver frees it once curl
    // returns): from now on its callbacks find nobody to call.
    curl_easy_setopt(d->easy.get(), CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(d->easy.get(), CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(d->easy.get(), CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(d->easy.get(), CURLOPT_OPENSOCKETDATA, nullptr);
    if (CurlDriver *const driver = CurlDriver::existing())
        driver->release(std::move(d->easy), std::move(d->headers));
}

HttpTransferPtr HttpTransfer::start(const Request &request)
{
    const std::optional<QByteArray> url = StationUrl::encoded(request.url);
    CurlDriver *const driver = CurlDriver::instance();
    if (!url || !driver)
        return nullptr;
    // The constructor is private to this class; the pointer owns it at once.
    HttpTransferPtr transfer(new HttpTransfer);
    Private &d = *transfer->d;
    d.url = QString::fromLatin1(*url);
    d.maxRedirects = request.maxRedirects;
    d.easy.reset(curl_easy_init());
    if (!d.easy || !d.configure(request, *url, driver->http200Aliases()) ||
        !driver->attach(d.easy.get(), &d)) {
        d.cancelled = true;
        return nullptr;
    }
    return transfer;
}

void HttpTransfer::cancel()
{
    if (d->cancelled)
        return;
    d->cancelled = true;
    // A slot still running in this emission returns normally; the receivers
    // after it, of this signal or any other, hear nothing more.
    QObject::disconnect(this, nullptr, nullptr, nullptr);
    if (CurlDriver *const driver = CurlDriver::existing(); driver && d->easy)
        driver->detach(d->easy.get());
}

bool HttpTransfer::Private::configure(const Request &request, const QByteArray &startUrl,
                                      curl_slist *aliases)
{
    for (const auto &[name, value] : request.headerFields) {
        // "Name;" is curl's way to send a field with an empty value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        curl_slist *const appended = curl_slist_append(headers.get(), line.constData());
        if (!appended)
            return false;
        if (!headers)
            headers.reset(appended);
    }
    CURL *const h = easy.get();
    // No byte, or no connection, for this long fails the transfer; a transfer
    // that keeps receiving may run forever. curl averages the speed over a few
    // seconds, so a stall is noticed up to five seconds after the idle time.
    const long idle = std::max(request.idleTimeoutSeconds, 0);
    const CURLcode results[] = {
        curl_easy_setopt(h, CURLOPT_URL, startUrl.constData()),
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer.data()),
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Private::onWrite),
        curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void *>(this)),
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Private::onHeader),
        curl_easy_setopt(h, CURLOPT_HEADERDATA, static_cast<void *>(this)),
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()),
        curl_easy_setopt(h, CURLOPT_HTTP200ALIASES, aliases),
        curl_easy_setopt(h, CURLOPT_HTTP09_ALLOWED, 1L),
        curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L),
        // Redirects are followed here, each reported before it is followed.
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L),
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"),
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"),
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L),
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, receiveBufferSize),
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, idle),
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, idle > 0 ? 1L : 0L),
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, idle),
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L),
        curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &Private::onOpenSocket),
        curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, static_cast<void *>(this)),
        // A connection kept for reuse would hold a descriptor for minutes; a
        // station's stream or playlist is fetched once.
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L),
    };
    return std::all_of(std::begin(results), std::end(results),
                       [](CURLcode result) { return result == CURLE_OK; });
}

size_t HttpTransfer::Private::onWrite(char *data, size_t size, size_t count, void *self) noexcept
{
    auto *const d = static_cast<Private *>(self);
    if (!d || d->cancelled)
        return CURL_WRITEFUNC_ERROR;
    try {
        return d->receiveData(data, size * count);
    } catch (...) {
        d->callbackError = exceptionText();
        return CURL_WRITEFUNC_ERROR;
    }
}

size_t HttpTransfer::Private::receiveData(char *data, size_t length)
{
    if (!responseDelivered) {
        // Only an answer without a status line reaches the body unannounced:
        // HTTP answers are delivered at the end of their header fields.
        response = HttpResponse{};
        deliverResponse();
    }
    if (length > 0 && !cancelled) {
        QElapsedTimer busy;
        busy.start();
        Q_EMIT q.dataReceived(QByteArrayView(data, qsizetype(length)));
        busyNs += busy.nsecsElapsed();
    }
    if (cancelled)
        return CURL_WRITEFUNC_ERROR;
    if (busyNs > busyBudgetNs)
        yieldToEventLoop();
    return length;
}

// The data was taken; curl holds what follows until the loop has turned once.
void HttpTransfer::Private::yieldToEventLoop()
{
    if (paused || curl_easy_pause(easy.get(), CURLPAUSE_RECV) != CURLE_OK)
        return;
    paused = true;
    QTimer::singleShot(0, &q, [this] {
        paused = false;
        busyNs = 0;
        if (!cancelled)
            curl_easy_pause(easy.get(), CURLPAUSE_CONT);
    });
}

size_t HttpTransfer::Private::onHeader(char *data, size_t size, size_t count, void *self) noexcept
{
    auto *const d = static_cast<Private *>(self);
    const size_t length = size * count;
    if (!d || d->cancelled)
        return 0;
    try {
        return d->receiveHeaderLine(QByteArrayView(data, qsizetype(length))) ? length : 0;
    } catch (...) {
        d->callbackError = exceptionText();
        return 0;
    }
}

curl_socket_t HttpTransfer::Private::onOpenSocket(void *self, curlsocktype,
                                                  curl_sockaddr *address) noexcept
{
    // Close-on-exec: a program started from Skyvane must not keep a station's connection.
    const curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    auto *const d = static_cast<Private *>(self);
    if (socket == CURL_SOCKET_BAD && d) {
        const int error = errno;
        try {
            d->socketError = DescriptorLimit::failure(error);
        } catch (...) {
            d->socketError.reset();
        }
    }
    return socket;
}

bool HttpTransfer::Private::receiveHeaderLine(QByteArrayView line)
{
    if (responseDelivered)
        return true; // trailer fields after a chunked body
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (!inHeaderBlock) {
        // A status line opens a block (an interim 1xx answer may come first).
        inHeaderBlock = true;
        response = HttpResponse{};
        response.isHttp = true;
        return true;
    }
    if (line.isEmpty()) {
        inHeaderBlock = false;
        return endOfHeaders();
    }
    if ((line.startsWith(' ') || line.startsWith('\t')) && !response.headerFields.isEmpty()) {
        QString &value = response.headerFields.last().second;
        value += u' ' + headerText(line); // an obsolete folded continuation line
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon > 0)
        response.headerFields.append(
            {headerText(line.first(colon)), headerText(line.sliced(colon + 1))});
    return true;
}

bool HttpTransfer::Private::endOfHeaders()
{
    long code = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200)
        return true;
    const QString location = response.headerValue(u"Location");
    if (code >= 300 && code < 400 && code != 304 && !location.isEmpty()) {
        // Stop here; the redirect is reported and followed once curl has let
        // go of the handle. Its body is of no interest.
        redirectTarget = resolveRedirect(url, location);
        if (!redirectTarget)
            callbackError = QStringLiteral("Redirected to an invalid URL: %1").arg(location);
        return false;
    }
    response.statusCode = static_cast<int>(code);
    response.mimeType = TextScan::mediaType(response.headerValue(u"Content-Type"));
    deliverResponse();
    return !cancelled;
}

void HttpTransfer::Private::deliverResponse()
{
    responseDelivered = true;
    const HttpResponse delivered = std::exchange(response, HttpResponse{});
    Q_EMIT q.responseReceived(delivered);
}

void HttpTransfer::Private::curlTransferDone(CURLcode result)
{
    if (cancelled)
        return;
    try {
        if (redirectTarget)
            followRedirect();
        else if (callbackError)
            fail(*callbackError);
        else if (result != CURLE_OK)
            fail(describe(result));
        else
            finish();
    } catch (...) {
        // A slot threw from the last signal: nothing is left to tell.
        cancelled = true;
    }
}

void HttpTransfer::Private::followRedirect()
{
    const QString target = *std::exchange(redirectTarget, std::nullopt);
    if (maxRedirects && ++redirectCount > *maxRedirects)
        return fail(QStringLiteral("Too many redirects"));
    if (!isWebScheme(QUrl(target).scheme()))
        return fail(
            QStringLiteral("Redirected to %1, which is not an http or https URL").arg(target));
    try {
        Q_EMIT q.redirected(target);
    } catch (...) {
        return fail(exceptionText());
    }
    if (cancelled)
        return;
    url = target;
    inHeaderBlock = false;
    responseDelivered = false;
    socketError.reset();
    errorBuffer[0] = '\0';
    CurlDriver *const driver = CurlDriver::existing();
    if (curl_easy_setopt(easy.get(), CURLOPT_URL, target.toUtf8().constData()) != CURLE_OK ||
        !driver || !driver->attach(easy.get(), this))
        fail(QStringLiteral("Cannot follow the redirect to %1").arg(target));
}

void HttpTransfer::Private::finish()
{
    if (!responseDelivered)
        deliverResponse();
    if (!cancelled)
        Q_EMIT q.finished();
}

void HttpTransfer::Private::fail(const QString &error)
{
    Q_EMIT q.failed(error);
}

QString HttpTransfer::Private::describe(CURLcode result) const
{
    // curl says only that it could not connect; no socket to connect with is the news.
    if (result == CURLE_COULDNT_CONNECT && socketError)
        return *socketError;
    QString text = QString::fromUtf8(curl_easy_strerror(result));
    const QString detail = QString::fromUtf8(errorBuffer.data()).trimmed();
    if (!detail.isEmpty() && detail != text)
        text += QStringLiteral(" (") + detail + u')';
    return text;
}
