// How many requests a session has open with one host at the same time.
#include "platform/http.h"
#include "support/async_wait.h"
#include "support/http_test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

using namespace zafrel;
using namespace std::chrono_literals;
using test::StartedTask;
using test::TestHttpServer;

namespace {

// Every request is held until more than `limit` requests are open at once (proof that the limit
// was broken) or a while has passed, so that requests sent together overlap for sure (the test
// server's short listen backlog can delay a burst of connections by a SYN retry, about 1 s).
class OverlapCounter {
public:
    explicit OverlapCounter(int limit)
        : limit_(limit)
    {
    }

    void handle(httplib::Response& res)
    {
        std::unique_lock lock(mutex_);
        ++open_;
        mostOpen_ = std::max(mostOpen_, open_);
        changed_.notify_all();
        changed_.wait_for(lock, 2s, [this] { return mostOpen_ > limit_; });
        --open_;
        res.set_content("ok", "text/plain");
    }

    int mostOpen()
    {
        std::lock_guard lock(mutex_);
        return mostOpen_;
    }

private:
    const int limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int open_ = 0;
    int mostOpen_ = 0;
};

int mostOpenFor(HttpSession::Config config, int requests)
{
    OverlapCounter counter(16);
    TestHttpServer server(64);
    server.server().Get("/slot", [&counter](const httplib::Request&, httplib::Response& res) { counter.handle(res); });
    server.start();
    {
        HttpSession session(std::move(config));
        std::vector<std::unique_ptr<StartedTask<HttpResponse>>> tasks;
        for (int i = 0; i < requests; ++i) {
            auto send = session.send(test::makeRequest("GET", server.url("/slot")));
            tasks.push_back(std::make_unique<StartedTask<HttpResponse>>(std::move(send)));
        }
        for (auto& task : tasks) {
            EXPECT_TRUE(task->waitEnded(30s));
            EXPECT_TRUE(task->result().value) << task->result().message();
        }
    }
    server.stop();
    return counter.mostOpen();
}

}  // namespace

TEST(HttpConnectionLimit, UploadSessionKeepsAtMostSixteenRequestsOpenWithOneHost)
{
    const int mostOpen = mostOpenFor(HttpSession::uploadConfig(), 24);
    EXPECT_LE(mostOpen, 16);
    EXPECT_GE(mostOpen, 8);   // and really runs them side by side
}

TEST(HttpConnectionLimit, ServiceSessionHasNoPerHostLimit)
{
    HttpSession::Config config;
    config.cookieFile = test::sandboxDir() + "/limit-cookies.txt";
    EXPECT_GT(mostOpenFor(config, 24), 16);
}
