// One file's transfer against the scripted service and store: single requests, multipart uploads
// and their continuation, retries, hostile answers, files that change, and the scheduler above.
#include "client/zafrel_api.h"
#include "engine/intake/intake_scan.h"
#include "engine/queue/item_changes.h"
#include "engine/queue/suspect_destinations.h"
#include "engine/transfer/async_semaphore.h"
#include "engine/transfer/file_state.h"
#include "engine/transfer/transfer_job.h"
#include "platform/retry_schedule.h"
#include "support/async_wait.h"
#include "support/engine_env.h"
#include "support/fake_upload_service.h"
#include "support/manager_test_access.h"
#include "support/mhl_fixture.h"
#include "support/test_env.h"

#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <set>

namespace zafrel::test {
namespace {

constexpr qint64 kMiB32 = 33554432;

// A transfer started now and looked at later, with the semaphore of its own it was given.
struct Started {
    Started(TransferContext& ctx, const ItemPtr& item, std::stop_token stop, int permits)
        : sem(permits), task(transferFile(ctx, item, sem, stop)) {}
    AsyncSemaphore sem;
    StartedTask<void> task;
};

// A scripted service and object store on the in-process network, a manager talking to them through
// its own client, and files to send.
class Transfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every failed attempt waits 1/1000 of its real time: the whole schedule takes 22 ms.
        retry::setWaitScaleForTests(0.001);
        resetEngineState();
        settings::setValue("serverURL", QString::fromStdString(server.origin()));
        folder = sandboxDir() + "/files-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QDir().mkpath(folder);
        makeManager();
    }

    void makeManager(bool measureRoute = false)
    {
        ctx.reset();
        manager = std::make_unique<UploadManager>(api, EngineLimits{}, server.network()->transport());
        if (!measureRoute)
            ManagerTestAccess::routeProbe(*manager).assume(false);
        ctx.emplace(ManagerTestAccess::transferContext(*manager));
    }

    void TearDown() override
    {
        for (Gate& gate : gates)
            gate.open();
        // Transfers hold the manager and their semaphore: let every one of them end first.
        const auto ended = [](const Started& s) { return s.task.ended() && s.sem.count() == s.sem.capacity(); };
        EXPECT_TRUE(runUntil([&] { return std::all_of(started.begin(), started.end(), ended); }, std::chrono::seconds(120)));
        ctx.reset();
        manager.reset();
        QDir(folder).removeRecursively();
        retry::setWaitScaleForTests(1.0);
    }

    // A file of `size` bytes that takes no disk space: holes, with its name and the offset at the
    // start of every 32 MiB, so that files and their parts differ.
    QString makeFile(const QString& name, qint64 size)
    {
        const QString path = folder + "/" + name;
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        for (qint64 offset = 0; offset < size; offset += kMiB32) {
            const std::string marker = name.toStdString() + " at " + std::to_string(offset);
            const auto n = std::min<qint64>(qint64(marker.size()), size - offset);
            EXPECT_EQ(::pwrite(fd, marker.data(), size_t(n), offset), n);
        }
        ::close(fd);
        return path;
    }

    // An item for `path` as the intake makes it (size and date read now), handed to a transfer.
    ItemPtr makeItem(const QString& path, const QString& destDir = "Dia1/")
    {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        auto item = std::make_shared<UploadItem>(QUuid::createUuid(), path, qint64(st.st_size),
                                                 modificationTime(st), destDir);
        item->setStatus(Status::Running);
        return item;
    }

    // As an earlier run left `item`: its multipart upload open, with the parts `stored`.
    static void leftOpen(const ItemPtr& item, const QString& uploadId, std::map<int64_t, QString> stored, qint64 partSize = kMiB32)
    {
        item->restoreFrom({item->destDir + item->name, uploadId, partSize, std::move(stored)});
    }

    Started& startUpload(const ItemPtr& item, std::stop_token stop = {}, int permits = 8)
    {
        return started.emplace_back(*ctx, item, stop, permits);
    }

    // Runs one item's transfer to its end; every permit comes back (from tasks of their own).
    void runUpload(const ItemPtr& item, std::stop_token stop = {}, int permits = 8)
    {
        Started& transfer = startUpload(item, stop, permits);
        ASSERT_TRUE(transfer.task.waitEnded(std::chrono::seconds(60))) << "the transfer did not end";
        ASSERT_FALSE(transfer.task.result().error) << transfer.task.result().message();
        EXPECT_TRUE(runUntil([&] { return transfer.sem.count() == permits; }, std::chrono::seconds(5)));
    }

    static std::string md5Of(const QString& path, qint64 offset = 0, qint64 length = -1)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        file.seek(offset);
        return md5Hex(length < 0 ? file.readAll() : file.read(length));
    }

    Gate gates[21];
    std::deque<Started> started;   // outlive the transfers and the permits they give back
    FakeUploadService server;
    ZafrelAPI api{server.network()->session()};
    std::unique_ptr<UploadManager> manager;
    // What the single transfers of a test are given: the manager's own.
    std::optional<TransferContext> ctx;
    QString folder;
};

using Reply = FakeUploadService::PutReply;
using Parts = std::vector<std::pair<int64_t, std::string>>;

constexpr const char* kChanged = "El archivo cambió durante la subida";
constexpr const char* kMismatch = "La verificación MD5 no coincide";
constexpr const char* kUnexpected = "Respuesta inesperada del servidor";

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// The part numbers of the PUTs from the `from`-th on, in order.
std::vector<int> partNumbers(const std::vector<FakeUploadService::Put>& puts, size_t from = 0)
{
    std::vector<int> numbers;
    for (size_t i = from; i < puts.size(); ++i)
        numbers.push_back(puts[i].partNumber);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

long peakMemoryKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Moves the file's modification time without touching its content or size.
void touch(const QString& path)
{
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

void append(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(bytes);
}

// Up to 32 MiB one verified PUT of the content type the service names; larger, parts (without one) of the
// service's checked plan: a part size below the minimum raised, a larger one kept; a plan the store would
// refuse, or whose part count overflows, fails before anything is sent (an upload opened for it aborted).
TEST_F(Transfer, EachFileGoesInOnePutOrInPartsOfTheServicesCheckedPlan)
{
    const char* octets = "application/octet-stream";
    const struct {
        qint64 size;
        nlohmann::json change;
        std::vector<int> parts;   // the part numbers sent, 0 for a single request; none: refused
        const char* contentType;
        qint64 partSize;
        bool aborted;
    } cases[] = {
        {1000, {}, {0}, octets, 0, false},          {0, {{"contentType", "video/mxf"}}, {0}, "video/mxf", 0, false},
        {kMiB32, {}, {0}, octets, 0, false},        {kMiB32 + 1, {}, {1, 2}, "", kMiB32, false},
        {kMiB32 + 10, {{"partSize", 5 << 20}}, {1, 2}, "", kMiB32, false},
        {kMiB32 + 10, {{"partSize", 40 << 20}}, {1}, "", 40 << 20, false},
        {kMiB32 + 10, {{"mode", "single"}}, {}, "", 0, false},   {kMiB32 + 10, {{"uploadId", nullptr}}, {}, "", 0, false},
        {kMiB32 + 10, {{"partSize", int64_t(1) << 62}}, {}, "", 0, true},
        {kMiB32 + 10, {{"partSize", (int64_t(5) << 30) + 1}}, {}, "", 0, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        server.changeInit(c.change.is_null() ? nlohmann::json::object() : c.change);
        const size_t puts = server.puts().size(), aborts = server.aborts().size();
        const QString path = makeFile(QString("plan-%1.bin").arg(i), c.size);
        const ItemPtr item = makeItem(path);
        runUpload(item);
        const bool sent = !c.parts.empty();
        EXPECT_EQ(std::tuple(item->status(), item->verified(), item->error()),
                  sent ? std::tuple(Status::Done, true, std::optional<QString>())
                       : std::tuple(Status::Error, false, std::optional<QString>(kUnexpected)));
        EXPECT_EQ(partNumbers(server.puts(), puts), c.parts);
        for (size_t n = puts; n < server.puts().size(); ++n)
            EXPECT_EQ(server.puts()[n].contentType, c.contentType);
        if (c.parts == std::vector{0})
            EXPECT_EQ(server.puts().back().md5, md5Of(path));
        else if (sent)
            EXPECT_EQ(item->partSize(), c.partSize);
        EXPECT_EQ(server.aborts().size(), aborts + (c.aborted ? 1 : 0));
    }
}

// A file listed with the same name and size is already there, unless the object there failed
// verification at this service: it may hold anything until a verified upload replaces it. A failed
// listing fails only its item.
TEST_F(Transfer, AFileListedWithTheSameNameAndSizeIsSkippedUnlessSuspect)
{
    const QString path = makeFile("clip.bin", 1000), other = makeFile("other.bin", 1000);
    server.onPut = [](const FakeUploadService::Put&) { return std::optional(Reply{200, "", std::string("\"0\"")}); };
    const ItemPtr failed = makeItem(path);
    runUpload(failed);
    ASSERT_EQ(failed->error(), kMismatch);
    server.onPut = {};
    server.list("Dia1/", "clip.bin", 1000);
    server.list("Dia1/", "other.bin", 1000);
    ctx->suspects.mark("http://127.0.0.1:1", "Dia1/other.bin");
    // Sent again while suspect, then no longer suspect; a suspect at another service does not count.
    for (const auto& [file, sent] : {std::pair(path, true), std::pair(path, false), std::pair(other, false)}) {
        ctx->listings.clear();
        const size_t inits = server.inits().size();
        const ItemPtr item = makeItem(file);
        runUpload(item);
        EXPECT_EQ(std::tuple(item->status(), item->verified(), item->loaded()),
                  std::tuple(sent ? Status::Done : Status::Skipped, sent, 1000)) << item->name.toStdString();
        EXPECT_EQ(server.inits().size(), inits + (sent ? 1 : 0));
    }

    // A failed listing fails its item, and the next item asks again.
    ctx->listings.clear();
    const size_t listings = server.calls("GET", "/api/ls"), inits = server.inits().size();
    int failures = retry::maxAttempts;
    server.intercept = [&](const SeenRequest& req) -> std::optional<FakeReply> {
        if (req.path != "/api/ls" || failures-- <= 0)
            return std::nullopt;
        return jsonReply({{"error", "listado roto"}}, 500);
    };
    server.list("Dia1/", "b.bin", 10);
    const ItemPtr a = makeItem(makeFile("a.bin", 10)), b = makeItem(makeFile("b.bin", 10));
    runUpload(a);
    runUpload(b);
    EXPECT_EQ(std::tuple(a->error(), b->status()), std::tuple(std::optional<QString>("Servidor: 500 listado roto"), Status::Skipped));
    EXPECT_EQ(server.calls("GET", "/api/ls") - listings, size_t(retry::maxAttempts) + 1);
    EXPECT_EQ(server.inits().size(), inits);
}

// A continued upload sends only the missing parts and completes with all; one that cannot go on (a part
// size the store would refuse, an upload the service or only the store forgot, a file touched or grown
// since) is aborted and sent anew, once; one whose file meanwhile stands at the destination is skipped.
TEST_F(Transfer, AContinuedUploadSendsOnlyTheMissingPartsOrStartsAnew)
{
    const QString four = makeFile("four.bin", 3 * kMiB32 + 1000);
    const ItemPtr item = makeItem(four);
    leftOpen(item, "up-resumed", {{1, "\"stored-1\""}, {3, "\"stored-3\""}});
    runUpload(item);
    EXPECT_EQ(std::pair(item->status(), server.inits().size()), std::pair(Status::Done, size_t(0)));
    EXPECT_EQ(partNumbers(server.puts()), (std::vector<int>{2, 4}));
    ASSERT_EQ(server.completions().size(), 1u);
    EXPECT_EQ(server.completions()[0].uploadId, "up-resumed");
    EXPECT_EQ(server.completions()[0].parts, (Parts{{1, "\"stored-1\""}, {2, inQuotes(md5Of(four, kMiB32, kMiB32))},
                                                    {3, "\"stored-3\""}, {4, inQuotes(md5Of(four, 3 * kMiB32, 1000))}}));

    enum Change { None, Touched, Grown };
    const struct {
        const char* name;
        qint64 partSize;
        bool forgotten, storeForgot, completionRefused, listed;
        Change change;
    } cases[] = {{"small-parts", 1 << 20, false, false, false, false, None},
                 {"huge-parts", (qint64(5) << 30) + 1, false, false, false, false, None},
                 {"forgotten", kMiB32, true, false, false, false, None},
                 {"store-forgot", kMiB32, false, true, false, false, None},
                 {"completion-refused", kMiB32, false, false, true, false, None},
                 {"listed", kMiB32, false, false, false, true, None},
                 {"touched", kMiB32, false, false, false, false, Touched},
                 {"grown", kMiB32, false, false, false, false, Grown}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = std::string("up-") + c.name;
        const QString path = makeFile(c.name, kMiB32 + 1);
        const ItemPtr again = makeItem(path);
        leftOpen(again, QString::fromStdString(old), {{1, "\"e1\""}}, c.partSize);
        if (c.forgotten)
            server.forget(old);
        // The store ends the old upload, the service still signs its part URLs: its first part
        // PUT is refused, and the first of the new upload is not.
        server.onPut = [refuse = c.storeForgot](const FakeUploadService::Put&) mutable -> std::optional<Reply> {
            if (!std::exchange(refuse, false))
                return std::nullopt;
            return Reply{404, "<Error><Code>NoSuchUpload</Code><Message>The upload does not exist</Message></Error>", std::nullopt};
        };
        // A stored ETag the service no longer takes: the completion is refused, once.
        server.intercept = [refuse = c.completionRefused](const SeenRequest& req) mutable -> std::optional<FakeReply> {
            if (req.path != "/api/upload/complete" || !std::exchange(refuse, false))
                return std::nullopt;
            return jsonReply({{"error", "La ETag de la parte 1 no coincide con la recibida"}}, 400);
        };
        const size_t putsBefore = server.puts().size();
        if (c.listed) {
            server.list("Dia1/", c.name, kMiB32 + 1);
            ctx->listings.clear();   // as at the start of a run
        }
        if (c.change == Touched)
            touch(path);
        if (c.change == Grown)
            append(path, QByteArray(kMiB32, 'z'));
        runUpload(again);
        EXPECT_EQ(again->status(), c.listed ? Status::Skipped : Status::Done);
        ASSERT_FALSE(server.aborts().empty());
        EXPECT_EQ(server.aborts().back(), std::make_pair(again->key()->toStdString(), old));
        if (c.listed)
            continue;
        EXPECT_EQ(std::tuple(again->partSize(), again->size), std::tuple(kMiB32, QFileInfo(path).size()));
        const auto completion = server.completions().back();
        EXPECT_NE(completion.uploadId, old);
        EXPECT_EQ(server.puts().size() - putsBefore, c.storeForgot || c.completionRefused || c.change == Grown ? 3u : 2u);
        ASSERT_EQ(completion.parts.size(), c.change == Grown ? 3u : 2u);
        EXPECT_EQ(completion.parts.back().second, inQuotes(md5Of(path, (c.change == Grown ? 2 : 1) * kMiB32)));
    }
    EXPECT_EQ(server.inits().size(), 7u);
}

// The first completion's answer is lost (503), a second attempt finds the upload gone (404): the
// object listed with the file's size means the first one went through; without it the item fails.
TEST_F(Transfer, ACompletionRetriedAfterItWentThroughIsRecognised)
{
    for (const bool wentThrough : {true, false}) {
        SCOPED_TRACE(wentThrough);
        const ItemPtr item = makeItem(makeFile(wentThrough ? "through.bin" : "lost.bin", kMiB32 + 1));
        auto attempts = std::make_shared<int>(0);
        server.intercept = [this, attempts, wentThrough, item](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.path != "/api/upload/complete")
                return std::nullopt;
            if (++*attempts == 1 && wentThrough)
                server.list("Dia1/", item->name.toStdString(), item->size);
            return jsonReply({{"error", "La subida no existe"}}, *attempts == 1 ? 503 : 404);
        };
        runUpload(item);
        EXPECT_EQ(std::tuple(*attempts, item->status(), item->verified()),
                  std::tuple(2, wentThrough ? Status::Done : Status::Error, wentThrough));
    }
}

// A cancel during a request ends the retries (a success still counts) and aborts a multipart upload once
// its parts have ended, or before completion when an earlier run stored every part; a stopped run pauses
// the item, keeping what is stored; a file changed during its parts is aborted, leaving nothing to
// continue. A wrong ETag fails the item and keeps its stored parts, at once on disk, to continue.
TEST_F(Transfer, WhatEndsATransferMidwayAndWhatItLeavesToContinue)
{
    enum Action { Cancel, Stop, Touch, Answer };
    const struct {
        const char* what;
        qint64 size;
        std::optional<Reply> reply;   // to the held PUTs: all when cancelling, else those after part 1
        Action action;
        Status expected;
        const char* error;
        bool continued = false;   // every part stored by an earlier run; the listing is held instead
    } cases[] = {
        {"cancel, failing", 100, Reply{500, "boom", std::nullopt}, Cancel, Status::Cancelled, nullptr},
        {"cancel, continued", kMiB32 + 1, std::nullopt, Cancel, Status::Cancelled, nullptr, true},
        {"cancel, succeeding", 100, std::nullopt, Cancel, Status::Done, nullptr},
        {"cancel, multipart", kMiB32 + 1, std::nullopt, Cancel, Status::Cancelled, nullptr},
        {"stop, single", 100, std::nullopt, Stop, Status::Paused, nullptr},
        {"stop, multipart", kMiB32 + 1, std::nullopt, Stop, Status::Paused, nullptr},
        {"changed, multipart", kMiB32 + 1, std::nullopt, Touch, Status::Error, kChanged},
        {"wrong ETag, multipart", kMiB32 + 1, Reply{200, "", inQuotes(std::string(32, '0'))}, Answer, Status::Error, kMismatch},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        const bool multipart = c.size > kMiB32;
        Gate& held = gates[i];
        server.onPut = [&](const FakeUploadService::Put& put) {
            if (c.action != Cancel && put.partNumber == 1)
                return std::optional<Reply>();
            Reply reply = c.reply.value_or(Reply{200, "", inQuotes(put.md5)});
            reply.after = &held;
            return std::optional(reply);
        };
        const QString path = makeFile(QString::number(i), c.size);
        const ItemPtr item = makeItem(path);
        if (c.continued) {
            leftOpen(item, "up-continued", {{1, "\"e1\""}, {2, "\"e2\""}});
            ctx->listings.clear();
        }
        server.intercept = [gate = &held, continued = c.continued](const SeenRequest& req) -> std::optional<FakeReply> {
            // The folder is not there yet.
            return continued && req.path == "/api/ls" ? std::optional(test::held(FakeReply::status(404), *gate)) : std::nullopt;
        };
        ManagerTestAccess::setItems(*manager, {item});
        std::stop_source run;
        const size_t aborts = server.aborts().size(), puts = server.puts().size();
        Started& started = startUpload(item, run.get_token());
        ASSERT_TRUE(runUntil([&] { return held.waiting() == (multipart && c.action == Cancel && !c.continued ? 2 : 1); }));
        ASSERT_TRUE(runUntil([&] { return !multipart || c.action == Cancel || item->etags().contains(1); }));
        if (c.action == Answer) {
            const QByteArray part = QByteArray::fromStdString(md5Of(path, 0, kMiB32)), upload = item->uploadId()->toUtf8();
            EXPECT_TRUE(runUntil([&] {
                const QByteArray onDisk = fileBytes(queueFilePath()) + fileBytes(paths::dataDir() + "/queue.journal");
                return onDisk.contains(upload) && onDisk.contains(part);
            }));
        }
        if (c.action == Stop)
            run.request_stop();
        if (c.action == Touch)
            touch(path);
        if (c.action == Cancel)
            item->setStatus(Status::Cancelled);
        if (c.action != Stop)
            held.open();
        ASSERT_TRUE(started.task.waitEnded(std::chrono::seconds(5)));
        EXPECT_EQ(std::tuple(item->status(), item->error(), item->verified()),
                  std::tuple(c.expected, c.error ? std::optional<QString>(c.error) : std::nullopt, c.expected == Status::Done));
        EXPECT_EQ(server.aborts().size(), aborts + (multipart && (c.action == Cancel || c.action == Touch) ? 1 : 0));
        EXPECT_EQ(server.puts().size() - puts, c.continued ? 0u : multipart ? 2u : 1u);   // a failed one not retried
        if (multipart)   // what is left to continue
            EXPECT_EQ(item->etags().size(), c.action == Stop || c.action == Answer ? 1u : 0u);
        held.open();
    }
    EXPECT_TRUE(server.completions().empty());
}

// Five attempts, waits growing from 1 to 12 s, the item telling which attempt comes next. An expired
// pre-signed URL (403) is renewed for the next attempt (a single request starts again at the service, a
// part asks for its URL again) within the same five; a lasting refusal ends with the store's answer.
TEST_F(Transfer, FailedAttemptsWaitLongerEachTimeAndARefusedURLIsRenewed)
{
    using std::chrono::seconds;
    retry::setWaitScaleForTests(1.0);
    EXPECT_EQ((std::vector{retry::waitAfter(0), retry::waitAfter(1), retry::waitAfter(2), retry::waitAfter(3)}),
              (std::vector<std::chrono::milliseconds>{seconds(1), seconds(3), seconds(6), seconds(12)}));
    retry::setWaitScaleForTests(0.001);
    server.onPut = [](const FakeUploadService::Put&) { return std::optional(Reply{500, "", std::nullopt}); };
    const ItemPtr item = makeItem(makeFile("a.bin", 100));
    std::vector<int> waits;   // each wait tells which attempt comes next, and ends with the wait
    const auto changes = std::make_shared<ItemChanges>();
    item->reportTo(changes);
    QObject::connect(changes.get(), &ItemChanges::changed, [&] {
        const int seen = item->retryWait() ? item->retryWait()->next * 10 + item->retryWait()->of : 0;
        if (seen && (waits.empty() || waits.back() != seen))
            waits.push_back(seen);
    });
    runUpload(item);
    EXPECT_EQ(waits, (std::vector<int>{25, 35, 45, 55}));
    EXPECT_EQ(std::tuple(item->retryWait().has_value(), item->status()), std::tuple(false, Status::Error));

    server.onPut = [](const FakeUploadService::Put& put) {
        const bool refused = put.key == "Dia1/never.bin" || (put.attempt == 1 && put.partNumber != 1);
        return refused ? std::optional(Reply{403, "<Error>Request has expired</Error>", std::nullopt}) : std::nullopt;
    };
    const size_t inits = server.inits().size();
    const ItemPtr single = makeItem(makeFile("single.bin", 100));
    runUpload(single);
    EXPECT_EQ(std::pair(single->status(), server.inits().size()), std::pair(Status::Done, inits + 2));
    const ItemPtr multi = makeItem(makeFile("b.bin", kMiB32 + 1));
    runUpload(multi, {}, 1);   // one permit: part 1 fetches the batch, part 2 is refused once
    EXPECT_EQ(multi->status(), Status::Done);
    const auto batches = server.network()->seen("GET", "/api/upload/urls");
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(std::tuple(batches[1].param("first"), batches[1].param("last")), std::tuple("2", "2"));
    const ItemPtr never = makeItem(makeFile("never.bin", 100));
    runUpload(never);
    EXPECT_EQ(never->error(), "HTTP 403 <Error>Request has expired</Error>");
    EXPECT_EQ(server.inits().size(), inits + 2 + 1 + 5);
}

// The bytes counted are those stored plus those of each part in flight, whatever order parts end
// in (the short last one may end first); a failed attempt's bytes leave the count while the part is
// sent again, and the item says which part that is. Otherwise the count never goes down.
TEST_F(Transfer, ProgressCountsStoredAndInFlightPartsAndDropsOnlyAFailedAttempt)
{
    Gate& resent = gates[0];
    server.onPut = [&](const FakeUploadService::Put& put) -> std::optional<Reply> {
        if (put.partNumber != 2)
            return std::nullopt;
        return put.attempt == 1 ? Reply{500, "", std::nullopt} : Reply{200, "", inQuotes(put.md5), &resent};
    };
    const ItemPtr item = makeItem(makeFile("clip.mxf", 2 * kMiB32 + kMiB32 / 2));
    std::vector<qint64> seen;
    const auto changes = std::make_shared<ItemChanges>();
    item->reportTo(changes);
    QObject::connect(changes.get(), &ItemChanges::changed, [&] {
        if (seen.empty() || seen.back() != item->loaded())
            seen.push_back(item->loaded());
    });
    Started& transfer = startUpload(item);
    ASSERT_TRUE(runUntil([&] { return resent.waiting() == 1 && item->etags().size() == 2; }));
    EXPECT_EQ(item->loaded(), kMiB32 + kMiB32 / 2);   // parts 1 and 3; part 2 is on its way again
    const std::optional<Resend> again = item->resending();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(std::tuple(again->part, again->attempt, again->of), std::tuple(2, 2, retry::maxAttempts));
    resent.open();
    ASSERT_TRUE(transfer.task.waitEnded(std::chrono::seconds(60)));
    EXPECT_EQ(std::tuple(item->status(), item->loaded(), item->resending().has_value()),
              std::tuple(Status::Done, item->size, false));
    int drops = 0;
    for (size_t i = 1; i < seen.size(); ++i)
        drops += seen[i] < seen[i - 1];
    EXPECT_LE(drops, 1);
    EXPECT_LE(*std::max_element(seen.begin(), seen.end()), item->size);
}

// A file's own pause stops it alone, keeping its verified parts and its open upload, while the run
// goes on; continuing it sends only the missing part.
TEST_F(Transfer, APausedFileKeepsItsPartsAndContinuesWithTheMissingOnes)
{
    Gate& held = gates[0];
    server.onPut = [&](const FakeUploadService::Put& put) -> std::optional<Reply> {
        if (put.partNumber == 2 && put.attempt == 1)
            return Reply{200, "", inQuotes(put.md5), &held};
        return std::nullopt;
    };
    const ItemPtr clip = makeItem(makeFile("clip.mxf", 2 * kMiB32 + 100)), small = makeItem(makeFile("small.bin", 100));
    for (const ItemPtr& item : {clip, small})
        item->setStatus(Status::Queued);
    ManagerTestAccess::setItems(*manager, {clip, small});
    manager->start();
    ASSERT_TRUE(runUntil([&] { return held.waiting() == 1 && clip->etags().size() == 2; }));
    manager->pause(clip);
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(std::tuple(clip->status(), small->status(), clip->uploadId().has_value(), clip->etags().size(), server.aborts().size()),
              std::tuple(Status::Paused, Status::Done, true, size_t(2), size_t(0)));
    const size_t puts = server.puts().size();
    manager->retry(clip);
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(std::tuple(clip->status(), partNumbers(server.puts(), puts), server.completions().size()),
              std::tuple(Status::Done, std::vector<int>{2}, size_t(1)));
}

// Broken or hostile answers end the file with a message that says what happened, on one line of
// the report; a service or store that does not answer at all pauses the file and the run instead.
TEST_F(Transfer, HostileAnswersEndInAClearErrorOnOneReportLine)
{
    const QString path = makeFile("clip.bin", 10);
    const std::string md5 = md5Of(path), store = "/store/Dia1/clip.bin", init = "/api/upload/init";
    const QByteArray ene = QByteArray("\xC3\xB1");   // one character, two bytes
    const std::string tooLarge = "ERROR La respuesta de service.test era demasiado grande y se cortó";
    const std::string paused = "paused\t", mismatch = std::string("ERROR ") + kMismatch + "\t", unexpected = std::string("ERROR ") + kUnexpected;
    const auto withETag = [](std::string etag) {
        FakeReply reply = FakeReply::status(200);
        reply.response.headers.emplace_back("ETag", etag);
        return reply;
    };
    const auto start = [](const nlohmann::json& change) {
        nlohmann::json answer = {{"mode", "single"}, {"key", "Dia1/clip.bin"}, {"url", "http://service.test/store/Dia1/clip.bin"}};
        answer.update(change);
        return jsonReply(answer);
    };
    const struct Case {
        const char* what;
        std::string path;
        FakeReply reply;
        std::string line;   // the start of the item's report line
        size_t puts;        // PUTs sent to the store
        bool secureService = false;   // the service at an https origin
        bool heavy = false; // the process's peak memory may not grow by more than 256 MiB
    } cases[] = {
        {"ETag without quotes", store, withETag(md5), "OK verificado\t", 1},
        {"ETag in capitals", store, withETag(inQuotes(QByteArray::fromStdString(md5).toUpper().toStdString())), mismatch, 1},
        {"no ETag", store, FakeReply::status(200), mismatch, 1},   // a mismatch is not retried
        {"redirect", store, FakeReply::status(307), "ERROR HTTP 307 \t", 5},   // nothing stored: not an answer
        {"listing of 64 MiB", "/api/ls", FakeReply::status(200, std::string((64 << 20) + 1, '[')), tooLarge, 0},
        {"folder not made yet", "/api/ls", jsonReply({{"error", "No existe"}}, 404), "OK verificado\t", 1},
        {"upload start that never answers", init, FakeReply::failed(CURLE_OPERATION_TIMEDOUT), paused, 0},
        {"store out of reach", store, FakeReply::failed(CURLE_COULDNT_CONNECT), paused, 5},
        {"store answer of 2 MiB", store, FakeReply::status(200, std::string(2 << 20, 'x')), tooLarge, 5},
        {"long store error", store, FakeReply::status(502, ene.repeated(200).toStdString()),
         "ERROR HTTP 502 " + ene.repeated(80).toStdString() + "\t", 5},
        // Common codes in Spanish; the store's own words stay in the detail.
        {"store error in XML", store, FakeReply::status(503, "<?xml version=\"1.0\"?>\r\n<Error>\n\t<Code>SlowDown</Code></Error>"),
         "ERROR El almacén pide menos peticiones a la vez; reintenta en unos minutos (HTTP 503 SlowDown)\t", 5},
        {"refused by the store", store,
         FakeReply::status(403, "<Error><Code>AccessDenied</Code><Message>Access Denied</Message></Error>"),
         "ERROR El almacén ha denegado el acceso; avisa a quien administra la productora (HTTP 403 AccessDenied: Access Denied)\t", 5},
        {"store error with a message", store,
         FakeReply::status(400, "<Error><Code>BadDigest</Code>\n<Message>The Content-MD5\nyou specified did not match.</Message>"
                                "<RequestId>4442587FB7D0A2F9</RequestId></Error>"),
         "ERROR HTTP 400 BadDigest: The Content-MD5 you specified did not match.\t", 5},
        {"line break in the content type", init, start({{"contentType", "video/mxf\r\nX-Injected: yes"}}), unexpected, 0},
        {"ftp URL", init, start({{"url", "ftp://service.test/Dia1/clip.bin"}}), unexpected, 0},
        {"plain http URL from an https service", init, start(nlohmann::json::object()), unexpected, 0, true},
        {"https URL from an https service", init, start({{"url", "https://service.test/store/Dia1/clip.bin"}}),
         "OK verificado\t", 1, true},
        {"control characters in an error", init,
         FakeReply::status(500, R"({"error":"roto\u001b]0;pwn\u0007\nOK verificado\t1\tDia1/x.bin"})"),
         "ERROR Servidor: 500 roto ]0;pwn OK verificado 1 Dia1/x.bin", 0},
        // Read for its message from its first 64 KiB only: parsed whole, it took gigabytes.
        {"service error of 60 MB", init, FakeReply::status(400, ("[" + QByteArray("0,").repeated(30'000'000) + "0]").toStdString()),
         "ERROR Servidor: 400", 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const long peakBefore = peakMemoryKiB();
        server.intercept = [&c](const SeenRequest& req) { return req.path == c.path ? std::optional(c.reply) : std::nullopt; };
        settings::setValue("serverURL", c.secureService ? "https://service.test" : QString::fromStdString(server.origin()));
        ctx->listings.clear();
        const size_t putsBefore = server.calls("PUT", "/store/");
        const ItemPtr item = makeItem(path);
        runUpload(item);
        EXPECT_EQ(item->status(), c.line == paused ? Status::Paused : c.line.starts_with("OK") ? Status::Done : Status::Error);
        if (c.line == paused)
            EXPECT_EQ(manager->pauseCause(), PauseCause::NoConnection);
        ManagerTestAccess::setItems(*manager, {item});
        const QStringList lines = manager->report().split(u'\n');
        ASSERT_EQ(lines.size(), 6) << manager->report().toStdString();
        EXPECT_TRUE(lines[3].startsWith(QString::fromStdString(c.line))) << lines[3].toStdString();
        EXPECT_TRUE(lines[3].endsWith("\t10\tDia1/clip.bin") && lines[3].count(u'\t') == 2) << lines[3].toStdString();
        EXPECT_EQ(server.calls("PUT", "/store/") - putsBefore, c.puts);
        if (c.heavy) {
            EXPECT_LT(peakMemoryKiB() - peakBefore, 256 * 1024);
        }
    }
}

// A file with an offload record is checked in the record's format in the pass that reads it: parts in
// file order whatever order they are answered in, parts of an earlier run read again (one the file lacks
// forgotten), the file's MD5 from the same pass. A file that is not what was recorded is never stored (no
// single request, its upload aborted instead of completed), and its destination is suspect.
TEST_F(Transfer, AFileWithAnOffloadRecordIsCheckedAsItIsRead)
{
    const struct {
        const char* name;
        qint64 size;
        HashFormat format;
        bool matches;
        std::map<int64_t, QString> stored;
    } cases[] = {
        {"single", 1'000'000, HashFormat::Xxh64, true, {}},    {"single-bad", 1'000'000, HashFormat::Xxh3, false, {}},
        {"parts", 3 * kMiB32 + 5, HashFormat::Xxh128, true, {}}, {"parts-bad", 3 * kMiB32 + 5, HashFormat::Md5, false, {}},
        {"continued", 3 * kMiB32 + 5, HashFormat::C4, true, {{1, "\"s1\""}, {3, "\"s3\""}, {9, "\"s9\""}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        const QString path = makeFile(c.name, c.size);
        const QByteArray bytes = fileBytes(path);
        const ItemPtr item = makeItem(path);
        item->offloadRecord = OffloadRecord{c.format, mhlDigest(c.format, c.matches ? bytes : bytes + "x").toStdString()};
        if (!c.stored.empty())
            leftOpen(item, "up-continued", c.stored);
        Gate& held = gates[i];
        server.onPut = [&](const FakeUploadService::Put& put) {
            return put.partNumber == 1 ? std::optional(Reply{200, "", inQuotes(put.md5), &held}) : std::nullopt;
        };
        const size_t puts = server.puts().size(), completions = server.completions().size();
        Started& transfer = startUpload(item);
        if (c.size > kMiB32 && c.stored.empty())
            ASSERT_TRUE(runUntil([&] { return held.waiting() == 1 && server.puts().size() == puts + 4; }));
        held.open();
        ASSERT_TRUE(transfer.task.waitEnded(std::chrono::seconds(60)));

        EXPECT_EQ(std::tuple(item->status(), item->offloadChecked, item->md5),
                  std::tuple(c.matches ? Status::Done : Status::Error, c.matches, md5Hex(bytes)));
        EXPECT_EQ(server.completions().size(), completions + (c.matches && c.size > kMiB32 ? 1 : 0));
        EXPECT_EQ(ctx->suspects.contains(ctx->origin, item->destDir + item->name), !c.matches);
        if (c.matches)
            continue;
        EXPECT_EQ(item->error(), QStringLiteral("No coincide con el registro de la copia (ASC MHL, %1)")
                                     .arg(QLatin1StringView(hashFormatName(c.format))));
        if (c.size <= kMiB32) {
            EXPECT_EQ(server.puts().size(), puts);
        } else {
            ASSERT_FALSE(server.aborts().empty());
            EXPECT_EQ(server.aborts().back().first, (item->destDir + item->name).toStdString());
            EXPECT_FALSE(item->uploadId());
        }
    }
}

// A file changed since its intake goes as it is when its turn comes; one gone fails on reading, one out
// of reach (its folder gone) waits paused, saying so. A file that changes during its own upload, up to
// after its last byte is verified, is never called verified, nor what the store got counted there.
TEST_F(Transfer, AFileGoesAsItIsWhenItsTurnComesAndNeverVerifiedWhileItChanges)
{
    const ItemPtr grew = makeItem(makeFile("grew.bin", 1000)), rewritten = makeItem(makeFile("rewritten.bin", 1000));
    const ItemPtr gone = makeItem(makeFile("gone.bin", 10));
    QDir().mkpath(folder + "/card");
    const ItemPtr away = makeItem(makeFile("card/away.bin", 10));
    append(grew->path, "more");
    touch(rewritten->path);
    QFile::remove(gone->path);
    QDir(folder + "/card").removeRecursively();
    for (const ItemPtr& item : {grew, rewritten, gone, away})
        runUpload(item);
    EXPECT_EQ(std::tuple(grew->status(), grew->verified(), grew->size), std::tuple(Status::Done, true, 1004));
    EXPECT_EQ(std::tuple(rewritten->status(), rewritten->mtime), std::tuple(Status::Done, 1000000000.0));
    ASSERT_EQ(server.puts().size(), 2u);
    EXPECT_EQ(server.puts()[0].md5, md5Of(grew->path));
    EXPECT_TRUE(gone->status() == Status::Error && gone->error()->startsWith("No se puede abrir el archivo"));
    EXPECT_EQ(std::tuple(away->status(), away->error()), std::tuple(Status::Paused, std::optional<QString>(kFileUnavailable)));

    for (const qint64 size : {qint64(1000), kMiB32 + 1}) {
        SCOPED_TRACE(size);
        const ItemPtr growing = makeItem(makeFile(size > kMiB32 ? "growing-parts.bin" : "growing.bin", size));
        // Written to once its last byte is at the store: during the single request, or before
        // the completion's answer.
        server.intercept = [path = growing->path, parts = size > kMiB32](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.path.find(parts ? "/api/upload/complete" : "/store/") != std::string::npos)
                append(path, "x");
            return std::nullopt;
        };
        runUpload(growing);
        EXPECT_EQ(std::tuple(growing->status(), growing->verified(), growing->error()),
                  std::tuple(Status::Error, false, std::optional<QString>(kChanged)));
        EXPECT_TRUE(ctx->suspects.contains(ctx->origin, growing->destDir + growing->name));
    }
    EXPECT_EQ(server.aborts().size(), 0u);
}

// The scheduler over these transfers: the PUT of file fN waits for gates[N].
class Scheduler : public Transfer {
protected:
    void SetUp() override
    {
        Transfer::SetUp();
        server.onPut = [this](const FakeUploadService::Put& put) {
            const int n = std::stoi(put.key.substr(put.key.find_last_not_of("0123456789") + 1));
            return std::optional(Reply{200, "", inQuotes(put.md5), &gates[n]});
        };
        manager->setDestDir("Dia1/");
    }

    // Queues f1 .. fN (of `size`, or small) through the intake, in that order.
    void addFiles(int count, qint64 size = 0)
    {
        QList<QUrl> urls;
        for (int n = 1; n <= count; ++n)
            urls.push_back(QUrl::fromLocalFile(makeFile(QString("f%1").arg(n), size ? size : 100 + n)));
        manager->add(urls, QString());
        ASSERT_EQ(manager->items().size(), size_t(count));
    }
    bool waiting(int from, int to) const
    {
        return std::all_of(&gates[from], &gates[to + 1], [](const Gate& g) { return g.waiting() > 0; });
    }
    void finish(int count)
    {
        std::for_each(&gates[1], &gates[count + 1], [](Gate& g) { g.open(); });
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    }
};

// Small files go eight at a time in queue order, a cancelled one never; the first eight share one
// listing of the folder, and a run's listings and speed end with it.
TEST_F(Scheduler, EightSmallFilesAtATimeInQueueOrder)
{
    addFiles(20);
    ASSERT_TRUE(runUntil([&] { return waiting(1, 8); }));
    manager->cancel(manager->items()[19]);
    using S = Status;
    std::vector<S> expected(20, S::Queued);
    std::fill_n(expected.begin(), 8, S::Running);
    expected[19] = S::Cancelled;
    EXPECT_EQ(statuses(*manager), expected);
    gates[1].open();
    ASSERT_TRUE(runUntil([&] { return waiting(9, 9); }));
    runUntil([] { return false; }, std::chrono::milliseconds(100));
    expected[0] = S::Done;
    expected[8] = S::Running;
    EXPECT_EQ(statuses(*manager), expected);
    finish(20);
    std::fill_n(expected.begin(), 19, S::Done);
    EXPECT_EQ(statuses(*manager), expected);
    EXPECT_EQ(std::tuple(server.inits().size(), server.calls("POST", "/api/upload/done"), server.calls("GET", "/api/ls"),
                         ctx->listings.has("Dia1/"), manager->speed()),
              std::tuple(19u, 1u, 1u, false, 0.0));
}

// Large files go two at a time, their parts eight at a time over the run; a third waits queued.
TEST_F(Scheduler, TwoLargeFilesAndEightPartsAtATime)
{
    addFiles(3, 5 * kMiB32);
    const auto inFlight = [&] { return gates[1].waiting() + gates[2].waiting() + gates[3].waiting(); };
    ASSERT_TRUE(runUntil([&] { return inFlight() >= 8; }));
    runUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(std::tuple(inFlight(), statuses(*manager)), std::tuple(8, std::vector{Status::Running, Status::Running, Status::Queued}));
    finish(3);
    EXPECT_EQ(statuses(*manager), std::vector<Status>(3, Status::Done));
}

TEST_F(Scheduler, AFoldersListingGoesOnceNoFileOfItIsInFlight)
{
    addFiles(1);
    manager->setDestDir("Dia2/");
    manager->add({QUrl::fromLocalFile(makeFile("f2", 10)), QUrl::fromLocalFile(makeFile("f3", 10))}, QString());
    ASSERT_TRUE(runUntil([&] { return waiting(1, 3); }));
    EXPECT_EQ(std::tuple(ctx->listings.has("Dia1/"), ctx->listings.has("Dia2/")), std::tuple(true, true));
    gates[1].open();
    gates[2].open();
    // The listing goes when its last file has ended, which may be a turn after the file says done.
    ASSERT_TRUE(runUntil([&] {
        return manager->items()[0]->status() == Status::Done && manager->items()[1]->status() == Status::Done
               && !ctx->listings.has("Dia1/");
    }));
    EXPECT_TRUE(ctx->listings.has("Dia2/"));
    finish(3);
    EXPECT_EQ(server.calls("GET", "/api/ls"), 2u);
}

// Cancelling all stops the run: the files under way end there, and every one stays cancelled.
TEST_F(Scheduler, CancellingAllStopsTheRunAndItsFilesStayCancelled)
{
    addFiles(10);
    ASSERT_TRUE(runUntil([&] { return waiting(1, 8); }));
    manager->cancelAll();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }, std::chrono::seconds(10)));
    EXPECT_EQ(std::pair(statuses(*manager), server.puts().size()), std::pair(std::vector<Status>(10, Status::Cancelled), size_t(8)));
}

// A manager that goes while its run is under way stops the run and waits for nothing: the run winds
// down on its own, its files end paused, and nothing of it is written over the queue file any more.
TEST_F(Scheduler, AManagerGoesAtOnceAndItsRunWindsDownWithoutItsQueueFile)
{
    addFiles(3);
    ASSERT_TRUE(runUntil([&] { return waiting(1, 3); }));
    const std::vector<ItemPtr> items = manager->items();
    const QString queue = ManagerTestAccess::store(*manager).queuePath(), journal = ManagerTestAccess::store(*manager).journalPath();
    bool turned = false;
    QTimer::singleShot(0, [&] { turned = true; });
    ctx.reset();
    manager.reset();
    const bool turnedWhileGoing = turned;
    const QByteArray written = fileBytes(queue) + fileBytes(journal);
    EXPECT_TRUE(runUntil([&] {
        return std::all_of(items.begin(), items.end(), [](const ItemPtr& it) { return it->status() == Status::Paused; });
    }));
    runUntil([] { return false; }, std::chrono::milliseconds(1500));   // past the journal's delay
    EXPECT_EQ(std::tuple(turnedWhileGoing, fileBytes(queue) + fileBytes(journal)), std::tuple(false, written));
}

// An upload the queue lets go of is aborted at the service, or its stored parts would stay (and be
// billed) with nothing left to complete them; a completed one is left alone.
TEST_F(Scheduler, AnOpenUploadTheQueueLetsGoOfIsAborted)
{
    const auto withUpload = [this](const char* name, Status status) {
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), makeFile(name, 10), 10, 0, "D/");
        it->setStatus(status);
        it->restoreFrom({QString("D/") + name, QString("up-") + name, 0, {{1, "\"e\""}}});
        return it;
    };
    const ItemPtr removed = withUpload("removed", Status::Paused);
    const ItemPtr gone = withUpload("gone", Status::Paused);
    ManagerTestAccess::setItems(*manager, {removed, withUpload("all", Status::Queued), withUpload("failed", Status::Error),
                       withUpload("done", Status::Done), gone});
    manager->clearFinished();   // the failed and the done one
    manager->cancel(removed);
    manager->cancelAll();
    QFile::remove(gone->path);
    manager->persistNow();
    makeManager();   // the restored queue drops the entry whose file is gone
    const std::set<std::string> expected{"up-removed", "up-all", "up-failed", "up-gone"};
    ASSERT_TRUE(runUntil([&] { return server.aborts().size() >= expected.size(); }));
    std::set<std::string> aborted;
    for (const auto& [key, uploadId] : server.aborts())
        aborted.insert(uploadId);
    EXPECT_EQ(aborted, expected);
    // The cancelled file stays, to be retried from the beginning.
    ASSERT_EQ(manager->items().size(), 1u);
    EXPECT_EQ(std::pair(manager->items()[0]->status(), manager->items()[0]->uploadId()), std::pair(Status::Cancelled, std::optional<QString>()));
}

// The service out of reach (503 through every retry) or the session ended (401): the run stops
// taking files, everything ends paused without an error, and continuing sends them all.
TEST_F(Scheduler, AnOutageOrALostSessionPausesTheWholeRunUntilContinued)
{
    std::for_each(std::begin(gates), std::end(gates), [](Gate& g) { g.open(); });
    for (const auto& [status, cause] : {std::pair{503, PauseCause::NoConnection}, std::pair{401, PauseCause::SessionEnded}}) {
        SCOPED_TRACE(status);
        auto failing = std::make_shared<bool>(true);
        server.intercept = [failing, status](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.path != "/api/upload/init" || !*failing)
                return std::nullopt;
            return jsonReply({{"error", "x"}}, status);
        };
        manager->setDestDir(QString("Pausa%1/").arg(status));
        addFiles(12);
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
        EXPECT_EQ(std::tuple(manager->pauseCause(), manager->summary().paused, manager->summary().errors),
                  std::tuple(std::optional(cause), 12, 0));
        *failing = false;
        manager->resumePaused();
        EXPECT_FALSE(manager->pauseCause().has_value());
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
        EXPECT_EQ(manager->summary().done, 12);
        manager->clearFinished();
    }
}

// What a run does at once rather than in turn: its uploads once the route is certain (a direct host
// that answered within 60 ms cannot lose) while the accelerated host is still measured, and its
// files written while the service hears of the end.
TEST_F(Transfer, UploadsGoOnceTheRouteIsCertainAndTheFilesAreWrittenWhileTheServiceHearsOfTheEnd)
{
    makeManager(true);
    Gate &accelerated = gates[0], &done = gates[1];
    server.intercept = [&](const SeenRequest& req) -> std::optional<FakeReply> {
        if (req.request.method == "HEAD")
            return req.request.url.find("accelerate") != std::string::npos ? held(FakeReply::status(200), accelerated) : FakeReply::status(200);
        return req.path == "/api/upload/done" ? std::optional(held(FakeReply::status(200, R"({"ok":true})"), done)) : std::nullopt;
    };
    manager->add({QUrl::fromLocalFile(makeFile("A.MXF", 1000))}, "zafrel-demo");
    ASSERT_TRUE(runUntil([&] { return statuses(*manager) == std::vector{Status::Done}; }));
    EXPECT_EQ(std::tuple(accelerated.waiting(), manager->route(), server.calls("GET", "/api/ls")),
              std::tuple(1, std::optional<RouteDecision>(), 1u));
    accelerated.open();
    ASSERT_TRUE(runUntil([&] { return done.waiting() == 1; }));
    EXPECT_FALSE(!manager->route() || manager->route()->accelerate || fileBytes(queueFilePath()).contains("A.MXF"));
    EXPECT_TRUE(fileBytes(paths::dataDir() + "/destinations.json").contains("/A.MXF"));
    done.open();
    EXPECT_TRUE(runUntil([&] { return !manager->isRunning(); }));
}

// A direct host slower than 60 ms leaves the route open until both hosts are measured: the first
// folder is listed meanwhile, and no upload starts.
TEST_F(Transfer, ASlowDirectHostKeepsTheUploadsWaitingWhileTheFirstFolderIsListed)
{
    makeManager(true);
    int direct = 1;
    server.intercept = [&](const SeenRequest& req) -> std::optional<FakeReply> {
        if (req.request.method != "HEAD")
            return std::nullopt;
        return held(FakeReply::status(200), req.request.url.find("accelerate") != std::string::npos ? gates[0] : gates[direct++]);
    };
    manager->add({QUrl::fromLocalFile(makeFile("A.MXF", 1000))}, "zafrel-demo");
    for (int round = 1; round <= 3; ++round) {   // every round trip to the direct host over 60 ms
        ASSERT_TRUE(runUntil([&] { return gates[round].waiting() == 1; }));
        runUntil([] { return false; }, std::chrono::milliseconds(70));
        gates[round].open();
    }
    EXPECT_FALSE(runUntil([&] { return !server.inits().empty(); }, std::chrono::milliseconds(100)));
    EXPECT_EQ(server.calls("GET", "/api/ls"), 1u);
    gates[0].open();   // the accelerated host answers at once from its second round trip on: it wins
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    // The upload start, made once both were measured, asks for the accelerated host too.
    EXPECT_EQ(std::tuple(manager->route().value_or(RouteDecision{}).accelerate, server.inits().at(0).value("accelerate", false),
                         statuses(*manager)), std::tuple(true, true, std::vector{Status::Done}));
}

}  // namespace
}  // namespace zafrel::test
