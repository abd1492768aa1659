#pragma once
// A scripted HTTP server for client tests: answers fixed replies per method and path on
// 127.0.0.1 (free port) and records every request it receives. Also a helper that awaits a
// coroutine on the test's event loop and rethrows what it threw.
#include "support/test_env.h"

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

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zafrel::test {

class ScriptedServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers = {};
        // Held back this long (or until the server stops) before answering.
        std::chrono::milliseconds delay{0};
    };
    struct Received {
        std::string method;
        std::string path;     // decoded
        std::string target;   // as sent, still percent-encoded
        std::string body;
        httplib::Headers headers;
        httplib::Params params;   // query items, decoded
        std::optional<std::string> header(const std::string& name) const
        {
            auto it = headers.find(name);   // httplib compares header names case-insensitively
            return it == headers.end() ? std::nullopt : std::optional(it->second);
        }
        std::optional<std::string> param(const std::string& name) const
        {
            auto it = params.find(name);
            return it == params.end() ? std::nullopt : std::optional(it->second);
        }
    };

    ScriptedServer()
    {
        auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
        server_.Get(".*", handler);
        server_.Post(".*", handler);
        server_.Put(".*", handler);
        server_.Delete(".*", handler);
        // One request per connection: a worker would otherwise linger up to 5 s on an idle
        // keep-alive connection of a client that is still alive, and stop() waits for it.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("scripted server: cannot bind 127.0.0.1");
        // The socket already listens; connections wait in the backlog until the loop accepts them.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }

    ~ScriptedServer()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        server_.stop();
        thread_.join();
    }

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // Reply for `method` and decoded `path` ("/api/me"); unscripted requests get 404 {}.
    void on(const std::string& method, const std::string& path, Reply reply)
    {
        std::lock_guard lock(mutex_);
        replies_[method + " " + path] = std::move(reply);
    }

    std::vector<Received> received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

    std::vector<Received> received(const std::string& method, const std::string& path) const
    {
        std::vector<Received> out;
        for (Received& r : received())
            if (r.method == method && r.path == path)
                out.push_back(std::move(r));
        return out;
    }

    // The only request to `method` `path`; fails the test when there is not exactly one.
    Received only(const std::string& method, const std::string& path) const
    {
        auto all = received(method, path);
        EXPECT_EQ(all.size(), 1u) << method << " " << path;
        if (all.empty())
            return {};
        return all.front();
    }

private:
    void handle(const httplib::Request& req, httplib::Response& res)
    {
        Reply reply{404, "{}"};
        {
            std::lock_guard lock(mutex_);
            received_.push_back({req.method, req.path, req.target, req.body, req.headers, req.params});
            auto it = replies_.find(req.method + " " + req.path);
            if (it != replies_.end())
                reply = it->second;
        }
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

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<std::string, Reply> replies_;
    std::vector<Received> received_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline int deadPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

namespace detail {
template<class T>
struct AwaitState {
    bool done = false;
    std::optional<T> value;
    std::exception_ptr error;
};
template<>
struct AwaitState<void> {
    bool done = false;
    std::exception_ptr error;
};

template<class T>
QCoro::Task<void> driveTask(QCoro::Task<T> task, std::shared_ptr<AwaitState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            state->value.emplace(co_await std::move(task));
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
}
}  // namespace detail

// Runs the event loop until `task` ends and answers its value or rethrows its exception.
// (QCoro::waitFor never returns when the awaited task throws.) A task still running at the
// deadline fails the test with std::runtime_error.
template<class T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    auto state = std::make_shared<detail::AwaitState<T>>();
    auto driver = detail::driveTask(std::move(task), state);
    if (!runUntil([&] { return state->done; }, deadline))
        throw std::runtime_error("the task did not end before the deadline");
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

}  // namespace zafrel::test
