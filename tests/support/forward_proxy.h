#pragma once
// A small HTTP proxy on 127.0.0.1 for tests: forwards plain requests written with an absolute URL
// ("GET http://host:port/path") and tunnels CONNECT, one request per connection, and keeps a log of
// what it was asked. Stops (and joins its threads) when the object goes.
#include <QString>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zafrel::test {

class ForwardProxy {
public:
    ForwardProxy();
    ~ForwardProxy();
    ForwardProxy(const ForwardProxy&) = delete;
    ForwardProxy& operator=(const ForwardProxy&) = delete;

    bool started() const { return listener_ >= 0; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

    // Request lines as received ("PUT http://127.0.0.1:5123/bucket/key?… HTTP/1.1", "CONNECT …").
    std::vector<std::string> requests() const;

private:
    void acceptLoop();
    void serve(int client);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<std::thread> connections_;
    std::vector<int> openSockets_;
};

}  // namespace zafrel::test
