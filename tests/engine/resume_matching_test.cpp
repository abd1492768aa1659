// Continuing what an interrupted command left behind: the items the same paths would queue again
// are taken up (paused ones with their stored parts); everything else stays as it was.
#include "engine/upload_manager.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zafrel {
namespace {

class ResumeMatchingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(QDir(test::sandboxDir()).filePath("data/Zafrel/queue.json"));
        card = dir.filePath("CARD");
        for (const char* file : {"CLIPS/C0001.MXF", "CLIPS/C0002.MXF", "C0003.MXF", ".cache/C0004.MXF", "CLIPS/.C0005.MXF"}) {
            QDir().mkpath(QFileInfo(card + "/" + file).path());
            QFile f(card + "/" + file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        manager = std::make_unique<UploadManager>();
        manager->setDestDir("Dia/");
    }

    ItemPtr item(const QString& relativePath, const QString& destDir, Status status)
    {
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(card + "/" + relativePath),
                                               3 * 33554432, 1.0, destDir);
        it->setStatus(status);
        it->key = "demo-films/" + destDir + it->name;
        it->uploadId = "upload-1";
        it->partSize = 33554432;
        it->etags = {{1, "\"a\""}, {2, "\"b\""}};
        it->setLoaded(67108864);
        if (status == Status::Error)
            it->setError("Pendiente de reintento");
        return it;
    }

    QList<QUrl> urls(const QStringList& relativePaths) const
    {
        QList<QUrl> list;
        for (const QString& p : relativePaths)
            list.append(QUrl::fromLocalFile(p.isEmpty() ? card : card + "/" + p));
        return list;
    }

    QTemporaryDir dir;
    QString card;
    std::unique_ptr<UploadManager> manager;
};

TEST_F(ResumeMatchingTest, PausedItemsBelowAGivenFolderContinueWithTheirParts)
{
    const ItemPtr named = item("CLIPS/C0001.MXF", "Dia/CARD/CLIPS/", Status::Paused);
    const ItemPtr direct = item("C0003.MXF", "Dia/CARD/", Status::Paused);
    manager->setItems({named, direct});

    manager->resumeMatching(urls({""}));

    for (const ItemPtr& it : {named, direct}) {
        EXPECT_EQ(it->status(), Status::Queued) << it->path.toStdString();
        EXPECT_EQ(it->uploadId, QString("upload-1"));
        EXPECT_EQ(it->etags.size(), 2u);
        EXPECT_EQ(it->loaded(), 67108864);
    }
}

TEST_F(ResumeMatchingTest, ItemsTheCommandDoesNotNameStayAsTheyAre)
{
    const ItemPtr otherDest = item("CLIPS/C0001.MXF", "Otro/CARD/CLIPS/", Status::Paused);
    const ItemPtr otherFolder = item("CLIPS/C0002.MXF", "Dia/CARD/CLIPS/", Status::Paused);
    const ItemPtr asFile = item("C0003.MXF", "Dia/CARD/", Status::Paused);   // queued from the folder
    const ItemPtr failed = item("CLIPS/C0002.MXF", "Dia/CARD/CLIPS/", Status::Error);
    manager->setItems({otherDest, otherFolder, asFile, failed});

    // The folder CLIPS alone: its files go to Dia/CLIPS/, not Dia/CARD/CLIPS/; C0003.MXF given as a
    // file goes to Dia/, not Dia/CARD/.
    manager->resumeMatching(urls({"CLIPS", "C0003.MXF"}));

    for (const ItemPtr& it : {otherDest, otherFolder, asFile})
        EXPECT_EQ(it->status(), Status::Paused) << it->queueKey().toStdString();
    EXPECT_EQ(failed->status(), Status::Error);
    EXPECT_EQ(failed->error(), QString("Pendiente de reintento"));
}

TEST_F(ResumeMatchingTest, AFileGivenDirectlyMatchesItsOwnItem)
{
    const ItemPtr it = item("CLIPS/C0001.MXF", "Dia/", Status::Paused);
    manager->setItems({it});
    manager->resumeMatching(urls({"CLIPS/C0001.MXF"}));
    EXPECT_EQ(it->status(), Status::Queued);
}

TEST_F(ResumeMatchingTest, HiddenFilesAndFoldersAreNeverTakenUp)
{
    const ItemPtr belowHidden = item(".cache/C0004.MXF", "Dia/CARD/.cache/", Status::Paused);
    const ItemPtr hidden = item("CLIPS/.C0005.MXF", "Dia/CARD/CLIPS/", Status::Paused);
    manager->setItems({belowHidden, hidden});
    manager->resumeMatching(urls({""}));
    EXPECT_EQ(belowHidden->status(), Status::Paused);
    EXPECT_EQ(hidden->status(), Status::Paused);
}

// Queued again instead of twice: one with an open upload keeps its verified parts, one without
// starts over with the file as it is now.
TEST_F(ResumeMatchingTest, FailedItemsNamedAgainAreQueuedAgainInPlace)
{
    for (const bool open : {true, false}) {
        const ItemPtr failed = item("CLIPS/C0002.MXF", "Dia/CARD/CLIPS/", Status::Error);
        if (!open)
            failed->uploadId.reset();
        manager->setItems({failed});
        manager->resumeMatching(urls({""}));
        EXPECT_EQ(failed->status(), Status::Queued);
        EXPECT_EQ(failed->error(), std::nullopt);
        EXPECT_EQ(failed->uploadId.has_value(), open);
        EXPECT_EQ(failed->etags.size(), open ? 2u : 0u);
        EXPECT_EQ(failed->loaded(), open ? 67108864 : 0);
        EXPECT_EQ(failed->size, open ? 3 * 33554432 : 1);
    }
}

TEST_F(ResumeMatchingTest, FinishedItemsAndFilesGoneMissingAreLeftAlone)
{
    const ItemPtr done = item("CLIPS/C0001.MXF", "Dia/CARD/CLIPS/", Status::Done);
    const ItemPtr cancelled = item("CLIPS/C0002.MXF", "Dia/CARD/CLIPS/", Status::Cancelled);
    const ItemPtr gone = item("C0003.MXF", "Dia/CARD/", Status::Paused);
    QFile::remove(card + "/C0003.MXF");
    manager->setItems({done, cancelled, gone});
    manager->resumeMatching(urls({""}));
    EXPECT_EQ(done->status(), Status::Done);
    EXPECT_EQ(cancelled->status(), Status::Cancelled);
    EXPECT_EQ(gone->status(), Status::Paused);
}

}  // namespace
}  // namespace zafrel
