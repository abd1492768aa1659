#pragma once
#include "platform/send_rate_limiter.h"

#include <QString>
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zafrel {

class CookieJar;
class HttpTransfer;

// The thread that runs one session's libcurl multi handle. Other threads hand it work through a
// small locked inbox and wake it with curl_multi_wakeup; everything else (the multi handle's
// transfers, the share's caches, the cookie file) is touched by this thread alone.
class CurlIoThread {
public:
    struct Options {
        QString cookieFile;                  // empty: no cookie engine at all
        long maxConnectionsPerHost = 0;      // 0: unlimited
        std::chrono::milliseconds totalTimeout{0};
        const char* threadName = "http";   // a literal, at most 15 characters
    };

    explicit CurlIoThread(Options options);   // loads the cookie file, then starts the thread
    ~CurlIoThread();                          // shutdown()
    CurlIoThread(const CurlIoThread&) = delete;
    CurlIoThread& operator=(const CurlIoThread&) = delete;

    // Any thread. After shutdown() the transfer is ended with Cancelled at once.
    void submit(std::unique_ptr<HttpTransfer> transfer);
    // Any thread. Caps the bytes per second of all request bodies together (0: no cap).
    void setSendRate(int64_t bytesPerSecond);
    // Any thread. Removes the transfer from curl if it is still there; its outcome is the
    // caller's business (the stop callback has already ended it with Cancelled).
    void cancel(uint64_t id);
    // Stops and joins the thread; every transfer not yet ended ends with Cancelled. Idempotent;
    // must not be called from the I/O thread itself.
    void shutdown();

private:
    void run();
    bool takeInbox();                 // false once shutdown was asked for
    bool inboxEmpty() const;          // with mutex_ held
    void admitWaiting();
    void start(std::unique_ptr<HttpTransfer> transfer);
    void collectFinished();
    // Takes the transfer's easy handle back for a later request.
    void keepEasy(HttpTransfer& transfer);
    void drop(uint64_t id);
    void abandonAll();
    // Wakes the bodies held back for the rate cap whose turn has come; answers how long the next
    // poll may sleep at most.
    int resumeRateWaiters();

    const Options options_;
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    std::unique_ptr<CookieJar> cookieJar_;
    SendRateLimiter limiter_;

    // Inbox, shared with other threads.
    std::mutex mutex_;
    std::vector<std::unique_ptr<HttpTransfer>> incoming_;
    std::vector<uint64_t> cancels_;
    bool stopping_ = false;
    bool joined_ = false;

    // I/O thread only (and the thread that joined it).
    // Transfers wait here, in order, while their host already has its maximum of transfers
    // running: a transfer's timeouts only start once it really goes out.
    std::deque<std::unique_ptr<HttpTransfer>> waiting_;
    std::map<uint64_t, std::unique_ptr<HttpTransfer>> running_;
    std::map<std::string, long> runningPerHost_;
    std::vector<uint64_t> woken_;
    // Easy handles of ended requests, reset and reused by the next ones.
    std::vector<CURL*> spareEasy_;

    std::thread thread_;
};

}  // namespace zafrel
