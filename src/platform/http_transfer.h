#pragma once
#include "platform/http.h"
#include "platform/send_rate_limiter.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {

class HttpCompletion;

// One request on the I/O thread: its libcurl easy handle, the callbacks that feed the body and
// collect the answer, and the translation of libcurl's result into the request's outcome. Apart
// from construction, everything here runs on the session's I/O thread.
class HttpTransfer {
public:
    struct Options {
        CURLSH* share = nullptr;        // connection-independent caches shared by the session
        bool cookies = false;           // take part in the share's cookie store
        std::chrono::milliseconds totalTimeout{0};
        SendRateLimiter* limiter = nullptr;   // the session's cap on request bodies, if any
    };

    HttpTransfer(uint64_t id, HttpRequest request, std::shared_ptr<HttpCompletion> completion);
    ~HttpTransfer();   // the easy handle must no longer be in a multi handle
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    uint64_t id() const { return id_; }
    // "scheme://host:port" of the URL (empty when it cannot be parsed): the unit that the
    // session's per-host connection limit counts.
    const std::string& hostKey() const { return hostKey_; }
    HttpCompletion& completion() { return *completion_; }

    // Builds the easy handle, on `spare` (a handle an ended request gave back, reset here) when
    // there is one. On failure the request has ended with a TransportError and the answer is
    // nullptr.
    CURL* open(const Options& options, CURL* spare = nullptr);
    CURL* easy() const { return easy_; }
    // Gives the easy handle up for another request (it must no longer be in a multi handle).
    CURL* releaseEasy();
    // Whether any response of this request (final or not) set or removed a cookie.
    bool receivedCookie() const { return receivedCookie_; }
    // Lets a body held back for the rate cap go on (outside libcurl's callbacks); nothing when it
    // was not held back.
    void resume();
    // Ends the request with libcurl's result: the response, or a TransportError.
    void finish(CURLcode code);

    static HttpTransfer* fromEasy(CURL* easy);

private:
    bool configure(const Options& options);
    void onHeaderLine(std::string_view line);

    static size_t headerCallback(char* data, size_t size, size_t count, void* self);
    static size_t writeCallback(char* data, size_t size, size_t count, void* self);
    static size_t readCallback(char* buffer, size_t size, size_t count, void* self);
    static int seekCallback(void* self, curl_off_t offset, int origin);
    static int progressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded);

    const uint64_t id_;
    HttpRequest request_;
    const std::shared_ptr<HttpCompletion> completion_;
    std::string hostKey_;

    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    int64_t readOffset_ = 0;
    int64_t reportedUpload_ = 0;
    SendRateLimiter* limiter_ = nullptr;
    bool waitsForRate_ = false;

    std::vector<std::pair<std::string, std::string>> responseHeaders_;
    QByteArray responseBody_;
    bool responseTooLarge_ = false;
    bool receivedCookie_ = false;
};

}  // namespace zafrel
