#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "platform/httptransfer.h"
#include "stationsimulator.h"

// Shared by the transfer tests: a recording delegate, helpers, the test class.

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

Q_DECLARE_METATYPE(StationSimulator::Route)

inline const HeaderList stationFields = {{"icy-metadata", "1"},
                                         {"Cache-Control", "no-cache"},
                                         {"User-Agent", "iTunes/4.6 (Macintosh; N; PPC)"}};

// Records every callback of one transfer; hooks let a test act from inside one.
class Recorder final : public HttpTransferDelegate
{
public:
    void transferWillRedirect(HttpTransfer &transfer, const QString &url) override
    {
        event(QStringLiteral("redirect"));
        redirects.append(url);
        if (onRedirect)
            onRedirect(transfer);
    }
    void transferDidReceiveResponse(HttpTransfer &transfer, const HttpResponse &r) override
    {
        event(QStringLiteral("response"));
        response = r;
        if (onResponse)
            onResponse(transfer);
    }
    void transferDidReceiveData(HttpTransfer &transfer, QByteArrayView data) override
    {
        if (events.isEmpty() || events.last() != u"data")
            event(QStringLiteral("data"));
        body.append(data);
        if (onData)
            onData(transfer);
    }
    void transferDidFinish(HttpTransfer &) override { event(QStringLiteral("finish")); }
    void transferDidFail(HttpTransfer &, const QString &text) override
    {
        event(QStringLiteral("fail"));
        error = text;
    }

    bool ended() const { return events.contains(u"finish") || events.contains(u"fail"); }

    QStringList events; // consecutive data chunks count once
    QStringList redirects;
    std::optional<HttpResponse> response;
    QByteArray body;
    QString error;
    std::function<void(HttpTransfer &)> onRedirect;
    std::function<void(HttpTransfer &)> onResponse;
    std::function<void(HttpTransfer &)> onData;

private:
    void event(const QString &name) { events.append(name); }
};

inline HttpTransferPtr startTransfer(const QString &url, Recorder &recorder,
                                     const HeaderList &fields = stationFields,
                                     int idleSeconds = 300)
{
    HttpTransfer::Request request;
    request.url = url;
    request.headerFields = fields;
    request.idleTimeoutSeconds = idleSeconds;
    return HttpTransfer::start(request, &recorder);
}

// Runs the event loop until done() holds. Unlike QTest::qWaitFor, which sleeps
// between rounds, this keeps pace with a station that writes once per round.
inline bool spinUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

inline QStringList names(const QList<QPair<QString, QString>> &fields)
{
    QStringList list;
    for (const auto &field : fields)
        list.append(field.first);
    return list;
}

class TestHttpTransfer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void stationLayout();
    void requestSendsHeaderFieldsInOrder();
    void answers_data();
    void answers();
    void answerWithoutStatusLineArrivesWhole_data();
    void answerWithoutStatusLineArrivesWhole();
    void errorStatusIsAResponse_data();
    void errorStatusIsAResponse();
    void redirectsAreReportedThenFollowed_data();
    void redirectsAreReportedThenFollowed();
    void redirectChainReportsEachHopOnce();
    void redirectToOtherSchemeFails_data();
    void redirectToOtherSchemeFails();
    void endlessRedirectsFail();
    void cancelInsideCallback_data();
    void cancelInsideCallback();
    void transfersStartAndCancelFromCallbacks();
    void nestedEventLoopInCallback();
    void manyConcurrentStreams();
    void connectionRefusedFails();
    void idleTimeout();
    void untrustedCertificateFails();
    void startRefusesUrl_data();
    void startRefusesUrl();

private:
    bool waitForEnd(const Recorder &recorder, int timeoutMs = 10000)
    {
        return spinUntil([&] { return recorder.ended(); }, timeoutMs);
    }

    std::unique_ptr<StationSimulator> m_station;
};
