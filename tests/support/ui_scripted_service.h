#pragma once
// A scripted stand-in for the company's service, for the session and desktop tests: answers per
// method and path on 127.0.0.1 (free port), records what it received, and can hold requests back
// until the test lets them go, so that a test can look at the window while a call is pending.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zafrel::test {

class UiScriptedService {
public:
    struct Reply {
        int status = 200;
        std::string body;   // sent as application/json when not empty
    };
    struct Received {
        std::string method;
        std::string path;                            // decoded, "/api/me"
        std::map<std::string, std::string> query;    // decoded
        std::string body;
    };

    UiScriptedService();    // listening when constructed
    ~UiScriptedService();   // lets held requests go (with 503) and stops
    UiScriptedService(const UiScriptedService&) = delete;
    UiScriptedService& operator=(const UiScriptedService&) = delete;

    std::string origin() const;
    // Points the program's "serverURL" setting at this service.
    void useAsServer() const;

    // Answer for `method` `path`; unscripted requests get 404 {"error":"no script"}.
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

    // The "api/me" answer of an account, as the service writes it.
    static std::string userJson(const std::string& email, std::optional<std::string> companyName,
                                const std::string& bucket = "");
    // An error answer body {"error": message}.
    static std::string errorJson(const std::string& message);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zafrel::test
