// HttpSession against local servers: the wire, failures without an answer, requests ended early, the cap.
#include "platform/errors.h"
#include "platform/send_rate_limiter.h"
#include "support/http_test_server.h"

#include <QRandomGenerator>

using namespace zafrel;
using namespace std::chrono_literals;
using test::makeRequest;
using test::RawPort;
using test::StartedTask;
using HttpSessionTest = test::HttpServerTest;
using HttpCancelTest = test::HttpServerTest;
using SendRateTest = test::HttpServerTest;

// Exactly the headers given; a body announced by its length (0 for an empty PUT), never with
// "Expect" or chunks. Any status is an answer, and a redirect is not followed.
TEST_F(HttpSessionTest, RequestsCarryOnlyWhatTheyWereGivenAndEveryStatusIsAnAnswer)
{
    const std::string json = "{\"email\":\"ana@example.com\"}";
    const struct {
        const char* method;
        const char* path;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        int status;
        std::string answer;
    } cases[] = {
        {"GET", "/hello", "", {}, 200, "hola"},
        {"POST", "/echo", json, {{"Content-Type", "application/json"}, {"Accept", "application/json"}}, 201, json},
        {"POST", "/echo", "a=1", {}, 201, "a=1"},
        {"PUT", "/echo", "", {}, 201, ""},
        {"GET", "/status?code=302", "", {}, 302, "{\"error\":\"boom\"}"},
    };
    HttpSession session({});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        HttpRequest request = makeRequest(c.method, url(c.path), QByteArray::fromStdString(c.body));
        request.headers = c.headers;
        const HttpResponse response = send(session, std::move(request)).get();
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body.toStdString(), c.answer);
        const auto sent = seen();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].method, c.method);
        EXPECT_EQ(sent[0].body, c.body);
        const std::string given = c.headers.empty() ? "" : "application/json";   // no default type added
        EXPECT_EQ(sent[0].get_header_value("Content-Type") + "|" + sent[0].get_header_value("Accept"), given + "|" + given);
        for (const char* name : {"Cookie", "Expect", "Transfer-Encoding"})
            EXPECT_FALSE(sent[0].has_header(name)) << name;
        const bool carriesBody = c.method == std::string("POST") || c.method == std::string("PUT");
        EXPECT_EQ(sent[0].get_header_value("Content-Length"), carriesBody ? std::to_string(c.body.size()) : "");
    }
    // Headers come back in the order received; a lookup ignores case and takes the first.
    const HttpResponse hello = send(session, "GET", "/hello").get();
    EXPECT_EQ(hello.header("X-GREETING"), "first");
    EXPECT_EQ(hello.header("content-type"), "text/plain");
    EXPECT_EQ(hello.header("X-Missing"), std::nullopt);
}

// Each way without a whole answer names the host in Spanish; libcurl's wording is kept apart.
TEST_F(HttpSessionTest, EachWayWithoutAWholeAnswerIsAnErrorNamingTheHost)
{
    RawPort silent;
    HttpSession::Config shortTotal;
    shortTotal.totalTimeout = 1500ms;
    const auto get = [](std::string url, std::chrono::milliseconds idle = 5s, int64_t bound = 0) {
        HttpRequest request = makeRequest("GET", std::move(url), {}, idle);
        request.maxResponseBytes = bound;
        return request;
    };
    HttpRequest injecting = get(url("/hello"));
    injecting.headers.emplace_back("Content-Type", "text/plain\r\nX-Injected: yes");
    const std::string tooLarge = "La respuesta de 127.0.0.1 era demasiado grande";
    const struct {
        const char* what;
        HttpRequest request;
        HttpSession::Config config;
        std::string message;   // contained in what()
        std::string detail;    // contained in the technical detail
    } cases[] = {
        {"refused", get("http://127.0.0.1:1/api/me"), {}, "No se pudo conectar con 127.0.0.1", "Couldn't connect to server"},
        // The idle timer is libcurl's speed check: whole seconds, over a window of a few seconds.
        {"idle", get(silent.url("/slow"), 1s), {}, "Se agotó el tiempo de espera de 127.0.0.1", ""},
        {"session deadline", get(silent.url("/slow"), 600s), shortTotal, "127.0.0.1", ""},
        {"a line break in a header", injecting, {}, "", ""},
        {"announced past the bound", get(url("/sized?n=100001"), 5s, 100000), {}, tooLarge, ""},
        {"endless", get(url("/endless"), 5s, 100000), {}, tooLarge, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HttpSession session(c.config);
        const auto outcome = send(session, c.request);
        EXPECT_TRUE(c.message == tooLarge ? outcome.threw<ResponseTooLarge>() : outcome.threw<TransportError>())
            << outcome.message();
        EXPECT_NE(outcome.message().find(c.message), std::string::npos) << outcome.message();
        EXPECT_NE(technicalDetailOf(outcome.error).find(c.detail), std::string::npos);
    }
    EXPECT_TRUE(std::ranges::none_of(seen(), [](const auto& r) { return r.path == "/hello"; }));
    HttpSession session({});
    EXPECT_EQ(send(session, get(url("/sized?n=100000"), 5s, 100000)).get().body.size(), 100000);
    // An error answer past its own bound is still the answer, its body kept only up to that bound.
    HttpRequest failing = get(url("/sized?n=1000000&code=500"), 5s, 100000);
    failing.maxErrorBodyBytes = 65536;
    const HttpResponse failed = send(session, failing).get();
    EXPECT_EQ(std::tuple(failed.status, failed.body.size()), std::tuple(500, 65536));
}

// One connection to the host: a request stopped before it starts or while it waits for it is never
// sent; one stopped while the server holds its answer ends at once and frees it for the next.
TEST_F(HttpCancelTest, AStoppedRequestEndsAtOnceAndFreesItsConnection)
{
    HttpSession::Config oneConnection;
    oneConnection.maxConnectionsPerHost = 1;
    HttpSession session(oneConnection);
    std::stop_source stopHeld, stopQueued, early, late;
    early.request_stop();
    EXPECT_TRUE(send(session, makeRequest("GET", url("/hello")), early.get_token()).threw<Cancelled>());
    StartedTask<HttpResponse> holding(session.send(makeRequest("GET", url("/hold")), stopHeld.get_token()));
    ASSERT_TRUE(test::runUntil([&] { return held() == 1; })) << "the request never reached the server";
    StartedTask<HttpResponse> queued(session.send(makeRequest("GET", url("/hello")), stopQueued.get_token()));
    stopQueued.request_stop();
    ASSERT_TRUE(queued.waitEnded(5s));
    EXPECT_TRUE(queued.result().threw<Cancelled>()) << queued.result().message();

    stopHeld.request_stop();
    ASSERT_TRUE(holding.waitEnded(5s));
    EXPECT_TRUE(holding.result().threw<Cancelled>()) << holding.result().message();
    EXPECT_EQ(holding.result().message(), "Cancelado");
    auto next = send(session, makeRequest("GET", url("/sized?n=5")), late.get_token());
    late.request_stop();
    EXPECT_EQ(next.get().body, "xxxxx");
    const auto answered = seen();   // the first is still held
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].path, "/sized");
}

// Uploads to a server that never reads stall in the socket buffers; a later stop finds nothing to stop.
TEST_F(HttpCancelTest, UploadsUnderWayEndWithCancelledWhenTheirSessionGoes)
{
    RawPort silent;
    const QByteArray body(8 * 1024 * 1024, 'x');
    auto session = std::make_unique<HttpSession>(HttpSession::uploadConfig());
    std::stop_source stop;
    std::atomic<int> started = 0;
    std::vector<StartedTask<HttpResponse>> uploads;
    uploads.reserve(2);
    for (const char* part : {"/1", "/2"}) {
        HttpRequest upload = makeRequest("PUT", silent.url(part), body);
        upload.onUploadProgress = [&started](int64_t increment, int64_t total) { started += increment == total; };
        uploads.emplace_back(session->send(std::move(upload), stop.get_token()));
    }
    ASSERT_TRUE(test::runUntil([&] { return started == 2; }));
    session.reset();
    for (auto& upload : uploads) {
        ASSERT_TRUE(upload.waitEnded(5s));
        EXPECT_TRUE(upload.result().threw<Cancelled>()) << upload.result().message();
    }
    stop.request_stop();
}

// Under a cap the bucket goes out in turns, one chunk (a twentieth of a second's worth) per
// waiting body in the order they came: a small body is never starved by a big one, and a body
// waits for a whole chunk instead of sending the crumbs that build up between two reads.
TEST(SendRateLimiter, HandsOutWholeChunksInTurns)
{
    const auto t0 = SendRateLimiter::Clock::time_point{} + 1h;
    SendRateLimiter limiter;
    EXPECT_EQ(limiter.take(1, 5'000'000, t0), 5'000'000u) << "no cap: everything at once";

    limiter.setRate(1'000'000);   // chunks of 50,000 bytes
    const auto grant = [&limiter](SendRateLimiter::Clock::time_point at) {   // the bodies it wakes
        std::vector<uint64_t> woken;
        limiter.grant(at, woken);
        return woken;
    };
    struct Step {
        std::chrono::microseconds at;
        uint64_t who;                 // 0: a grant() instead of a take()
        size_t wanted;
        size_t granted;               // take(): what it gives; grant(): the body woken (0: none)
        std::chrono::microseconds next;   // untilNextGrant() afterwards
    } steps[] = {
        {0us, 1, 2'000'000, 0, 50ms},      // a new cap starts empty: the clip waits
        {0us, 2, 20'000, 0, 50ms},         // and the small file behind it
        {30ms, 0, 0, 0, 20ms},             // 30,000 bytes: not a whole chunk yet
        {30ms, 1, 2'000'000, 0, 20ms},     // asking again does not jump the line
        {50ms, 0, 0, 1, 20ms},             // the clip's turn: one chunk
        {50ms, 1, 2'000'000, 50'000, 20ms},
        {50ms, 1, 2'000'000, 0, 20ms},     // back in line, behind the small file (20,000 bytes)
        {55ms, 3, 1'000, 0, 15ms},         // nobody jumps the line, however little it asks
        {70ms, 0, 0, 2, 50ms},
        {70ms, 2, 20'000, 20'000, 50ms},
    };
    for (const Step& step : steps) {
        const auto at = t0 + step.at;
        if (step.who != 0) {
            EXPECT_EQ(limiter.take(step.who, step.wanted, at), step.granted) << "take at " << step.at.count() << " us";
        } else {
            EXPECT_EQ(grant(at), step.granted ? std::vector<uint64_t>{step.granted} : std::vector<uint64_t>{})
                << "grant at " << step.at.count() << " us";
        }
        EXPECT_EQ(limiter.untilNextGrant(at), step.next) << "at " << step.at.count() << " us";
    }
    // A body that ended leaves the line; after an idle moment the bucket holds a quarter of a
    // second's worth and a lone body takes its chunk straight away.
    limiter.forget(1);
    limiter.forget(3);
    EXPECT_TRUE(grant(t0 + 5s).empty());
    for (int turn = 0; turn < 5; ++turn)
        EXPECT_EQ(limiter.take(4, 1'000'000, t0 + 5s), 50'000u) << "turn " << turn;

    // Removing the cap wakes everyone in line.
    EXPECT_EQ(limiter.take(7, 1'000'000, t0 + 5s), 0u);
    limiter.setRate(0);
    EXPECT_EQ(grant(t0 + 5s), std::vector<uint64_t>{7});
    EXPECT_EQ(limiter.take(7, 7, t0 + 5s), 7u);
}

// A part (read in big pieces), bodies past libcurl's "Expect" size and one small enough to go with its
// headers, capped (held back and woken many times) or not: each arrives whole with its length
// announced, and its progress adds up to its size.
TEST_F(SendRateTest, BodiesArriveWholeWithProgressAddingUpToTheirSizeCappedOrNot)
{
    const std::vector<qsizetype> sizes = {3 * 1024 * 1024 + 124, 1'500'000, 200'000, 200'000, 10'000};
    for (const int64_t rate : {int64_t(4'000'000), int64_t(0)}) {
        SCOPED_TRACE(rate);
        HttpSession session(HttpSession::uploadConfig());
        session.setSendRate(rate);
        std::mutex mutex;   // progress comes on the I/O thread
        std::vector<int64_t> progressed(sizes.size());
        bool steady = true;
        std::vector<QByteArray> bodies;
        std::vector<test::StartedTask<HttpResponse>> tasks;
        tasks.reserve(sizes.size());
        for (size_t i = 0; i < sizes.size(); ++i) {
            QByteArray body(sizes[i], Qt::Uninitialized);
            QRandomGenerator(i + 1).fillRange(reinterpret_cast<quint32*>(body.data()), body.size() / 4);
            bodies.push_back(body);
            HttpRequest request = test::makeRequest("PUT", url("/echo"), body);
            request.onUploadProgress = [&, i](int64_t increment, int64_t total) {
                std::lock_guard lock(mutex);
                steady = steady && increment > 0 && total == progressed[i] + increment;
                progressed[i] = total;
            };
            tasks.emplace_back(session.send(std::move(request)));
        }
        for (size_t i = 0; i < sizes.size(); ++i) {
            ASSERT_TRUE(tasks[i].waitEnded(60s));
            EXPECT_TRUE(tasks[i].take().get().body == bodies[i]) << "body " << i;
        }
        for (const auto& request : seen()) {
            EXPECT_EQ(request.get_header_value("Content-Length"), std::to_string(request.body.size()));
            EXPECT_FALSE(request.has_header("Expect") || request.has_header("Transfer-Encoding")
                         || request.has_header("Content-Type"));
        }
        std::lock_guard lock(mutex);
        EXPECT_TRUE(steady);
        EXPECT_EQ(progressed, std::vector<int64_t>(sizes.begin(), sizes.end()));
    }
}
