// The engine's small pieces on their own: permits, part buffers, part plans and reads, the part
// URL cache, item states and error texts, the speed meter and the route decision.
#include "client/api_error.h"
#include "engine/async_semaphore.h"
#include "engine/endpoint_config.h"
#include "engine/file_state.h"
#include "engine/part_buffer_pool.h"
#include "engine/part_plan.h"
#include "engine/part_reader.h"
#include "engine/route_probe.h"
#include "engine/speed_meter.h"
#include "engine/upload_error.h"
#include "engine/upload_manager.h"
#include "engine/url_cache.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "support/async_wait.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace zafrel {
namespace {

using namespace std::chrono_literals;
using test::awaitTask;
using test::runUntil;

QCoro::Task<void> takePermit(AsyncSemaphore& sem, std::vector<int>& order, int id, int permits = 1)
{
    co_await sem.wait(permits);
    order.push_back(id);
}

// Lets the event loop run for a short while, for checks that something does NOT happen.
void idle() { runUntil([] { return false; }, 100ms); }

TEST(AsyncSemaphore, PermitsGoInArrivalOrderLaterAndAreNeverOvertaken)
{
    AsyncSemaphore sem(4);
    std::vector<int> order;
    auto holder = takePermit(sem, order, 1, 3);
    ASSERT_TRUE(holder.isReady());
    auto big = takePermit(sem, order, 2, 3);
    auto small = takePermit(sem, order, 3, 1);   // one permit is free, but the big waiter came first
    idle();
    EXPECT_EQ(order, std::vector<int>{1});
    EXPECT_EQ(sem.waiting(), 2);
    sem.signal(3);
    EXPECT_EQ(order, std::vector<int>{1});   // resumed on a later turn, not inside signal
    auto third = takePermit(sem, order, 4);  // the handed-off permits are not free for a newcomer
    EXPECT_FALSE(third.isReady());
    EXPECT_EQ(sem.count(), 0);
    EXPECT_TRUE(runUntil([&] { return big.isReady() && small.isReady(); }));
    idle();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    sem.signal();
    EXPECT_TRUE(runUntil([&] { return third.isReady(); }));
    sem.signal(2);   // a signal without a waiter raises the count, uncapped
    EXPECT_EQ(sem.count(), 2);
    sem.signal(4);
    EXPECT_EQ(sem.count(), 6);
}

TEST(PartBufferPool, ReusesFreeBuffersNeverOneStillHeldAndKeepsWithinItsCapacity)
{
    PartBufferPool pool(128);
    QByteArray heldByTransport;
    const char* reused = nullptr;
    {
        PartBufferPool::Lease a = pool.take(64);
        PartBufferPool::Lease b = pool.take(64);
        b.bytes.fill('A');
        heldByTransport = b.bytes;   // the request's body outlives the part for a moment
        reused = a.bytes.constData();
    }
    EXPECT_EQ(pool.idle(), 2);
    PartBufferPool::Lease c = pool.take(60);   // a shorter last part fits in the same memory
    PartBufferPool::Lease d = pool.take(64);
    EXPECT_EQ(c.bytes.size(), 60);
    EXPECT_EQ(c.bytes.constData(), reused);
    EXPECT_NE(d.bytes.constData(), heldByTransport.constData());
    d.bytes.fill('B');
    EXPECT_EQ(heldByTransport, QByteArray(64, 'A'));
    EXPECT_EQ(pool.lent(), 2);
    EXPECT_EQ(pool.idle(), 0);   // the shared one was dropped, not kept beside a new one

    PartBufferPool small(100);   // larger than the budget: lent, but only what fits is kept
    {
        PartBufferPool::Lease e = small.take(64), f = small.take(64);
    }
    EXPECT_EQ(small.idle(), 1);
}

constexpr int64_t kMin = 33554432;
constexpr int64_t kGiB = int64_t(1) << 30;

TEST(PartPlan, PartCountAndPermitsPerPart)
{
    const struct {
        int64_t size, partSize;
        std::optional<int64_t> parts;
    } counts[] = {
        {kMin + 1, kMin, 2}, {3 * kMin, kMin, 3}, {10000 * kMin, kMin, 10000},
        {10000 * kMin + 1, kMin, std::nullopt}, {int64_t(1) << 40, 105 << 20, 9987}, {6 * kGiB, 5 * kGiB, 2},
        {6 * kGiB, 5 * kGiB + 1, std::nullopt}, {kMin + 1, int64_t(1) << 62, std::nullopt},
        {kMin + 1, kMin - 1, std::nullopt}, {kMin + 1, 0, std::nullopt}, {kMin + 1, -kMin, std::nullopt},
        {0, kMin, std::nullopt}, {std::numeric_limits<int64_t>::max(), kMin, std::nullopt},
        {std::numeric_limits<int64_t>::max(), 5 * kGiB, std::nullopt},
    };
    for (const auto& c : counts)
        EXPECT_EQ(partCount(c.size, c.partSize, kMin), c.parts) << c.size << " / " << c.partSize;
    const struct {
        int64_t partSize;
        int permits, expected;
    } permits[] = {{kMin, 8, 1}, {kMin + 1, 8, 2}, {105 << 20, 8, 4}, {5 * kGiB, 8, 8}, {2 * kMin, 1, 1}, {1, 8, 1}};
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
    EXPECT_EQ(reader.partCount(), parts);
    EXPECT_EQ(reader.expectedLength(parts), partSize - 5);
    std::vector<QByteArray> got(parts);
    std::vector<std::thread> threads;
    for (qint64 n = 1; n <= parts; ++n)
        threads.emplace_back([&, n] { got[size_t(n - 1)] = reader.read(n); });
    for (auto& t : threads)
        t.join();
    for (qint64 n = 1; n <= parts; ++n)
        EXPECT_EQ(got[size_t(n - 1)], content.mid((n - 1) * partSize, partSize)) << "part " << n;
    EXPECT_THROW(reader.read(parts + 1), FileError);
    ASSERT_TRUE(QFile::resize(path, content.size() - 2));
    EXPECT_THROW(reader.read(parts), FileChangedError);   // a short part is never sent as planned
    QFile::remove(path);
    EXPECT_THROW(PartReader(path, 20, 45), FileError);
}

// Stands in for the service: records every batch and answers URLs tagged with their batch, after a
// short pause so that callers overlap.
struct FakeURLService {
    std::vector<std::pair<int64_t, int64_t>> calls;
    bool failNext = false;
    int64_t leaveOut = 0;

    static QCoro::Task<URLCache::URLMap> answer(FakeURLService* self, int64_t first, int64_t last)
    {
        self->calls.emplace_back(first, last);
        const int batch = int(self->calls.size());
        const bool fail = std::exchange(self->failNext, false);
        co_await sleepFor(5ms);
        if (fail)
            throw APIError::http(500, "urls rotas");
        URLCache::URLMap urls;
        for (int64_t n = first; n <= last; ++n)
            if (n != self->leaveOut)
                urls[n] = "p" + std::to_string(n) + "b" + std::to_string(batch);
        co_return urls;
    }
    URLCache::Fetch fetch()
    {
        return [this](int64_t first, int64_t last) { return answer(this, first, last); };
    }
};

std::string urlOf(URLCache& cache, int64_t n)
{
    auto outcome = awaitTask(cache.url(n));
    return outcome.value.value_or("error: " + outcome.message());
}

TEST(URLCache, BatchesOfAHundredFromTheMissingPartSharedByWaitingCallers)
{
    FakeURLService service;
    URLCache cache(250, service.fetch());
    std::vector<QCoro::Task<std::string>> together;
    for (int64_t n = 120; n <= 127; ++n)
        together.push_back(cache.url(n));
    auto far = cache.url(240);   // outside the batch on its way: fetches its own
    for (size_t i = 0; i < together.size(); ++i)
        EXPECT_EQ(awaitTask(std::move(together[i])).value.value_or(""), "p" + std::to_string(120 + i) + "b1");
    EXPECT_EQ(*awaitTask(std::move(far)).value, "p240b2");
    EXPECT_EQ(urlOf(cache, 5), "p5b3");
    EXPECT_EQ(urlOf(cache, 104), "p104b3");
    EXPECT_EQ(urlOf(cache, 219), "p219b1");
    EXPECT_EQ(urlOf(cache, 220), "p220b4");
    EXPECT_EQ(urlOf(cache, 240), "p240b4");   // fetched again: the latest URL is kept
    EXPECT_EQ(service.calls, (std::vector<std::pair<int64_t, int64_t>>{{120, 219}, {240, 250}, {5, 104}, {220, 250}}));
}

TEST(URLCache, AFailedOrIncompleteBatchFailsItsCallersAndIsNotRemembered)
{
    FakeURLService service;
    service.failNext = true;
    service.leaveOut = 4;
    URLCache cache(10, service.fetch());
    auto a = cache.url(1);
    auto b = cache.url(2);
    EXPECT_EQ(awaitTask(std::move(a)).message(), "Servidor: 500 urls rotas");
    EXPECT_EQ(awaitTask(std::move(b)).message(), "Servidor: 500 urls rotas");
    // Part 4 is missing from the next batch; part 11 is outside the upload.
    EXPECT_EQ(std::vector({urlOf(cache, 2), urlOf(cache, 4), urlOf(cache, 11)}),
              std::vector<std::string>({"p2b2", "error: Respuesta inesperada del servidor", "error: Respuesta inesperada del servidor"}));
    EXPECT_EQ(service.calls.size(), 3u);
}

TEST(UploadItem, StatusWordsAndWhichStatesAreActive)
{
    const std::tuple<Status, const char*, bool> cases[] = {
        {Status::Queued, "queued", true},   {Status::Running, "running", true},     {Status::Done, "done", false},
        {Status::Skipped, "skipped", false}, {Status::Error, "error", false}, {Status::Cancelled, "cancelled", false},
        {Status::Paused, "paused", false},
    };
    auto item = std::make_shared<UploadItem>(QUuid::createUuid(), "/a/b", 1, 0, "x/");
    for (const auto& [status, word, active] : cases) {
        EXPECT_EQ(statusWord(status), QString::fromLatin1(word));
        EXPECT_EQ(statusFromWord(QString::fromLatin1(word)), status);
        item->setStatus(status);
        EXPECT_EQ(item->isActive(), active) << word;
    }
    for (const char* word : {"", "Queued", "paused ", "finished"})
        EXPECT_FALSE(statusFromWord(QString::fromLatin1(word)).has_value()) << word;
}

TEST(UploadError, TextsSayWhatHappenedOnOneShortLine)
{
    const std::string letters = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(8).toStdString();
    const auto repeat = [](const char* s, int n) { return QByteArray(s).repeated(n).toStdString(); };
    const std::pair<UploadError, std::string> cases[] = {
        {UploadError::checksum(), "La verificación MD5 no coincide"},
        {UploadError::cancelled(), "Cancelado"},
        {UploadError::network(), "Sin respuesta de red"},
        {UploadError::http(500, ""), "HTTP 500 "},
        {UploadError::http(500, letters), "HTTP 500 " + letters.substr(0, 80)},
        {UploadError::http(502, std::string(80, 'x')), "HTTP 502 " + std::string(80, 'x')},
        {UploadError::http(400, repeat("ñ", 200)), "HTTP 400 " + repeat("ñ", 80)},
        {UploadError::http(400, repeat("e\xCC\x81", 100)), "HTTP 400 " + repeat("e\xCC\x81", 80)},
        {UploadError::http(503, "<?xml version=\"1.0\"?>\r\n<Error>\n\t<Code>SlowDown</Code></Error>"), "HTTP 503 SlowDown"},
        {UploadError::http(503, "<?xml version=\"1.0\"?>\n<Error><Code>InternalError</Code>\n<Message>We encountered\nan "
                                "internal error.</Message><RequestId>4442587FB7D0A2F9</RequestId></Error>"),
         "HTTP 503 InternalError: We encountered an internal error."},
        {UploadError::http(503, "<html>\n<body>Bad gateway</body></html>"), "HTTP 503 <html> <body>Bad gateway</body></html>"},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(std::string(error.what()), text);
    EXPECT_EQ(UploadError::http(403, "x").code(), 403);
    EXPECT_EQ(UploadError::http(403, "x").kind(), UploadError::Kind::Http);
    EXPECT_EQ(UploadError::network().kind(), UploadError::Kind::Network);
}

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
        {"ten events over two seconds", every(10, 100000, 200ms, 200ms), 500000.0, 10},
        {"half a second is not enough", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}}, 0.0, 3},
        {"just over half a second", {{1000, 0ms}, {1000, 300ms}, {1000, 500ms}, {1000, 501ms}}, 3000.0 / 0.501, 4},
        {"after a pause", {{1000, 0ms}, {1000, 1000ms}, {5000000, 6000ms}}, 1000.0, 1},
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

TEST(RouteDecision, AcceleratedOnlyWhenClearlyFasterAndTheDirectRouteIsSlow)
{
    const std::tuple<double, double, bool, const char*> cases[] = {
        {100, 79, true, "Ruta acelerada (79 ms)"}, {100, 80, false, "Ruta directa (100 ms)"},
        {60, 10, false, "Ruta directa (60 ms)"},   {60.5, 10, true, "Ruta acelerada (10 ms)"},
        {200, 79.9, true, "Ruta acelerada (79 ms)"}, {59.99, 10, false, "Ruta directa (59 ms)"},
    };
    for (const auto& [direct, accelerated, accelerate, route] : cases) {
        const RouteDecision d = decideRoute(direct, accelerated);
        EXPECT_EQ(d.accelerate, accelerate) << direct << " " << accelerated;
        EXPECT_EQ(d.route, route);
    }
    for (const char* name : {"zafrel-demo", "my.bucket.01"})
        EXPECT_TRUE(isProbeableBucket(name)) << name;
    for (const char* name : {"", "evil.com/x", "has space", "Upper"})
        EXPECT_FALSE(isProbeableBucket(name)) << name;
    const EndpointConfig built = EndpointConfig::current();
    EXPECT_EQ(built.pingURL(built.accelHost("b1")), "https://b1.s3-accelerate.amazonaws.com/");
    EXPECT_EQ(built.directHost("b1"), "b1.s3." + built.region + ".amazonaws.com");
}

}  // namespace
}  // namespace zafrel
