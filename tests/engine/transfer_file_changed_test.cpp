// A file that changes between its intake and the end of its upload must never end verified.
#include "support/transfer_fixture.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace zafrel::test {
namespace {

using Reply = FakeUploadService::PutReply;
using FileChanged = TransferTest;

constexpr const char* kChanged = "El archivo cambió durante la subida";

// Moves the file's modification time without touching its content or size.
void touch(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

void append(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(bytes);
}

TEST_F(FileChanged, AFileChangedSinceItsIntakeIsRefusedBeforeAnythingIsSent)
{
    const QString grew = makeFile("grew.bin", 1000);
    const QString rewritten = makeFile("rewritten.bin", 1000);
    const QString shrank = makeSparseFile("shrank.bin", kMiB32 + 1000);
    const ItemPtr items[] = {makeItem(grew), makeItem(rewritten), makeItem(shrank)};
    append(grew, "more");
    touch(rewritten, 1000000000);   // same size, another date
    ASSERT_TRUE(QFile::resize(shrank, kMiB32 + 10));

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
    restartManager();
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

// A paused or failed upload whose file was touched or appended to since its parts were sent: the
// old upload is aborted and the file is sent anew, as it is now.
TEST_F(FileChanged, AContinuedUploadOfAChangedFileStartsAnewWithTheFileAsItIsNow)
{
    for (const bool grows : {false, true}) {
        const QString path = makeSparseFile(grows ? "grows.bin" : "touched.bin", kMiB32 + 1);
        const ItemPtr item = makeItem(path);
        item->key = QString::fromStdString(key(item));
        item->uploadId = "up-old";
        item->partSize = kMiB32;
        item->etags = {{1, "\"e1\""}};
        if (grows)
            append(path, QByteArray(kMiB32, 'z'));
        else
            touch(path, 1000000000);

        runUpload(item);
        EXPECT_EQ(item->status(), Status::Done) << grows;
        EXPECT_TRUE(item->verified());
        EXPECT_EQ(item->size, QFileInfo(path).size());
        ASSERT_FALSE(server.aborts().empty());
        EXPECT_EQ(server.aborts().back(), std::make_pair(key(item), std::string("up-old")));
        ASSERT_FALSE(server.completions().empty());
        const auto completion = server.completions().back();
        EXPECT_NE(completion.uploadId, "up-old");
        ASSERT_EQ(completion.parts.size(), grows ? 3u : 2u);
        EXPECT_EQ(completion.parts.back().second, "\"" + md5Of(path, (grows ? 2 : 1) * kMiB32) + "\"");
    }
    EXPECT_EQ(server.inits().size(), 2u);
}

}  // namespace
}  // namespace zafrel::test
