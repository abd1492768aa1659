// The session's cap on request bodies: the bucket's arithmetic, the rates people write, and bodies
// held back and woken again arriving whole.
#include "platform/byte_rate.h"
#include "platform/http.h"
#include "platform/send_rate_limiter.h"
#include "support/async_wait.h"
#include "support/http_test_server.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <mutex>
#include <set>

using namespace zafrel;
using namespace std::chrono_literals;

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

TEST(ByteRate, ReadsTheRatesPeopleWrite)
{
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"50M", 50'000'000}, {"800K", 800'000}, {"800k", 800'000}, {"1.5M", 1'500'000}, {"1,5M", 1'500'000},
        {"100MB/s", 100'000'000}, {"2G", 2'000'000'000}, {"12345", 12345}, {" 10 M ", 10'000'000}, {"0", 0},
        {"", std::nullopt}, {"M", std::nullopt}, {"-5M", std::nullopt}, {"5X", std::nullopt},
        {"50M50", std::nullopt}, {"99999G", std::nullopt}, {"--json", std::nullopt},
    };
    for (const auto& [text, rate] : cases)
        EXPECT_EQ(parseByteRate(QString::fromUtf8(text)), rate) << text;
    EXPECT_EQ(byteRateText(50'000'000), "50M");
    EXPECT_EQ(byteRateText(1'500'000), "1.5M");
    EXPECT_EQ(parseByteRate(byteRateText(800'000)), 800'000);
}

// Several bodies under one small cap are held back and woken many times; each must arrive whole.
TEST(SendRate, CappedBodiesArriveWhole)
{
    constexpr int kBodies = 6;
    constexpr int kBodySize = 300'000;
    std::mutex mutex;
    std::set<QByteArray> received;
    test::TestHttpServer server;
    server.server().Put("/body", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        received.insert(QCryptographicHash::hash(QByteArray::fromStdString(req.body), QCryptographicHash::Md5));
        res.set_content("ok", "text/plain");
    });
    server.start();

    std::set<QByteArray> sent;
    {
        HttpSession session(HttpSession::uploadConfig());
        session.setSendRate(3'000'000);
        std::vector<std::unique_ptr<test::StartedTask<HttpResponse>>> tasks;
        for (int i = 0; i < kBodies; ++i) {
            QByteArray body(kBodySize, Qt::Uninitialized);
            QRandomGenerator(i + 1).fillRange(reinterpret_cast<quint32*>(body.data()), kBodySize / 4);
            sent.insert(QCryptographicHash::hash(body, QCryptographicHash::Md5));
            tasks.push_back(std::make_unique<test::StartedTask<HttpResponse>>(
                session.send(test::makeRequest("PUT", server.url("/body"), body))));
        }
        for (auto& task : tasks) {
            ASSERT_TRUE(task->waitEnded(60s));
            ASSERT_TRUE(task->result().value) << task->result().message();
            EXPECT_EQ(task->result().value->status, 200);
        }
    }
    server.stop();
    EXPECT_EQ(received, sent);
}
