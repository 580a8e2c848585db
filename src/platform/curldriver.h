#pragma once

#include <chrono>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

struct CurlEasyDeleter
{
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter
{
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct CurlSlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Told by the driver when curl is done with an attached easy handle. The handle
// is already detached then, so the client may attach it again at once.
class CurlClient
{
public:
    virtual void curlTransferDone(CURLcode result) = 0;

protected:
    ~CurlClient() = default;
};

// The process's one curl multi handle, run from the Qt event loop: curl's
// sockets are gathered in one epoll set, watched by a single QSocketNotifier, and
// its timeout by one QTimer, so every curl callback arrives on the thread of the
// application object. One descriptor for all sockets keeps the event loop's own
// poll small however many stations record at once, and lets one wake-up serve
// every socket that became ready.
//
// curl refuses to add or remove handles from inside its own callbacks, and those
// callbacks reach slots that may cancel or start transfers. Requests made
// while curl runs are therefore carried out as soon as it returns.
class CurlDriver : public QObject
{
    Q_OBJECT

public:
    // The driver, created on first use as a child of the application object.
    // nullptr without an application object or when curl cannot start.
    static CurlDriver *instance();
    // The driver if it exists, never creating one.
    static CurlDriver *existing();

    ~CurlDriver() override;

    // Adds the handle to the multi handle; the client hears of its end. False
    // when curl refuses right away (a later refusal is reported to the client).
    bool attach(CURL *easy, CurlClient *client);
    // Takes the handle out of the multi handle; its client hears nothing more.
    void detach(CURL *easy);
    // Detaches the handle and frees it together with the header list it uses.
    void release(CurlEasyPtr easy, CurlSlistPtr headers);

    // The "ICY 200 OK" alias list, shared by every transfer.
    curl_slist *http200Aliases() const { return m_aliases.get(); }

private:
    struct FileDescriptor
    {
        explicit FileDescriptor(int fd) : value(fd) {}
        ~FileDescriptor();
        FileDescriptor(const FileDescriptor &) = delete;
        FileDescriptor &operator=(const FileDescriptor &) = delete;
        int value;
    };
    // The easy handle goes first: it uses the header list until it is freed.
    struct Released
    {
        CurlSlistPtr headers;
        CurlEasyPtr easy;
    };

    CurlDriver(CurlMultiPtr multi, CurlSlistPtr aliases, int epoll, QObject *parent);

    static int socketCallback(CURL *easy, curl_socket_t socket, int what, void *driver,
                              void *socketData) noexcept;
    static int timerCallback(CURLM *multi, long timeoutMs, void *driver) noexcept;

    void scheduleTimeout(long timeoutMs);
    void onTimeout();
    void watchSocket(curl_socket_t socket, int what);
    void onSocketsReady();
    void runSocketAction(curl_socket_t socket, int mask);
    void flushDeferred();
    void deliverFinished();
    bool addNow(CURL *easy);
    void removeNow(CURL *easy);

    CurlMultiPtr m_multi;
    CurlSlistPtr m_aliases;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_timerDue;
    FileDescriptor m_epoll;
    QSocketNotifier m_epollNotifier;
    std::unordered_set<curl_socket_t> m_sockets;
    std::unordered_set<CURL *> m_attached;

    // While curl runs: what to do once it returns.
    bool m_running = false;
    bool m_timeoutMissed = false;
    std::vector<std::pair<CURL *, CurlClient *>> m_pendingAttach;
    std::vector<CURL *> m_pendingDetach;
    std::vector<Released> m_pendingRelease;
    bool m_suppressed = false;
};
