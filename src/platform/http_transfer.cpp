#include "platform/http_transfer.h"

#include "platform/ascii_text.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/http_completion.h"
#include "platform/transport_error_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace zafrel {

namespace {

constexpr std::string_view kLineBreakOrNul("\r\n\0", 3);

// Big reads from a part keep a fast link busy with few callbacks. Anything smaller keeps curl's
// default: curl allocates the buffer anew for every request, and a fresh one the size of a
// 200 KB body cost more in page faults than its reads saved.
constexpr long kLargeUploadBuffer = 2 * 1024 * 1024;
// A body below this size with no cap to obey is handed to curl whole instead of through the read
// callback: it goes out in the same write as the request's headers (libcurl's limit for that is
// 64 KiB), so a small file's request costs one send. Larger bodies gain nothing measurable from it
// (curl copies them into its buffer either way) and keep the callback, where a cap set while they
// are on their way holds them back at once.
constexpr curl_off_t kHandedWholeBelow = 64 * 1024;
// An announced length is trusted for one allocation up to this size (or the request's bound).
constexpr curl_off_t kLargestReservation = 256 * 1024 * 1024;

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string parseHostKey(const std::string& url)
{
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return {};
    std::string key;
    for (const auto part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        char* text = nullptr;
        if (curl_url_get(parsed.get(), part, &text, CURLU_DEFAULT_PORT) != CURLUE_OK || !text)
            return {};
        key += text;
        key += part == CURLUPART_SCHEME ? "://" : part == CURLUPART_HOST ? ":" : "";
        curl_free(text);
    }
    return key;
}

// A run sends thousands of requests to two or three origins: the key of a URL is the key of the
// text before its path, kept once parsed. Anything unusual before the path (no "://", a query or
// fragment right after the host) is parsed every time.
std::string hostKeyOf(const std::string& url)
{
    const size_t scheme = url.find("://");
    const size_t path = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    if (path == std::string::npos || url.find_first_of("?#", scheme + 3) < path)
        return parseHostKey(url);
    thread_local std::unordered_map<std::string, std::string> known;
    const std::string origin = url.substr(0, path);
    if (const auto it = known.find(origin); it != known.end())
        return it->second;
    std::string key = parseHostKey(url);
    if (known.size() >= 64)
        known.clear();
    known.emplace(origin, key);
    return key;
}

}  // namespace

HttpTransfer::HttpTransfer(uint64_t id, HttpRequest request, std::shared_ptr<HttpCompletion> completion)
    : id_(id)
    , request_(std::move(request))
    , completion_(std::move(completion))
    , hostKey_(hostKeyOf(request_.url))
{
}

HttpTransfer::~HttpTransfer()
{
    if (easy_)
        curl_easy_cleanup(easy_);
    curl_slist_free_all(headerList_);
    // The progress callback is the caller's and may hold the last reference to main-thread
    // objects: let it go on the main thread, not here on the I/O thread. An outcome posted by
    // finish() took it along; only a request ended otherwise (cancelled) still holds it.
    if (request_.onUploadProgress)
        detail::postToMainThread([callback = std::move(request_.onUploadProgress)] {});
}

CURL* HttpTransfer::releaseEasy()
{
    return std::exchange(easy_, nullptr);
}

HttpTransfer* HttpTransfer::fromEasy(CURL* easy)
{
    char* self = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &self);
    return reinterpret_cast<HttpTransfer*>(self);
}

CURL* HttpTransfer::open(const Options& options, CURL* spare)
{
    if (spare) {
        // libcurl 7.88's reset forgets the list of cookie files without freeing it (one empty name
        // per request here): clear it first. The cookies themselves are the share's and stay.
        curl_easy_setopt(spare, CURLOPT_COOKIEFILE, static_cast<const char*>(nullptr));
        curl_easy_reset(spare);
    }
    easy_ = spare ? spare : curl_easy_init();
    if (!easy_ || !configure(options)) {
        finish(easy_ ? CURLE_BAD_FUNCTION_ARGUMENT : CURLE_OUT_OF_MEMORY);
        return nullptr;
    }
    return easy_;
}

bool HttpTransfer::configure(const Options& options)
{
    CURL* e = easy_;
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK; };

    set(CURLOPT_URL, request_.url.c_str());
    set(CURLOPT_PRIVATE, static_cast<void*>(this));
    set(CURLOPT_ERRORBUFFER, errorBuffer_);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    // Certificates are always checked against the system's CA store (libcurl's default bundle).
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_TCP_KEEPALIVE, 1L);
    set(CURLOPT_HEADERFUNCTION, &HttpTransfer::headerCallback);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &HttpTransfer::writeCallback);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    if (options.share)
        set(CURLOPT_SHARE, options.share);
    limiter_ = options.limiter;
    if (options.cookies)
        set(CURLOPT_COOKIEFILE, "");   // turns the cookie engine on; the store itself is the share's

    if (request_.timeout.count() > 0) {
        // libcurl measures idleness in whole seconds: round up so that a short timeout never
        // becomes "no timeout".
        const long seconds = static_cast<long>((request_.timeout.count() + 999) / 1000);
        set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request_.timeout.count()));
        set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        set(CURLOPT_LOW_SPEED_TIME, seconds);
    }
    if (options.totalTimeout.count() > 0)
        set(CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));

    const std::string& method = request_.method;
    bool handedWhole = false;
    if (method == "HEAD") {
        set(CURLOPT_NOBODY, 1L);
    } else if (method == "GET" && request_.body.isEmpty()) {
        set(CURLOPT_HTTPGET, 1L);
    } else {
        // Every request with a body (also an empty one) carries its exact Content-Length (0
        // included), is sent from the caller's array without a copy of ours, and gets no form
        // Content-Type of curl's own.
        const curl_off_t size = request_.body.size();
        const bool capped = options.limiter && options.limiter->rate() > 0;
        if (size > 0 && size < kHandedWholeBelow && !capped) {
            // POSTFIELDS keeps a pointer into the array, which stays the request's until finish().
            // Curl rewinds it by itself when it has to send the request again.
            handedWhole = true;
            set(CURLOPT_POSTFIELDS, request_.body.constData());
            set(CURLOPT_POSTFIELDSIZE_LARGE, size);
            if (method != "POST")
                set(CURLOPT_CUSTOMREQUEST, method.c_str());
        } else {
            // Read through the callback, where the cap is applied.
            set(CURLOPT_UPLOAD, 1L);
            set(CURLOPT_INFILESIZE_LARGE, size);
            set(CURLOPT_READFUNCTION, &HttpTransfer::readCallback);
            set(CURLOPT_READDATA, static_cast<void*>(this));
            set(CURLOPT_SEEKFUNCTION, &HttpTransfer::seekCallback);
            set(CURLOPT_SEEKDATA, static_cast<void*>(this));
            if (size >= kLargeUploadBuffer)
                set(CURLOPT_UPLOAD_BUFFERSIZE, kLargeUploadBuffer);
            if (method != "PUT")
                set(CURLOPT_CUSTOMREQUEST, method.c_str());
        }
    }

    bool hasAccept = false;
    bool hasContentType = false;
    for (const auto& [name, value] : request_.headers) {
        // A line break would end the header early and start another one of the value's making.
        if (name.find_first_of(kLineBreakOrNul) != std::string::npos
            || value.find_first_of(kLineBreakOrNul) != std::string::npos)
            return false;
        hasAccept = hasAccept || equalsIgnoringAsciiCase(name, "Accept");
        hasContentType = hasContentType || equalsIgnoringAsciiCase(name, "Content-Type");
        // "Name;" is curl's way of sending a header with an empty value ("Name:" would remove it).
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headerList_ = curl_slist_append(headerList_, line.c_str());
    }
    // Only what the caller asked for goes out: no "Accept: */*" of curl's own, and never
    // "Expect: 100-continue", which costs a round trip per upload and some servers mishandle.
    if (!hasAccept)
        headerList_ = curl_slist_append(headerList_, "Accept:");
    headerList_ = curl_slist_append(headerList_, "Expect:");
    // A body given as POSTFIELDS would otherwise be labelled a form by curl.
    if (handedWhole && !hasContentType)
        headerList_ = curl_slist_append(headerList_, "Content-Type:");
    set(CURLOPT_HTTPHEADER, headerList_);

    if (request_.onUploadProgress) {
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &HttpTransfer::progressCallback);
        set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    }
    return ok && headerList_;
}

void HttpTransfer::finish(CURLcode code)
{
    // The body is let go before the caller hears of the outcome: a caller that reuses the array
    // (a part buffer) then finds nobody else holding it.
    request_.body = QByteArray();
    if (code == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        HttpResponse response;
        response.status = static_cast<int>(status);
        response.headers = std::move(responseHeaders_);
        response.body = std::move(responseBody_);
        completion_->succeed(std::move(response), &request_.onUploadProgress);
        return;
    }
    if (responseTooLarge_) {
        completion_->fail(std::make_exception_ptr(ResponseTooLarge(responseTooLargeText(request_.url))),
                          &request_.onUploadProgress);
        return;
    }
    completion_->fail(std::make_exception_ptr(
                          TransportError(transportErrorText(code, request_.url), transportErrorDetail(code, errorBuffer_),
                                         transportFailureMayPass(code))),
                      &request_.onUploadProgress);
}

void HttpTransfer::onHeaderLine(std::string_view line)
{
    // Every response (1xx interim ones included) starts with its status line; only the last
    // block, the final response's, is kept.
    if (line.starts_with("HTTP/")) {
        responseHeaders_.clear();
        return;
    }
    if (trimmed(line).empty())
        return;
    if ((line.front() == ' ' || line.front() == '\t') && !responseHeaders_.empty()) {
        // Obsolete line folding: the line continues the previous header's value.
        std::string& value = responseHeaders_.back().second;
        value += ' ';
        value += trimmed(line);
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = trimmed(line.substr(0, colon));
    if (equalsIgnoringAsciiCase(name, "Set-Cookie"))
        receivedCookie_ = true;
    responseHeaders_.emplace_back(std::string(name), std::string(trimmed(line.substr(colon + 1))));
}

size_t HttpTransfer::headerCallback(char* data, size_t size, size_t count, void* self)
{
    static_cast<HttpTransfer*>(self)->onHeaderLine(std::string_view(data, size * count));
    return size * count;
}

size_t HttpTransfer::writeCallback(char* data, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    const size_t length = size * count;
    if (length == 0)
        return 0;
    const curl_off_t errorBound = transfer->request_.maxErrorBodyBytes;
    if (errorBound > 0) {
        long status = 0;
        curl_easy_getinfo(transfer->easy_, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299) {
            const curl_off_t room = std::max<curl_off_t>(0, errorBound - transfer->responseBody_.size());
            transfer->responseBody_.append(data, static_cast<qsizetype>(std::min<curl_off_t>(room, curl_off_t(length))));
            return length;
        }
    }
    const curl_off_t bound = transfer->request_.maxResponseBytes;
    const auto refuse = [transfer] {
        // Anything but `length` makes libcurl end the transfer here, before more arrives.
        transfer->responseTooLarge_ = true;
        return size_t(0);
    };
    if (transfer->responseBody_.isEmpty()) {
        curl_off_t expected = -1;
        curl_easy_getinfo(transfer->easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        if (bound > 0 && expected > bound)
            return refuse();
        if (expected > 0 && expected <= kLargestReservation)
            transfer->responseBody_.reserve(static_cast<qsizetype>(expected));
    }
    if (bound > 0 && transfer->responseBody_.size() + static_cast<curl_off_t>(length) > bound)
        return refuse();
    transfer->responseBody_.append(data, static_cast<qsizetype>(length));
    return length;
}

size_t HttpTransfer::readCallback(char* buffer, size_t size, size_t count, void* self)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    const QByteArray& body = transfer->request_.body;
    const int64_t remaining = body.size() - transfer->readOffset_;
    size_t length = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(size * count)));
    if (transfer->limiter_ && length > 0) {
        length = transfer->limiter_->take(transfer->id_, length, SendRateLimiter::Clock::now());
        if (length == 0) {
            // Returning 0 would end the body; the I/O thread wakes the transfer when its turn comes.
            transfer->waitsForRate_ = true;
            return CURL_READFUNC_PAUSE;
        }
    }
    std::memcpy(buffer, body.constData() + transfer->readOffset_, length);
    transfer->readOffset_ += static_cast<int64_t>(length);
    return length;
}

void HttpTransfer::resume()
{
    if (!waitsForRate_)
        return;
    waitsForRate_ = false;
    curl_easy_pause(easy_, CURLPAUSE_CONT);
}

int HttpTransfer::seekCallback(void* self, curl_off_t offset, int origin)
{
    // curl rewinds when it has to send the body again, e.g. on a reused connection that the
    // server had already closed.
    auto* transfer = static_cast<HttpTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || offset > transfer->request_.body.size())
        return CURL_SEEKFUNC_CANTSEEK;
    transfer->readOffset_ = offset;
    return CURL_SEEKFUNC_OK;
}

int HttpTransfer::progressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    auto* transfer = static_cast<HttpTransfer*>(self);
    // A resend after a rewind starts counting from zero again: report only bytes beyond the most
    // ever reported, so that the increments add up to the body's size. Nothing after the end.
    if (uploaded <= transfer->reportedUpload_ || transfer->completion_->isDone())
        return 0;
    const int64_t increment = uploaded - transfer->reportedUpload_;
    transfer->reportedUpload_ = uploaded;
    try {
        transfer->request_.onUploadProgress(increment, uploaded);
    } catch (...) {
        // Nothing may unwind through libcurl; progress is advisory.
    }
    return 0;
}

}  // namespace zafrel
