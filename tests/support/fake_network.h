#pragma once
// An in-process network for tests above the transport: requests go to the test's handlers on the
// main thread, answered on a later turn of the event loop as from a real connection, and logged.
#include "platform/http.h"

#include <curl/curl.h>

#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zafrel::test {

// Holds the answers given at it until the test opens it. Main thread only.
class Gate {
public:
    void open() { open_ = true; }
    int waiting() const { return waiting_; }

private:
    friend class FakeNetwork;
    bool open_ = false;
    int waiting_ = 0;
};

// A handler's answer: a response, or a transport failure, given once `after` (if any) opens.
struct FakeReply {
    HttpResponse response;
    CURLcode failureCode = CURLE_OK;
    Gate* after = nullptr;

    static FakeReply status(int code, std::string body = {}, std::string contentType = "application/json");
    // No HTTP answer: failed as libcurl's `code` ends a request, with the real transport's text.
    static FakeReply failed(CURLcode code) { return {.response = {}, .failureCode = code}; }
};

// `reply`, given once `gate` opens.
inline FakeReply held(FakeReply reply, Gate& gate) { return reply.after = &gate, reply; }

// One request as the network saw it, with its URL taken apart.
struct SeenRequest {
    HttpRequest request;
    std::string path;   // decoded, without the query
    QUrlQuery query;
    std::string param(const char* name) const { return query.queryItemValue(QString::fromUtf8(name), QUrl::FullyDecoded).toStdString(); }
    std::string body() const { return request.body.toStdString(); }
};

class FakeNetwork : public std::enable_shared_from_this<FakeNetwork> {
public:
    using Handler = std::function<FakeReply(const SeenRequest&)>;

    static std::shared_ptr<FakeNetwork> create() { return std::shared_ptr<FakeNetwork>(new FakeNetwork); }

    // Requests of `method` under `pathPrefix` go to `handler`; the last added wins; others get 404.
    void route(std::string method, std::string pathPrefix, Handler handler)
    {
        routes_.push_back(Route{std::move(method), std::move(pathPrefix), std::move(handler)});
    }
    // The same, with one answer for all of them.
    void answer(std::string method, std::string pathPrefix, FakeReply reply)
    {
        route(std::move(method), std::move(pathPrefix), [reply](const SeenRequest&) { return reply; });
    }

    // A transport for an HttpSession; every one made here reaches the same handlers.
    std::unique_ptr<HttpTransport> transport();
    // A session over this network (cookies are not carried: the handlers see what the client sent).
    std::unique_ptr<HttpSession> session(HttpSession::Config config = {});

    const std::vector<SeenRequest>& log() const { return log_; }
    // The logged requests of `method` whose path starts with `pathPrefix`.
    std::vector<SeenRequest> seen(const std::string& method, const std::string& pathPrefix) const;
    // The bytes-per-second cap the last transport was given.
    int64_t sendRate() const { return sendRate_; }

private:
    class Transport;
    struct Route {
        std::string method, prefix;
        Handler handler;
    };
    FakeNetwork() = default;
    FakeReply answer(const SeenRequest& seen);

    std::vector<Route> routes_;
    std::vector<SeenRequest> log_;
    int64_t sendRate_ = 0;
};

}  // namespace zafrel::test
