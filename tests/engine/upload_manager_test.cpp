#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <QSettings>

#include <gtest/gtest.h>

using namespace zafrel;
using zafrel::test::readWholeFile;
using zafrel::test::runUntil;

namespace {

class UploadManagerTest : public ::testing::Test {
protected:
    void SetUp() override { test::resetEngineState(); }

    static ItemPtr item(Status status, const QString& name = QStringLiteral("a.mov"))
    {
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile("/nowhere/" + name), 10, 0,
                                               QStringLiteral("D/"));
        it->setStatus(status);
        return it;
    }
};

}  // namespace

TEST_F(UploadManagerTest, NewManagerStartsIdleWithItsSettings)
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel").remove("destDir");
    ASSERT_FALSE(settings::value("destDir").has_value());

    auto manager = test::offlineManager();
    EXPECT_EQ(manager->destDir(), "");
    EXPECT_EQ(settings::value("destDir"), QString());   // written straight back
    EXPECT_TRUE(manager->items().empty());
    EXPECT_FALSE(manager->isRunning());
    EXPECT_EQ(manager->speed(), 0);
    EXPECT_EQ(manager->route(), "");
    EXPECT_EQ(manager->bucket, "");
    EXPECT_FALSE(manager->accelerate.has_value());
    EXPECT_FALSE(manager->runTask.has_value());
    EXPECT_TRUE(manager->listingCache.empty());
    EXPECT_EQ(manager->totalSent, 0);
    EXPECT_EQ(manager->filesParallel, 2);
    EXPECT_EQ(manager->partsParallel, 8);
    EXPECT_EQ(manager->minPart, 33554432);
    EXPECT_EQ(manager->singlePutMax, 33554432);
    EXPECT_EQ(manager->stateURL(), paths::dataDir() + "/queue.json");
    EXPECT_EQ(manager->uploadSession().config().cookieFile, QString());
    EXPECT_EQ(manager->uploadSession().config().maxConnectionsPerHost, 16);
}

TEST_F(UploadManagerTest, DestinationIsRememberedAcrossManagers)
{
    auto first = test::offlineManager();
    int changes = 0;
    QObject::connect(first.get(), &UploadManager::destDirChanged, [&] { ++changes; });
    first->setDestDir("Day1/");
    first->setDestDir("Day1/");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(settings::value("destDir"), QStringLiteral("Day1/"));

    auto second = test::offlineManager();
    EXPECT_EQ(second->destDir(), "Day1/");
}

TEST_F(UploadManagerTest, ObservableFieldsNotifyOnEveryAssignment)
{
    auto manager = test::offlineManager();
    int items = 0, running = 0, speed = 0, route = 0;
    QObject::connect(manager.get(), &UploadManager::itemsChanged, [&] { ++items; });
    QObject::connect(manager.get(), &UploadManager::isRunningChanged, [&] { ++running; });
    QObject::connect(manager.get(), &UploadManager::speedChanged, [&] { ++speed; });
    QObject::connect(manager.get(), &UploadManager::routeChanged, [&] { ++route; });
    manager->setItems({});
    manager->setIsRunning(false);
    manager->setSpeed(0);
    manager->setRoute("");
    EXPECT_EQ(items + running + speed + route, 4);
}

TEST_F(UploadManagerTest, CancelMarksAnActiveItemAndRemovesAnyOther)
{
    auto manager = test::offlineManager();
    auto running = item(Status::Running);
    running->setError(QStringLiteral("old"));
    auto queued = item(Status::Queued);
    auto paused = item(Status::Paused);
    manager->setItems({running, queued, paused});

    manager->cancel(running);
    EXPECT_EQ(running->status(), Status::Cancelled);
    EXPECT_FALSE(running->error().has_value());
    EXPECT_EQ(manager->items().size(), 3u);
    manager->cancel(running);   // a second cancel removes it
    EXPECT_EQ(manager->items().size(), 2u);

    manager->cancel(queued);
    EXPECT_EQ(queued->status(), Status::Cancelled);
    manager->cancel(paused);
    ASSERT_EQ(manager->items().size(), 1u);
    EXPECT_EQ(manager->items()[0], queued);
    EXPECT_EQ(readWholeFile(test::queueFilePath()), "[]");   // written at every cancel

    for (Status s : {Status::Done, Status::Skipped, Status::Error, Status::Cancelled}) {
        auto other = item(s);
        manager->setItems({other, queued});
        manager->cancel(other);
        ASSERT_EQ(manager->items().size(), 1u) << statusWord(s).toStdString();
        EXPECT_EQ(manager->items()[0], queued);
    }
}

TEST_F(UploadManagerTest, CancelRemovesEveryItemWithTheSameId)
{
    auto manager = test::offlineManager();
    auto done = item(Status::Done);
    auto twin = std::make_shared<UploadItem>(done->id, done->fileURL, 10, 0, "D/");
    twin->setStatus(Status::Error);
    auto other = item(Status::Paused);
    manager->setItems({done, other, twin});
    manager->cancel(done);
    ASSERT_EQ(manager->items().size(), 1u);
    EXPECT_EQ(manager->items()[0], other);
}

TEST_F(UploadManagerTest, CancelAllWithoutARunMarksWaitingItemsAndWrites)
{
    auto manager = test::offlineManager();
    auto queued = item(Status::Queued);
    auto paused = item(Status::Paused);
    auto failed = item(Status::Error);
    manager->setItems({queued, paused, failed});
    manager->cancelAll();
    EXPECT_EQ(queued->status(), Status::Cancelled);
    EXPECT_EQ(paused->status(), Status::Paused);
    EXPECT_EQ(failed->status(), Status::Error);
    EXPECT_FALSE(manager->isRunning());
    const QByteArray written = readWholeFile(test::queueFilePath());
    EXPECT_TRUE(written.contains(R"("status":"paused")"));
    EXPECT_TRUE(written.contains(R"("status":"error")"));
    EXPECT_FALSE(written.contains(R"("status":"queued")"));
}

// An open multipart upload is kept for the transfer to continue with its verified parts; an item
// without one starts from the beginning with the file as it is now.
TEST_F(UploadManagerTest, RetryQueuesAgainInPlaceKeepingAnOpenUpload)
{
    const QString path = test::writeFile(test::sandboxDir() + "/retry/clip.mov", QByteArray(25, 'x'));
    for (const bool open : {true, false}) {
        auto manager = test::offlineManager();
        auto first = item(Status::Done);
        auto failed = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), 10, 0, "D/");
        failed->setStatus(Status::Error);
        failed->setError(QStringLiteral("HTTP 500 "));
        failed->setLoaded(7);
        failed->setVerified(true);
        failed->key = QStringLiteral("k");
        if (open)
            failed->uploadId = QStringLiteral("u");
        failed->partSize = 4;
        failed->etags = {{1, "a"}};
        failed->started = QDateTime::currentDateTimeUtc();
        failed->finished = failed->started;
        manager->setItems({first, failed});
        manager->persistNow();
        const QByteArray before = readWholeFile(test::queueFilePath());

        manager->retry(failed);
        EXPECT_EQ(failed->status(), Status::Queued);
        EXPECT_FALSE(failed->error().has_value());
        EXPECT_EQ(failed->uploadId.has_value(), open);
        EXPECT_EQ(failed->etags.size(), open ? 1u : 0u);
        EXPECT_EQ(failed->loaded(), open ? 4 : 0);
        EXPECT_EQ(failed->size, open ? 10 : 25) << "the size is taken afresh only when starting over";
        EXPECT_EQ(failed->mtime != 0, !open);
        EXPECT_EQ(failed->key, QStringLiteral("k"));
        EXPECT_EQ(failed->partSize, 4);
        EXPECT_TRUE(failed->verified());
        EXPECT_TRUE(failed->started.has_value());
        EXPECT_TRUE(failed->finished.has_value());
        EXPECT_EQ(manager->items()[1], failed);
        EXPECT_TRUE(manager->isRunning());
        EXPECT_EQ(readWholeFile(test::queueFilePath()), before);   // retry itself writes nothing
    }
}

TEST_F(UploadManagerTest, ResumePausedLeavesErrorsAlone)
{
    auto manager = test::offlineManager();
    auto paused = item(Status::Paused);
    auto failed = item(Status::Error);
    manager->setItems({paused, failed});
    manager->resumePaused();
    EXPECT_EQ(paused->status(), Status::Queued);
    EXPECT_EQ(failed->status(), Status::Error);
    EXPECT_TRUE(manager->isRunning());
}

TEST_F(UploadManagerTest, ClearFinishedKeepsWaitingItemsInOrderInOneChange)
{
    auto manager = test::offlineManager();
    auto q = item(Status::Queued, "q");
    auto r = item(Status::Running, "r");
    auto p = item(Status::Paused, "p");
    manager->setItems({item(Status::Done), q, item(Status::Skipped), r, item(Status::Error), p,
                       item(Status::Cancelled)});
    int changes = 0;
    QObject::connect(manager.get(), &UploadManager::itemsChanged, [&] { ++changes; });
    manager->clearFinished();
    EXPECT_EQ(manager->items(), (std::vector<ItemPtr>{q, r, p}));
    EXPECT_EQ(changes, 1);
    const QByteArray written = readWholeFile(test::queueFilePath());
    EXPECT_EQ(written.count("\"id\""), 3);
}

TEST_F(UploadManagerTest, RunBeginsAfterStartReturnsAndWindsDown)
{
    auto manager = test::offlineManager();
    auto a = item(Status::Queued, "a");
    auto b = item(Status::Queued, "b");
    manager->setItems({a, b});
    manager->listingCache["D/"]["x"] = 1;
    manager->setSpeed(123);

    manager->start();
    EXPECT_TRUE(manager->isRunning());
    EXPECT_EQ(a->status(), Status::Queued);   // nothing of the run has happened yet
    ASSERT_TRUE(manager->runTask.has_value());
    const std::stop_source run = *manager->runTask;
    manager->start();   // a run is under way: nothing new
    EXPECT_TRUE(*manager->runTask == run);

    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    // Offline, every transfer fails; what matters here is that each item was handed over once.
    EXPECT_EQ(a->status(), Status::Error);
    EXPECT_EQ(b->status(), Status::Error);
    EXPECT_TRUE(a->started.has_value());
    EXPECT_EQ(manager->speed(), 0);
    EXPECT_TRUE(manager->listingCache.empty());
    EXPECT_EQ(manager->accelerate, false);   // decided by the first run, kept afterwards
    EXPECT_TRUE(readWholeFile(test::queueFilePath()).contains(R"("status":"error")"));

    // A stop requested on a run that has ended changes nothing.
    auto later = item(Status::Queued, "later");
    manager->setItems({later});
    manager->cancelAll();
    EXPECT_EQ(later->status(), Status::Cancelled);
    EXPECT_FALSE(manager->isRunning());
}

TEST_F(UploadManagerTest, NoQueuedItemStillMakesARun)
{
    auto manager = test::offlineManager();
    auto paused = item(Status::Paused);
    manager->setItems({paused});
    manager->start();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(paused->status(), Status::Paused);
}

TEST_F(UploadManagerTest, CancelAllStopsARunInProgress)
{
    auto manager = test::offlineManager();
    auto a = item(Status::Queued, "a");
    manager->setItems({a});
    manager->start();
    manager->cancelAll();
    EXPECT_EQ(a->status(), Status::Cancelled);
    EXPECT_TRUE(manager->runTask->stop_requested());
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(a->status(), Status::Cancelled);

    // The next start is a new run with a stop source of its own.
    auto b = item(Status::Queued, "b");
    manager->setItems({b});
    manager->start();
    EXPECT_FALSE(manager->runTask->stop_requested());
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_NE(b->status(), Status::Queued);
}

TEST_F(UploadManagerTest, ManagerMayGoAwayWithARunPending)
{
    auto manager = test::offlineManager();
    manager->setItems({item(Status::Queued)});
    manager->start();
    manager.reset();   // before the run began
    runUntil([] { return false; }, std::chrono::milliseconds(100));

    manager = test::offlineManager();
    manager->setItems({item(Status::Queued)});
    manager->start();
    runUntil([&] { return manager->items()[0]->status() != Status::Queued; });
    manager.reset();   // while the run winds down
    runUntil([] { return false; }, std::chrono::milliseconds(100));
}
