#include "support/ui_scripted_service.h"

#include "platform/settings.h"

// Debian's cpp-httplib is a compiled library; its structures depend on these switches.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#ifndef CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#endif
#ifndef CPPHTTPLIB_BROTLI_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#endif
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace zafrel::test {

struct UiScriptedService::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<std::string, std::function<Reply(const Received&)>> replies;
    std::set<std::string> holding;
    std::map<std::string, int> waiting;
    std::vector<Received> received;

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        Received got{req.method, req.path, {}, req.body};
        for (const auto& [name, value] : req.params)
            got.query[name] = value;
        const std::string key = req.method + " " + req.path;
        std::function<Reply(const Received&)> reply;
        {
            std::unique_lock lock(mutex);
            received.push_back(got);
            if (holding.count(key)) {
                ++waiting[key];
                wake.wait_for(lock, std::chrono::minutes(1), [&] { return stopping || !holding.count(key); });
                --waiting[key];
                if (stopping) {
                    res.status = 503;
                    return;
                }
            }
            auto it = replies.find(key);
            if (it != replies.end())
                reply = it->second;
        }
        const Reply answer = reply ? reply(got) : Reply{404, errorJson("no script")};
        res.status = answer.status;
        if (!answer.body.empty())
            res.set_content(answer.body, "application/json");
    }
};

UiScriptedService::UiScriptedService() : state_(std::make_unique<State>())
{
    auto handler = [state = state_.get()](const httplib::Request& req, httplib::Response& res) {
        state->handle(req, res);
    };
    state_->server.Get(".*", handler);
    state_->server.Post(".*", handler);
    state_->server.Put(".*", handler);
    state_->server.Options(".*", handler);
    // One request per connection: the program's clients keep connections open, and a server
    // that waits for idle keep-alive connections would take seconds to stop.
    state_->server.set_keep_alive_max_count(1);
    state_->port = state_->server.bind_to_any_port("127.0.0.1");
    if (state_->port <= 0)
        throw std::runtime_error("scripted service: cannot bind 127.0.0.1");
    state_->thread = std::thread([state = state_.get()] { state->server.listen_after_bind(); });
}

UiScriptedService::~UiScriptedService()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    state_->server.stop();
    state_->thread.join();
}

std::string UiScriptedService::origin() const
{
    return "http://127.0.0.1:" + std::to_string(state_->port);
}

void UiScriptedService::useAsServer() const
{
    settings::setValue(QStringLiteral("serverURL"), QString::fromStdString(origin()));
}

void UiScriptedService::on(const std::string& method, const std::string& path, Reply reply)
{
    on(method, path, [reply](const Received&) { return reply; });
}

void UiScriptedService::on(const std::string& method, const std::string& path,
                           std::function<Reply(const Received&)> reply)
{
    std::lock_guard lock(state_->mutex);
    state_->replies[method + " " + path] = std::move(reply);
}

void UiScriptedService::hold(const std::string& method, const std::string& path)
{
    std::lock_guard lock(state_->mutex);
    state_->holding.insert(method + " " + path);
}

void UiScriptedService::release(const std::string& method, const std::string& path)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->holding.erase(method + " " + path);
    }
    state_->wake.notify_all();
}

int UiScriptedService::held(const std::string& method, const std::string& path) const
{
    std::lock_guard lock(state_->mutex);
    auto it = state_->waiting.find(method + " " + path);
    return it == state_->waiting.end() ? 0 : it->second;
}

std::vector<UiScriptedService::Received> UiScriptedService::received() const
{
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

std::vector<UiScriptedService::Received> UiScriptedService::received(const std::string& method,
                                                                     const std::string& path) const
{
    std::vector<Received> out;
    for (Received& r : received())
        if (r.method == method && r.path == path)
            out.push_back(std::move(r));
    return out;
}

std::string UiScriptedService::userJson(const std::string& email, std::optional<std::string> companyName,
                                        const std::string& bucket)
{
    nlohmann::json user = {{"email", email}, {"name", "Persona de prueba"}, {"is_admin", !companyName},
                           {"bucket", bucket}};
    if (companyName)
        user["company"] = {{"slug", "empresa"}, {"name", *companyName}};
    return user.dump();
}

std::string UiScriptedService::errorJson(const std::string& message)
{
    return nlohmann::json{{"error", message}}.dump();
}

}  // namespace zafrel::test
