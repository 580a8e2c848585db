#include "directory/directoryclient.h"

#include <QRandomGenerator>

namespace {

// Long enough for a slow server on a phone line, short enough that a search
// that will not come says so.
constexpr int idleSeconds = 15;
constexpr int maxRedirects = 5;

// Every request of the directory's says who asks, as its etiquette wants.
HttpTransfer::Request directoryRequest(const QUrl &url)
{
    return {url.toString(QUrl::FullyEncoded),
            {{"User-Agent", "Skyvane/" SKYVANE_VERSION}},
            idleSeconds,
            maxRedirects};
}

} // namespace

QUrl DirectoryClient::defaultBaseUrl()
{
    return QUrl(QStringLiteral("https://all.api.radio-browser.info"));
}

DirectoryClient::DirectoryClient(const QUrl &baseUrl, QObject *parent)
    : QObject(parent), m_base(baseUrl)
{}

DirectoryClient::~DirectoryClient() = default;

void DirectoryClient::cancel()
{
    m_transfer.reset();
}

void DirectoryClient::search(const StationFilter &filter)
{
    if (!m_server.isEmpty()) {
        searchOn(m_server, filter);
        return;
    }
    // Any server will do, and the directory asks that the load be spread.
    const auto pick = [this, filter](const QByteArray &body) {
        const QList<QUrl> servers = DirectoryApi::serversFromJson(body, m_base);
        m_server = servers.isEmpty()
                       ? m_base
                       : servers.at(qsizetype(QRandomGenerator::global()->bounded(servers.size())));
        searchOn(m_server, filter);
    };
    fetch(DirectoryApi::serverListUrl(m_base), pick,
          [this, filter](const QString &) { searchOn(m_base, filter); });
}

void DirectoryClient::searchOn(const QUrl &server, const StationFilter &filter)
{
    const auto found = [this](const QByteArray &body) {
        QString problem;
        const QList<DirectoryStation> stations = DirectoryApi::stationsFromJson(body, &problem);
        if (!problem.isEmpty())
            Q_EMIT searchFailed(
                QStringLiteral("The directory could not be searched: %1.").arg(problem));
        else
            Q_EMIT stationsFound(stations);
    };
    fetch(DirectoryApi::searchUrl(server, filter), found, [this](const QString &reason) {
        // Another server may answer next time.
        m_server.clear();
        Q_EMIT searchFailed(QStringLiteral("The directory could not be reached: %1.").arg(reason));
    });
}

void DirectoryClient::countClick(const QString &uuid)
{
    const QUrl server = m_server.isEmpty() ? m_base : m_server;
    m_click = HttpTransfer::start(directoryRequest(DirectoryApi::clickUrl(server, uuid)));
}

// One GET of the directory's: the body when it answered 200, whole and not
// larger than an answer of its can be; otherwise why not.
void DirectoryClient::fetch(const QUrl &url, Answer answered, Failure failed)
{
    m_transfer = HttpTransfer::start(directoryRequest(url));
    if (!m_transfer) {
        failed(QStringLiteral("%1 is not a web address").arg(url.toString()));
        return;
    }
    HttpTransfer *transfer = m_transfer.get();
    auto body = std::make_shared<QByteArray>();
    auto status = std::make_shared<int>(0);
    QObject::connect(transfer, &HttpTransfer::responseReceived, this,
                     [status](const HttpResponse &response) {
                         *status = response.isHttp ? response.statusCode : 0;
                     });
    QObject::connect(transfer, &HttpTransfer::dataReceived, this,
                     [this, body, failed](QByteArrayView data) {
                         if (body->size() + data.size() > DirectoryApi::maxAnswerBytes) {
                             m_transfer.reset();
                             failed(QStringLiteral("its answer is larger than %1 MB")
                                        .arg(DirectoryApi::maxAnswerBytes / (1024 * 1024)));
                             return;
                         }
                         body->append(data);
                     });
    QObject::connect(transfer, &HttpTransfer::finished, this,
                     [this, body, status, answered, failed] {
                         m_transfer.reset();
                         if (*status == 200)
                             answered(*body);
                         else
                             failed(QStringLiteral("it answered with status %1").arg(*status));
                     });
    QObject::connect(transfer, &HttpTransfer::failed, this, [this, failed](const QString &error) {
        m_transfer.reset();
        failed(error);
    });
}
