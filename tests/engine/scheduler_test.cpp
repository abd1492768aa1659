// The scheduler over real transfers: order, concurrency, cancel and the end of a run.
#include "support/transfer_fixture.h"

#include <nlohmann/json.hpp>

#include <QList>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <utility>

namespace zafrel::test {
namespace {

using Reply = FakeUploadService::PutReply;
using Scheduler = TransferTest;

class HeldScheduler : public Scheduler {
protected:
    void SetUp() override
    {
        Scheduler::SetUp();
        // The PUT of file fN waits for gates[N].
        server.onPut = [this](const FakeUploadService::Put& put) {
            const auto digits = put.key.find_last_not_of("0123456789") + 1;
            const int n = std::stoi(put.key.substr(digits));
            return std::optional(Reply{200, "", "\"" + put.md5 + "\"", &gates[n]});
        };
        manager->setDestDir("Dia1/");
    }

    // Queues f1 .. fN (small files) through the intake, in that order.
    void addFiles(int count)
    {
        QList<QUrl> urls;
        for (int n = 1; n <= count; ++n)
            urls.push_back(QUrl::fromLocalFile(makeFile(QString("f%1").arg(n), 100 + n)));
        manager->add(urls, QString());
        ASSERT_EQ(manager->items().size(), size_t(count));
    }

    ItemPtr item(int n) const { return manager->items()[size_t(n - 1)]; }

    std::vector<Status> statuses() const
    {
        std::vector<Status> out;
        for (const ItemPtr& it : manager->items())
            out.push_back(it->status());
        return out;
    }

    bool waiting(int n) const { return gates[n].waiting() == 1; }
    // Files f1 .. fN all hold their PUT at the gate.
    bool firstWaiting(int count) const
    {
        for (int n = 1; n <= count; ++n)
            if (!waiting(n))
                return false;
        return true;
    }
};

// Small files go eight at a time (large ones would go two at a time), in queue order.
TEST_F(HeldScheduler, EightSmallFilesAtATimeInQueueOrder)
{
    addFiles(10);
    ASSERT_TRUE(runUntil([&] { return firstWaiting(8); }));
    using S = Status;
    const std::vector<S> eightRunning{8, S::Running};
    auto expected = eightRunning;
    expected.insert(expected.end(), {S::Queued, S::Queued});
    EXPECT_EQ(statuses(), expected);
    EXPECT_TRUE(item(1)->started.has_value());
    EXPECT_FALSE(item(9)->started.has_value());

    gates[1].open();
    ASSERT_TRUE(runUntil([&] { return waiting(9); }));
    expected[0] = S::Done;
    expected[8] = S::Running;
    EXPECT_EQ(statuses(), expected);

    for (int n = 1; n <= 10; ++n)
        gates[n].open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(statuses(), std::vector<S>(10, S::Done));
    EXPECT_EQ(server.doneCalls(), 1);
    EXPECT_FALSE(manager->listings.has("Dia1/"));   // a run's listings end with it
    EXPECT_EQ(manager->speed(), 0.0);
    // The first eight miss the cache together and share one listing of the folder.
    EXPECT_EQ(server.listed().size(), 1u);
}

// The upload starts of the next small files are asked while the current ones send (once the
// folder's listing is in): with f2 .. f9 holding their PUTs, f10 .. f17 have their start already,
// and no file's start is asked twice.
TEST_F(HeldScheduler, TheNextSmallFilesAreStartedWhileTheCurrentOnesSend)
{
    addFiles(20);
    ASSERT_TRUE(runUntil([&] { return firstWaiting(8); }));
    gates[1].open();
    ASSERT_TRUE(runUntil([&] { return waiting(9) && server.inits().size() >= 17; }));
    std::set<std::string> names;
    for (const nlohmann::json& init : server.inits())
        names.insert(init.at("name").get<std::string>());
    std::set<std::string> expected;
    for (int n = 1; n <= 17; ++n)
        expected.insert("f" + std::to_string(n));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(item(10)->status(), Status::Queued);

    for (int n = 2; n <= 20; ++n)
        gates[n].open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(statuses(), std::vector<Status>(20, Status::Done));
    EXPECT_EQ(server.inits().size(), 20u);
}

// Large files go two at a time beside the small ones; a large file waiting for its turn holds
// back the files queued after it, so that files still start in queue order.
TEST_F(HeldScheduler, LargeFilesTwoAtATimeBesideSmallOnes)
{
    const bool large[] = {true, true, false, false, true, false};
    QList<QUrl> urls;
    for (int n = 1; n <= 6; ++n) {
        const QString name = QString("f%1").arg(n);
        urls.push_back(QUrl::fromLocalFile(large[n - 1] ? makeSparseFile(name, kMiB32 + 1) : makeFile(name, 100 + n)));
    }
    manager->add(urls, QString());
    using S = Status;
    ASSERT_TRUE(runUntil([&] { return waiting(3) && waiting(4) && gates[1].waiting() > 0 && gates[2].waiting() > 0; }));
    EXPECT_EQ(statuses(), (std::vector<S>{S::Running, S::Running, S::Running, S::Running, S::Queued, S::Queued}));

    gates[1].open();
    ASSERT_TRUE(runUntil([&] { return gates[5].waiting() > 0 && waiting(6); }));
    EXPECT_EQ(item(1)->status(), S::Done);
    EXPECT_EQ(item(5)->status(), S::Running);

    for (int n = 2; n <= 6; ++n)
        gates[n].open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(statuses(), std::vector<S>(6, S::Done));
}

TEST_F(HeldScheduler, AFirstCancelMarksARunningItemAndASecondRemovesIt)
{
    addFiles(1);
    ASSERT_TRUE(runUntil([&] { return waiting(1); }));
    const ItemPtr running = item(1);

    manager->cancel(running);
    EXPECT_EQ(running->status(), Status::Cancelled);
    ASSERT_EQ(manager->items().size(), 1u);

    manager->cancel(running);
    EXPECT_TRUE(manager->items().empty());

    // The request in flight is not stopped by the cancel; it still succeeds.
    gates[1].open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(running->status(), Status::Done);
}

TEST_F(HeldScheduler, ACancelledQueuedItemIsNeverStarted)
{
    addFiles(10);
    ASSERT_TRUE(runUntil([&] { return firstWaiting(8); }));
    manager->cancel(item(9));
    for (int n = 1; n <= 10; ++n)
        gates[n].open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(item(9)->status(), Status::Cancelled);
    EXPECT_EQ(server.puts().size(), 9u);
}

TEST_F(HeldScheduler, CancelAllStopsTheRunAndItsItemsStayCancelled)
{
    addFiles(10);
    ASSERT_TRUE(runUntil([&] { return firstWaiting(8); }));
    manager->cancelAll();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }, std::chrono::seconds(10)));
    EXPECT_EQ(statuses(), std::vector<Status>(10, Status::Cancelled));
    EXPECT_EQ(server.doneCalls(), 1);
    EXPECT_EQ(server.puts().size(), 8u);
}

TEST_F(Scheduler, EachRunListsTheDestinationAfresh)
{
    manager->setDestDir("Dia1/");
    manager->add({QUrl::fromLocalFile(makeFile("a", 10))}, QString());
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning() && server.doneCalls() == 1; }));
    manager->add({QUrl::fromLocalFile(makeFile("b", 10))}, QString());
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning() && server.doneCalls() == 2; }));
    EXPECT_EQ(server.listed().size(), 2u);
    EXPECT_EQ(manager->items()[0]->status(), Status::Done);
    EXPECT_EQ(manager->items()[1]->status(), Status::Done);
}

// An upload the queue lets go of is aborted at the service, or its stored parts would stay (and be
// billed) with nothing left to complete them; a completed one is left alone.
TEST_F(Scheduler, AnOpenUploadTheQueueLetsGoOfIsAborted)
{
    const auto withUpload = [this](const char* name, Status status) {
        const QString path = makeFile(name, 10);
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), 10, 0, "D/");
        it->setStatus(status);
        it->key = QString("D/") + name;
        it->uploadId = QString("up-") + name;
        it->etags = {{1, "\"e\""}};
        return it;
    };
    const ItemPtr removed = withUpload("removed", Status::Paused);
    const ItemPtr cancelled = withUpload("cancelled", Status::Queued);
    const ItemPtr all = withUpload("all", Status::Queued);
    const ItemPtr failed = withUpload("failed", Status::Error);
    const ItemPtr done = withUpload("done", Status::Done);
    const ItemPtr gone = withUpload("gone", Status::Paused);
    manager->setItems({removed, cancelled, all, failed, done, gone});
    manager->clearFinished();   // the failed and the done one
    manager->cancel(removed);
    manager->cancel(cancelled);   // stays in the list, cancelled, and is never run
    manager->cancelAll();
    QFile::remove(gone->path);
    restartManager();           // the restored queue drops the entry whose file is gone

    const std::set<std::string> expected{"up-removed", "up-cancelled", "up-all", "up-failed", "up-gone"};
    ASSERT_TRUE(runUntil([&] { return server.aborts().size() >= expected.size(); }));
    std::set<std::string> aborted;
    for (const auto& [key, uploadId] : server.aborts())
        aborted.insert(uploadId);
    EXPECT_EQ(aborted, expected);
    EXPECT_TRUE(manager->items().empty());
}

// The service out of reach (its gateway answers 503 through every retry) or the session ended
// (401): the run stops taking files, everything ends paused without an error, and continuing the
// pending files sends them all.
TEST_F(Scheduler, AnOutageOrALostSessionPausesTheWholeRunUntilContinued)
{
    for (const auto& [status, cause] : {std::pair{503, PauseCause::NoConnection}, std::pair{401, PauseCause::SessionEnded}}) {
        SCOPED_TRACE(status);
        auto failing = std::make_shared<bool>(true);
        server.intercept = [failing, status](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.path != "/api/upload/init" || !*failing)
                return std::nullopt;
            return jsonReply({{"error", "x"}}, status);
        };
        manager->setDestDir(QString("Pausa%1/").arg(status));
        QList<QUrl> urls;
        // Three times the small files a run has in hand at once.
        constexpr int kFiles = 24;
        for (int n = 1; n <= kFiles; ++n)
            urls.push_back(QUrl::fromLocalFile(makeFile(QString("p%1-%2").arg(status).arg(n), 100 + n)));
        manager->add(urls, QString());
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
        EXPECT_EQ(manager->pauseCause(), cause);
        const Summary paused = manager->summary();
        EXPECT_EQ(paused.paused, kFiles);
        EXPECT_EQ(paused.errors, 0) << manager->items().front()->error().value_or("").toStdString();
        // Only the files in hand were started.
        const auto started = std::count_if(manager->items().begin(), manager->items().end(),
                                           [](const ItemPtr& item) { return item->started.has_value(); });
        EXPECT_GT(started, 0);
        EXPECT_LT(started, kFiles);

        *failing = false;
        manager->resumePaused();
        EXPECT_FALSE(manager->pauseCause().has_value());
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
        EXPECT_EQ(manager->summary().done, kFiles);
        manager->clearFinished();
    }
}

}  // namespace
}  // namespace zafrel::test
