#pragma once
#include "client/api_error.h"
#include "client/records.h"
#include "client/url_builder.h"

#include "platform/http.h"

#include <QCoro/QCoroTask>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zafrel {

// The client of the company's web service. Every call sends JSON with the session cookie of its
// HttpSession and answers a decoded record, or throws APIError (the service answered badly),
// TransportError (no answer; also an unusable "serverURL") or Cancelled (its stop token fired).
// Used only from the main thread.
//
// The calls of an upload run ride out short outages: a failure that may pass by itself (no
// connection, reset, timeout, 5xx, 429) is tried again after 1, 3, 6 and 12 s, or after the
// "Retry-After" the service asks for when that is longer, up to five attempts, each with its own
// deadline. Calls made while a person waits (sign-in, the session check, the folder picker) answer
// at once instead.
class ZafrelAPI {
public:
    enum class Retries { None, Transient };

    // The process-wide client with the service session (persistent cookie jar), created on first
    // use on the main thread.
    static ZafrelAPI& shared();

    explicit ZafrelAPI(std::unique_ptr<HttpSession> session);
    ~ZafrelAPI();
    ZafrelAPI(const ZafrelAPI&) = delete;
    ZafrelAPI& operator=(const ZafrelAPI&) = delete;

    // The service origin: the "serverURL" setting, else the built-in default, parsed exactly as
    // written (strictly; an unparsable text gives an invalid QUrl). Read anew for every request.
    QUrl baseURL() const;

    // "POST api/login" with {"email","password"}, then "GET api/me".
    QCoro::Task<User> login(std::string email, std::string password);
    QCoro::Task<User> me();
    // Failures propagate; signing out locally does not depend on them.
    QCoro::Task<void> logout();
    QCoro::Task<Listing> ls(std::string path, std::stop_token stop = {}, Retries retries = Retries::None);
    QCoro::Task<void> mkdir(std::string path, std::string name);

    QCoro::Task<UploadInit> initUpload(InitBody body, std::stop_token stop = {});
    // Pre-signed URLs of parts first..last (both included). Entries the service got wrong are left
    // out, so the map may hold fewer numbers than asked for.
    QCoro::Task<std::map<int64_t, std::string>> partURLs(std::string key, std::string uploadId, int64_t first,
                                                         int64_t last, bool accelerate, std::stop_token stop = {});
    QCoro::Task<void> complete(std::string key, std::string uploadId, std::vector<Part> parts,
                               std::stop_token stop = {});
    // Aborts a multipart upload, failing with the service's or the transport's error, for a caller
    // that tells the user. Retried while the failure may pass, but given up after kAbortDeadline
    // with the transport's timeout error, so that whoever waits for it (a transfer winding down,
    // "--olvidar", the end of the program) waits a bounded time.
    static constexpr std::chrono::seconds kAbortDeadline{30};
    QCoro::Task<void> abortOrThrow(std::string key, std::string uploadId);
    // Best effort: both return normally whatever happens. The end-of-run courtesy is tried once.
    QCoro::Task<void> abort(std::string key, std::string uploadId);
    QCoro::Task<void> uploadDone();

private:
    using Query = std::vector<std::pair<std::string, std::string>>;

    // One call, with its attempts; answers the parsed body of a 2xx response. Throws as described
    // above, when the last attempt has failed.
    QCoro::Task<nlohmann::json> request(const char* method, const char* path, Query query,
                                        std::optional<nlohmann::ordered_json> body, std::stop_token stop,
                                        Retries retries = Retries::None);

    // The configured origin, checked and encoded again only when its text changes.
    const ServiceOrigin& origin() const;

    std::unique_ptr<HttpSession> session_;
    mutable QString originText_;
    mutable std::optional<ServiceOrigin> origin_;
};

}  // namespace zafrel
