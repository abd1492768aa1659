// Ending requests early: a stop token fired while a request is out, while it waits for a
// connection, or before it starts, and a session destroyed with requests still pending.
#include "platform/errors.h"
#include "platform/http.h"
#include "support/async_wait.h"
#include "support/http_test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace zafrel;
using namespace std::chrono_literals;
using test::makeRequest;
using test::RawPort;
using test::StartedTask;
using test::TestHttpServer;

namespace {

// "/hold" answers only once the test releases it (or the fixture ends); "/quick" answers at once.
class HttpCancelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.server().Get("/hold", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock lock(mutex);
            ++holding;
            arrived.notify_all();
            released.wait_for(lock, 30s, [this] { return release; });
            res.set_content("held", "text/plain");
        });
        server.server().Get("/quick", [this](const httplib::Request&, httplib::Response& res) {
            ++quickCount;
            res.set_content("quick", "text/plain");
        });
        server.start();
    }

    void TearDown() override
    {
        releaseAll();
        server.stop();
    }

    void releaseAll()
    {
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    }

    int holdingNow()
    {
        std::lock_guard lock(mutex);
        return holding;
    }

    TestHttpServer server{16};
    std::mutex mutex;
    std::condition_variable arrived;
    std::condition_variable released;
    int holding = 0;
    bool release = false;
    std::atomic<int> quickCount{0};
};

}  // namespace

TEST_F(HttpCancelTest, StopWhileTheServerHoldsTheAnswerEndsWithCancelledWithinASecond)
{
    // One connection: the next request can only go once the stopped one has left it.
    HttpSession::Config oneConnection;
    oneConnection.maxConnectionsPerHost = 1;
    HttpSession session(oneConnection);
    std::stop_source stop;
    StartedTask<HttpResponse> request(session.send(makeRequest("GET", server.url("/hold")), stop.get_token()));
    ASSERT_TRUE(test::runUntil([&] { return holdingNow() == 1; }, 10s)) << "the request never reached the server";

    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    ASSERT_TRUE(request.waitEnded(5s));

    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_TRUE(request.result().threw<Cancelled>()) << request.result().message();
    EXPECT_EQ(request.result().message(), "Cancelado");

    // The stopped request is out of the session at once, not still waiting on its answer: the
    // session serves the next one while the server still holds the first.
    auto next = test::awaitTask(session.send(makeRequest("GET", server.url("/quick"))), 5s);
    ASSERT_TRUE(next.value) << next.message();
    EXPECT_EQ(next.value->body, QByteArray("quick"));
}

TEST_F(HttpCancelTest, StopWhileUploadingToAServerThatNeverReadsEndsWithCancelled)
{
    RawPort silent(true);
    HttpSession session(HttpSession::uploadConfig());
    std::atomic<int64_t> sent{0};
    HttpRequest upload = makeRequest("PUT", silent.url("/part"), QByteArray(32 * 1024 * 1024, 'x'));
    upload.onUploadProgress = [&sent](int64_t, int64_t total) { sent = total; };
    std::stop_source stop;
    StartedTask<HttpResponse> request(session.send(std::move(upload), stop.get_token()));
    // The socket buffers fill up and the upload stalls.
    ASSERT_TRUE(test::runUntil([&] { return sent > 0; }, 10s));

    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    ASSERT_TRUE(request.waitEnded(5s));

    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
    EXPECT_TRUE(request.result().threw<Cancelled>()) << request.result().message();
}

TEST_F(HttpCancelTest, StopWhileWaitingForAConnectionSlotNeverSendsTheRequest)
{
    HttpSession::Config config;
    config.maxConnectionsPerHost = 1;
    HttpSession session(config);
    StartedTask<HttpResponse> first(session.send(makeRequest("GET", server.url("/hold"))));
    ASSERT_TRUE(test::runUntil([&] { return holdingNow() == 1; }, 10s));
    std::stop_source stop;
    StartedTask<HttpResponse> queued(session.send(makeRequest("GET", server.url("/quick")), stop.get_token()));

    stop.request_stop();
    ASSERT_TRUE(queued.waitEnded(5s));
    EXPECT_TRUE(queued.result().threw<Cancelled>()) << queued.result().message();

    releaseAll();
    ASSERT_TRUE(first.waitEnded());
    ASSERT_TRUE(first.result().value) << first.result().message();
    EXPECT_EQ(first.result().value->body, QByteArray("held"));
    // The slot freed by the first request goes to the next one in line, not to the cancelled one.
    auto after = test::awaitTask(session.send(makeRequest("GET", server.url("/quick"))));
    ASSERT_TRUE(after.value) << after.message();
    EXPECT_EQ(quickCount, 1);
}

TEST_F(HttpCancelTest, StopRequestedBeforeSendingEndsWithCancelledAtOnce)
{
    HttpSession session({});
    std::stop_source stop;
    stop.request_stop();

    auto outcome = test::awaitTask(session.send(makeRequest("GET", server.url("/quick")), stop.get_token()), 5s);

    ASSERT_TRUE(outcome.ended);
    EXPECT_TRUE(outcome.threw<Cancelled>()) << outcome.message();
}

TEST_F(HttpCancelTest, StopAfterTheAnswerChangesNothing)
{
    HttpSession session({});
    std::stop_source stop;

    auto outcome = test::awaitTask(session.send(makeRequest("GET", server.url("/quick")), stop.get_token()));
    stop.request_stop();

    ASSERT_TRUE(outcome.value) << outcome.message();
    EXPECT_EQ(outcome.value->body, QByteArray("quick"));
}

TEST_F(HttpCancelTest, DestroyingTheSessionEndsItsPendingRequestsWithCancelled)
{
    auto session = std::make_unique<HttpSession>(HttpSession::uploadConfig());
    std::stop_source stop;
    StartedTask<HttpResponse> held(session->send(makeRequest("GET", server.url("/hold")), stop.get_token()));
    RawPort silent(true);
    HttpRequest upload = makeRequest("PUT", silent.url("/part"), QByteArray(8 * 1024 * 1024, 'y'));
    upload.onUploadProgress = [](int64_t, int64_t) {};
    StartedTask<HttpResponse> uploading(session->send(std::move(upload)));
    ASSERT_TRUE(test::runUntil([&] { return holdingNow() == 1; }, 10s));

    session.reset();
    ASSERT_TRUE(held.waitEnded(5s));
    ASSERT_TRUE(uploading.waitEnded(5s));

    EXPECT_TRUE(held.result().threw<Cancelled>()) << held.result().message();
    EXPECT_TRUE(uploading.result().threw<Cancelled>()) << uploading.result().message();
    // A stop after the session is gone finds nothing to do.
    stop.request_stop();
}
