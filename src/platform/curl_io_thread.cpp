#include "platform/curl_io_thread.h"

#include "platform/async.h"
#include "platform/cookie_jar.h"
#include "platform/errors.h"
#include "platform/http_completion.h"
#include "platform/http_transfer.h"

#include <pthread.h>

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
// Easy handles kept for reuse: enough for every transfer one session runs at once.
constexpr size_t kMaxSpareEasyHandles = 64;

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
    : options_(std::move(options))
{
    initCurlOnce();
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    if (!multi_ || !share_) {
        curl_multi_cleanup(multi_);
        curl_share_cleanup(share_);
        throw std::bad_alloc();
    }
    // The share is used by this session's I/O thread alone, so it needs no lock callbacks.
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    if (!options_.cookieFile.isEmpty()) {
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        cookieJar_ = std::make_unique<CookieJar>(options_.cookieFile);
        cookieJar_->load(share_);
    }

    const long perHost = std::max(0L, options_.maxConnectionsPerHost);
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, perHost);
    curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, std::max(kMaxTotalConnections, perHost));
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, std::max(kMaxCachedConnections, perHost));

    thread_ = std::thread([this] { run(); });
}

CurlIoThread::~CurlIoThread()
{
    shutdown();
}

void CurlIoThread::submit(std::unique_ptr<HttpTransfer> transfer)
{
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            const bool wakeUp = inboxEmpty();
            incoming_.push_back(std::move(transfer));
            if (wakeUp)
                curl_multi_wakeup(multi_);
            return;
        }
    }
    transfer->completion().fail(cancelled());
}

bool CurlIoThread::inboxEmpty() const
{
    // What is in the inbox was put there with a wake-up that the thread has not answered yet: the
    // loop takes the whole inbox after every poll, so one wake-up brings in all that joins it.
    return incoming_.empty() && cancels_.empty();
}

void CurlIoThread::setSendRate(int64_t bytesPerSecond)
{
    limiter_.setRate(bytesPerSecond);
    std::lock_guard lock(mutex_);
    if (!stopping_)
        curl_multi_wakeup(multi_);
}

void CurlIoThread::cancel(uint64_t id)
{
    std::lock_guard lock(mutex_);
    if (stopping_)
        return;
    const bool wakeUp = inboxEmpty();
    cancels_.push_back(id);
    if (wakeUp)
        curl_multi_wakeup(multi_);
}

void CurlIoThread::shutdown()
{
    {
        std::lock_guard lock(mutex_);
        if (joined_)
            return;
        stopping_ = true;
        curl_multi_wakeup(multi_);
    }
    if (thread_.joinable())
        thread_.join();

    std::vector<std::unique_ptr<HttpTransfer>> leftovers;
    {
        std::lock_guard lock(mutex_);
        joined_ = true;
        leftovers.swap(incoming_);
    }
    for (auto& transfer : leftovers)
        transfer->completion().fail(cancelled());
    leftovers.clear();

    curl_multi_cleanup(multi_);
    multi_ = nullptr;
    curl_share_cleanup(share_);
    share_ = nullptr;
}

void CurlIoThread::run()
{
    pthread_setname_np(pthread_self(), options_.threadName);
    for (;;) {
        int pollMs = 0;
        {
            // The outcomes and progress of one turn reach the main thread together, before the
            // thread sleeps.
            const detail::MainThreadPostBatch batch;
            if (!takeInbox())
                break;
            admitWaiting();
            int running = 0;
            curl_multi_perform(multi_, &running);
            collectFinished();
            // Finished transfers may have freed a slot for a waiting one; a transfer just added
            // makes the poll below return at once, so it starts without delay.
            admitWaiting();
            pollMs = resumeRateWaiters();
        }
        curl_multi_poll(multi_, nullptr, 0, pollMs, nullptr);
    }
    abandonAll();
}

bool CurlIoThread::takeInbox()
{
    std::vector<std::unique_ptr<HttpTransfer>> incoming;
    std::vector<uint64_t> cancels;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return false;
        incoming.swap(incoming_);
        cancels.swap(cancels_);
    }
    for (auto& transfer : incoming)
        waiting_.push_back(std::move(transfer));
    for (const uint64_t id : cancels)
        drop(id);
    return true;
}

void CurlIoThread::admitWaiting()
{
    const long limit = options_.maxConnectionsPerHost;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        HttpTransfer& transfer = **it;
        if (transfer.completion().isDone()) {   // cancelled before it went out
            it = waiting_.erase(it);
            continue;
        }
        if (limit > 0 && !transfer.hostKey().empty() && runningPerHost_[transfer.hostKey()] >= limit) {
            ++it;
            continue;
        }
        std::unique_ptr<HttpTransfer> owned = std::move(*it);
        it = waiting_.erase(it);
        start(std::move(owned));
    }
}

void CurlIoThread::start(std::unique_ptr<HttpTransfer> transfer)
{
    HttpTransfer::Options options;
    options.share = share_;
    options.cookies = cookieJar_ != nullptr;
    options.totalTimeout = options_.totalTimeout;
    options.limiter = &limiter_;
    CURL* spare = nullptr;
    if (!spareEasy_.empty()) {
        spare = spareEasy_.back();
        spareEasy_.pop_back();
    }
    CURL* easy = transfer->open(options, spare);
    if (!easy)
        return;   // already ended with its error
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        transfer->finish(CURLE_FAILED_INIT);
        return;
    }
    ++runningPerHost_[transfer->hostKey()];
    const uint64_t id = transfer->id();
    running_.emplace(id, std::move(transfer));
}

int CurlIoThread::resumeRateWaiters()
{
    if (!limiter_.anyWaiting())
        return kPollIntervalMs;
    const auto now = SendRateLimiter::Clock::now();
    woken_.clear();
    limiter_.grant(now, woken_);
    for (const uint64_t id : woken_)
        if (const auto it = running_.find(id); it != running_.end())
            it->second->resume();
    // The woken bodies are read at the next perform: the poll must not sleep before it.
    if (!woken_.empty())
        return 0;
    const auto wait = limiter_.untilNextGrant(now);
    return int(std::clamp<int64_t>((wait.count() + 999) / 1000, 1, kPollIntervalMs));
}

void CurlIoThread::collectFinished()
{
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        // The message does not survive the removal of its handle.
        CURL* easy = message->easy_handle;
        const CURLcode code = message->data.result;
        HttpTransfer* transfer = HttpTransfer::fromEasy(easy);
        const auto it = running_.find(transfer->id());
        curl_multi_remove_handle(multi_, easy);
        // Saved before the caller hears of the response, so that the file is current when it does.
        if (cookieJar_ && transfer->receivedCookie())
            cookieJar_->save(easy);
        transfer->finish(code);
        limiter_.forget(transfer->id());
        keepEasy(*transfer);
        if (--runningPerHost_[transfer->hostKey()] <= 0)
            runningPerHost_.erase(transfer->hostKey());
        if (it != running_.end())
            running_.erase(it);
    }
}

void CurlIoThread::keepEasy(HttpTransfer& transfer)
{
    CURL* easy = transfer.releaseEasy();
    if (!easy)
        return;
    if (spareEasy_.size() < kMaxSpareEasyHandles)
        spareEasy_.push_back(easy);
    else
        curl_easy_cleanup(easy);
}

void CurlIoThread::drop(uint64_t id)
{
    if (const auto it = running_.find(id); it != running_.end()) {
        HttpTransfer& transfer = *it->second;
        curl_multi_remove_handle(multi_, transfer.easy());
        transfer.completion().fail(cancelled());
        limiter_.forget(id);
        keepEasy(transfer);
        if (--runningPerHost_[transfer.hostKey()] <= 0)
            runningPerHost_.erase(transfer.hostKey());
        running_.erase(it);
        return;
    }
    const auto waiting = std::find_if(waiting_.begin(), waiting_.end(), [id](const auto& t) { return t->id() == id; });
    if (waiting != waiting_.end()) {
        (*waiting)->completion().fail(cancelled());
        waiting_.erase(waiting);
    }
}

void CurlIoThread::abandonAll()
{
    for (auto& [id, transfer] : running_) {
        curl_multi_remove_handle(multi_, transfer->easy());
        transfer->completion().fail(cancelled());
    }
    running_.clear();
    runningPerHost_.clear();
    for (auto& transfer : waiting_)
        transfer->completion().fail(cancelled());
    waiting_.clear();
    for (CURL* easy : spareEasy_)
        curl_easy_cleanup(easy);
    spareEasy_.clear();
}

}  // namespace zafrel
