#include "platform/curldriver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include <sys/epoll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>

namespace {

CurlDriver *s_driver = nullptr;

} // namespace

CurlDriver *CurlDriver::instance()
{
    if (s_driver)
        return s_driver;
    QCoreApplication *const app = QCoreApplication::instance();
    // Sockets and timers belong to the thread of the application object.
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!curlReady)
        return nullptr;
    CurlMultiPtr multi(curl_multi_init());
    CurlSlistPtr aliases(curl_slist_append(nullptr, "ICY 200 OK"));
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (!multi || !aliases || epoll < 0) {
        if (epoll >= 0)
            ::close(epoll);
        return nullptr;
    }
    s_driver = new CurlDriver(std::move(multi), std::move(aliases), epoll, app);
    return s_driver;
}

CurlDriver *CurlDriver::existing()
{
    return s_driver;
}

CurlDriver::FileDescriptor::~FileDescriptor()
{
    ::close(value); // instance() makes a driver only with a valid one
}

CurlDriver::CurlDriver(CurlMultiPtr multi, CurlSlistPtr aliases, int epoll, QObject *parent)
    : QObject(parent), m_multi(std::move(multi)), m_aliases(std::move(aliases)), m_epoll(epoll),
      m_epollNotifier(epoll, QSocketNotifier::Read)
{
    connect(&m_epollNotifier, &QSocketNotifier::activated, this, &CurlDriver::onSocketsReady);
    m_timer.setSingleShot(true);
    // A coarse timer may fire early, and curl does not re-arm a timeout that it
    // finds not yet expired.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CurlDriver::onTimeout);
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, &CurlDriver::socketCallback);
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, &CurlDriver::timerCallback);
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERDATA, this);
}

CurlDriver::~CurlDriver()
{
    s_driver = nullptr; // the one instance() made
    // Transfers still alive now belong to a closing application: they keep their
    // handles, which no longer belong to any multi handle.
    curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION,
                      static_cast<curl_socket_callback>(nullptr));
    curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION,
                      static_cast<curl_multi_timer_callback>(nullptr));
    for (CURL *easy : m_attached)
        curl_multi_remove_handle(m_multi.get(), easy);
    m_attached.clear();
    m_pendingAttach.clear();
    m_pendingDetach.clear();
    m_pendingRelease.clear();
    m_multi.reset();
}

bool CurlDriver::attach(CURL *easy, CurlClient *client)
{
    if (curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void *>(client)) != CURLE_OK)
        return false;
    if (!m_running)
        return addNow(easy);
    m_pendingAttach.emplace_back(easy, client);
    return true;
}

void CurlDriver::detach(CURL *easy)
{
    std::erase_if(m_pendingAttach, [easy](const auto &pending) { return pending.first == easy; });
    if (!m_attached.contains(easy))
        return;
    if (!m_running)
        removeNow(easy);
    else if (std::find(m_pendingDetach.begin(), m_pendingDetach.end(), easy) ==
             m_pendingDetach.end())
        m_pendingDetach.push_back(easy);
}

void CurlDriver::release(CurlEasyPtr easy, CurlSlistPtr headers)
{
    if (!easy)
        return;
    detach(easy.get());
    if (m_running) {
        m_pendingRelease.push_back(Released{std::move(headers), std::move(easy)});
        return;
    }
    easy.reset();
    headers.reset();
}

bool CurlDriver::addNow(CURL *easy)
{
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK)
        return false;
    m_attached.insert(easy);
    return true;
}

void CurlDriver::removeNow(CURL *easy)
{
    if (m_attached.erase(easy) > 0)
        curl_multi_remove_handle(m_multi.get(), easy);
}

int CurlDriver::socketCallback(CURL *, curl_socket_t socket, int what, void *driver,
                               void *) noexcept
{
    try {
        static_cast<CurlDriver *>(driver)->watchSocket(socket, what);
        return 0;
    } catch (...) {
        return -1;
    }
}

int CurlDriver::timerCallback(CURLM *, long timeoutMs, void *driver) noexcept
{
    try {
        // Never run curl from here: it asks to be called once this returns.
        static_cast<CurlDriver *>(driver)->scheduleTimeout(timeoutMs);
        return 0;
    } catch (...) {
        return -1;
    }
}

void CurlDriver::scheduleTimeout(long timeoutMs)
{
    if (timeoutMs < 0) {
        m_timer.stop();
        return;
    }
    // curl moves its deadline a little later on nearly every chunk, and each
    // restart of a Qt timer allocates. An earlier wake-up is kept instead:
    // onTimeout() asks curl for its deadline when it woke up too soon.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (m_timer.isActive() && m_timerDue <= due)
        return;
    m_timerDue = due;
    m_timer.start(static_cast<int>(std::min<long>(timeoutMs, INT_MAX)));
}

void CurlDriver::onTimeout()
{
    if (m_running) {
        m_timeoutMissed = true;
        return;
    }
    runSocketAction(CURL_SOCKET_TIMEOUT, 0);
    long timeoutMs = -1;
    if (!m_timer.isActive() && curl_multi_timeout(m_multi.get(), &timeoutMs) == CURLM_OK)
        scheduleTimeout(timeoutMs);
}

void CurlDriver::watchSocket(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        // curl may close the descriptor right after this; a closed one leaves
        // the set by itself, so a failure here is harmless.
        if (m_sockets.erase(socket) > 0)
            epoll_ctl(m_epoll.value, EPOLL_CTL_DEL, socket, nullptr);
        return;
    }
    epoll_event event{};
    event.events =
        ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
    event.data.fd = socket;
    const int operation = m_sockets.contains(socket) ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(m_epoll.value, operation, socket, &event) != 0) {
        // A number closed and reused behind our back (not in the set any more),
        // or one the set still holds: the other operation watches it.
        const int retry = errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        if (epoll_ctl(m_epoll.value, retry, socket, &event) != 0)
            return;
    }
    m_sockets.insert(socket);
}

void CurlDriver::onSocketsReady()
{
    if (m_running) {
        // A slot runs a nested event loop inside a curl callback, and curl
        // cannot be entered twice: listen again once the outer call returns.
        m_epollNotifier.setEnabled(false);
        m_suppressed = true;
        return;
    }
    std::array<epoll_event, 64> events{};
    const int ready = epoll_wait(m_epoll.value, events.data(), int(events.size()), 0);
    for (int i = 0; i < ready; ++i) {
        const uint32_t flags = events[size_t(i)].events;
        const int mask = ((flags & (EPOLLIN | EPOLLHUP)) ? CURL_CSELECT_IN : 0) |
                         ((flags & EPOLLOUT) ? CURL_CSELECT_OUT : 0) |
                         ((flags & EPOLLERR) ? CURL_CSELECT_ERR : 0);
        const curl_socket_t socket = events[size_t(i)].data.fd;
        // An earlier action of this batch may have let go of this socket.
        if (m_sockets.contains(socket))
            runSocketAction(socket, mask);
    }
}

void CurlDriver::runSocketAction(curl_socket_t socket, int mask)
{
    if (m_running)
        return;
    m_running = true;
    int running = 0;
    curl_multi_socket_action(m_multi.get(), socket, mask, &running);
    m_running = false;
    flushDeferred();
    deliverFinished();
}

void CurlDriver::flushDeferred()
{
    for (CURL *easy : std::exchange(m_pendingDetach, {}))
        removeNow(easy);
    m_pendingRelease.clear();
    // One at a time: a client told of a refusal may detach other pending handles.
    while (!m_pendingAttach.empty()) {
        const auto [easy, client] = m_pendingAttach.front();
        m_pendingAttach.erase(m_pendingAttach.begin());
        if (!addNow(easy))
            client->curlTransferDone(CURLE_FAILED_INIT);
    }
    if (std::exchange(m_suppressed, false))
        m_epollNotifier.setEnabled(true);
    if (std::exchange(m_timeoutMissed, false))
        scheduleTimeout(0);
}

void CurlDriver::deliverFinished()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *const easy = message->easy_handle;
        const CURLcode result = message->data.result;
        char *client = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &client);
        removeNow(easy);
        if (client)
            static_cast<CurlClient *>(static_cast<void *>(client))->curlTransferDone(result);
    }
}
