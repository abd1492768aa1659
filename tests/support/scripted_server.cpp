#include "support/scripted_server.h"

#include <gtest/gtest.h>

namespace zafrel::test {

std::optional<std::string> ScriptedServer::Received::header(const std::string& name) const
{
    auto it = headers.find(name);   // httplib compares header names case-insensitively
    return it == headers.end() ? std::nullopt : std::optional(it->second);
}

std::optional<std::string> ScriptedServer::Received::param(const std::string& name) const
{
    auto it = params.find(name);
    return it == params.end() ? std::nullopt : std::optional(it->second);
}

ScriptedServer::ScriptedServer() : ScriptedServer(Reply{404, "{}"}) {}

ScriptedServer::ScriptedServer(Reply unscripted) : unscripted_(std::move(unscripted))
{
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
    httplib::Server& server = http_.server();
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Options(".*", handler);
    // One request per connection: the program's clients keep connections open, and a server that
    // waits for idle keep-alive connections would take seconds to stop.
    server.set_keep_alive_max_count(1);
    http_.start();
}

ScriptedServer::~ScriptedServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    http_.stop();
}

void ScriptedServer::handle(const httplib::Request& req, httplib::Response& res)
{
    const Received got{req.method, req.path, req.target, req.body, req.headers, req.params};
    const std::string key = req.method + " " + req.path;
    std::function<Reply(const Received&)> script;
    {
        std::unique_lock lock(mutex_);
        received_.push_back(got);
        if (holding_.count(key)) {
            ++waiting_[key];
            wake_.wait_for(lock, std::chrono::minutes(1), [&] { return stopping_ || !holding_.count(key); });
            --waiting_[key];
            if (stopping_) {
                res.status = 503;
                return;
            }
        }
        auto it = replies_.find(key);
        if (it != replies_.end())
            script = it->second;
    }
    const Reply reply = script ? script(got) : unscripted_;
    if (reply.delay.count() > 0) {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, reply.delay, [this] { return stopping_; });
    }
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name, value);
    if (!reply.body.empty())
        res.set_content(reply.body, "application/json");
}

void ScriptedServer::on(const std::string& method, const std::string& path, Reply reply)
{
    on(method, path, [reply](const Received&) { return reply; });
}

void ScriptedServer::on(const std::string& method, const std::string& path, std::function<Reply(const Received&)> reply)
{
    std::lock_guard lock(mutex_);
    replies_[method + " " + path] = std::move(reply);
}

void ScriptedServer::hold(const std::string& method, const std::string& path)
{
    std::lock_guard lock(mutex_);
    holding_.insert(method + " " + path);
}

void ScriptedServer::release(const std::string& method, const std::string& path)
{
    {
        std::lock_guard lock(mutex_);
        holding_.erase(method + " " + path);
    }
    wake_.notify_all();
}

int ScriptedServer::held(const std::string& method, const std::string& path) const
{
    std::lock_guard lock(mutex_);
    auto it = waiting_.find(method + " " + path);
    return it == waiting_.end() ? 0 : it->second;
}

std::vector<ScriptedServer::Received> ScriptedServer::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<ScriptedServer::Received> ScriptedServer::received(const std::string& method, const std::string& path) const
{
    std::vector<Received> out;
    for (Received& r : received())
        if (r.method == method && r.path == path)
            out.push_back(std::move(r));
    return out;
}

ScriptedServer::Received ScriptedServer::only(const std::string& method, const std::string& path) const
{
    auto all = received(method, path);
    EXPECT_EQ(all.size(), 1u) << method << " " << path;
    return all.empty() ? Received{} : all.front();
}

}  // namespace zafrel::test
