// Ending requests early: a stop token fired while a request is out, while it waits for a
// connection, before it starts or after its answer, and a session destroyed with requests pending.
#include "platform/errors.h"
#include "support/http_test_server.h"

using namespace zafrel;
using namespace std::chrono_literals;
using test::makeRequest;
using test::StartedTask;
using HttpCancelTest = test::HttpServerTest;

// One connection to the host. A request stopped while it waits for that connection is never sent;
// one stopped while the server holds its answer ends at once and leaves the connection to the next
// request, though the server still holds the first.
TEST_F(HttpCancelTest, AStoppedRequestEndsAtOnceAndFreesItsConnection)
{
    HttpSession::Config oneConnection;
    oneConnection.maxConnectionsPerHost = 1;
    HttpSession session(oneConnection);
    std::stop_source stopHeld, stopQueued;
    StartedTask<HttpResponse> holding(session.send(makeRequest("GET", url("/hold")), stopHeld.get_token()));
    ASSERT_TRUE(test::runUntil([&] { return mostHeld() == 1; })) << "the request never reached the server";
    StartedTask<HttpResponse> queued(session.send(makeRequest("GET", url("/hello")), stopQueued.get_token()));
    stopQueued.request_stop();
    ASSERT_TRUE(queued.waitEnded(5s));
    EXPECT_TRUE(queued.result().threw<Cancelled>()) << queued.result().message();

    stopHeld.request_stop();
    ASSERT_TRUE(holding.waitEnded(5s));
    EXPECT_TRUE(holding.result().threw<Cancelled>()) << holding.result().message();
    EXPECT_EQ(holding.result().message(), "Cancelado");
    auto next = test::awaitTask(session.send(makeRequest("GET", url("/sized?n=5"))), 5s);
    EXPECT_EQ(next.get().body, "xxxxx");
    std::vector<std::string> paths;
    for (const auto& request : seen())
        paths.push_back(request.path);
    EXPECT_EQ(paths, std::vector<std::string>{"/sized"});   // the first is still held
}

// Uploads to a server that never reads: their bodies stall in the socket buffers.
TEST_F(HttpCancelTest, UploadsUnderWayEndWithCancelledWhenStoppedOrWhenTheirSessionGoes)
{
    test::RawPort silent(true);
    const QByteArray body(8 * 1024 * 1024, 'x');
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "session destroyed" : "stopped");
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
        if (destroy)
            session.reset();
        else
            stop.request_stop();
        for (auto& upload : uploads) {
            ASSERT_TRUE(upload.waitEnded(5s));
            EXPECT_TRUE(upload.result().threw<Cancelled>()) << upload.result().message();
        }
        stop.request_stop();   // with the session gone, nothing is left to stop
    }
}

TEST_F(HttpCancelTest, AStopBeforeSendingEndsTheRequestAndOneAfterTheAnswerChangesNothing)
{
    HttpSession session({});
    std::stop_source early, late;
    early.request_stop();
    EXPECT_TRUE(send(session, makeRequest("GET", url("/hello")), early.get_token()).threw<Cancelled>());
    auto answered = send(session, makeRequest("GET", url("/hello")), late.get_token());
    late.request_stop();
    EXPECT_EQ(answered.get().body, "hola");
    EXPECT_EQ(seen().size(), 1u);
}
