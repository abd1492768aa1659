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

TEST_F(FileChanged, ASmallFileThatGrewOrWasRewrittenInPlaceIsNotSent)
{
    const QString grew = makeFile("grew.bin", 1000);
    const QString rewritten = makeFile("rewritten.bin", 1000);
    const ItemPtr items[] = {makeItem(grew), makeItem(rewritten)};
    QFile file(grew);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("more");
    file.close();
    touch(rewritten, 1000000000);   // same size, another date

    for (const ItemPtr& item : items) {
        runUpload(item);
        EXPECT_EQ(item->status(), Status::Error) << item->name.toStdString();
        EXPECT_EQ(item->error(), kChanged);
        EXPECT_FALSE(item->verified());
    }
    EXPECT_TRUE(server.inits().empty());
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
    holdPuts(second, [](const auto& put) { return put.partNumber == 2; });
    const QString path = makeSparseFile("big.bin", kMiB32 + 1);
    const ItemPtr item = makeItem(path);
    Started& started = startUpload(item, {}, 8);
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
