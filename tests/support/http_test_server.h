#pragma once
// Servers for tests, all on 127.0.0.1 and on free ports: a cpp-httplib server run on its own thread
// (the ground of every scripted server in the tests), a port that accepts connections but never
// answers, and a port that refuses them. Plus requests for them.
#include "platform/http.h"
#include "support/test_env.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zafrel::test {

// A request of `method` to `url` carrying `body`; everything else as HttpRequest has it.
inline HttpRequest makeRequest(std::string method, std::string url, QByteArray body = {})
{
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    return request;
}

// A cpp-httplib server. Register handlers on server() first, then start(); stop() (or the
// destructor) ends it. Handlers that block must be released before stopping.
class TestHttpServer {
public:
    explicit TestHttpServer(size_t threads = 8)
    {
        server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        // Idle keep-alive connections hold a worker thread; let them go soon after the test.
        server_.set_keep_alive_timeout(1);
    }
    ~TestHttpServer() { stop(); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& server() { return server_; }

    void start()
    {
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("test server: cannot bind 127.0.0.1");
        widenListenBacklog(port_);
        // Already listening: connections wait in the backlog until the loop accepts them.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() only reaches a loop that is already running: a server stopped before its thread
        // got going would keep listening and make the join hang.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!server_.is_running()) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("test server: the listening loop did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void stop()
    {
        if (!thread_.joinable())
            return;
        server_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return origin() + path; }

private:
    // cpp-httplib listens with a backlog of 5. A burst of connections beyond that, on a busy
    // machine, gets SYN retries and even resets from the kernel, which would read as transport
    // failures; calling listen() again on the socket raises the backlog.
    static void widenListenBacklog(int port)
    {
        for (int fd = 0; fd < 4096; ++fd) {
            int accepting = 0;
            socklen_t size = sizeof accepting;
            sockaddr_in address{};
            socklen_t length = sizeof address;
            if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting
                && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
                && address.sin_family == AF_INET && ntohs(address.sin_port) == port) {
                ::listen(fd, SOMAXCONN);
                return;
            }
        }
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

// Answers with `head`, then `chunk` over and over, `pause` apart, for as long as the client reads
// (at most `limit` bytes in all): an answer that never ends, or one that trickles.
inline void streamEndlessly(httplib::Response& res, std::string head, std::string chunk,
                            std::chrono::milliseconds pause = {}, size_t limit = size_t(1) << 40)
{
    res.set_chunked_content_provider("application/json", [head, chunk, pause, limit](size_t offset, httplib::DataSink& sink) {
        if (offset >= limit) {
            sink.done();
            return true;
        }
        std::this_thread::sleep_for(pause);
        const std::string& next = offset == 0 ? head : chunk;
        return sink.write(next.data(), next.size());
    });
}

// A socket bound to 127.0.0.1. listen(): connections complete in the kernel's backlog and what the
// client sends is never read nor answered. Without listen(): connections are refused.
class RawPort {
public:
    explicit RawPort(bool listening)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0
            || (listening && ::listen(fd_, 64) != 0))
            throw std::runtime_error("raw port: cannot bind 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    ~RawPort() { ::close(fd_); }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return origin() + path; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace zafrel::test
