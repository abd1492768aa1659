#include "client/zafrel_api.h"

#include "client/server_origin.h"
#include "client/url_builder.h"
#include "platform/async.h"
#include "platform/deadline_stop.h"
#include "platform/transport_error_text.h"
#include "platform/retry_schedule.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>

namespace zafrel {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// An https service hands out https URLs. A plain http one would carry the footage and the URL's
// signature readable on the way, to whatever host it names: refused before anything is sent.
void refusePlainURLFromSecureService(const ServiceOrigin& service, const std::string& url)
{
    const bool plain = url.size() >= 7 && QByteArrayView(url.data(), 7).compare("http://", Qt::CaseInsensitive) == 0;
    if (plain && service.secure())
        throw APIError::decode();
}

// JSON answers of the service are small; even a listing of 100,000 files is a fraction of this.
// Anything larger is cut off instead of filling the memory.
constexpr int64_t kLargestServiceAnswer = 64 * 1024 * 1024;

// A failure answer is read for its message only: its body is kept up to this size (a longer one is
// no message a person would read). Parsed whole, an error body of tens of megabytes took gigabytes.
constexpr int64_t kLargestErrorAnswer = 64 * 1024;

// The service's own message in a failure answer: the "error" member of an object whose members
// are all strings; anything else, a body cut at the bound included, gives "".
std::string failureMessage(const QByteArray& body)
{
    json value = json::parse(body.cbegin(), body.cend(), nullptr, /*allow_exceptions=*/false);
    if (!value.is_object())
        return {};
    for (const json& member : value)
        if (!member.is_string())
            return {};
    auto it = value.find("error");
    return it == value.end() ? std::string() : it->get<std::string>();
}

// Answers the service gives while it is overloaded, restarting or behind a gateway that lost it.
bool mayPass(int status)
{
    return status == 429 || (status >= 500 && status <= 599);
}

// A service that asks for a longer pause than this is not waited for: the call fails with its
// answer, and the run pauses instead of hanging.
constexpr std::chrono::seconds kLongestAskedWait{60};

// The pause a "Retry-After" header asks for: whole seconds or an HTTP date. Nothing when the header
// is absent or unreadable.
std::optional<std::chrono::milliseconds> retryAfter(const HttpResponse& response)
{
    const std::optional<std::string> value = response.header("Retry-After");
    if (!value)
        return std::nullopt;
    const QString text = QString::fromStdString(*value).trimmed();
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(seconds * 1000));
    const QDateTime at = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!at.isValid())
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(at)));
}

ordered_json stringObject(std::initializer_list<std::pair<const char*, const std::string&>> members)
{
    ordered_json out = ordered_json::object();
    for (const auto& [name, value] : members)
        out[name] = value;
    return out;
}

}  // namespace

ZafrelAPI& ZafrelAPI::shared()
{
    // Never destroyed: engines and sessions hold references until the very end of the process,
    // and the cookie jar does not depend on the session's destructor.
    static ZafrelAPI* const instance = new ZafrelAPI(std::make_unique<HttpSession>(HttpSession::serviceConfig()));
    return *instance;
}

ZafrelAPI::ZafrelAPI(std::unique_ptr<HttpSession> session) : session_(std::move(session)) {}

ZafrelAPI::~ZafrelAPI() = default;

QUrl ZafrelAPI::baseURL() const
{
    return QUrl(configuredOrigin(), QUrl::StrictMode);
}

const ServiceOrigin& ZafrelAPI::origin() const
{
    QString text = configuredOrigin();
    if (!origin_ || text != originText_) {
        origin_.reset();
        origin_.emplace(QUrl(text, QUrl::StrictMode), text);   // throws for an unusable one, never kept
        originText_ = std::move(text);
    }
    return *origin_;
}

QCoro::Task<json> ZafrelAPI::request(const char* method, const char* path, Query query,
                                     std::optional<ordered_json> body, std::stop_token stop, Retries retries)
{
    HttpRequest req;
    req.method = method;
    req.url = origin().url(path, query);
    req.headers.emplace_back("Content-Type", "application/json");
    req.timeout = std::chrono::seconds(60);
    req.maxResponseBytes = kLargestServiceAnswer;
    req.maxErrorBodyBytes = kLargestErrorAnswer;
    if (body)
        req.body = QByteArray::fromStdString(compactJson(*body));

    for (int attempt = 0;; ++attempt) {
        const bool mayRetry = retries == Retries::Transient && attempt + 1 < retry::maxAttempts;
        std::chrono::milliseconds wait = retry::waitAfter(attempt);
        try {
            // Cancellation leaves here unchanged, and so do transport failures that will not pass.
            HttpResponse response = co_await session_->send(req, stop);
            if (response.status == 401)
                throw APIError::auth();
            if (response.status >= 200 && response.status <= 299)
                co_return parseJsonBody(response.body);
            const std::optional<std::chrono::milliseconds> asked = retryAfter(response);
            if (!mayRetry || !mayPass(response.status) || (asked && *asked > kLongestAskedWait))
                throw APIError::http(response.status, failureMessage(response.body)).setRetried(attempt > 0);
            if (asked)
                wait = std::max(wait, retry::scaled(*asked));
        } catch (const TransportError& e) {
            if (!mayRetry || !e.transient())
                throw;
        }
        co_await sleepFor(wait, stop);   // throws Cancelled when stopped
    }
}

// Arguments are prepared before each co_await: g++ 12 miscompiles string-literal temporaries that
// live inside a co_await expression ("array used as initializer").
QCoro::Task<User> ZafrelAPI::login(std::string email, std::string password)
{
    ordered_json body = stringObject({{"email", email}, {"password", password}});
    requireAnyObject(co_await request("POST", "api/login", {}, std::move(body), {}));
    co_return co_await me();
}

QCoro::Task<User> ZafrelAPI::me()
{
    json answer = co_await request("GET", "api/me", {}, std::nullopt, {});
    co_return decodeRecord<User>(answer);
}

QCoro::Task<void> ZafrelAPI::logout()
{
    json answer = co_await request("POST", "api/logout", {}, std::nullopt, {});
    requireOptionalBooleanObject(answer);
}

QCoro::Task<Listing> ZafrelAPI::ls(std::string path, std::stop_token stop, Retries retries)
{
    Query query{{"path", std::move(path)}};
    json answer = co_await request("GET", "api/ls", std::move(query), std::nullopt, stop, retries);
    co_return decodeRecord<Listing>(answer);
}

QCoro::Task<void> ZafrelAPI::mkdir(std::string path, std::string name)
{
    ordered_json body = stringObject({{"path", path}, {"name", name}});
    json answer = co_await request("POST", "api/mkdir", {}, std::move(body), {});
    requireAnyObject(answer);
}

QCoro::Task<UploadInit> ZafrelAPI::initUpload(InitBody body, std::stop_token stop)
{
    ordered_json encoded = encodeRecord(body);
    json answer = co_await request("POST", "api/upload/init", {}, std::move(encoded), stop, Retries::Transient);
    UploadInit init = decodeRecord<UploadInit>(answer);
    if (init.url)
        refusePlainURLFromSecureService(origin(), *init.url);
    co_return init;
}

QCoro::Task<std::map<int64_t, std::string>> ZafrelAPI::partURLs(std::string key, std::string uploadId, int64_t first,
                                                                int64_t last, bool accelerate, std::stop_token stop)
{
    Query query{{"key", std::move(key)},
                {"uploadId", std::move(uploadId)},
                {"first", std::to_string(first)},
                {"last", std::to_string(last)},
                {"accelerate", accelerate ? "1" : "0"}};
    json answer = co_await request("GET", "api/upload/urls", std::move(query), std::nullopt, stop, Retries::Transient);
    std::map<int64_t, std::string> urls = usablePartURLs(decodeRecord<PartURLs>(answer));
    const ServiceOrigin& service = origin();
    for (const auto& [number, url] : urls)
        refusePlainURLFromSecureService(service, url);
    co_return urls;
}

QCoro::Task<void> ZafrelAPI::complete(std::string key, std::string uploadId, std::vector<Part> parts,
                                      std::stop_token stop)
{
    ordered_json body = encodeRecord(CompleteBody{std::move(key), std::move(uploadId), std::move(parts)});
    json answer = co_await request("POST", "api/upload/complete", {}, std::move(body), stop, Retries::Transient);
    requireAnyObject(answer);
}

QCoro::Task<void> ZafrelAPI::abortOrThrow(std::string key, std::string uploadId)
{
    ordered_json body = stringObject({{"key", key}, {"uploadId", uploadId}});
    const DeadlineStop deadline(kAbortDeadline);
    json answer;
    try {
        answer = co_await request("POST", "api/upload/abort", {}, std::move(body), deadline.token(), Retries::Transient);
    } catch (const Cancelled&) {
        // Nothing else stops an abort: its time is up.
        throw TransportError(transportErrorText(CURLE_OPERATION_TIMEDOUT, configuredOrigin().toStdString()), {}, true);
    }
    requireOptionalBooleanObject(answer);
}

QCoro::Task<void> ZafrelAPI::abort(std::string key, std::string uploadId)
{
    try {
        co_await abortOrThrow(std::move(key), std::move(uploadId));
    } catch (...) {
        // A failed abort leaves nothing the user could act on; the transfer has already failed.
    }
}

QCoro::Task<void> ZafrelAPI::uploadDone()
{
    try {
        json answer = co_await request("POST", "api/upload/done", {}, std::nullopt, {});
        requireOptionalBooleanObject(answer);
    } catch (...) {
        // Only a courtesy to the service at the end of a run.
    }
}

}  // namespace zafrel
