// The retry schedule of object-store requests, and how cancellation ends a transfer.
#include "support/transfer_fixture.h"

#include "platform/retry_schedule.h"

namespace zafrel::test {
namespace {

using Reply = FakeUploadService::PutReply;
using Retries = TransferTest;

TEST(RetrySchedule, WaitsOneThreeSixAndTwelveSeconds)
{
    retry::setWaitScaleForTests(1.0);
    EXPECT_EQ(retry::waitAfter(0), std::chrono::seconds(1));
    EXPECT_EQ(retry::waitAfter(1), std::chrono::seconds(3));
    EXPECT_EQ(retry::waitAfter(2), std::chrono::seconds(6));
    EXPECT_EQ(retry::waitAfter(3), std::chrono::seconds(12));
    EXPECT_EQ(retry::maxAttempts, 5);
}

// The store refuses a pre-signed URL that expired with 403: the next attempt goes to a fresh one (a
// single request is started again at the service, a part asks for its URL again), within the same
// five attempts; a refusal that persists with fresh URLs still ends the item with the store's answer.
TEST_F(Retries, ARefusedURLIsRenewedBeforeTheNextAttempt)
{
    server.onPut = [](const FakeUploadService::Put& put) {
        const bool refused = put.key == "Dia1/never.bin" || (put.attempt == 1 && put.partNumber != 1);
        return refused ? std::optional(Reply{403, "<Error>Request has expired</Error>", std::nullopt}) : std::nullopt;
    };
    const ItemPtr single = makeItem(makeFile("a.bin", 100));
    runUpload(single);
    EXPECT_EQ(single->status(), Status::Done);
    EXPECT_TRUE(single->verified());
    EXPECT_EQ(server.inits().size(), 2u);

    const ItemPtr multi = makeItem(makeSparseFile("b.bin", kMiB32 + 1));
    runUpload(multi, {}, 1);   // one permit: part 1 fetches the batch, part 2 is refused once
    EXPECT_EQ(multi->status(), Status::Done);
    const auto batches = server.urlRequests();
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(std::make_pair(batches[1].first, batches[1].last), std::make_pair(int64_t(2), int64_t(2)));

    const ItemPtr never = makeItem(makeFile("never.bin", 100));
    runUpload(never);
    EXPECT_EQ(never->status(), Status::Error);
    EXPECT_EQ(never->error(), "HTTP 403 <Error>Request has expired</Error>");
    EXPECT_EQ(server.inits().size(), 2u + 1u + 5u);   // a multipart init, then 1 + 4 renewals
}

TEST_F(Retries, FiveFailuresInARowEndTheItemWithTheLastAnswer)
{
    server.onPut = [](const FakeUploadService::Put&) { return std::optional(Reply{500, "<Error>boom</Error>", std::nullopt}); };
    const ItemPtr item = makeItem(makeFile("a.bin", 100));
    // Each wait tells which attempt comes next, and ends with the wait.
    std::vector<int> waits;
    QObject::connect(item.get(), &UploadItem::changed, [&] {
        const int seen = item->retryWait() ? item->retryWait()->next * 10 + item->retryWait()->of : 0;
        if (seen && (waits.empty() || waits.back() != seen))
            waits.push_back(seen);
    });
    runUpload(item);
    EXPECT_EQ(waits, (std::vector<int>{25, 35, 45, 55}));
    EXPECT_FALSE(item->retryWait());
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), "HTTP 500 <Error>boom</Error>");
    EXPECT_EQ(server.puts().size(), 5u);
    EXPECT_FALSE(item->finished.has_value());
}

TEST_F(Retries, TheMessageTakesTheStartOfTheBodyWhenItIsText)
{
    const std::string longBody(300, 'e');
    std::string cutInsideALetter(199, 'x');
    cutInsideALetter += "\xc3\xb1";   // "ñ" across the 200-byte boundary: the start is not valid UTF-8
    server.onPut = [&](const FakeUploadService::Put& put) {
        return std::optional(Reply{put.key == "Dia1/long.bin" ? 502 : 400,
                                   put.key == "Dia1/long.bin" ? longBody : cutInsideALetter, std::nullopt});
    };
    const ItemPtr longItem = makeItem(makeFile("long.bin", 10));
    const ItemPtr cut = makeItem(makeFile("cut.bin", 10));
    runUpload(longItem);
    runUpload(cut);
    EXPECT_EQ(longItem->error(), QString("HTTP 502 ") + QString(80, 'e'));
    EXPECT_EQ(cut->error(), "HTTP 400 ");
}

// A store that never answers is no fault of the file: after every attempt the item waits, paused,
// and the run pauses as a whole.
TEST_F(Retries, NoAnswerAtAllPausesTheItemAndTheRun)
{
    server.intercept = [](const SeenRequest& req) {
        return req.request.method == "PUT" ? std::optional(FakeReply::failed(CURLE_COULDNT_CONNECT)) : std::nullopt;
    };
    const ItemPtr item = makeItem(makeFile("a.bin", 10));
    runUpload(item);
    EXPECT_EQ(item->status(), Status::Paused);
    EXPECT_FALSE(item->error().has_value());
    EXPECT_EQ(manager->pauseCause(), PauseCause::NoConnection);
    EXPECT_EQ(pauseMessage(PauseCause::NoConnection), "Sin conexión con el servidor");
}

TEST_F(Retries, AUserCancelDuringARequestEndsTheRetriesButKeepsASuccess)
{
    // The answer to the held request decides: a failure is not retried and the item stays
    // cancelled; a success still ends done and verified.
    for (const bool fails : {true, false}) {
        Gate& held = gates[fails ? 0 : 1];
        holdPuts(held, {}, fails ? std::optional(Reply{500, "boom", std::nullopt}) : std::nullopt);
        const ItemPtr item = makeItem(makeFile(fails ? "fails.bin" : "succeeds.bin", 100));
        Started& started = startUpload(item);
        ASSERT_TRUE(runUntil([&] { return held.waiting() == 1; }));
        item->setStatus(Status::Cancelled);
        held.open();
        ASSERT_TRUE(started.waitEnded());
        EXPECT_EQ(item->status(), fails ? Status::Cancelled : Status::Done);
        EXPECT_EQ(item->verified(), !fails);
        EXPECT_FALSE(item->error().has_value());
    }
    EXPECT_EQ(server.puts().size(), 2u);
    EXPECT_TRUE(server.aborts().empty());   // a single request has no upload to abort
}

TEST_F(Retries, AStoppedRunPausesTheItemDuringTheRequest)
{
    Gate& held = gates[0];
    holdPuts(held);
    const ItemPtr item = makeItem(makeFile("a.bin", 100));
    std::stop_source run;
    Started& started = startUpload(item, run.get_token(), 8);
    ASSERT_TRUE(runUntil([&] { return held.waiting() == 1; }));
    run.request_stop();
    ASSERT_TRUE(started.waitEnded(std::chrono::seconds(5)));
    EXPECT_EQ(item->status(), Status::Paused);
    EXPECT_FALSE(item->error().has_value());
    held.open();
}

TEST_F(Retries, AStoppedRunPausesTheItemDuringTheWaitBeforeTheNextAttempt)
{
    retry::setWaitScaleForTests(1.0);   // a real one-second wait, interrupted
    server.onPut = [](const FakeUploadService::Put&) { return std::optional(Reply{503, "busy", std::nullopt}); };
    const ItemPtr item = makeItem(makeFile("a.bin", 100));
    std::stop_source run;
    Started& started = startUpload(item, run.get_token(), 8);
    ASSERT_TRUE(runUntil([&] { return server.puts().size() == 1; }));
    run.request_stop();
    ASSERT_TRUE(started.waitEnded(std::chrono::seconds(5)));
    EXPECT_EQ(item->status(), Status::Paused);
    EXPECT_EQ(server.puts().size(), 1u);
}

}  // namespace
}  // namespace zafrel::test
