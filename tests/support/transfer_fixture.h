#pragma once
// Common ground of the engine's transfer tests: a scripted service and object store on the
// in-process network, an UploadManager talking to it through its own client, and files to send.
#include "client/zafrel_api.h"
#include "engine/async_semaphore.h"
#include "engine/file_state.h"
#include "engine/transfer_job.h"
#include "platform/retry_schedule.h"
#include "support/async_wait.h"
#include "support/engine_env.h"
#include "support/fake_upload_service.h"
#include "support/test_env.h"

#include <QUuid>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

namespace zafrel::test {

inline constexpr qint64 kMiB32 = 33554432;

// A transfer started now and looked at later, with the semaphore of its own it was given.
struct Started {
    Started(TransferContext& ctx, const ItemPtr& item, std::stop_token stop, int permits)
        : sem(permits), task(transferFile(ctx, item, sem, stop))
    {
    }
    AsyncSemaphore sem;
    StartedTask<void> task;
};

class TransferTest : public ::testing::Test {
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

    void makeManager()
    {
        ctx.reset();
        manager = std::make_unique<UploadManager>(api, limits, server.network()->transport());
        manager->routeProbe().assume(false);
        ctx.emplace(manager->transferContext());
    }

    void TearDown() override
    {
        for (Gate& gate : gates)
            gate.open();
        // Transfers hold the manager and their semaphore: let every one of them end first.
        EXPECT_TRUE(runUntil(
            [&] {
                return std::all_of(started.begin(), started.end(),
                                   [](const Started& s) { return s.task.ended() && s.sem.count() == s.sem.capacity(); });
            },
            std::chrono::seconds(120)));
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
        auto item = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), qint64(st.st_size),
                                                 modificationTime(st), destDir);
        item->setStatus(Status::Running);
        return item;
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

    std::string key(const ItemPtr& item) const { return (item->destDir + item->name).toStdString(); }

    Gate gates[21];
    std::deque<Started> started;   // outlive the transfers and the permits they give back
    FakeUploadService server;
    EngineLimits limits;
    ZafrelAPI api{server.network()->session()};
    std::unique_ptr<UploadManager> manager;
    // What the single transfers of a test are given: the manager's own.
    std::optional<TransferContext> ctx;
    QString folder;
};

}  // namespace zafrel::test
