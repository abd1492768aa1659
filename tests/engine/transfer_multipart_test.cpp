// Files above 32 MiB: multipart uploads, their continuation and their failures.
#include "support/engine_env.h"
#include "support/transfer_fixture.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>

namespace zafrel::test {
namespace {

using Reply = FakeUploadService::PutReply;
using Multipart = TransferTest;

std::vector<int> partNumbers(const std::vector<FakeUploadService::Put>& puts)
{
    std::vector<int> numbers;
    for (const auto& put : puts)
        numbers.push_back(put.partNumber);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

TEST_F(Multipart, OneByteOverTheLimitGoesInTwoParts)
{
    const QString path = makeFile("big.bin", kMiB32 + 1);
    const ItemPtr item = makeItem(path);
    runUpload(item);

    EXPECT_EQ(item->status(), Status::Done);
    EXPECT_TRUE(item->verified());
    EXPECT_EQ(item->loaded(), kMiB32 + 1);
    EXPECT_EQ(item->key, "Dia1/big.bin");
    EXPECT_EQ(item->uploadId, "up-1");
    EXPECT_EQ(item->partSize, kMiB32);

    const auto puts = server.puts();
    ASSERT_EQ(puts.size(), 2u);
    for (const auto& put : puts) {
        EXPECT_EQ(put.uploadId, "up-1");
        EXPECT_EQ(put.bytes, put.partNumber == 1 ? kMiB32 : 1);
        EXPECT_EQ(put.contentType, "");   // parts carry no Content-Type
    }
    EXPECT_EQ(partNumbers(puts), (std::vector<int>{1, 2}));

    // Each part asks for a batch from its own number up to the last part once its bytes are read;
    // the two reads race, so there may be one batch or two.
    const auto batches = server.urlRequests();
    ASSERT_GE(batches.size(), 1u);
    ASSERT_LE(batches.size(), 2u);
    for (const auto& batch : batches) {
        EXPECT_EQ(batch.key, "Dia1/big.bin");
        EXPECT_EQ(batch.uploadId, "up-1");
        EXPECT_EQ(batch.last, 2);
        EXPECT_EQ(batch.accelerate, "0");
    }

    ASSERT_EQ(server.completions().size(), 1u);
    const auto completion = server.completions()[0];
    EXPECT_EQ(completion.key, "Dia1/big.bin");
    EXPECT_EQ(completion.uploadId, "up-1");
    const std::vector<std::pair<int64_t, std::string>> expected{
        {1, quoted(md5Of(path, 0, kMiB32))}, {2, quoted(md5Of(path, kMiB32, 1))}};
    EXPECT_EQ(completion.parts, expected);
    // The ETags are kept as the store sent them, quotes included.
    EXPECT_EQ(item->etags.at(1).toStdString(), expected[0].second);
    EXPECT_TRUE(server.aborts().empty());
}

TEST_F(Multipart, APartSizeBelowTheMinimumIsRaisedAndALargerOneIsKept)
{
    qint64 proposed = 5 << 20;
    server.onInit = [&](const nlohmann::json& body) {
        auto answer = server.defaultInit(body);
        answer["partSize"] = proposed;
        return answer;
    };
    const ItemPtr small = makeItem(makeSparseFile("small-parts.bin", kMiB32 + 10));
    runUpload(small);
    EXPECT_EQ(small->status(), Status::Done);
    EXPECT_EQ(small->partSize, kMiB32);
    EXPECT_EQ(server.puts().size(), 2u);

    proposed = 40 << 20;
    const ItemPtr large = makeItem(makeSparseFile("large-parts.bin", kMiB32 + 10));
    runUpload(large);
    EXPECT_EQ(large->status(), Status::Done);
    EXPECT_EQ(large->partSize, 40 << 20);
    EXPECT_EQ(server.puts().size(), 3u);   // one part only
}

// A plan the store would refuse, or whose part count overflows, fails before anything is sent; an
// upload the service opened for it is aborted.
TEST_F(Multipart, AnAnswerThatIsNotAUsableMultipartPlanIsADecodeError)
{
    const struct {
        nlohmann::json change;
        bool aborted;   // an upload the service did open
    } cases[] = {
        {{{"mode", "single"}}, false},
        {{{"uploadId", nullptr}}, false},
        {{{"partSize", int64_t(1) << 62}}, true},
        {{{"partSize", (int64_t(5) << 30) + 1}}, true},
    };
    size_t aborts = 0;
    for (const auto& c : cases) {
        server.onInit = [&](const nlohmann::json& body) {
            auto answer = server.defaultInit(body);
            answer.update(c.change);
            return answer;
        };
        const ItemPtr item = makeItem(makeSparseFile("big.bin", kMiB32 + 1));
        runUpload(item);
        EXPECT_EQ(item->status(), Status::Error) << c.change;
        EXPECT_EQ(item->error(), "Respuesta inesperada del servidor");
        EXPECT_FALSE(item->uploadId.has_value());
        aborts += c.aborted ? 1 : 0;
        EXPECT_EQ(server.aborts().size(), aborts) << c.change;
    }
    server.onInit = {};
    EXPECT_TRUE(server.puts().empty());
    EXPECT_TRUE(server.urlRequests().empty());
    EXPECT_TRUE(server.completions().empty());
}

TEST_F(Multipart, AContinuedUploadSendsOnlyTheMissingPartsAndCompletesWithAll)
{
    const QString path = makeSparseFile("four.bin", 3 * kMiB32 + 1000);
    const ItemPtr item = makeItem(path);
    item->key = "Dia1/four.bin";
    item->uploadId = "up-resumed";
    item->partSize = kMiB32;
    item->etags = {{1, "\"stored-1\""}, {3, "\"stored-3\""}};
    runUpload(item);

    EXPECT_EQ(item->status(), Status::Done);
    EXPECT_TRUE(server.inits().empty());
    EXPECT_EQ(partNumbers(server.puts()), (std::vector<int>{2, 4}));
    for (const auto& put : server.puts())
        EXPECT_EQ(put.uploadId, "up-resumed");

    ASSERT_EQ(server.completions().size(), 1u);
    const std::vector<std::pair<int64_t, std::string>> expected{{1, "\"stored-1\""},
                                                                {2, quoted(md5Of(path, kMiB32, kMiB32))},
                                                                {3, "\"stored-3\""},
                                                                {4, quoted(md5Of(path, 3 * kMiB32, 1000))}};
    EXPECT_EQ(server.completions()[0].parts, expected);
    EXPECT_EQ(server.completions()[0].uploadId, "up-resumed");
}

// A continued upload that cannot go on is aborted and the file goes in a new one: a part size from
// an edited queue file that the store would refuse (or that would make countless parts), or an
// upload the service no longer knows. One whose file meanwhile stands at the destination is
// aborted too.
TEST_F(Multipart, AContinuedUploadThatCannotGoOnIsAbortedAndStartedAnew)
{
    const struct {
        qint64 partSize;
        bool forgotten, listed;
    } cases[] = {{1 << 20, false, false}, {(qint64(5) << 30) + 1, false, false}, {kMiB32, true, false}, {kMiB32, false, true}};
    for (const auto& c : cases) {
        const std::string old = "up-old-" + std::to_string(c.partSize) + (c.listed ? "-listed" : "");
        const QString path = makeSparseFile(QString::fromStdString(old), kMiB32 + 1);
        const ItemPtr item = makeItem(path);
        item->key = QString::fromStdString(key(item));
        item->uploadId = QString::fromStdString(old);
        item->partSize = c.partSize;
        item->etags = {{1, "\"e1\""}};
        if (c.forgotten)
            server.forget(old);
        if (c.listed) {
            server.list("Dia1/", old, kMiB32 + 1);
            manager->listings.clear();   // as at the start of a run
        }
        const size_t completions = server.completions().size();
        runUpload(item);

        EXPECT_EQ(item->status(), c.listed ? Status::Skipped : Status::Done) << old;
        ASSERT_FALSE(server.aborts().empty());
        EXPECT_EQ(server.aborts().back(), std::make_pair(key(item), old));
        EXPECT_FALSE(item->uploadId.has_value() && *item->uploadId == QString::fromStdString(old));
        if (c.listed)
            continue;
        EXPECT_EQ(item->partSize, kMiB32);
        ASSERT_EQ(server.completions().size(), completions + 1);
        EXPECT_NE(server.completions().back().uploadId, old);
        EXPECT_EQ(server.completions().back().parts.size(), 2u);
    }
    EXPECT_EQ(server.inits().size(), 3u);
}

TEST_F(Multipart, AnUploadWithEveryPartStoredGoesStraightToCompletion)
{
    const ItemPtr item = makeItem(makeSparseFile("done.bin", kMiB32 + 1));
    item->key = "Dia1/done.bin";
    item->uploadId = "up-9";
    item->partSize = kMiB32;
    item->etags = {{1, "\"e1\""}, {2, "\"e2\""}};
    runUpload(item);

    EXPECT_EQ(item->status(), Status::Done);
    EXPECT_TRUE(item->verified());
    EXPECT_TRUE(server.puts().empty());
    EXPECT_TRUE(server.urlRequests().empty());
    ASSERT_EQ(server.completions().size(), 1u);
    EXPECT_EQ(server.completions()[0].parts, (std::vector<std::pair<int64_t, std::string>>{{1, "\"e1\""}, {2, "\"e2\""}}));
}

// The first completion's answer is lost (503), a second attempt finds the upload gone (404): the
// object listed with the file's size means the first one went through; without it the item fails.
TEST_F(Multipart, ACompletionRetriedAfterItWentThroughIsRecognised)
{
    for (const bool wentThrough : {true, false}) {
        SCOPED_TRACE(wentThrough);
        const QString name = wentThrough ? "through.bin" : "lost.bin";
        const ItemPtr item = makeItem(makeSparseFile(name, kMiB32 + 1));
        auto attempts = std::make_shared<int>(0);
        server.intercept = [this, attempts, wentThrough, name, size = item->size](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.path != "/api/upload/complete")
                return std::nullopt;
            const bool first = (*attempts)++ == 0;
            if (first && wentThrough)
                server.list("Dia1/", name.toStdString(), size);
            return jsonReply({{"error", "La subida no existe"}}, first ? 503 : 404);
        };
        runUpload(item);
        EXPECT_EQ(*attempts, 2);
        EXPECT_EQ(item->status(), wentThrough ? Status::Done : Status::Error);
        EXPECT_EQ(item->verified(), wentThrough);
        EXPECT_EQ(server.puts().size(), wentThrough ? 2u : 4u);
    }
}

TEST_F(Multipart, EachStoredPartIsOnTheItemAndInTheQueueFileBeforeTheUploadEnds)
{
    Gate& second = gates[0];
    holdPuts(second, [](const auto& put) { return put.partNumber == 2; });
    const QString path = makeSparseFile("big.bin", kMiB32 + 1);
    const ItemPtr item = makeItem(path);
    manager->setItems({item});
    Started& started = startUpload(item, {}, 8);

    ASSERT_TRUE(runUntil([&] { return item->etags.contains(1); }));
    EXPECT_FALSE(started.ended());
    EXPECT_EQ(item->loaded(), kMiB32);
    // On disk as a restart reads it: the queue file and the journal beside it.
    const QByteArray storedPart = QByteArray::fromStdString(md5Of(path, 0, kMiB32));
    EXPECT_TRUE(runUntil(
        [&] {
            const QByteArray onDisk = test::readWholeFile(paths::dataDir() + "/queue.json")
                                      + test::readWholeFile(paths::dataDir() + "/queue.journal");
            return onDisk.contains("up-1") && onDisk.contains(storedPart);
        },
        std::chrono::seconds(5)));

    second.open();
    ASSERT_TRUE(started.waitEnded());
    EXPECT_EQ(item->status(), Status::Done);
}

TEST_F(Multipart, OnePartWithAWrongETagFailsTheItemAndKeepsTheStoredParts)
{
    Gate& second = gates[0];
    holdPuts(second, [](const auto& put) { return put.partNumber == 2; },
             Reply{200, "", std::string("\"0123456789abcdef0123456789abcdef\"")});
    const ItemPtr item = makeItem(makeSparseFile("big.bin", kMiB32 + 1));
    Started& started = startUpload(item, {}, 8);
    ASSERT_TRUE(runUntil([&] { return item->etags.contains(1); }));
    second.open();
    ASSERT_TRUE(started.waitEnded());

    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), "La verificación MD5 no coincide");
    EXPECT_FALSE(item->verified());
    EXPECT_EQ(item->etags.size(), 1u);
    EXPECT_TRUE(item->etags.contains(1));
    EXPECT_EQ(item->uploadId, "up-1");   // kept for a later continuation
    EXPECT_TRUE(server.completions().empty());
    EXPECT_TRUE(server.aborts().empty());
    EXPECT_EQ(server.puts().size(), 2u);   // a mismatch is not retried
    EXPECT_TRUE(runUntil([&] { return started.sem.count() == 8; }, std::chrono::seconds(5)));
}

TEST_F(Multipart, AFailingPartStopsTheOthersAndEveryPermitComesBack)
{
    // Part 2 (one byte) fails for good while part 1 is held by the store.
    Gate& held = gates[0];
    server.onPut = [&](const FakeUploadService::Put& put) {
        if (put.partNumber == 2)
            return std::optional(Reply{500, "roto", std::nullopt});
        return std::optional(Reply{200, "", "\"" + put.md5 + "\"", &held});
    };
    const ItemPtr item = makeItem(makeSparseFile("big.bin", kMiB32 + 1));
    Started& started = startUpload(item, {}, 2);
    ASSERT_TRUE(started.waitEnded(std::chrono::seconds(20))) << "a held part must not keep the failure waiting";
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), "HTTP 500 roto");
    EXPECT_TRUE(item->etags.empty());
    EXPECT_TRUE(server.completions().empty());
    held.open();
    EXPECT_TRUE(runUntil([&] { return started.sem.count() == 2; }, std::chrono::seconds(10)));
}

TEST_F(Multipart, PartsStillWaitingForAPermitWhenAnotherFailsAreNeverSent)
{
    // Three parts, one permit: part 1 fails at once; parts 2 and 3 get the permit only afterwards.
    server.onPut = [](const FakeUploadService::Put& put) {
        return put.partNumber == 1 ? std::optional(Reply{403, "no", std::nullopt}) : std::nullopt;
    };
    retry::setWaitScaleForTests(0.0);
    const ItemPtr item = makeItem(makeSparseFile("three.bin", 2 * kMiB32 + 1));
    runUpload(item, {}, 1);
    EXPECT_EQ(item->status(), Status::Error);
    for (const auto& put : server.puts())
        EXPECT_EQ(put.partNumber, 1);
}

// A part takes one permit per minimum part size it spans, so that the part bodies in memory stay
// within the run's budget whatever the part size.
TEST_F(Multipart, ThePermitsBoundThePartsInFlight)
{
    const struct {
        qint64 partSize;
        int permits;
    } cases[] = {{kMiB32, 1}, {2 * kMiB32, 2}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        server.onInit = [this, c](const nlohmann::json& body) {
            auto answer = server.defaultInit(body);
            answer["partSize"] = c.partSize;
            return answer;
        };
        Gate& held = gates[i];
        holdPuts(held);
        const size_t before = server.puts().size();
        const ItemPtr item = makeItem(makeSparseFile(QString("three-%1.bin").arg(i), 2 * c.partSize + 1));
        Started& started = startUpload(item, {}, c.permits);
        ASSERT_TRUE(runUntil([&] { return held.waiting() == 1; }));
        runUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(held.waiting(), 1) << c.partSize;
        EXPECT_EQ(server.puts().size(), before + 1);
        EXPECT_EQ(started.sem.count(), 0);
        held.open();
        ASSERT_TRUE(started.waitEnded());
        EXPECT_EQ(item->status(), Status::Done);
        EXPECT_EQ(server.puts().size(), before + 3);
        EXPECT_TRUE(runUntil([&] { return started.sem.count() == c.permits; }, std::chrono::seconds(5)));
    }
    server.onInit = {};
}

TEST_F(Multipart, AUserCancelAbortsTheUploadOnceItsPartsHaveEnded)
{
    Gate& held = gates[0];
    holdPuts(held);
    const ItemPtr item = makeItem(makeSparseFile("big.bin", kMiB32 + 1));
    Started& started = startUpload(item, {}, 8);
    ASSERT_TRUE(runUntil([&] { return held.waiting() == 2; }));
    item->setStatus(Status::Cancelled);
    held.open();
    ASSERT_TRUE(started.waitEnded());

    EXPECT_EQ(item->status(), Status::Cancelled);
    EXPECT_FALSE(item->error().has_value());
    ASSERT_EQ(server.aborts().size(), 1u);
    EXPECT_EQ(server.aborts()[0], std::make_pair(std::string("Dia1/big.bin"), std::string("up-1")));
    EXPECT_TRUE(server.completions().empty());
}

TEST_F(Multipart, AStoppedRunPausesTheItemAndKeepsItsParts)
{
    Gate& second = gates[0];
    holdPuts(second, [](const auto& put) { return put.partNumber == 2; });
    const ItemPtr item = makeItem(makeSparseFile("big.bin", kMiB32 + 1));
    std::stop_source run;
    Started& started = startUpload(item, run.get_token(), 8);
    ASSERT_TRUE(runUntil([&] { return item->etags.contains(1) && second.waiting() == 1; }));
    run.request_stop();
    ASSERT_TRUE(started.waitEnded(std::chrono::seconds(5)));
    EXPECT_EQ(item->status(), Status::Paused);
    EXPECT_EQ(item->uploadId, "up-1");
    EXPECT_EQ(item->etags.size(), 1u);
    EXPECT_TRUE(server.aborts().empty());
    second.open();
    EXPECT_TRUE(runUntil([&] { return started.sem.count() == 8; }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace zafrel::test
