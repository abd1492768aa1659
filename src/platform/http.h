#pragma once
#include <QByteArray>
#include <QString>
#include <QCoro/QCoroTask>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zafrel {

using HttpProgressCallback = std::function<void(int64_t increment, int64_t total)>;

struct HttpRequest {
    std::string method = "GET";            // "GET", "POST", "PUT", "HEAD"
    std::string url;                       // absolute, already percent-encoded
    std::vector<std::pair<std::string, std::string>> headers;
    // Sent from memory: the array is shared with the caller, never copied. A PUT or POST with an
    // empty body still says "Content-Length: 0".
    QByteArray body;
    // Idle timeout: the request fails when no byte has moved for this long (libcurl counts it in
    // whole seconds, so it is rounded up); it also bounds connecting. 0: none.
    std::chrono::milliseconds timeout{60000};
    // The answer's body may hold at most this many bytes. A longer one is cut off as soon as it
    // passes the bound (at once when its announced length already does), so a broken or hostile
    // server cannot fill the memory; the request then fails with ResponseTooLarge. 0: no bound.
    int64_t maxResponseBytes = 0;
    // An answer whose status is not 2xx keeps at most this many bytes of its body, read for its
    // message; the rest is read and dropped, and the status still counts as the answer (a huge
    // error body is the server's problem, not a reason to hold it). 0: no bound of its own.
    int64_t maxErrorBodyBytes = 0;
    // Upload progress, called ON THE I/O THREAD with (bytes sent since the previous call of this
    // request, total sent by this request). Only called when the total grew, never after the
    // request has ended. The caller forwards it to where it is needed.
    HttpProgressCallback onUploadProgress;
};

struct HttpResponse {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;   // in order received, final response only
    QByteArray body;
    std::optional<std::string> header(std::string_view name) const;  // case-insensitive, first match
};

// What carries an HttpSession's requests. The program's is libcurl on an I/O thread of its own
// (curl_transport.h); tests put an in-process one in its place, so that nothing above this layer
// needs a socket to be tested.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;

    // As HttpSession::send. The transport may be destroyed while a request waits: a send under way
    // must not depend on it any more once it has suspended.
    virtual QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token stop) = 0;
    // As HttpSession::setSendRate.
    virtual void setSendRate(int64_t bytesPerSecond) = 0;
};

// One HTTP client: its transport (libcurl: its own I/O thread, connection pool and, optionally,
// cookie jar).
// Created, used and destroyed on the main thread; every send() resumes there.
class HttpSession {
public:
    struct Config {
        QString cookieFile;                 // empty: no cookies at all (upload session). Else persistent jar file, mode 0600
        long maxConnectionsPerHost = 0;     // 0: unlimited
        // Deadline of each request from its start, however steadily bytes trickle in. 0: none
        // (service session: 120 s, upload session: 3600 s).
        std::chrono::milliseconds totalTimeout{0};
        // The I/O thread's name in the system's thread lists (top -H, perf, a debugger): at most
        // 15 characters.
        const char* threadName = "http";
    };

    // Main thread. Without `transport`, the session's requests go through libcurl on an I/O
    // thread of its own (the program's case); tests hand an in-process transport instead.
    explicit HttpSession(Config config, std::unique_ptr<HttpTransport> transport = nullptr);
    ~HttpSession();   // stops the transport; pending requests end with Cancelled
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Throws TransportError (what(): a readable description) when there is no HTTP response,
    // ResponseTooLarge when the body passed the request's bound, Cancelled when `stop` fires (resumes promptly, request removed from curl). Any HTTP status,
    // including 4xx and 5xx, is a response. Redirects are not followed.
    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token stop = {});

    const Config& config() const { return config_; }

    // Caps the bytes per second of all request bodies of this session together, across all its
    // connections (0: no cap). Takes effect at once, also for requests under way.
    void setSendRate(int64_t bytesPerSecond);

    static HttpSession::Config serviceConfig();   // cookie jar at paths::dataDir()+"/cookies.txt", 120 s total
    static HttpSession::Config uploadConfig();    // no cookies, 16 per host, 3600 s total

private:
    Config config_;
    std::unique_ptr<HttpTransport> transport_;
};

}  // namespace zafrel
