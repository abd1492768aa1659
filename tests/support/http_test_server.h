#pragma once
// The HTTP tests' server on 127.0.0.1 (every route they use) and a port that never answers.
#include "platform/http.h"
#include "support/async_wait.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zafrel::test {

// A request of `method` to `url` carrying `body`; everything else as HttpRequest has it.
inline HttpRequest makeRequest(std::string method, std::string url, QByteArray body = {},
                               std::chrono::milliseconds timeout = std::chrono::seconds(60))
{
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    request.timeout = timeout;
    return request;
}

// A port on 127.0.0.1 whose connections complete in the kernel's backlog and are never read.
class RawPort {
public:
    RawPort()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0
            || ::listen(fd_, 64) != 0)
            throw std::runtime_error("raw port: cannot bind 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    ~RawPort() { ::close(fd_); }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// The fixture of the HTTP tests. Routes:
//   GET /hello         "hola", with the headers "X-Greeting: first" and "x-greeting: second"
//   POST|PUT /echo     201, the body received
//   GET /status?code=C C, with a JSON body and "Location: /hello"
//   GET /sized?n=N[&code=C]  N bytes (status C, 200 by default);  GET /endless  an answer that never ends
//   GET /hold          an answer held back until the test ends
//   POST /login        sets "sid" (Max-Age), "lang" (Expires) and "tab" (a session cookie)
//   POST /logout       removes "sid";  GET /whoami  the Cookie header received
// Every request is kept in `seen` as it is answered.
class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_.new_task_queue = [] { return new httplib::ThreadPool(64); };
        // Idle keep-alive connections hold a worker thread; let them go soon after the test.
        server_.set_keep_alive_timeout(1);
        // Called with the body read and before the answer goes out.
        server_.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            std::lock_guard lock(mutex_);
            seen_.push_back(req);
        });
        server_.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Greeting", "first");
            res.set_header("x-greeting", "second");
            res.set_content("hola", "text/plain");
        });
        const auto echo = [](const httplib::Request& req, httplib::Response& res) {
            res.status = 201;
            res.set_content(req.body, "application/octet-stream");
        };
        server_.Post("/echo", echo);
        server_.Put("/echo", echo);
        server_.Get("/status", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.get_param_value("code"));
            res.set_header("Location", "/hello");
            res.set_content("{\"error\":\"boom\"}", "application/json");
        });
        server_.Get("/sized", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::string(std::stoul(req.get_param_value("n")), 'x'), "text/plain");
            if (req.has_param("code"))
                res.status = std::stoi(req.get_param_value("code"));
        });
        server_.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                return sink.write(std::string(64 * 1024, 'x').data(), 64 * 1024);
            });
        });
        server_.Get("/hold", [this](const httplib::Request&, httplib::Response&) {
            std::unique_lock lock(mutex_);
            ++held_;
            changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
        });
        server_.Post("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=abc123; Max-Age=86400; Path=/; HttpOnly");
            res.set_header("Set-Cookie", "lang=es; Expires=Fri, 01 Jan 2100 00:00:00 GMT; Path=/");
            res.set_header("Set-Cookie", "tab=7; Path=/");
        });
        server_.Post("/logout", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=; Max-Age=0; Path=/");
        });
        server_.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Cookie"), "text/plain");
        });
        const int port = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0) << "cannot bind 127.0.0.1";
        origin_ = "http://127.0.0.1:" + std::to_string(port);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only reaches a loop that is already running.
        ASSERT_TRUE(runUntil([this] { return server_.is_running(); }, std::chrono::seconds(10)));
    }

    void TearDown() override
    {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        }
        server_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    std::string url(const std::string& path) const { return origin_ + path; }

    Awaited<HttpResponse> send(HttpSession& session, HttpRequest request, std::stop_token stop = {})
    {
        return awaitTask(session.send(std::move(request), std::move(stop)));
    }
    Awaited<HttpResponse> send(HttpSession& session, const char* method, const std::string& path)
    {
        return send(session, makeRequest(method, url(path)));
    }

    // How many requests of "/hold" have come so far.
    int held()
    {
        std::lock_guard lock(mutex_);
        return held_;
    }
    // The requests answered since the last call.
    std::vector<httplib::Request> seen()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(seen_, {});
    }

private:
    httplib::Server server_;
    std::thread thread_;
    std::string origin_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<httplib::Request> seen_;
    int held_ = 0;
    bool released_ = false;
};

}  // namespace zafrel::test
