#include "engine/speed_meter.h"
#include "engine/upload_manager.h"
#include "platform/paths.h"
#include "support/test_env.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>

namespace zafrel {
namespace {

using namespace std::chrono_literals;
using speed_meter::Clock;
using speed_meter::record;
using speed_meter::Sample;

struct Meter {
    std::deque<Sample> samples;
    qint64 totalSent = 0;
    double speed = 0;
    Clock::time_point start = Clock::now();

    void sent(qint64 n, std::chrono::milliseconds at)
    {
        if (auto rate = record(samples, totalSent, n, start + at))
            speed = *rate;
    }
};

TEST(SpeedMeter, EventsSpreadOverTwoSecondsGiveTheirRate)
{
    Meter meter;
    // 1,000,000 bytes in ten events over two seconds; the first one opens the window.
    for (int i = 0; i < 10; ++i)
        meter.sent(100000, std::chrono::milliseconds(i * 200 + 200));
    // Measured from the oldest sample: 900,000 bytes over 1.8 s.
    EXPECT_NEAR(meter.speed, 500000.0, 1.0);
    EXPECT_EQ(meter.totalSent, 1000000);
}

TEST(SpeedMeter, TheRateWaitsUntilTheWindowSpansHalfASecond)
{
    Meter meter;
    meter.sent(1000, 0ms);
    meter.sent(1000, 300ms);
    meter.sent(1000, 500ms);
    EXPECT_EQ(meter.speed, 0.0);   // 0.5 s is not more than half a second
    meter.sent(1000, 501ms);
    EXPECT_NEAR(meter.speed, 3000.0 / 0.501, 0.01);
}

TEST(SpeedMeter, AfterAPauseOfMoreThanFourSecondsOneSampleIsLeftAndTheRateIsKept)
{
    Meter meter;
    meter.sent(1000, 0ms);
    meter.sent(1000, 1000ms);
    EXPECT_NEAR(meter.speed, 1000.0, 0.01);

    meter.sent(5000000, 6000ms);
    EXPECT_EQ(meter.samples.size(), 1u);
    EXPECT_NEAR(meter.speed, 1000.0, 0.01);
    EXPECT_EQ(meter.totalSent, 5002000);
}

TEST(SpeedMeter, SamplesOlderThanTheWindowAreDropped)
{
    Meter meter;
    for (int i = 0; i <= 100; ++i)
        meter.sent(10, std::chrono::milliseconds(i * 100));
    // At 10 s the window holds 6.0 s .. 10.0 s: 41 samples, 400 bytes after the oldest in 4 s.
    EXPECT_EQ(meter.samples.size(), 41u);
    EXPECT_NEAR(meter.speed, 100.0, 0.01);
}

TEST(SpeedMeter, TheManagerPublishesTheRateOnItsSpeed)
{
    QFile::remove(paths::dataDir() + "/queue.json");
    ZafrelAPI api(std::make_unique<HttpSession>(HttpSession::Config{}));
    UploadManager manager(api);
    int changed = 0;
    QObject::connect(&manager, &UploadManager::speedChanged, [&] { ++changed; });

    manager.recordSent(4000);
    EXPECT_EQ(manager.speed(), 0.0);
    EXPECT_EQ(changed, 0);
    QElapsedTimer clock;
    clock.start();
    test::runUntil([&] { return clock.elapsed() > 600; }, std::chrono::seconds(2));
    manager.recordSent(6000);
    EXPECT_GT(manager.speed(), 0.0);
    EXPECT_LE(manager.speed(), 6000.0 / 0.6);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(manager.totalSent, 10000);
}

}  // namespace
}  // namespace zafrel
