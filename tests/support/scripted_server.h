#pragma once
// A scripted stand-in for the company's service: answers per method and path on 127.0.0.1 (free
// port), records what it received, and can hold requests back until the test lets them go, so
// that a test can look at the program while a call is pending.
#include "support/http_test_server.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zafrel::test {

class ScriptedServer {
public:
    struct Reply {
        int status = 200;
        std::string body;   // sent as application/json when not empty
        std::vector<std::pair<std::string, std::string>> headers = {};
        // Held back this long (or until the server stops) before answering.
        std::chrono::milliseconds delay{0};
    };
    struct Received {
        std::string method;
        std::string path;     // decoded, "/api/me"
        std::string target;   // as sent, still percent-encoded
        std::string body;
        httplib::Headers headers;
        httplib::Params params;   // query items, decoded
        std::optional<std::string> header(const std::string& name) const;   // case-insensitive
        std::optional<std::string> param(const std::string& name) const;
    };

    // Listening when constructed; requests nobody scripted get `unscripted` (by default 404 {}).
    ScriptedServer();
    explicit ScriptedServer(Reply unscripted);
    ~ScriptedServer();   // lets held requests go (with 503) and stops
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return http_.port(); }
    std::string origin() const { return http_.origin(); }

    // Answer for `method` and decoded `path` ("/api/me").
    void on(const std::string& method, const std::string& path, Reply reply);
    // Answer computed from the request, on a server thread (the function must be thread-safe).
    void on(const std::string& method, const std::string& path, std::function<Reply(const Received&)> reply);

    // From now on requests to `method` `path` wait (at most a minute) until release().
    void hold(const std::string& method, const std::string& path);
    void release(const std::string& method, const std::string& path);
    // How many requests to `method` `path` are waiting now.
    int held(const std::string& method, const std::string& path) const;

    std::vector<Received> received() const;
    std::vector<Received> received(const std::string& method, const std::string& path) const;
    // The only request to `method` `path`; fails the test when there is not exactly one.
    Received only(const std::string& method, const std::string& path) const;

private:
    void handle(const httplib::Request& req, httplib::Response& res);

    const Reply unscripted_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<std::string, std::function<Reply(const Received&)>> replies_;
    std::set<std::string> holding_;
    std::map<std::string, int> waiting_;
    std::vector<Received> received_;
    TestHttpServer http_;   // last: its threads stop before the state above goes away
};

}  // namespace zafrel::test
