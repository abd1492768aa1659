// The session's cap on request bodies: the bucket's arithmetic, and bodies held back and woken
// again arriving whole.
#include "platform/send_rate_limiter.h"
#include "support/http_test_server.h"

#include <QRandomGenerator>

using namespace zafrel;
using namespace std::chrono_literals;
using SendRateTest = test::HttpServerTest;

TEST(SendRateLimiter, DrawsNoMoreThanTheRateAllowsAndWakesWhenARefillIsWorthIt)
{
    const auto t0 = SendRateLimiter::Clock::time_point{} + 1h;
    SendRateLimiter limiter;
    EXPECT_EQ(limiter.take(5'000'000, t0), 5'000'000u) << "no cap: everything at once";
    EXPECT_EQ(limiter.untilRefilled(t0), 0us);

    limiter.setRate(1'000'000);
    struct Step {
        std::chrono::microseconds at;
        size_t wanted;
        size_t granted;
    };
    const Step steps[] = {
        {0us, 100'000, 0},          // a new cap starts empty
        {10ms, 100'000, 10'000},    // 10 ms at 1 MB/s
        {10ms, 100'000, 0},         // nothing more at the same moment
        {25ms, 1'000, 1'000},       // less than the bucket holds: what was asked
        {5s, 1'000'000, 250'000},   // an idle moment fills it only to a quarter of a second
    };
    for (const Step& step : steps)
        EXPECT_EQ(limiter.take(step.wanted, t0 + step.at), step.granted) << "at " << step.at.count() << " us";
    // Empty now: woken when a twentieth of the bucket is back.
    EXPECT_EQ(limiter.untilRefilled(t0 + 5s), 12500us);

    limiter.setRate(0);
    EXPECT_EQ(limiter.take(7, t0 + 5s), 7u);
}

// Several bodies under one small cap, one of them large (read in big pieces, and past the size at
// which libcurl would ask to "Expect" a go-ahead), are held back and woken many times: each arrives
// whole with its length announced, and its progress calls add up to its size.
TEST_F(SendRateTest, CappedBodiesArriveWholeWithProgressAddingUpToTheirSize)
{
    const std::vector<qsizetype> sizes = {3 * 1024 * 1024 + 124, 200'000, 200'000, 200'000, 200'000};
    HttpSession session(HttpSession::uploadConfig());
    session.setSendRate(4'000'000);
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
        EXPECT_FALSE(request.has_header("Expect") || request.has_header("Transfer-Encoding"));
    }
    std::lock_guard lock(mutex);
    EXPECT_TRUE(steady);
    EXPECT_EQ(progressed, std::vector<int64_t>(sizes.begin(), sizes.end()));
}
