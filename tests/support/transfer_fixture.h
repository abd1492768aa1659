#pragma once
// Common ground of the engine's transfer tests: a scripted service and object store on the
// in-process network, an UploadManager talking to it through its own client, and files to send.
#include "client/zafrel_api.h"
#include "engine/async_semaphore.h"
#include "engine/file_state.h"
#include "platform/retry_schedule.h"
#include "engine/upload_item.h"
#include "engine/transfer_job.h"
#include "engine/upload_manager.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "support/async_wait.h"
#include "support/test_env.h"
#include "support/fake_upload_service.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <stop_token>
#include <string>

namespace zafrel::test {

inline constexpr qint64 kMiB32 = 33554432;

// A transfer started now and looked at later, with the semaphore it was given. The fixture owns
// both and waits for the transfer before the manager goes away, also when a test failed early.
struct Started {
    Started(QCoro::Task<void> transfer, int permits, AsyncSemaphore& semaphore)
        : sem(semaphore), permits(permits), task_(std::move(transfer))
    {
    }
    bool ended() const { return task_.ended(); }
    const Awaited<void>& result() const { return task_.result(); }
    bool waitEnded(std::chrono::milliseconds deadline = std::chrono::seconds(20)) { return task_.waitEnded(deadline); }

    AsyncSemaphore& sem;
    const int permits;

private:
    StartedTask<void> task_;
};

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every failed attempt waits 1/1000 of its real time: the whole schedule takes 22 ms.
        retry::setWaitScaleForTests(0.001);
        QFile::remove(paths::dataDir() + "/queue.json");
        QFile::remove(paths::dataDir() + "/queue.journal");
        QFile::remove(paths::dataDir() + "/suspects.json");
        settings::setValue("serverURL", QString::fromStdString(server.origin()));
        folder = sandboxDir() + "/files-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QDir().mkpath(folder);
        api = std::make_unique<ZafrelAPI>(server.network()->session());
        makeManager();
    }

    void makeManager()
    {
        ctx.reset();
        manager = std::make_unique<UploadManager>(*api, limits, server.network()->transport());
        manager->routeProbe().assume(false);
        ctx.emplace(manager->transferContext());
        // Counted on the way to the manager's speed meter, for the tests of progress.
        ctx->recordSent = [sent = sentBytes, toManager = ctx->recordSent](qint64 n) {
            *sent += n;
            toManager(n);
        };
    }

    void TearDown() override
    {
        for (Gate& gate : gates)
            gate.open();
        // Transfers hold the manager and their semaphore: let every one of them end first.
        EXPECT_TRUE(runUntil(
            [&] {
                return std::all_of(started.begin(), started.end(), [](const Started& s) {
                    return s.ended() && s.sem.count() == s.permits;
                });
            },
            std::chrono::seconds(120)));
        ctx.reset();
        manager.reset();
        api.reset();
        QDir(folder).removeRecursively();
        retry::setWaitScaleForTests(1.0);
    }

    // A file of `size` bytes whose content depends on `seed` and on the position.
    QString makeFile(const QString& name, qint64 size, char seed = 'a')
    {
        const QString path = folder + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (qint64 written = 0; written < size;) {
            const qint64 n = std::min<qint64>(chunk.size(), size - written);
            for (qint64 i = 0; i < n; ++i)
                chunk[i] = char(seed + ((written + i) * 7 + (written + i) / 4096) % 23);
            file.write(chunk.constData(), n);
            written += n;
        }
        return path;
    }

    // A large file that takes no disk space: holes, with a few marker bytes at the start of every
    // 32 MiB so that the parts differ.
    QString makeSparseFile(const QString& name, qint64 size)
    {
        const QString path = folder + "/" + name;
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        for (qint64 offset = 0; offset < size; offset += kMiB32) {
            const std::string marker = "part at " + std::to_string(offset);
            const auto n = std::min<qint64>(qint64(marker.size()), size - offset);
            EXPECT_EQ(::pwrite(fd, marker.data(), size_t(n), offset), n);
        }
        ::close(fd);
        return path;
    }

    // An item for `path` as the intake makes it: size and date read now, queued, then handed to a
    // transfer (running).
    ItemPtr makeItem(const QString& path, const QString& destDir = "Dia1/")
    {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        auto item = std::make_shared<UploadItem>(QUuid::createUuid(), path, qint64(st.st_size),
                                                 modificationTime(st), destDir);
        item->setStatus(Status::Running);
        return item;
    }

    // PUTs that `which` picks (all by default) wait at `gate` until it opens, then get `reply` (by
    // default the store's normal answer); the others are answered at once.
    void holdPuts(Gate& gate, std::function<bool(const FakeUploadService::Put&)> which = {},
                  std::optional<FakeUploadService::PutReply> reply = std::nullopt)
    {
        server.onPut = [&gate, which, reply](const FakeUploadService::Put& put) {
            if (which && !which(put))
                return std::optional<FakeUploadService::PutReply>();
            FakeUploadService::PutReply held = reply.value_or(FakeUploadService::PutReply{200, "", "\"" + put.md5 + "\""});
            held.after = &gate;
            return std::optional(held);
        };
    }

    // Starts one item's transfer with a semaphore of its own and goes on.
    Started& startUpload(const ItemPtr& item, std::stop_token stop = {}, int permits = 8)
    {
        AsyncSemaphore& sem = semaphores.emplace_back(permits);
        return started.emplace_back(transferFile(*ctx, item, sem, stop), permits, sem);
    }

    // Runs one item's transfer to its end with a semaphore of its own.
    void runUpload(const ItemPtr& item, std::stop_token stop = {}, int permits = 8)
    {
        Started& transfer = startUpload(item, stop, permits);
        ASSERT_TRUE(transfer.waitEnded(std::chrono::seconds(60))) << "the transfer did not end";
        ASSERT_FALSE(transfer.result().error) << transfer.result().message();
        // Every permit came back (they are returned from tasks of their own).
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

    // A new manager on the same client and data folder, as after a restart; it restores the
    // queue file.
    void restartManager()
    {
        manager->persistNow();
        makeManager();
    }

    Gate gates[21];
    std::deque<AsyncSemaphore> semaphores;   // outlive the transfers and the permits they give back
    std::deque<Started> started;
    FakeUploadService server;
    EngineLimits limits;
    std::unique_ptr<ZafrelAPI> api;
    std::unique_ptr<UploadManager> manager;
    // What the single transfers of a test are given: the manager's own, with their progress counted.
    std::optional<TransferContext> ctx;
    std::shared_ptr<qint64> sentBytes = std::make_shared<qint64>(0);
    QString folder;
};

}  // namespace zafrel::test
