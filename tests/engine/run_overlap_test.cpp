// What a run does at once rather than in turn: the first folder's listing while the route is
// measured, and the queue file and the records written while the service hears of the end.
#include "client/zafrel_api.h"
#include "engine/intake/intake_scan.h"
#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/fake_upload_service.h"
#include "support/manager_test_access.h"
#include "support/test_env.h"

#include <QUuid>

#include <gtest/gtest.h>

namespace zafrel::test {
namespace {

class RunOverlap : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineState();
        settings::setValue("serverURL", QString::fromStdString(server.origin()));
        folder = sandboxDir() + "/files-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
        file = writeFile(folder + "/A.MXF", QByteArray(1000, 'a'));
        // The route's measurement and the end notice wait at their gates when a test says so.
        server.intercept = [this](const SeenRequest& req) -> std::optional<FakeReply> {
            if (req.request.method == "HEAD" && holdProbe)
                return held(FakeReply::status(200, {}, {}), probe);
            if (req.path == "/api/upload/done" && holdDone)
                return held(FakeReply::status(200, R"({"ok":true})"), done);
            return std::nullopt;
        };
        manager = std::make_unique<UploadManager>(api, EngineLimits{}, server.network()->transport());
        manager->setDestDir("Dia1/");
    }

    void TearDown() override
    {
        probe.open();
        done.open();
        EXPECT_TRUE(runUntil([&] { return !manager->isRunning(); }));
        manager.reset();
        QDir(folder).removeRecursively();
    }

    FakeUploadService server;
    ZafrelAPI api{server.network()->session()};
    std::unique_ptr<UploadManager> manager;
    Gate probe, done;
    bool holdProbe = false, holdDone = false;
    QString folder, file;
};

TEST_F(RunOverlap, TheFirstFolderIsListedWhileTheRouteIsMeasured)
{
    holdProbe = true;
    manager->add({QUrl::fromLocalFile(file)}, "zafrel-demo");
    ASSERT_TRUE(runUntil([&] { return server.calls("GET", "/api/ls") == 1; }, std::chrono::seconds(5)));
    EXPECT_GT(probe.waiting(), 0);
    // The upload start waits for the route it names.
    EXPECT_TRUE(server.inits().empty());
    probe.open();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(statuses(*manager), std::vector{Status::Done});
    EXPECT_EQ(server.calls("GET", "/api/ls"), 1u);
}

TEST_F(RunOverlap, TheQueueAndTheRecordsAreWrittenWhileTheServiceHearsOfTheEnd)
{
    holdDone = true;
    ManagerTestAccess::routeProbe(*manager).assume(false);
    manager->add({QUrl::fromLocalFile(file)}, "zafrel-demo");
    ASSERT_TRUE(runUntil([&] { return done.waiting() == 1; }));
    EXPECT_TRUE(manager->isRunning());
    EXPECT_FALSE(fileBytes(queueFilePath()).contains("A.MXF"));
    EXPECT_TRUE(fileBytes(paths::dataDir() + "/destinations.json").contains("Dia1/A.MXF"));
}

}  // namespace
}  // namespace zafrel::test
