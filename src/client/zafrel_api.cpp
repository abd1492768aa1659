#include "client/zafrel_api.h"

#include "client/server_origin.h"
#include "client/url_builder.h"

#include <chrono>

namespace zafrel {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// JSON answers of the service are small; even a listing of 100,000 files is a fraction of this.
// Anything larger is cut off instead of filling the memory.
constexpr int64_t kLargestServiceAnswer = 64 * 1024 * 1024;

// The service's own message in a failure answer: the "error" member of an object whose members
// are all strings; anything else gives "".
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

QCoro::Task<json> ZafrelAPI::request(const char* method, const char* path, Query query,
                                     std::optional<ordered_json> body, std::stop_token stop)
{
    const QString origin = configuredOrigin();
    HttpRequest req;
    req.method = method;
    req.url = serviceURL(QUrl(origin, QUrl::StrictMode), origin, path, query);
    req.headers.emplace_back("Content-Type", "application/json");
    req.timeout = std::chrono::seconds(60);
    req.maxResponseBytes = kLargestServiceAnswer;
    if (body)
        req.body = QByteArray::fromStdString(compactJson(*body));

    // Transport failures and cancellation leave here unchanged.
    HttpResponse response = co_await session_->send(std::move(req), stop);

    if (response.status == 401)
        throw APIError::auth();
    if (response.status >= 200 && response.status <= 299)
        co_return parseJsonBody(response.body);
    throw APIError::http(response.status, failureMessage(response.body));
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

QCoro::Task<Listing> ZafrelAPI::ls(std::string path, std::stop_token stop)
{
    Query query{{"path", std::move(path)}};
    json answer = co_await request("GET", "api/ls", std::move(query), std::nullopt, stop);
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
    json answer = co_await request("POST", "api/upload/init", {}, std::move(encoded), stop);
    co_return decodeRecord<UploadInit>(answer);
}

QCoro::Task<std::map<int64_t, std::string>> ZafrelAPI::partURLs(std::string key, std::string uploadId, int64_t first,
                                                                int64_t last, bool accelerate, std::stop_token stop)
{
    Query query{{"key", std::move(key)},
                {"uploadId", std::move(uploadId)},
                {"first", std::to_string(first)},
                {"last", std::to_string(last)},
                {"accelerate", accelerate ? "1" : "0"}};
    json answer = co_await request("GET", "api/upload/urls", std::move(query), std::nullopt, stop);
    co_return usablePartURLs(decodeRecord<PartURLs>(answer));
}

QCoro::Task<void> ZafrelAPI::complete(std::string key, std::string uploadId, std::vector<Part> parts,
                                      std::stop_token stop)
{
    ordered_json body = encodeRecord(CompleteBody{std::move(key), std::move(uploadId), std::move(parts)});
    json answer = co_await request("POST", "api/upload/complete", {}, std::move(body), stop);
    requireAnyObject(answer);
}

QCoro::Task<void> ZafrelAPI::abort(std::string key, std::string uploadId)
{
    try {
        ordered_json body = stringObject({{"key", key}, {"uploadId", uploadId}});
        json answer = co_await request("POST", "api/upload/abort", {}, std::move(body), {});
        requireOptionalBooleanObject(answer);
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
