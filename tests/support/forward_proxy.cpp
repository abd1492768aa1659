#include "support/forward_proxy.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zafrel::test {

namespace {

bool sendAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

int connectTo(const std::string& host, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    // The tests' servers are all on this machine: nothing else is ever reached.
    ::inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &address.sin_addr);
    if (address.sin_addr.s_addr != htonl(INADDR_LOOPBACK)
        || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Copies both ways until either side closes.
void relay(int a, int b)
{
    char buffer[64 * 1024];
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    while (::poll(fds, 2, 30000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n <= 0 || !sendAll(fds[1 - i].fd, buffer, size_t(n)))
                return;
        }
    }
}

}  // namespace

ForwardProxy::ForwardProxy()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0
        || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

ForwardProxy::~ForwardProxy()
{
    stopping_ = true;
    if (listener_ >= 0)
        ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (const int fd : openSockets_)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& connection : connections_)
        connection.join();
    for (const int fd : openSockets_)
        ::close(fd);
    if (listener_ >= 0)
        ::close(listener_);
}

std::vector<std::string> ForwardProxy::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void ForwardProxy::acceptLoop()
{
    while (!stopping_) {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0)
            return;
        std::lock_guard lock(mutex_);
        openSockets_.push_back(client);
        connections_.emplace_back([this, client] { serve(client); });
    }
}

void ForwardProxy::serve(int client)
{
    // However the request ends, the client hears the end at once; the socket itself is closed with
    // the proxy.
    struct EndOfAnswer {
        int fd;
        ~EndOfAnswer() { ::shutdown(fd, SHUT_RDWR); }
    } endOfAnswer{client};

    // The request's head, up to its blank line; whatever of the body came with it is kept.
    std::string head;
    char buffer[8192];
    size_t end = std::string::npos;
    while (end == std::string::npos && head.size() < 64 * 1024) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, size_t(n));
        end = head.find("\r\n\r\n");
    }
    if (end == std::string::npos)
        return;
    const std::string rest = head.substr(end + 4);
    head.resize(end + 2);
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(requestLine);
    }
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.rfind(' ');
    const std::string method = requestLine.substr(0, space1);
    const std::string target = requestLine.substr(space1 + 1, space2 - space1 - 1);

    int upstream = -1;
    if (method == "CONNECT") {
        const size_t colon = target.rfind(':');
        upstream = connectTo(target.substr(0, colon), std::stoi(target.substr(colon + 1)));
        const std::string answer = upstream >= 0 ? "HTTP/1.1 200 Connection established\r\n\r\n"
                                                 : "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n";
        if (!sendAll(client, answer.data(), answer.size()) || upstream < 0)
            return;
        if (!rest.empty() && !sendAll(upstream, rest.data(), rest.size())) {
            ::close(upstream);
            return;
        }
    } else {
        // "http://host:port/path?query": the path is passed on byte for byte (a signature covers it).
        const size_t authority = target.find("://") + 3;
        const size_t pathStart = std::min(target.find('/', authority), target.size());
        const std::string hostPort = target.substr(authority, pathStart - authority);
        const size_t colon = hostPort.rfind(':');
        upstream = connectTo(hostPort.substr(0, colon), colon == std::string::npos ? 80 : std::stoi(hostPort.substr(colon + 1)));
        if (upstream < 0) {
            const std::string answer = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            sendAll(client, answer.data(), answer.size());
            return;
        }
        // Origin form for the server, one request per connection, and no proxy headers passed on.
        const std::string path = pathStart < target.size() ? target.substr(pathStart) : "/";
        std::string forwarded = method + ' ' + path + requestLine.substr(space2) + "\r\n";
        for (size_t at = head.find("\r\n") + 2; at < head.size();) {
            const size_t next = head.find("\r\n", at);
            const std::string line = head.substr(at, next - at);
            at = next + 2;
            const std::string lower = QString::fromStdString(line).toLower().toStdString();
            if (lower.starts_with("connection:") || lower.starts_with("proxy-connection:"))
                continue;
            forwarded += line + "\r\n";
        }
        forwarded += "Connection: close\r\n\r\n" + rest;
        if (!sendAll(upstream, forwarded.data(), forwarded.size())) {
            ::close(upstream);
            return;
        }
    }
    relay(client, upstream);
    ::close(upstream);
}

}  // namespace zafrel::test
