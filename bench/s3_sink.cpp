// A throw-away object store for throughput measurements: answers every PUT with the MD5 ETag of the
// body it received (and forgets the body), every other request with an empty 200. It stands in for
// S3 where the real store of the local stand-in (s3rver, ~100-300 MB/s) would hide the client's
// own cost. HTTP/1.1 with keep-alive, Content-Length or chunked bodies, "Expect: 100-continue";
// one thread per connection, which is plenty for the at most 16 connections an uploader opens.
//
//   bench_s3_sink [--port N] [--latency MS]
//       prints "S3_SINK {"url":"http://127.0.0.1:PORT"}" and serves until SIGTERM/SIGINT; then
//       prints the bytes and requests it took. With --latency every answer is sent MS milliseconds
//       after its request arrived whole: one simulated round trip to a distant store.
//   GET /__sink/counters  {"puts":N,"putBytes":N}: the PUTs answered so far and their body bytes,
//       never delayed nor counted, so the benchmark can check that a run sent everything.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

std::atomic<long long> g_bytes{0};
std::atomic<long long> g_requests{0};
std::atomic<long long> g_puts{0};
std::atomic<long long> g_putBytes{0};
std::chrono::milliseconds g_latency{0};
volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

// Buffered reader over one socket; the body bytes pass straight from the buffer into the digest.
class Connection {
public:
    explicit Connection(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}
    ~Connection() { ::close(fd_); }

    void serve()
    {
        std::string method, target, headers;
        while (readHead(method, target, headers)) {
            const bool chunked = headerValue(headers, "transfer-encoding").find("chunked") != std::string::npos;
            const long long length = std::atoll(headerValue(headers, "content-length").c_str());
            if (headerValue(headers, "expect").find("100-continue") != std::string::npos
                && !writeAll("HTTP/1.1 100 Continue\r\n\r\n"))
                return;
            Digest digest;
            const bool ok = chunked ? readChunked(digest) : readBody(length, digest);
            if (!ok)
                return;
            std::string reply;
            if (method == "GET" && target == "/__sink/counters") {
                const std::string body = "{\"puts\":" + std::to_string(g_puts.load())
                    + ",\"putBytes\":" + std::to_string(g_putBytes.load()) + "}";
                reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                    + std::to_string(body.size()) + "\r\n\r\n" + body;
            } else {
                ++g_requests;
                if (g_latency.count() > 0)
                    std::this_thread::sleep_for(g_latency);
                if (method == "PUT") {
                    ++g_puts;
                    g_putBytes += digest.bytes();
                    reply = "HTTP/1.1 200 OK\r\nETag: \"" + digest.hex() + "\"\r\nContent-Length: 0\r\n\r\n";
                } else {
                    reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                }
            }
            if (!writeAll(reply))
                return;
            if (headerValue(headers, "connection").find("close") != std::string::npos)
                return;
        }
    }

private:
    static constexpr size_t kBufferSize = 1 << 20;

    class Digest {
    public:
        Digest() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr); }
        ~Digest() { EVP_MD_CTX_free(ctx_); }
        void update(const char* data, size_t n)
        {
            EVP_DigestUpdate(ctx_, data, n);
            bytes_ += (long long)n;
        }
        long long bytes() const { return bytes_; }
        std::string hex()
        {
            unsigned char md[EVP_MAX_MD_SIZE];
            unsigned int len = 0;
            EVP_DigestFinal_ex(ctx_, md, &len);
            static const char* digits = "0123456789abcdef";
            std::string out;
            for (unsigned i = 0; i < len; ++i) {
                out += digits[md[i] >> 4];
                out += digits[md[i] & 15];
            }
            return out;
        }

    private:
        EVP_MD_CTX* ctx_;
        long long bytes_ = 0;
    };

    bool fill()
    {
        if (begin_ == end_)
            begin_ = end_ = 0;
        else if (end_ == kBufferSize) {
            std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        const ssize_t n = ::recv(fd_, buffer_.get() + end_, kBufferSize - end_, 0);
        if (n <= 0)
            return false;
        end_ += size_t(n);
        return true;
    }

    bool readLine(std::string& line)
    {
        line.clear();
        for (;;) {
            for (size_t i = begin_; i < end_; ++i) {
                if (buffer_[i] == '\n') {
                    line.append(buffer_.get() + begin_, i - begin_);
                    begin_ = i + 1;
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    return true;
                }
            }
            line.append(buffer_.get() + begin_, end_ - begin_);
            begin_ = end_;
            if (line.size() > 65536 || !fill())
                return false;
        }
    }

    bool readHead(std::string& method, std::string& target, std::string& headers)
    {
        std::string line;
        do {
            if (!readLine(line))
                return false;
        } while (line.empty());
        const size_t space = line.find(' ');
        method = line.substr(0, space);
        target = space == std::string::npos ? std::string() : line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        headers.clear();
        while (readLine(line) && !line.empty()) {
            for (char& c : line) {
                if (c == ':')
                    break;
                c = char(std::tolower(static_cast<unsigned char>(c)));
            }
            headers += line;
            headers += '\n';
        }
        return true;
    }

    static std::string headerValue(const std::string& headers, const std::string& name)
    {
        size_t pos = 0;
        while (pos < headers.size()) {
            const size_t eol = headers.find('\n', pos);
            if (headers.compare(pos, name.size(), name) == 0 && headers[pos + name.size()] == ':') {
                std::string v = headers.substr(pos + name.size() + 1, eol - pos - name.size() - 1);
                while (!v.empty() && v.front() == ' ')
                    v.erase(0, 1);
                for (char& c : v)
                    c = char(std::tolower(static_cast<unsigned char>(c)));
                return v;
            }
            pos = eol + 1;
        }
        return {};
    }

    bool readBody(long long remaining, Digest& digest)
    {
        while (remaining > 0) {
            if (begin_ == end_ && !fill())
                return false;
            const size_t n = size_t(std::min<long long>(remaining, (long long)(end_ - begin_)));
            digest.update(buffer_.get() + begin_, n);
            begin_ += n;
            remaining -= (long long)n;
            g_bytes += (long long)n;
        }
        return true;
    }

    bool readChunked(Digest& digest)
    {
        std::string line;
        for (;;) {
            if (!readLine(line))
                return false;
            const long long size = std::strtoll(line.c_str(), nullptr, 16);
            if (size == 0) {
                while (readLine(line) && !line.empty()) {
                }
                return true;
            }
            if (!readBody(size, digest) || !readLine(line))
                return false;
        }
    }

    bool writeAll(const std::string& s)
    {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = ::send(fd_, s.data() + done, s.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

    int fd_;
    std::unique_ptr<char[]> buffer_;
    size_t begin_ = 0, end_ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--latency") == 0 && hasValue) {
            g_latency = std::chrono::milliseconds(std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--port N] [--latency MS]\n", argv[0]);
            return 2;
        }
    }

    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 128) != 0) {
        std::perror("s3_sink");
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("S3_SINK {\"url\":\"http://127.0.0.1:%d\"}\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    while (!g_stop) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd] { Connection(fd).serve(); }).detach();
    }
    ::close(listener);
    std::printf("S3_SINK_DONE {\"bytes\":%lld,\"requests\":%lld}\n", g_bytes.load(), g_requests.load());
    std::fflush(stdout);
    return 0;
}
