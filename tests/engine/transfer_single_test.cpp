// Files sent in one request, and the already-there check in front of every transfer.
#include "support/transfer_fixture.h"

#include <QFile>

namespace zafrel::test {
namespace {

using Single = TransferTest;

TEST_F(Single, ASmallFileGoesInOnePutAndIsVerified)
{
    const QString path = makeFile("clip.bin", 1000);
    const ItemPtr item = makeItem(path);
    runUpload(item);

    EXPECT_EQ(item->status(), Status::Done);
    EXPECT_TRUE(item->verified());
    EXPECT_EQ(item->loaded(), 1000);
    EXPECT_TRUE(item->finished.has_value());
    EXPECT_FALSE(item->error().has_value());
    EXPECT_EQ(item->key, "Dia1/clip.bin");
    EXPECT_FALSE(item->uploadId.has_value());

    ASSERT_EQ(server.inits().size(), 1u);
    const auto init = server.inits()[0];
    EXPECT_EQ(init["path"], "Dia1/");
    EXPECT_EQ(init["name"], "clip.bin");
    EXPECT_EQ(init["size"], 1000);
    EXPECT_EQ(init["type"], "application/octet-stream");
    EXPECT_EQ(init["accelerate"], false);

    ASSERT_EQ(server.puts().size(), 1u);
    EXPECT_EQ(server.puts()[0].partNumber, 0);
    EXPECT_EQ(server.puts()[0].contentType, "application/octet-stream");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(server.object("Dia1/clip.bin"), file.readAll().toStdString());
    EXPECT_TRUE(server.urlRequests().empty());
    EXPECT_TRUE(server.completions().empty());
}

TEST_F(Single, ProgressReachesTheSpeedMeter)
{
    const ItemPtr item = makeItem(makeFile("clip.bin", 300000));
    runUpload(item);
    // Progress events are applied on later turns of the event loop.
    EXPECT_TRUE(runUntil([&] { return manager->meter.totalSent() >= 300000; }, std::chrono::seconds(5)));
    EXPECT_EQ(item->loaded(), 300000);
}

TEST_F(Single, TheAcceleratedRouteIsAnnouncedOnlyWhenDecided)
{
    manager->accelerate = true;
    runUpload(makeItem(makeFile("a.bin", 10)));
    manager->accelerate.reset();
    runUpload(makeItem(makeFile("b.bin", 10)));
    ASSERT_EQ(server.inits().size(), 2u);
    EXPECT_EQ(server.inits()[0]["accelerate"], true);
    EXPECT_EQ(server.inits()[1]["accelerate"], false);
}

TEST_F(Single, EmptyAndExactlyThirtyTwoMiBFilesAreStillOneRequest)
{
    for (const qint64 size : {qint64(0), kMiB32}) {
        const QString path = makeFile(QString("size-%1.bin").arg(size), size);
        const ItemPtr item = makeItem(path);
        runUpload(item);
        EXPECT_EQ(item->status(), Status::Done) << size;
        EXPECT_TRUE(item->verified()) << size;
        ASSERT_FALSE(server.puts().empty());
        EXPECT_EQ(server.puts().back().partNumber, 0);
        EXPECT_EQ(server.puts().back().bytes, size);
        EXPECT_EQ(server.puts().back().md5, md5Of(path));   // of the empty body: d41d8cd9...
    }
    EXPECT_EQ(server.puts().size(), 2u);
    EXPECT_TRUE(server.urlRequests().empty());
}

TEST_F(Single, TheServiceMayNameTheContentType)
{
    server.onInit = [this](const nlohmann::json& body) {
        auto answer = server.defaultInit(body);
        answer["contentType"] = "video/mxf";
        return answer;
    };
    runUpload(makeItem(makeFile("c.mxf", 10)));
    ASSERT_EQ(server.puts().size(), 1u);
    EXPECT_EQ(server.puts()[0].contentType, "video/mxf");
}

TEST_F(Single, AnAnswerWithoutAUsableURLIsADecodeError)
{
    server.onInit = [](const nlohmann::json&) { return nlohmann::json{{"mode", "single"}, {"key", "Dia1/x.bin"}}; };
    const ItemPtr item = makeItem(makeFile("x.bin", 10));
    runUpload(item);
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), "Respuesta inesperada del servidor");
    EXPECT_EQ(item->key, "Dia1/x.bin");   // kept as soon as the service answered
    EXPECT_FALSE(item->finished.has_value());

    server.onInit = [](const nlohmann::json&) {
        return nlohmann::json{{"mode", "single"}, {"key", "Dia1/y.bin"}, {"url", "not a url"}};
    };
    const ItemPtr second = makeItem(makeFile("y.bin", 10));
    runUpload(second);
    EXPECT_EQ(second->error(), "Respuesta inesperada del servidor");
    EXPECT_TRUE(server.puts().empty());
}

TEST_F(Single, AnETagComparesWithoutItsQuotesButWithItsCase)
{
    server.onPut = [](const FakeUploadService::Put& put) {
        if (put.key == "Dia1/bare.bin")
            return std::optional(FakeUploadService::PutReply{200, "", put.md5});
        if (put.key == "Dia1/upper.bin") {
            std::string upper = put.md5;
            for (char& c : upper)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            return std::optional(FakeUploadService::PutReply{200, "", "\"" + upper + "\""});
        }
        if (put.key == "Dia1/none.bin")
            return std::optional(FakeUploadService::PutReply{200, "", std::nullopt});
        return std::optional<FakeUploadService::PutReply>();
    };

    const ItemPtr quoted = makeItem(makeFile("quoted.bin", 100));
    runUpload(quoted);
    EXPECT_EQ(quoted->status(), Status::Done);
    EXPECT_TRUE(quoted->verified());

    const ItemPtr bare = makeItem(makeFile("bare.bin", 100));
    runUpload(bare);
    EXPECT_EQ(bare->status(), Status::Done);
    EXPECT_TRUE(bare->verified());

    for (const char* name : {"upper.bin", "none.bin"}) {
        const ItemPtr item = makeItem(makeFile(name, 100));
        runUpload(item);
        EXPECT_EQ(item->status(), Status::Error) << name;
        EXPECT_FALSE(item->verified()) << name;
        EXPECT_EQ(item->error(), "La verificación MD5 no coincide") << name;
    }
    EXPECT_EQ(server.puts().size(), 4u);   // a mismatch is not retried
}

TEST_F(Single, AFileListedWithTheSameNameAndSizeIsSkipped)
{
    server.list("Dia1/", "same.bin", 500);
    server.list("Dia1/", "other.bin", 999);
    const ItemPtr same = makeItem(makeFile("same.bin", 500, 'x'));
    const ItemPtr other = makeItem(makeFile("other.bin", 500));
    runUpload(same);
    runUpload(other);

    EXPECT_EQ(same->status(), Status::Skipped);
    EXPECT_EQ(same->loaded(), 500);
    EXPECT_TRUE(same->finished.has_value());
    EXPECT_FALSE(same->verified());

    EXPECT_EQ(other->status(), Status::Done);
    ASSERT_EQ(server.inits().size(), 1u);
    EXPECT_EQ(server.inits()[0]["name"], "other.bin");
    // One listing per folder serves the run.
    EXPECT_EQ(server.listed(), std::vector<std::string>{"Dia1/"});
    EXPECT_TRUE(manager->listings.lists("Dia1/", "other.bin", 999));
}

// An object that failed verification may hold anything, even with the right name and size: the
// listing naming it no longer makes the file "already there" until a verified upload replaces it.
TEST_F(Single, AFailedVerificationIsNeverAlreadyThere)
{
    const struct {
        const char* name;
        bool mismatch, restartAndClear, verifiedSince, otherService, sentAgain;
    } cases[] = {
        {"plain.bin", false, false, false, false, false},
        {"mismatch.bin", true, false, false, false, true},
        {"restart.bin", true, true, false, false, true},
        {"verified.bin", true, false, true, false, false},
        {"other.bin", false, false, false, true, false},
    };
    for (const auto& c : cases) {
        const QString path = makeFile(c.name, 1000);
        if (c.mismatch) {
            server.onPut = [](const FakeUploadService::Put&) {
                return std::optional(FakeUploadService::PutReply{200, "", std::string("\"0000\"")});
            };
            const ItemPtr failed = makeItem(path);
            manager->setItems({failed});
            runUpload(failed);
            ASSERT_EQ(failed->error(), "La verificación MD5 no coincide");
            server.onPut = {};
        }
        if (c.restartAndClear) {
            restartManager();
            manager->clearFinished();
        }
        if (c.verifiedSince)
            runUpload(makeItem(path));
        if (c.otherService)
            manager->suspects.mark("http://127.0.0.1:1", "Dia1/other.bin");
        manager->listings.clear();
        server.list("Dia1/", c.name, 1000);

        const ItemPtr item = makeItem(path);
        runUpload(item);
        EXPECT_EQ(item->status(), c.sentAgain ? Status::Done : Status::Skipped) << c.name;
    }
    // Once sent again and verified, the destination is no longer suspect.
    manager->listings.clear();
    const ItemPtr again = makeItem(folder + "/mismatch.bin");
    runUpload(again);
    EXPECT_EQ(again->status(), Status::Skipped);
}

TEST_F(Single, AFailedListingFailsTheItemAndTheNextItemAsksAgain)
{
    server.failListings(retry::maxAttempts);   // every attempt of the first item
    server.list("Dia1/", "b.bin", 10);
    const ItemPtr a = makeItem(makeFile("a.bin", 10));
    const ItemPtr b = makeItem(makeFile("b.bin", 10));
    runUpload(a);
    EXPECT_EQ(a->status(), Status::Error);
    EXPECT_EQ(a->error(), "Servidor: 500 listado roto");
    EXPECT_FALSE(manager->listings.has("Dia1/"));

    runUpload(b);
    EXPECT_EQ(b->status(), Status::Skipped);
    EXPECT_EQ(server.listed().size(), size_t(retry::maxAttempts) + 1);
    EXPECT_TRUE(server.inits().empty());
}

TEST_F(Single, AFolderThatDoesNotExistYetHoldsNothingAndIsUploadedTo)
{
    server.failListings(1, 404);
    const ItemPtr a = makeItem(makeFile("a.bin", 10), "Nuevo/");
    const ItemPtr b = makeItem(makeFile("b.bin", 10), "Nuevo/");
    runUpload(a);
    runUpload(b);
    EXPECT_EQ(a->status(), Status::Done);
    EXPECT_EQ(b->status(), Status::Done);
    EXPECT_EQ(server.listed().size(), 1u);   // the empty folder is remembered for the run
    EXPECT_TRUE(server.object("Nuevo/a.bin").has_value());
}

TEST_F(Single, AFileThatCannotBeReadFailsTheItem)
{
    const QString path = makeFile("gone.bin", 10);
    const ItemPtr item = makeItem(path);
    QFile::remove(path);
    runUpload(item);
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_TRUE(item->error()->startsWith("No se puede abrir el archivo")) << item->error()->toStdString();
    EXPECT_TRUE(server.inits().empty());
}

TEST_F(Single, EveryOutcomeIsWrittenToTheQueueFile)
{
    const ItemPtr item = makeItem(makeFile("q.bin", 10));
    server.onPut = [](const FakeUploadService::Put&) {
        return std::optional(FakeUploadService::PutReply{500, "no", std::nullopt});
    };
    manager->setItems({item});
    runUpload(item);
    ASSERT_EQ(item->status(), Status::Error);
    const QString queueFile = paths::dataDir() + "/queue.json";
    EXPECT_TRUE(runUntil(
        [&] {
            QFile file(queueFile);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains("\"status\":\"error\"");
        },
        std::chrono::seconds(5)));
}

}  // namespace
}  // namespace zafrel::test
