#include "client/api_error.h"
#include "engine/url_cache.h"
#include "platform/async.h"
#include "support/async_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {
namespace {

using test::awaitTask;

// Stands in for the service: records every batch asked for and answers URLs tagged with the batch
// they came from, after a short pause so that callers can overlap.
struct FakeService {
    std::vector<std::pair<int64_t, int64_t>> calls;
    bool failNext = false;
    std::vector<int64_t> leaveOut;   // part numbers missing from every answer

    static QCoro::Task<URLCache::URLMap> answer(FakeService* self, int64_t first, int64_t last)
    {
        self->calls.emplace_back(first, last);
        const int batch = int(self->calls.size());
        const bool fail = std::exchange(self->failNext, false);
        co_await sleepFor(std::chrono::milliseconds(5));
        if (fail)
            throw APIError::http(500, "urls rotas");
        URLCache::URLMap urls;
        for (int64_t n = first; n <= last; ++n)
            if (std::find(self->leaveOut.begin(), self->leaveOut.end(), n) == self->leaveOut.end())
                urls[n] = "https://store/part" + std::to_string(n) + "?batch=" + std::to_string(batch);
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
    EXPECT_TRUE(outcome.ended);
    if (outcome.error)
        throw std::runtime_error(outcome.message());
    return *outcome.value;
}

TEST(URLCache, OneBatchServesAHundredPartsAndTheNextStartsAtItsOwnNumber)
{
    FakeService service;
    URLCache cache(250, service.fetch());
    for (int64_t n = 1; n <= 100; ++n)
        EXPECT_EQ(urlOf(cache, n), "https://store/part" + std::to_string(n) + "?batch=1");
    ASSERT_EQ(service.calls.size(), 1u);
    EXPECT_EQ(service.calls[0], std::make_pair(int64_t(1), int64_t(100)));

    EXPECT_EQ(urlOf(cache, 101), "https://store/part101?batch=2");
    ASSERT_EQ(service.calls.size(), 2u);
    EXPECT_EQ(service.calls[1], std::make_pair(int64_t(101), int64_t(200)));

    // The total caps the last batch.
    EXPECT_EQ(urlOf(cache, 201), "https://store/part201?batch=3");
    EXPECT_EQ(service.calls[2], std::make_pair(int64_t(201), int64_t(250)));
    EXPECT_EQ(urlOf(cache, 250), "https://store/part250?batch=3");
    EXPECT_EQ(service.calls.size(), 3u);
    // Handing a URL out leaves it in the cache for the next caller.
    EXPECT_EQ(urlOf(cache, 250), "https://store/part250?batch=3");
    EXPECT_EQ(urlOf(cache, 1), "https://store/part1?batch=1");
}

TEST(URLCache, AMissStartsItsBatchAtTheMissingPart)
{
    FakeService service;
    URLCache cache(150, service.fetch());
    EXPECT_EQ(urlOf(cache, 120), "https://store/part120?batch=1");
    ASSERT_EQ(service.calls.size(), 1u);
    EXPECT_EQ(service.calls[0], std::make_pair(int64_t(120), int64_t(150)));
    urlOf(cache, 5);
    EXPECT_EQ(service.calls[1], std::make_pair(int64_t(5), int64_t(104)));
    // 104 came with the second batch, 150 with the first: neither is fetched again.
    urlOf(cache, 104);
    urlOf(cache, 150);
    EXPECT_EQ(service.calls.size(), 2u);
}

TEST(URLCache, CallersMissingTogetherShareOneBatch)
{
    FakeService service;
    URLCache cache(300, service.fetch());
    std::vector<QCoro::Task<std::string>> waiting;
    for (int64_t n = 1; n <= 8; ++n)
        waiting.push_back(cache.url(n));
    for (int64_t n = 1; n <= 8; ++n) {
        auto outcome = awaitTask(std::move(waiting[size_t(n - 1)]));
        ASSERT_TRUE(outcome.ended);
        ASSERT_FALSE(outcome.error) << outcome.message();
        EXPECT_EQ(*outcome.value, "https://store/part" + std::to_string(n) + "?batch=1");
    }
    EXPECT_EQ(service.calls.size(), 1u);
}

TEST(URLCache, ACallerOutsideTheBatchOnItsWayFetchesItsOwn)
{
    FakeService service;
    URLCache cache(300, service.fetch());
    auto first = cache.url(1);
    auto far = cache.url(150);
    EXPECT_EQ(*awaitTask(std::move(far)).value, "https://store/part150?batch=2");
    EXPECT_EQ(*awaitTask(std::move(first)).value, "https://store/part1?batch=1");
    EXPECT_EQ(service.calls.size(), 2u);
}

TEST(URLCache, APartFetchedAgainKeepsTheLatestURL)
{
    FakeService service;
    service.leaveOut = {2};
    URLCache cache(10, service.fetch());
    EXPECT_EQ(urlOf(cache, 3), "https://store/part3?batch=1");   // batch 3..10
    EXPECT_EQ(urlOf(cache, 1), "https://store/part1?batch=2");   // batch 1..10, refreshes 3..10
    EXPECT_EQ(urlOf(cache, 3), "https://store/part3?batch=2");
}

TEST(URLCache, APartMissingFromItsBatchIsADecodeError)
{
    FakeService service;
    service.leaveOut = {4};
    URLCache cache(10, service.fetch());
    auto outcome = awaitTask(cache.url(4));
    ASSERT_TRUE(outcome.ended);
    EXPECT_TRUE(outcome.threw<APIError>());
    EXPECT_EQ(outcome.message(), "Respuesta inesperada del servidor");

    // A number outside the upload is not asked for at all.
    auto beyond = awaitTask(cache.url(11));
    EXPECT_TRUE(beyond.threw<APIError>());
    EXPECT_EQ(service.calls.size(), 1u);
}

TEST(URLCache, AFailedBatchFailsEveryCallerWaitingForItAndIsNotRemembered)
{
    FakeService service;
    service.failNext = true;
    URLCache cache(10, service.fetch());
    auto a = cache.url(1);
    auto b = cache.url(2);
    auto outcomeA = awaitTask(std::move(a));
    auto outcomeB = awaitTask(std::move(b));
    EXPECT_EQ(outcomeA.message(), "Servidor: 500 urls rotas");
    EXPECT_EQ(outcomeB.message(), "Servidor: 500 urls rotas");
    EXPECT_EQ(service.calls.size(), 1u);

    EXPECT_EQ(urlOf(cache, 2), "https://store/part2?batch=2");
}

}  // namespace
}  // namespace zafrel
