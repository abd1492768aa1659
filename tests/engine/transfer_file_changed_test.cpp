// A file that changes between its intake and the end of its upload must never end verified.
#include "support/transfer_fixture.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace zafrel::test {
namespace {

using Reply = TransferTestServer::PutReply;
using FileChanged = TransferTest;

constexpr const char* kChanged = "El archivo cambió durante la subida";

// Moves the file's modification time without touching its content or size.
void touch(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

TEST_F(FileChanged, ASmallFileThatGrewIsNotSent)
{
    const QString path = makeFile("clip.bin", 1000);
    const ItemPtr item = makeItem(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("more");
    file.close();

    runUpload(item);
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), kChanged);
    EXPECT_FALSE(item->verified());
    EXPECT_TRUE(server.inits().empty());
    EXPECT_TRUE(server.puts().empty());
}

TEST_F(FileChanged, ASmallFileRewrittenInPlaceIsNotSent)
{
    const QString path = makeFile("clip.bin", 1000);
    const ItemPtr item = makeItem(path);
    touch(path, 1000000000);   // same size, another date

    runUpload(item);
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), kChanged);
    EXPECT_TRUE(server.puts().empty());
}

TEST_F(FileChanged, AnUnchangedFileRestoredFromTheQueueFileStillMatches)
{
    // The date survives the queue file exactly, so a continued upload is not refused.
    const QString path = makeFile("clip.bin", 1000);
    const ItemPtr item = makeItem(path);
    item->setStatus(Status::Paused);
    manager->setItems({item});
    manager->persistNow();
    manager.reset();
    manager = std::make_unique<UploadManager>(*api);
    manager->accelerate = false;
    ASSERT_EQ(manager->items().size(), 1u);
    const ItemPtr restored = manager->items()[0];
    EXPECT_EQ(restored->mtime, item->mtime);
    restored->setStatus(Status::Running);
    runUpload(restored);
    EXPECT_EQ(restored->status(), Status::Done);
    EXPECT_TRUE(restored->verified());
}

TEST_F(FileChanged, AMultipartFileChangedDuringItsPartsIsAbortedNotCompleted)
{
    Gate& second = gates[0];
    server.onPut = [&](const TransferTestServer::Put& put) {
        if (put.partNumber == 2)
            second.pass();
        return std::optional<Reply>();
    };
    const QString path = makeSparseFile("big.bin", kMiB32 + 1);
    const ItemPtr item = makeItem(path);
    Started& started = startUpload(item, {}, 8);
    AsyncSemaphore& sem = started.sem;
    ASSERT_TRUE(runUntil([&] { return second.waiting() == 1; }));
    touch(path, 1000000000);
    second.open();
    ASSERT_TRUE(started.waitEnded());

    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), kChanged);
    EXPECT_FALSE(item->verified());
    EXPECT_TRUE(server.completions().empty());
    ASSERT_EQ(server.aborts().size(), 1u);
    EXPECT_EQ(server.aborts()[0], std::make_pair(std::string("Dia1/big.bin"), std::string("up-1")));
    // Nothing is left to continue: a later attempt starts a new upload.
    EXPECT_FALSE(item->uploadId.has_value());
    EXPECT_TRUE(item->etags.empty());
}

TEST_F(FileChanged, AMultipartFileThatShrankSendsNoShortPart)
{
    const QString path = makeSparseFile("big.bin", kMiB32 + 1000);
    const ItemPtr item = makeItem(path);
    ASSERT_TRUE(QFile::resize(path, kMiB32 + 10));

    runUpload(item, {}, 1);   // one permit: part 1 first, then part 2
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), kChanged);
    for (const auto& put : server.puts())
        EXPECT_EQ(put.partNumber, 1) << "part 2 would be " << put.bytes << " bytes short";
    EXPECT_TRUE(server.completions().empty());
    EXPECT_EQ(server.aborts().size(), 1u);
    EXPECT_FALSE(item->uploadId.has_value());
}

TEST_F(FileChanged, AContinuedUploadOfAChangedFileIsNotCompleted)
{
    const QString path = makeSparseFile("big.bin", kMiB32 + 1);
    const ItemPtr item = makeItem(path);
    item->key = "Dia1/big.bin";
    item->uploadId = "up-old";
    item->partSize = kMiB32;
    item->etags = {{1, "\"e1\""}, {2, "\"e2\""}};
    touch(path, 1000000000);

    runUpload(item);
    EXPECT_EQ(item->status(), Status::Error);
    EXPECT_EQ(item->error(), kChanged);
    EXPECT_TRUE(server.completions().empty());
    ASSERT_EQ(server.aborts().size(), 1u);
    EXPECT_EQ(server.aborts()[0].second, "up-old");
}

}  // namespace
}  // namespace zafrel::test
