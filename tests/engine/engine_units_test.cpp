// The engine's small pieces on their own: permits, part plans, reads and digests, the speed meter,
// the route decision, and what stands at a destination.
#include "engine/destination/destination_records.h"
#include "engine/destination/destination_verdict.h"
#include "engine/run/route_probe.h"
#include "engine/run/speed_meter.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/file_state.h"
#include "engine/transfer/ordered_file_digest.h"
#include "engine/transfer/part_plan.h"
#include "engine/transfer/part_reader.h"
#include "engine/transfer/progress_delegate.h"
#include "engine/transfer/url_cache.h"
#include "platform/errors.h"
#include "platform/md5.h"
#include "support/async_wait.h"
#include "support/engine_env.h"
#include "support/mhl_fixture.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <limits>
#include <thread>

namespace zafrel {
namespace {

using namespace std::chrono_literals;

QCoro::Task<void> takePermit(AsyncSemaphore& sem, std::vector<int>& order, int id, int permits)
{
    co_await sem.wait(permits);
    order.push_back(id);
}

// A large file waiting for its permits is never overtaken by small ones, or it would never start.
TEST(AsyncSemaphore, PermitsGoInArrivalOrderAndAreNeverOvertaken)
{
    AsyncSemaphore sem(4);
    std::vector<int> order;
    auto holder = takePermit(sem, order, 1, 3);
    auto big = takePermit(sem, order, 2, 3);
    auto small = takePermit(sem, order, 3, 1);   // one permit is free, but the big waiter came first
    test::runUntil([] { return false; }, 100ms);
    EXPECT_EQ(order, std::vector<int>{1});
    sem.signal(3);
    EXPECT_TRUE(test::runUntil([&] { return big.isReady() && small.isReady(); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(PartPlan, PartCountAndPermitsPerPart)
{
    constexpr int64_t kMin = 33554432, kGiB = int64_t(1) << 30, kMax = std::numeric_limits<int64_t>::max();
    const struct {
        int64_t size, partSize;
        std::optional<int64_t> parts;
    } counts[] = {
        {kMin + 1, kMin, 2},          {10000 * kMin, kMin, 10000},          {10000 * kMin + 1, kMin, std::nullopt},
        {int64_t(1) << 40, 105 << 20, 9987}, {6 * kGiB, 5 * kGiB + 1, std::nullopt},
        {kMin + 1, kMin - 1, std::nullopt},   {kMin + 1, 0, std::nullopt}, {0, kMin, std::nullopt},
        {kMax, kMin, std::nullopt},
    };
    for (const auto& c : counts)
        EXPECT_EQ(partCount(c.size, c.partSize, kMin), c.parts) << c.size << " / " << c.partSize;
    // Parts in memory stay within the run's budget whatever the part size.
    const struct {
        int64_t partSize;
        int permits, expected;
    } permits[] = {{kMin, 8, 1}, {kMin + 1, 8, 2}, {105 << 20, 8, 4}, {5 * kGiB, 8, 8}, {2 * kMin, 1, 1}};
    for (const auto& c : permits)
        EXPECT_EQ(permitsPerPart(c.partSize, kMin, c.permits), c.expected) << c.partSize << " of " << c.permits;
}

TEST(PartReader, PartsAtTheirOffsetsFromManyThreadsAndAShortenedFile)
{
    const qint64 partSize = 1000, parts = 16;
    QByteArray content(partSize * parts - 5, Qt::Uninitialized);
    for (qint64 i = 0; i < content.size(); ++i)
        content[i] = char('A' + (i / 10) % 26);
    const QString path = test::writeFile(test::sandboxDir() + "/parts-" + QUuid::createUuid().toString(), content);
    PartReader reader(path, partSize, content.size());
    std::vector<QByteArray> got(parts);
    std::vector<std::jthread> threads;
    for (qint64 n = 1; n <= parts; ++n)
        threads.emplace_back([&, n] { got[size_t(n - 1)] = reader.read(n); });
    threads.clear();
    for (qint64 n = 1; n <= parts; ++n)
        EXPECT_EQ(got[size_t(n - 1)], content.mid((n - 1) * partSize, partSize)) << "part " << n;
    ASSERT_TRUE(QFile::resize(path, content.size() - 2));
    EXPECT_THROW(reader.read(parts), FileChangedError);   // a short part is never sent as planned
    QFile::remove(path);
}

QCoro::Task<URLCache::URLMap> signedURLs(int64_t first, int64_t last)
{
    URLCache::URLMap urls;
    for (int64_t n = first; n <= last; ++n)
        urls[n] = "u" + std::to_string(n);
    co_return urls;
}

// The service signs at most 100 part URLs per request: a file of 250 parts asks three times.
TEST(URLCache, PartURLsComeInBatchesOfAtMostAHundred)
{
    std::vector<std::pair<int64_t, int64_t>> asked;
    URLCache cache(250, [&](int64_t first, int64_t last) {
        asked.emplace_back(first, last);
        return signedURLs(first, last);
    });
    for (int64_t n = 1; n <= 250; ++n)
        ASSERT_EQ(test::awaitTask(cache.url(n)).get(), "u" + std::to_string(n));
    EXPECT_EQ(asked, (std::vector<std::pair<int64_t, int64_t>>{{1, 100}, {101, 200}, {201, 250}}));
}

// Counts the calls posted to the application object: the main loop's wake-ups.
struct PostedCalls : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
};

// libcurl reports a body's progress many times a second from the I/O thread: the events that come
// while one is on its way to the main thread ride along with it (one wake-up of the main loop), and
// the increments still add up.
TEST(ProgressDelegate, EventsInFlightAreFoldedIntoOneDeliveryOnTheMainThread)
{
    PostedCalls posted;
    QCoreApplication::instance()->installEventFilter(&posted);
    std::vector<ProgressDelegate::Delta> delivered;
    bool onMainThread = true;
    const auto callback = ProgressDelegate([&](ProgressDelegate::Delta delta) {
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        delivered.push_back(delta);
    }).callback();
    std::thread io([&] {
        for (int64_t total = 1'000; total <= 100'000; total += 1'000)
            callback(1'000, total);
    });
    io.join();
    test::runUntil([] { return false; }, 50ms);
    EXPECT_EQ(posted.count, 1);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(std::pair(delivered[0].increment, delivered[0].total), (std::pair<int64_t, int64_t>(100'000, 100'000)));
    callback(500, 100'500);   // once delivered, the next event is posted again
    test::runUntil([] { return false; }, 50ms);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].increment, 500);
    EXPECT_TRUE(onMainThread);
    QCoreApplication::instance()->removeEventFilter(&posted);
}

TEST(SpeedMeter, TheRateIsTheLastFourSecondsOnceTheyHoldMoreThanHalfASecond)
{
    using Events = std::vector<std::pair<qint64, std::chrono::milliseconds>>;
    Events steady, many;
    for (int i = 1; i <= 10; ++i)
        steady.emplace_back(100000, i * 200ms);
    for (int i = 0; i <= 100; ++i)
        many.emplace_back(10, i * 100ms);
    const struct {
        const char* what;
        Events events;
        double rate;
    } cases[] = {
        {"ten events over two seconds", steady, 500000.0},
        {"half a second is not enough", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}}, 0.0},
        {"just over half a second", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}, {1000, 501ms}}, 3000.0 / 0.501},
        {"after a pause", {{1000, 0ms}, {1000, 1000ms}, {5000000, 6000ms}}, 1000.0},
        {"older samples dropped", many, 100.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpeedMeter meter;
        double rate = 0;
        const auto start = SpeedMeter::Clock::now();
        for (const auto& [bytes, at] : c.events)
            if (const auto r = meter.record(bytes, start + at))
                rate = *r;
        EXPECT_NEAR(rate, c.rate, 0.01);
    }
    // Read between bytes, the rate falls as the time without bytes grows, to zero after a window.
    SpeedMeter meter;
    const auto start = SpeedMeter::Clock::now();
    for (const auto& [bytes, at] : steady)
        meter.record(bytes, start + at);
    const std::pair<std::chrono::milliseconds, double> later[] = {{2000ms, 500000.0}, {3800ms, 250000.0}, {6500ms, 0.0}};
    for (const auto& [at, rate] : later)
        EXPECT_NEAR(meter.rateAt(start + at), rate, 0.01) << at.count();
}

// The accelerated route costs money: taken only when clearly faster and the direct route is slow.
// A bucket name goes into a host name, so only a plain one is probed.
TEST(RouteDecision, AcceleratedOnlyWhenClearlyFasterAndTheDirectRouteIsSlow)
{
    const std::tuple<double, double, RouteDecision> cases[] = {
        {100, 79, {true, 79}}, {100, 80, {false, 100}}, {60, 10, {false, 60}}, {60.5, 10, {true, 10}},
    };
    for (const auto& [direct, accelerated, decision] : cases)
        EXPECT_EQ(decideRoute(direct, accelerated), decision) << direct << " " << accelerated;
    for (const char* name : {"zafrel-demo", "my.bucket.01"})
        EXPECT_TRUE(isProbeableBucket(name)) << name;
    for (const char* name : {"", "evil.com/x", "has space", "Upper"})
        EXPECT_FALSE(isProbeableBucket(name)) << name;
}


// One camera's clip is never taken for another's of the same name: what the program recorded of
// the object there decides, and the file is read only when the record came from another path.
TEST(DestinationVerdict, TheRecordSaysWhenTheFileMustBeReadAndWhatItMeans)
{
    using V = DestinationVerdict;
    const std::string sent(32, 'a'), other(32, 'b');
    const LocalFile card{"/m/A_CAM/C0001.MXF", 1000, 50.5};
    const DestinationRecord fromCard{1000, sent, {{card.path, card.mtime}}, 0};
    const DestinationRecord fromOther{1000, sent, {{"/m/B_CAM/C0001.MXF", card.mtime}}, 0};
    const DestinationRecord touched{1000, sent, {{card.path, 49.0}}, 0};
    const DestinationRecord replacedSince{900, sent, {{card.path, card.mtime}}, 0};
    const std::optional<int64_t> none;
    const struct {
        AtDestination there;
        std::optional<std::string> md5;   // the file's, once read
        V verdict, replacing;             // without and with replacement allowed
    } cases[] = {
        {{none, false, fromOther}, {}, V::Send, V::Send},                   // nothing of that name
        {{1000, true, fromCard}, {}, V::Send, V::Send},                     // it failed verification
        {{1000, false, fromCard}, {}, V::Skip, V::Skip},                    // this file, as it was: not read
        {{1000, false, fromOther}, {}, V::NeedsDigest, V::NeedsDigest},     // a copy, or another camera's
        {{1000, false, fromOther}, sent, V::Skip, V::Skip},                 // a copy of the card
        {{1000, false, fromOther}, other, V::OtherFile, V::Send},           // another camera's clip
        {{1200, false, DestinationRecord{1200, sent, fromOther.sources, 0}}, {}, V::OtherFile, V::Send},
        {{1000, false, touched}, {}, V::NeedsDigest, V::NeedsDigest},       // this path, its date moved
        {{1000, false, touched}, sent, V::Skip, V::Skip},
        {{1000, false, touched}, other, V::Send, V::Send},                  // this path's newer version
        {{1200, false, DestinationRecord{1200, sent, fromCard.sources, 0}}, {}, V::Send, V::Send},
        {{1000, false, std::nullopt}, {}, V::Skip, V::Skip},                // no record: name and size
        {{1200, false, std::nullopt}, {}, V::OtherFile, V::Send},           // no record, another size
        {{1000, false, replacedSince}, {}, V::Skip, V::Skip},               // someone replaced it since
        {{1200, false, replacedSince}, {}, V::OtherFile, V::Send},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::pair(judgeDestination(c.there, card, c.md5, false), judgeDestination(c.there, card, c.md5, true)),
                  std::pair(c.verdict, c.replacing)) << &c - cases;
}

// The records survive the engine, are shared with another engine through the file, keep the few
// latest sources of each destination, and stay within their bound by dropping the oldest.
TEST(DestinationRecords, KeptOnDiskSharedBoundedAndOldestDroppedFirst)
{
    test::resetEngineState();
    const QString path = test::sandboxDir() + "/destinations-test.json";
    QFile::remove(path);
    {
        DestinationRecords records(path, 3);
        records.remember("acct", "D/a", 10, std::string(32, '1'), {"/m/a", 1});
        records.remember("acct", "D/b", 20, std::string(32, '2'), {"/m/b", 2});
        for (int copy = 0; copy < 6; ++copy)
            records.addSource("acct", "D/a", {QString("/copia%1/a").arg(copy), 1});
        records.addSource("acct", "D/a", {"/copia5/a", 7});   // the same path again, with its new date
        records.addSource("acct", "D/ninguno", {"/m/x", 1});  // nothing recorded there: nothing added
    }   // written when the engine goes
    DestinationRecords other(path, 3);
    const auto a = other.find("acct", "D/a");
    ASSERT_TRUE(a);
    EXPECT_EQ(std::tuple(a->size, a->md5, a->sources.size(), a->sources.front()), std::tuple(int64_t(10), std::string(32, '1'), DestinationRecords::kSourcesKept, RecordSource{"/copia5/a", 7}));
    EXPECT_FALSE(other.find("otra", "D/a") || other.find("acct", "D/ninguno"));
    other.remember("acct", "D/c", 30, std::string(32, '3'), {"/m/c", 3});
    other.remember("acct", "D/d", 40, std::string(32, '4'), {"/m/d", 4});
    other.flush();
    DestinationRecords third(path, 3);
    EXPECT_EQ(std::tuple(bool(third.find("acct", "D/b")), bool(third.find("acct", "D/a")), bool(third.find("acct", "D/d"))),
              std::tuple(false, true, true));   // "a" was recorded last of the first three
    QFile::remove(path);
}

// The whole-file digests of a file sent in parts, fed out of order, and each fed part's own MD5:
// parts that start on a 64-byte boundary of the file and parts that do not; parts 1, 4 and 6 were
// stored earlier and are read from the file; the record in a format of its own, as the MD5, or none.
TEST(OrderedFileDigest, PartsFedOutOfOrderGiveTheirOwnAndTheWholeFilesDigests)
{
    const std::optional<HashFormat> records[] = {std::nullopt, HashFormat::Xxh64, HashFormat::Md5};
    for (const int64_t partSize : {int64_t(3 * 64), int64_t(3 * 64 + 5)}) {
        for (const std::optional<HashFormat> record : records) {
            QByteArray content(partSize * 6 - 17, Qt::Uninitialized);
            for (qsizetype i = 0; i < content.size(); ++i)
                content[i] = char((i * 7919) >> 3);
            const QString path = test::writeFile(test::sandboxDir() + "/digest-" + QUuid::createUuid().toString(), content);
            const std::vector<int64_t> sent{2, 3, 5};
            OrderedFileDigest digest(std::make_shared<PartReader>(path, partSize, content.size()), sent, record);
            std::vector<std::unique_ptr<test::StartedTask<std::string>>> fed;
            for (size_t index = sent.size(); index-- > 0;)
                fed.push_back(std::make_unique<test::StartedTask<std::string>>(
                    digest.feed(index, content.mid((sent[index] - 1) * partSize, partSize))));
            const OrderedFileDigest::Result result = test::awaitTask(digest.finish()).get();

            SCOPED_TRACE(testing::Message() << "parts of " << partSize << ", record " << (record ? int(*record) : -1));
            for (size_t i = 0; i < fed.size(); ++i) {
                const int64_t part = sent[sent.size() - 1 - i];
                ASSERT_TRUE(fed[i]->waitEnded());
                EXPECT_EQ(fed[i]->take().get(), md5Hex(content.mid((part - 1) * partSize, partSize))) << "part " << part;
            }
            EXPECT_EQ(result.md5, md5Hex(content));
            EXPECT_EQ(result.record, record ? test::mhlDigest(*record, content).toStdString() : std::string());
            QFile::remove(path);
        }
    }
}

// A part that will never be fed ends the waits of the later ones.
TEST(OrderedFileDigest, AnAbandonedDigestEndsEveryWait)
{
    const QString path = test::writeFile(test::sandboxDir() + "/abandoned-" + QUuid::createUuid().toString(), QByteArray(300, 'x'));
    OrderedFileDigest digest(std::make_shared<PartReader>(path, 100, 300), {1, 2, 3}, std::nullopt);
    test::StartedTask<std::string> third(digest.feed(2, QByteArray(100, 'x')));
    digest.abandon();
    ASSERT_TRUE(third.waitEnded());
    EXPECT_TRUE(third.result().threw<Cancelled>());
    EXPECT_TRUE(test::awaitTask(digest.finish()).threw<Cancelled>());
    QFile::remove(path);
}

}  // namespace
}  // namespace zafrel
