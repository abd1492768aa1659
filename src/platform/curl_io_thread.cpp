#include "platform/curl_io_thread.h"

#include "platform/cookie_jar.h"
#include "platform/errors.h"
#include "platform/http_completion.h"
#include "platform/http_transfer.h"

#include <algorithm>
#include <exception>
#include <new>

namespace zafrel {

namespace {

// Beyond the per-host limit, a bound on all connections of one session together, and on the idle
// ones kept for reuse.
constexpr long kMaxTotalConnections = 64;
constexpr long kMaxCachedConnections = 32;
// The loop wakes at least this often even when nothing happens; new work and cancellations wake
// it at once.
constexpr int kPollIntervalMs = 1000;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::exception_ptr cancelled()
{
    return std::make_exception_ptr(Cancelled());
}

}  // namespace

CurlIoThread::CurlIoThread(Options options)
    : m_options(std::move(options))
{
    initCurlOnce();
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    if (!m_multi || !m_share) {
        curl_multi_cleanup(m_multi);
        curl_share_cleanup(m_share);
        throw std::bad_alloc();
    }
    // The share is used by this session's I/O thread alone, so it needs no lock callbacks.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    if (!m_options.cookieFile.isEmpty()) {
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        m_cookieJar = std::make_unique<CookieJar>(m_options.cookieFile);
        m_cookieJar->load(m_share);
    }

    const long perHost = std::max(0L, m_options.maxConnectionsPerHost);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, std::max(kMaxTotalConnections, perHost));
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, std::max(kMaxCachedConnections, perHost));

    m_thread = std::thread([this] { run(); });
}

CurlIoThread::~CurlIoThread()
{
    shutdown();
}

void CurlIoThread::submit(std::unique_ptr<HttpTransfer> transfer)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            m_incoming.push_back(std::move(transfer));
            curl_multi_wakeup(m_multi);
            return;
        }
    }
    transfer->completion().fail(cancelled());
}

void CurlIoThread::setSendRate(int64_t bytesPerSecond)
{
    m_limiter.setRate(bytesPerSecond);
    std::lock_guard lock(m_mutex);
    if (!m_stopping)
        curl_multi_wakeup(m_multi);
}

void CurlIoThread::cancel(uint64_t id)
{
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    m_cancels.push_back(id);
    curl_multi_wakeup(m_multi);
}

void CurlIoThread::shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_joined)
            return;
        m_stopping = true;
        curl_multi_wakeup(m_multi);
    }
    if (m_thread.joinable())
        m_thread.join();

    std::vector<std::unique_ptr<HttpTransfer>> leftovers;
    {
        std::lock_guard lock(m_mutex);
        m_joined = true;
        leftovers.swap(m_incoming);
    }
    for (auto& transfer : leftovers)
        transfer->completion().fail(cancelled());
    leftovers.clear();

    curl_multi_cleanup(m_multi);
    m_multi = nullptr;
    curl_share_cleanup(m_share);
    m_share = nullptr;
}

void CurlIoThread::run()
{
    while (takeInbox()) {
        admitWaiting();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        collectFinished();
        // Finished transfers may have freed a slot for a waiting one; a transfer just added makes
        // the poll below return at once, so it starts without delay.
        admitWaiting();
        curl_multi_poll(m_multi, nullptr, 0, resumeRateWaiters(), nullptr);
    }
    abandonAll();
}

bool CurlIoThread::takeInbox()
{
    std::vector<std::unique_ptr<HttpTransfer>> incoming;
    std::vector<uint64_t> cancels;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return false;
        incoming.swap(m_incoming);
        cancels.swap(m_cancels);
    }
    for (auto& transfer : incoming)
        m_waiting.push_back(std::move(transfer));
    for (const uint64_t id : cancels)
        drop(id);
    return true;
}

void CurlIoThread::admitWaiting()
{
    const long limit = m_options.maxConnectionsPerHost;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        HttpTransfer& transfer = **it;
        if (transfer.completion().isDone()) {   // cancelled before it went out
            it = m_waiting.erase(it);
            continue;
        }
        if (limit > 0 && !transfer.hostKey().empty() && m_runningPerHost[transfer.hostKey()] >= limit) {
            ++it;
            continue;
        }
        std::unique_ptr<HttpTransfer> owned = std::move(*it);
        it = m_waiting.erase(it);
        start(std::move(owned));
    }
}

void CurlIoThread::start(std::unique_ptr<HttpTransfer> transfer)
{
    HttpTransfer::Options options;
    options.share = m_share;
    options.cookies = m_cookieJar != nullptr;
    options.totalTimeout = m_options.totalTimeout;
    options.limiter = &m_limiter;
    CURL* easy = transfer->open(options);
    if (!easy)
        return;   // already ended with its error
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        transfer->finish(CURLE_FAILED_INIT);
        return;
    }
    ++m_runningPerHost[transfer->hostKey()];
    const uint64_t id = transfer->id();
    m_running.emplace(id, std::move(transfer));
}

int CurlIoThread::resumeRateWaiters()
{
    bool anyWaits = false;
    for (const auto& [id, transfer] : m_running)
        anyWaits = anyWaits || transfer->waitsForRate();
    if (!anyWaits)
        return kPollIntervalMs;
    const auto wait = m_limiter.untilRefilled(SendRateLimiter::Clock::now());
    if (wait.count() > 0)
        return int(std::clamp<int64_t>((wait.count() + 999) / 1000, 1, kPollIntervalMs));
    // The woken bodies are read at the next perform: the poll must not sleep before it.
    for (const auto& [id, transfer] : m_running)
        if (transfer->waitsForRate())
            transfer->resume();
    return 0;
}

void CurlIoThread::collectFinished()
{
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        // The message does not survive the removal of its handle.
        CURL* easy = message->easy_handle;
        const CURLcode code = message->data.result;
        HttpTransfer* transfer = HttpTransfer::fromEasy(easy);
        const auto it = m_running.find(transfer->id());
        curl_multi_remove_handle(m_multi, easy);
        // Saved before the caller hears of the response, so that the file is current when it does.
        if (m_cookieJar && transfer->receivedCookie())
            m_cookieJar->save(easy);
        transfer->finish(code);
        if (--m_runningPerHost[transfer->hostKey()] <= 0)
            m_runningPerHost.erase(transfer->hostKey());
        if (it != m_running.end())
            m_running.erase(it);
    }
}

void CurlIoThread::drop(uint64_t id)
{
    if (const auto it = m_running.find(id); it != m_running.end()) {
        HttpTransfer& transfer = *it->second;
        curl_multi_remove_handle(m_multi, transfer.easy());
        transfer.completion().fail(cancelled());
        if (--m_runningPerHost[transfer.hostKey()] <= 0)
            m_runningPerHost.erase(transfer.hostKey());
        m_running.erase(it);
        return;
    }
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(), [id](const auto& t) { return t->id() == id; });
    if (waiting != m_waiting.end()) {
        (*waiting)->completion().fail(cancelled());
        m_waiting.erase(waiting);
    }
}

void CurlIoThread::abandonAll()
{
    for (auto& [id, transfer] : m_running) {
        curl_multi_remove_handle(m_multi, transfer->easy());
        transfer->completion().fail(cancelled());
    }
    m_running.clear();
    m_runningPerHost.clear();
    for (auto& transfer : m_waiting)
        transfer->completion().fail(cancelled());
    m_waiting.clear();
}

}  // namespace zafrel
