// Upload progress: from the transport's events to the item's `loaded` and the speed meter.
#include "engine/progress_delegate.h"
#include "support/transfer_fixture.h"

namespace zafrel::test {
namespace {

using Progress = TransferTest;

TEST(ProgressDelegateEvents, EachEventBecomesADeltaOfTheSameRequest)
{
    std::vector<std::pair<int64_t, int64_t>> seen;
    ProgressDelegate delegate([&](ProgressDelegate::Delta d) { seen.emplace_back(d.increment, d.total); });
    delegate(100, 100);
    const auto transportCallback = delegate.callback();
    transportCallback(50, 150);
    EXPECT_EQ(seen, (std::vector<std::pair<int64_t, int64_t>>{{100, 100}, {50, 150}}));
}

constexpr int64_t kBody = 256 * 1024;

ItemPtr fakeItem(qint64 size, Status status, qint64 loaded)
{
    auto item = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile("/nowhere/x.bin"), size, 0.0,
                                             QString("Dia1/"));
    item->setStatus(status);
    item->setLoaded(loaded);
    return item;
}

TEST_F(Progress, WithABaseLoadedFollowsTheRequestTotalWhateverTheStatus)
{
    const ItemPtr item = fakeItem(kBody + 1000, Status::Paused, 0);
    auto result = awaitTask(manager->put(server.origin() + "/store/x.bin", QByteArray(kBody, 'p'), "", item,
                                         qint64(300), {}));
    ASSERT_TRUE(result.ended);
    ASSERT_FALSE(result.error) << result.message();
    EXPECT_TRUE(runUntil([&] { return item->loaded() == kBody + 300; }, std::chrono::seconds(5)));
    EXPECT_TRUE(runUntil([&] { return manager->meter.totalSent() == kBody; }, std::chrono::seconds(5)));

    // The total is clamped to the item's size.
    const ItemPtr small = fakeItem(1000, Status::Running, 0);
    awaitTask(manager->put(server.origin() + "/store/y.bin", QByteArray(kBody, 'p'), "", small, qint64(0), {}));
    EXPECT_TRUE(runUntil([&] { return manager->meter.totalSent() == 2 * kBody; }, std::chrono::seconds(5)));
    EXPECT_EQ(small->loaded(), 1000);
}

TEST_F(Progress, WithoutABaseIncrementsAddUpOnlyWhileTheItemRuns)
{
    const ItemPtr running = fakeItem(10 * kBody, Status::Running, 1000);
    awaitTask(manager->put(server.origin() + "/store/a.bin", QByteArray(kBody, 'p'), "", running, std::nullopt, {}));
    EXPECT_TRUE(runUntil([&] { return running->loaded() == 1000 + kBody; }, std::chrono::seconds(5)));

    const ItemPtr cancelled = fakeItem(10 * kBody, Status::Cancelled, 1000);
    awaitTask(manager->put(server.origin() + "/store/b.bin", QByteArray(kBody, 'p'), "", cancelled, std::nullopt, {}));
    // The speed meter still counts the bytes; the item's progress stays where it was.
    EXPECT_TRUE(runUntil([&] { return manager->meter.totalSent() == 2 * kBody; }, std::chrono::seconds(5)));
    EXPECT_EQ(cancelled->loaded(), 1000);
}

TEST_F(Progress, PutAnswersTheETagExactlyAsReceived)
{
    server.onPut = [](const FakeUploadService::Put&) {
        return std::optional(FakeUploadService::PutReply{200, "", std::string("\"Mixed-Case-Tag\"")});
    };
    const ItemPtr item = fakeItem(10, Status::Running, 0);
    auto result = awaitTask(manager->put(server.origin() + "/store/c.bin", QByteArray("0123456789"), "", item,
                                         std::nullopt, {}));
    ASSERT_TRUE(result.value.has_value()) << result.message();
    EXPECT_EQ(*result.value, "\"Mixed-Case-Tag\"");

    server.onPut = [](const FakeUploadService::Put&) {
        return std::optional(FakeUploadService::PutReply{200, "", std::nullopt});
    };
    result = awaitTask(manager->put(server.origin() + "/store/d.bin", QByteArray("0123456789"), "", item,
                                    std::nullopt, {}));
    ASSERT_TRUE(result.value.has_value()) << result.message();
    EXPECT_EQ(*result.value, "");
}

}  // namespace
}  // namespace zafrel::test
