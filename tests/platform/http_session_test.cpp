// Requests and responses through HttpSession against local servers: what goes on the wire, what
// comes back, and how failures without a response are reported.
#include "platform/errors.h"
#include "platform/http.h"
#include "support/async_wait.h"
#include "support/http_test_server.h"

#include <gtest/gtest.h>

#include <mutex>
#include <numeric>
#include <vector>

#include <sys/time.h>

using namespace zafrel;
using namespace std::chrono_literals;
using test::makeRequest;
using test::RawPort;
using test::awaitTask;
using test::TestHttpServer;

namespace {

struct SeenRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
    bool has(const std::string& name) const { return headers.find(name) != headers.end(); }
    std::string value(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& s = server.server();
        s.Get("/hello", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.set_header("X-Greeting", "first");
            res.set_header("x-greeting", "second");
            res.set_content("hola", "text/plain");
        });
        const auto echo = [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.status = 201;
            res.set_header("X-Length", std::to_string(req.body.size()));
            res.set_content(req.body, "application/octet-stream");
        };
        s.Post("/echo", echo);
        s.Put("/echo", echo);
        s.Get("/moved", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.status = 302;
            res.set_header("Location", "/hello");
        });
        s.Get("/sized", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::string(std::stoul(req.get_param_value("n")), 'x'), "text/plain");
        });
        // Sends for as long as anybody reads.
        s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
            test::streamEndlessly(res, "x", std::string(64 * 1024, 'x'));
        });
        s.Get("/broken", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.status = 500;
            res.set_content("{\"error\":\"boom\"}", "application/json");
        });
        server.start();
    }

    void record(const httplib::Request& req)
    {
        std::lock_guard lock(mutex);
        seen.push_back({req.method, req.path, req.headers, req.body});
    }

    SeenRequest only()
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? SeenRequest{} : seen.front();
    }

    HttpResponse send(HttpRequest request, HttpSession::Config config = {})
    {
        HttpSession session(std::move(config));
        auto outcome = awaitTask(session.send(std::move(request)));
        EXPECT_TRUE(outcome.ended);
        EXPECT_FALSE(outcome.error) << outcome.message();
        return outcome.value.value_or(HttpResponse{});
    }

    TestHttpServer server{32};
    std::mutex mutex;
    std::vector<SeenRequest> seen;
};

HttpRequest withTimeout(HttpRequest request, std::chrono::milliseconds timeout)
{
    request.timeout = timeout;
    return request;
}

// Reads one request head (up to the blank line) from a raw connection.
bool readRequestHead(int connection)
{
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(connection, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        received.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void writeAll(int connection, const std::string& text)
{
    [[maybe_unused]] const ssize_t written = ::write(connection, text.data(), text.size());
}

QByteArray patterned(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 31 + i / 7) & 0xff);
    return data;
}

}  // namespace

// Each request goes out with its method, its body and exactly the headers it was given: a body is
// announced by its length (0 for an empty PUT), never with "Expect" or chunks.
TEST_F(HttpSessionTest, RequestsCarryOnlyWhatTheyWereGiven)
{
    const std::string json = "{\"email\":\"ana@example.com\"}";
    const struct {
        const char* method;
        const char* path;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        int status;
    } cases[] = {
        {"GET", "/hello", "", {}, 200},
        {"HEAD", "/hello", "", {}, 200},
        {"POST", "/echo", json, {{"Content-Type", "application/json"}, {"Accept", "application/json"}}, 201},
        {"POST", "/echo", "a=1", {}, 201},
        {"PUT", "/echo", "", {}, 201},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.body);
        {
            std::lock_guard lock(mutex);
            seen.clear();
        }
        HttpRequest request = makeRequest(c.method, server.url(c.path), QByteArray::fromStdString(c.body));
        request.headers = c.headers;
        const HttpResponse response = send(std::move(request));
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body.toStdString(), std::string(c.method) == "GET" ? "hola" : c.body);
        const SeenRequest sent = only();
        EXPECT_EQ(sent.method, c.method);
        EXPECT_EQ(sent.body, c.body);
        for (const char* name : {"Content-Type", "Accept"}) {
            std::string given;
            for (const auto& [n, v] : c.headers)
                given = n == name ? v : given;
            EXPECT_EQ(sent.value(name), given) << name;
        }
        EXPECT_FALSE(sent.has("Cookie"));
        EXPECT_FALSE(sent.has("Expect"));
        EXPECT_FALSE(sent.has("Transfer-Encoding"));
        if (std::string(c.method) == "POST" || std::string(c.method) == "PUT")
            EXPECT_EQ(sent.value("Content-Length"), std::to_string(c.body.size()));
    }
    // Headers come back in the order received; a lookup ignores case and takes the first.
    const HttpResponse hello = send(makeRequest("GET", server.url("/hello")));
    EXPECT_EQ(hello.header("X-GREETING"), "first");
    EXPECT_EQ(hello.header("content-type"), "text/plain");
    EXPECT_EQ(hello.header("X-Missing"), std::nullopt);
    std::vector<std::string> greetings;
    for (const auto& [name, value] : hello.headers)
        if (name == "X-Greeting" || name == "x-greeting")
            greetings.push_back(value);
    EXPECT_EQ(greetings, (std::vector<std::string>{"first", "second"}));
}

TEST_F(HttpSessionTest, LargePutArrivesByteForByteWithProgressAddingUpToItsSize)
{
    const QByteArray body = patterned(5 * 1024 * 1024 + 123);
    std::mutex progressMutex;
    std::vector<std::pair<int64_t, int64_t>> calls;
    HttpRequest request = makeRequest("PUT", server.url("/echo"), body);
    request.headers = {{"Content-Type", "application/octet-stream"}};
    request.onUploadProgress = [&](int64_t increment, int64_t total) {
        std::lock_guard lock(progressMutex);
        calls.emplace_back(increment, total);
    };

    const HttpResponse response = send(std::move(request), HttpSession::uploadConfig());

    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.header("X-Length"), std::to_string(body.size()));
    EXPECT_TRUE(response.body == body);
    const SeenRequest seenRequest = only();
    EXPECT_EQ(seenRequest.method, "PUT");
    EXPECT_TRUE(seenRequest.body == body.toStdString());
    EXPECT_EQ(seenRequest.value("Content-Length"), std::to_string(body.size()));
    EXPECT_FALSE(seenRequest.has("Expect"));
    EXPECT_FALSE(seenRequest.has("Transfer-Encoding"));

    std::lock_guard lock(progressMutex);
    ASSERT_FALSE(calls.empty());
    int64_t sum = 0;
    int64_t previousTotal = 0;
    for (const auto& [increment, total] : calls) {
        EXPECT_GT(increment, 0);
        EXPECT_EQ(total, previousTotal + increment);
        sum += increment;
        previousTotal = total;
    }
    EXPECT_EQ(sum, body.size());
}

TEST_F(HttpSessionTest, RedirectsAndErrorStatusesAreResponsesNotFollowed)
{
    HttpSession session({});
    auto moved = awaitTask(session.send(makeRequest("GET", server.url("/moved"))));
    ASSERT_TRUE(moved.value) << moved.message();
    EXPECT_EQ(moved.value->status, 302);
    EXPECT_EQ(moved.value->header("Location"), "/hello");

    auto broken = awaitTask(session.send(makeRequest("GET", server.url("/broken"))));
    ASSERT_TRUE(broken.value) << broken.message();
    EXPECT_EQ(broken.value->status, 500);
    EXPECT_EQ(broken.value->body, QByteArray("{\"error\":\"boom\"}"));

    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path, "/moved");
    EXPECT_EQ(seen[1].path, "/broken");
}

TEST_F(HttpSessionTest, ManyRequestsAtOnceAllGetTheirOwnAnswer)
{
    HttpSession session(HttpSession::uploadConfig());
    std::vector<std::unique_ptr<test::StartedTask<HttpResponse>>> tasks;
    for (int i = 0; i < 20; ++i) {
        const QByteArray body = QByteArray::number(i).repeated(i + 1);
        tasks.push_back(std::make_unique<test::StartedTask<HttpResponse>>(
            session.send(makeRequest("POST", server.url("/echo"), body))));
    }
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(tasks[i]->waitEnded());
        const auto& outcome = tasks[i]->result();
        ASSERT_TRUE(outcome.value) << outcome.message();
        EXPECT_EQ(outcome.value->body, QByteArray::number(i).repeated(i + 1));
    }
}

TEST_F(HttpSessionTest, AnAnswerPastItsBoundIsCutOffAndNamesTheServer)
{
    HttpSession session({});
    const std::pair<const char*, bool> cases[] = {{"/sized?n=100000", true}, {"/sized?n=100001", false}, {"/endless", false}};
    for (const auto& [path, fits] : cases) {
        HttpRequest request = makeRequest("GET", server.url(path));
        request.maxResponseBytes = 100000;
        auto outcome = awaitTask(session.send(std::move(request)));
        ASSERT_TRUE(outcome.ended) << path;
        if (fits) {
            EXPECT_EQ(outcome.get().body.size(), 100000) << path;
            continue;
        }
        EXPECT_TRUE(outcome.threw<ResponseTooLarge>()) << path << ": " << outcome.message();
        EXPECT_NE(outcome.message().find("La respuesta de 127.0.0.1 era demasiado grande"), std::string::npos)
            << outcome.message();
    }
}

TEST_F(HttpSessionTest, AHeaderValueWithALineBreakIsNeverSent)
{
    HttpSession session({});
    HttpRequest request = makeRequest("GET", server.url("/hello"));
    request.headers.emplace_back("Content-Type", "text/plain\r\nX-Injected: yes");
    auto outcome = awaitTask(session.send(std::move(request)));
    EXPECT_TRUE(outcome.threw<TransportError>()) << outcome.message();
    std::lock_guard lock(mutex);
    EXPECT_TRUE(seen.empty());
}

// No answer at all: each way ends in a TransportError whose short Spanish text names the host;
// libcurl's wording is kept apart for the report and tooltips.
TEST(HttpTransportFailure, EachWayWithoutAnAnswerIsATransportErrorNamingTheHost)
{
    RawPort refusing(false);
    RawPort silent(true);
    HttpSession::Config shortTotal;
    shortTotal.totalTimeout = 1500ms;
    const struct {
        const char* what;
        std::string url;
        std::chrono::milliseconds idle;
        HttpSession::Config config;
        std::string message;   // contained in what()
        std::string detail;    // contained in the technical detail
    } cases[] = {
        {"refused", refusing.url("/api/me"), 5s, {}, "No se pudo conectar con 127.0.0.1", "Couldn't connect to server"},
        {"unsupported scheme", "ftp://127.0.0.1/file", 5s, {}, "ftp://127.0.0.1/file", ""},
        // The idle timer is libcurl's speed check: whole seconds, over a window of a few seconds.
        {"idle", silent.url("/slow"), 1s, {}, "Se agotó el tiempo de espera de 127.0.0.1", ""},
        {"session deadline", silent.url("/slow"), 600s, shortTotal, "127.0.0.1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HttpSession session(c.config);
        auto outcome = awaitTask(session.send(withTimeout(makeRequest("GET", c.url), c.idle)), 30s);
        ASSERT_TRUE(outcome.ended);
        ASSERT_TRUE(outcome.threw<TransportError>()) << outcome.message();
        EXPECT_NE(outcome.message().find(c.message), std::string::npos) << outcome.message();
        EXPECT_NE(technicalDetailOf(outcome.error).find(c.detail), std::string::npos);
    }
}

// A server answering with an interim 100 block before the final one, written by hand because
// test servers do not send interim responses on their own.
TEST(HttpInterimResponse, OnlyTheFinalResponsesHeadersAreKept)
{
    RawPort listening(true);
    std::thread answer([fd = listening.fd()] {
        const int connection = ::accept(fd, nullptr, nullptr);
        if (connection < 0)
            return;
        if (readRequestHead(connection))
            writeAll(connection, "HTTP/1.1 100 Continue\r\nX-Interim: yes\r\n\r\n"
                                 "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
        ::close(connection);
    });
    HttpSession session({});

    auto outcome = awaitTask(session.send(withTimeout(makeRequest("GET", listening.url("/interim")), 5s)));
    answer.join();

    ASSERT_TRUE(outcome.value) << outcome.message();
    EXPECT_EQ(outcome.value->status, 200);
    EXPECT_EQ(outcome.value->header("X-Final"), "yes");
    EXPECT_EQ(outcome.value->header("X-Interim"), std::nullopt);
    EXPECT_EQ(outcome.value->body, QByteArray("ok"));
}

// A kept-alive connection that the server drops (with a reset) just as the next request goes out
// on it: that request was never answered, so libcurl sends it again on a new connection, which
// needs the body rewound to its start.
TEST(HttpStaleConnection, RequestOnAConnectionResetBeforeAnyAnswerIsRetriedOnANewOne)
{
    RawPort listening(true);
    int connections = 0;
    // Without a retry no second connection comes: give up waiting for it after a while.
    const timeval acceptTimeout{10, 0};
    ::setsockopt(listening.fd(), SOL_SOCKET, SO_RCVTIMEO, &acceptTimeout, sizeof acceptTimeout);
    std::thread serve([fd = listening.fd(), &connections] {
        const int first = ::accept(fd, nullptr, nullptr);
        if (first < 0)
            return;
        ++connections;
        if (readRequestHead(first))
            writeAll(first, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst");
        if (readRequestHead(first)) {
            const linger reset{1, 0};
            ::setsockopt(first, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(first);
        const int second = ::accept(fd, nullptr, nullptr);
        if (second < 0)
            return;
        ++connections;
        if (readRequestHead(second))
            writeAll(second, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecond");
        ::close(second);
    });
    HttpSession session({});

    auto first = awaitTask(session.send(withTimeout(makeRequest("PUT", listening.url("/one"), "1"), 5s)));
    auto second = awaitTask(session.send(withTimeout(makeRequest("PUT", listening.url("/two"), "2"), 5s)));
    serve.join();

    ASSERT_TRUE(first.value) << first.message();
    EXPECT_EQ(first.value->body, QByteArray("first"));
    ASSERT_TRUE(second.value) << second.message();
    EXPECT_EQ(second.value->body, QByteArray("second"));
    EXPECT_EQ(connections, 2);
}
