#include "engine/speed_meter.h"
#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace zafrel {
namespace {

using namespace std::chrono_literals;

// Each case feeds (bytes, time) events and reads the rate the meter last answered.
TEST(SpeedMeter, TheRateIsTheLastFourSecondsOnceTheyHoldMoreThanHalfASecond)
{
    struct Event {
        qint64 bytes;
        std::chrono::milliseconds at;
    };
    const auto every = [](int count, qint64 bytes, std::chrono::milliseconds step, std::chrono::milliseconds first) {
        std::vector<Event> events;
        for (int i = 0; i < count; ++i)
            events.push_back({bytes, first + i * step});
        return events;
    };
    const struct {
        const char* what;
        std::vector<Event> events;
        double rate;
        size_t samples;
    } cases[] = {
        // Measured from the oldest sample: 900,000 bytes over 1.8 s.
        {"ten events over two seconds", every(10, 100000, 200ms, 200ms), 500000.0, 10},
        {"half a second is not enough", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}}, 0.0, 3},
        {"just over half a second", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}, {1000, 501ms}}, 3000.0 / 0.501, 4},
        // After a pause of more than the window one sample is left and the rate keeps its value.
        {"after a pause", {{1000, 0ms}, {1000, 1000ms}, {5000000, 6000ms}}, 1000.0, 1},
        // At 10 s the window holds 6.0 s .. 10.0 s: 41 samples, 400 bytes after the oldest in 4 s.
        {"older samples dropped", every(101, 10, 100ms, 0ms), 100.0, 41},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpeedMeter meter;
        double rate = 0;
        qint64 total = 0;
        const auto start = SpeedMeter::Clock::now();
        for (const Event& e : c.events) {
            total += e.bytes;
            if (const auto r = meter.record(e.bytes, start + e.at))
                rate = *r;
        }
        EXPECT_NEAR(rate, c.rate, 0.01);
        EXPECT_EQ(meter.samplesInWindow(), c.samples);
        EXPECT_EQ(meter.totalSent(), total);
    }
}

TEST(SpeedMeter, TheManagerPublishesTheRateOnItsSpeed)
{
    test::resetEngineState();
    auto manager = test::offlineManager();
    int changed = 0;
    QObject::connect(manager.get(), &UploadManager::speedChanged, [&] { ++changed; });
    manager->recordSent(4000);
    EXPECT_EQ(changed, 0);
    const auto started = std::chrono::steady_clock::now();
    test::runUntil([&] { return std::chrono::steady_clock::now() - started > 600ms; }, std::chrono::seconds(2));
    manager->recordSent(6000);
    EXPECT_GT(manager->speed(), 0.0);
    EXPECT_LE(manager->speed(), 6000.0 / 0.6);
    EXPECT_EQ(changed, 1);
}

}  // namespace
}  // namespace zafrel
