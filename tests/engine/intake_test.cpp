#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <set>

using namespace zafrel;
using zafrel::test::readWholeFile;

namespace {

class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetEngineState();
        ASSERT_TRUE(dir.isValid());
        manager = test::offlineManager();
        QObject::connect(manager.get(), &UploadManager::itemsChanged, [this] { ++itemsChanges; });
    }

    QString file(const QString& relative, const QByteArray& content = {})
    {
        return test::writeFile(dir.path() + "/" + relative, content);
    }
    QString folder(const QString& relative)
    {
        QDir().mkpath(dir.path() + "/" + relative);
        return dir.path() + "/" + relative;
    }
    static QUrl url(const QString& path) { return QUrl::fromLocalFile(path); }

    // destDir of every item by path; fails the test when a path appears twice.
    std::map<QString, QString> destinations() const
    {
        std::map<QString, QString> out;
        for (const ItemPtr& it : manager->items())
            EXPECT_TRUE(out.emplace(it->path, it->destDir).second) << it->path.toStdString();
        return out;
    }

    QTemporaryDir dir{test::sandboxDir() + "/intake-XXXXXX"};
    std::unique_ptr<UploadManager> manager;
    int itemsChanges = 0;
};

}  // namespace

TEST_F(IntakeTest, DroppedCardKeepsItsFolderNameBelowTheDestination)
{
    const QString c1 = file("Volumes/CARD/CLIPS/A001/C0001.MXF", "0123456789");
    const QString c2 = file("Volumes/CARD/CLIPS/A001/C0002.MXF");
    const QString deep = file("Volumes/CARD/CLIPS/A002/SUB/C0003.MXF", "abc");
    const QString notes = file("Volumes/CARD/CLIPS/notes.txt", "n");
    folder("Volumes/CARD/CLIPS/EMPTY");
    manager->setDestDir("Rodaje/Dia03/");

    manager->add({url(dir.path() + "/Volumes/CARD/CLIPS")}, "zafrel-demo");

    EXPECT_EQ(manager->bucket, "zafrel-demo");
    EXPECT_EQ(destinations(), (std::map<QString, QString>{
                                  {c1, "Rodaje/Dia03/CLIPS/A001/"},
                                  {c2, "Rodaje/Dia03/CLIPS/A001/"},
                                  {deep, "Rodaje/Dia03/CLIPS/A002/SUB/"},
                                  {notes, "Rodaje/Dia03/CLIPS/"},
                              }));
    for (const ItemPtr& it : manager->items()) {
        EXPECT_EQ(it->status(), Status::Queued);
        EXPECT_EQ(it->fileURL, url(it->path));
        EXPECT_EQ(it->contentType, "application/octet-stream");
        if (it->path == c1) {
            EXPECT_EQ(it->name, "C0001.MXF");
            EXPECT_EQ(it->size, 10);
        }
        if (it->path == c2) {
            EXPECT_EQ(it->size, 0);   // an empty file is queued too
        }
    }
    EXPECT_EQ(itemsChanges, 1);
}

TEST_F(IntakeTest, FileDirectlyInsideADroppedFolderWithTheTopDestination)
{
    const QString f = file("CLIPS/C0001.MXF");
    manager->add({url(dir.path() + "/CLIPS/")}, "");   // a trailing slash names the same folder
    EXPECT_EQ(destinations(), (std::map<QString, QString>{{f, "CLIPS/"}}));
}

TEST_F(IntakeTest, DroppedFileGoesStraightIntoTheDestinationWithItsSizeAndDate)
{
    const QString f = file("C0001.MXF", QByteArray(1234, 'x'));
    struct timespec times[2] = {{1733400000, 500000000}, {1733400000, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(f).constData(), times, 0), 0);
    manager->setDestDir("Rodaje/");
    manager->add({url(f)}, "b");
    ASSERT_EQ(manager->items().size(), 1u);
    const ItemPtr& it = manager->items()[0];
    EXPECT_EQ(it->destDir, "Rodaje/");
    EXPECT_EQ(it->size, 1234);
    EXPECT_EQ(it->mtime, 1733400000.5);
    EXPECT_EQ(it->name, "C0001.MXF");
    EXPECT_FALSE(it->id.isNull());
}

TEST_F(IntakeTest, NamesWithUrlCharactersKeepTheirPath)
{
    const QString odd = file(QString::fromUtf8("Día 3/C#1 %20 ?x=1&y.mov"));
    manager->add({url(dir.path() + QString::fromUtf8("/Día 3"))}, "");
    ASSERT_EQ(manager->items().size(), 1u);
    EXPECT_EQ(manager->items()[0]->path, odd);
    EXPECT_EQ(manager->items()[0]->name, "C#1 %20 ?x=1&y.mov");
    EXPECT_EQ(manager->items()[0]->destDir, QString::fromUtf8("Día 3/"));
}

TEST_F(IntakeTest, HiddenEntriesAndEverythingBelowHiddenFoldersAreSkipped)
{
    const QString seen = file("Day/A.MXF");
    const QString seenDeep = file("Day/sub/B.MXF");
    file("Day/.DS_Store");
    file("Day/.hidden/C.MXF");
    file("Day/.hidden/visible/D.MXF");
    file("Day/sub/._B.MXF");
    manager->add({url(dir.path() + "/Day")}, "");
    EXPECT_EQ(destinations(), (std::map<QString, QString>{{seen, "Day/"}, {seenDeep, "Day/sub/"}}));
}

TEST_F(IntakeTest, DroppedHiddenFileIsSkippedDroppedHiddenFolderIsWalked)
{
    const QString hiddenFile = file(".secret.mov");
    const QString inside = file(".cache/clip.mov");
    file(".cache/.inner.mov");
    manager->add({url(hiddenFile), url(dir.path() + "/.cache")}, "");
    EXPECT_EQ(destinations(), (std::map<QString, QString>{{inside, ".cache/"}}));
}

TEST_F(IntakeTest, EmptyFolderAddsNothingButStillWritesTheQueueAndStarts)
{
    folder("Empty");
    file("OnlyHidden/.x");
    ASSERT_FALSE(QFile::exists(test::queueFilePath()));
    manager->add({url(dir.path() + "/Empty"), url(dir.path() + "/OnlyHidden"), url(dir.path() + "/missing")}, "");
    EXPECT_TRUE(manager->items().empty());
    EXPECT_EQ(itemsChanges, 1);
    EXPECT_EQ(readWholeFile(test::queueFilePath()), "[]");
    EXPECT_TRUE(manager->isRunning());
    EXPECT_TRUE(test::runUntil([&] { return !manager->isRunning(); }));
}

TEST_F(IntakeTest, NewItemsAreWrittenBeforeTheRunBegins)
{
    const QString f = file("a.mov");
    manager->add({url(f)}, "");
    const QByteArray written = readWholeFile(test::queueFilePath());
    EXPECT_TRUE(written.contains(f.toUtf8()));
    EXPECT_TRUE(written.contains(R"("status":"queued")"));
    EXPECT_EQ(manager->items()[0]->status(), Status::Queued);   // the run starts on a later turn
}

TEST_F(IntakeTest, SameFileTwiceInOneCallIsQueuedTwice)
{
    const QString f = file("Day/a.mov");
    manager->add({url(f), url(f)}, "");
    EXPECT_EQ(manager->items().size(), 2u);

    manager->setItems({});
    manager->add({url(dir.path() + "/Day"), url(f)}, "");
    ASSERT_EQ(manager->items().size(), 2u);
    std::multiset<QString> dests;
    for (const ItemPtr& it : manager->items()) {
        EXPECT_EQ(it->path, f);
        dests.insert(it->destDir);
    }
    EXPECT_EQ(dests, (std::multiset<QString>{"", "Day/"}));
    EXPECT_NE(manager->items()[0]->id, manager->items()[1]->id);
}

TEST_F(IntakeTest, WaitingItemsBlockReAddingFinishedOnesDoNot)
{
    file("Day/a.mov");
    file("Day/b.mov");
    manager->add({url(dir.path() + "/Day")}, "");
    ASSERT_EQ(manager->items().size(), 2u);

    for (Status blocking : {Status::Queued, Status::Running, Status::Paused}) {
        for (const ItemPtr& it : manager->items())
            it->setStatus(blocking);
        manager->add({url(dir.path() + "/Day")}, "");
        EXPECT_EQ(manager->items().size(), 2u) << statusWord(blocking).toStdString();
    }

    // Another destination is another place: not blocked.
    manager->setDestDir("Other/");
    manager->add({url(dir.path() + "/Day/a.mov")}, "");
    EXPECT_EQ(manager->items().size(), 3u);
    manager->setDestDir("");

    size_t expected = 3;
    for (Status finished : {Status::Done, Status::Skipped, Status::Error, Status::Cancelled}) {
        for (const ItemPtr& it : manager->items())
            it->setStatus(finished);
        manager->add({url(dir.path() + "/Day")}, "");
        expected += 2;
        EXPECT_EQ(manager->items().size(), expected) << statusWord(finished).toStdString();
    }
}

TEST_F(IntakeTest, ChangingTheDestinationLaterDoesNotMoveQueuedItems)
{
    file("Day/a.mov");
    manager->setDestDir("First/");
    manager->add({url(dir.path() + "/Day")}, "");
    manager->setDestDir("Second/");
    EXPECT_EQ(manager->items()[0]->destDir, "First/Day/");
}

TEST_F(IntakeTest, NewItemsGoAfterTheExistingOnes)
{
    const QString a = file("a.mov");
    const QString b = file("b.mov");
    manager->add({url(a)}, "");
    manager->add({url(b)}, "");
    ASSERT_EQ(manager->items().size(), 2u);
    EXPECT_EQ(manager->items()[0]->path, a);
    EXPECT_EQ(manager->items()[1]->path, b);
}

TEST_F(IntakeTest, LinksInsideTheWalkAreNotFollowedIntoFolders)
{
    const QString real = file("Day/A/clip.mov", "12345");
    const QString outside = file("elsewhere/target.mov", "1234567");
    folder("elsewhere/folder");
    file("elsewhere/folder/never.mov");
    const QString day = dir.path() + "/Day";
    ASSERT_EQ(::symlink("..", QFile::encodeName(day + "/A/loop").constData()), 0);            // back up the tree
    ASSERT_EQ(::symlink(QFile::encodeName(dir.path() + "/elsewhere/folder").constData(),
                        QFile::encodeName(day + "/dirlink").constData()), 0);                // to a folder
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(day + "/A/filelink.mov").constData()), 0);         // to a file
    ASSERT_EQ(::symlink("nowhere.mov", QFile::encodeName(day + "/broken.mov").constData()), 0);

    manager->add({url(day)}, "");

    EXPECT_EQ(destinations(), (std::map<QString, QString>{{real, "Day/A/"}, {day + "/A/filelink.mov", "Day/A/"}}));
    for (const ItemPtr& it : manager->items()) {
        if (it->name == "filelink.mov") {
            EXPECT_EQ(it->size, 7);   // the target's size, under the link's name
        }
    }
}

TEST_F(IntakeTest, ALinkHandedOverIsFollowed)
{
    const QString clip = file("real/Day/clip.mov", "abc");
    ASSERT_EQ(::symlink(QFile::encodeName(dir.path() + "/real/Day").constData(),
                        QFile::encodeName(dir.path() + "/Linked").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(clip).constData(), QFile::encodeName(dir.path() + "/one.mov").constData()),
              0);
    manager->add({url(dir.path() + "/Linked"), url(dir.path() + "/one.mov")}, "");
    EXPECT_EQ(destinations(), (std::map<QString, QString>{{dir.path() + "/Linked/clip.mov", "Linked/"},
                                                          {dir.path() + "/one.mov", ""}}));
    for (const ItemPtr& it : manager->items())
        EXPECT_EQ(it->size, 3);
}

// What cannot be taken is answered, path by path, and the rest is queued: a missing path, a pipe
// handed over (a pipe inside a folder is skipped without a word), and (not as root, whom no
// permission stops) an unreadable file handed over and an unreadable folder met in the walk. A
// file below a folder chain longer than PATH_MAX is queued with its size.
TEST_F(IntakeTest, WhatCannotBeTakenIsAnsweredAndTheRestQueued)
{
    const QString day = folder("Day");
    const QString pipe = dir.path() + "/pipe";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(day + "/pipe").constData(), 0600), 0);
    const QString f = file("Day/a.mov");
    // Built one folder at a time: no single path to it is accepted by the system.
    int fd = ::open(QFile::encodeName(day).constData(), O_RDONLY | O_DIRECTORY);
    QString deep = day;
    const std::string name(200, 'd');
    for (int level = 0; level < 25; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = child;
        deep += "/" + QString::fromStdString(name);
    }
    const int clip = ::openat(fd, "C0001.MXF", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::write(clip, "12345", 5), 5);
    ::close(clip);
    ::close(fd);
    ASSERT_GT(QFile::encodeName(deep).size(), PATH_MAX);

    std::vector<IntakeProblem> expected{{dir.path() + "/nada", IntakeProblem::Kind::Missing},
                                        {pipe, IntakeProblem::Kind::NotFileOrFolder}};
    QList<QUrl> given{url(day), url(dir.path() + "/nada"), url(pipe)};
    if (::geteuid() != 0) {
        const QString locked = folder("Day/locked");
        file("Day/locked/x.mov");
        const QString closed = file("closed.mov", "x");
        ::chmod(QFile::encodeName(locked).constData(), 0);
        ::chmod(QFile::encodeName(closed).constData(), 0);
        given << url(closed);
        expected.insert(expected.begin(), {locked, IntakeProblem::Kind::Unreadable});
        expected.push_back({closed, IntakeProblem::Kind::Unreadable});
    }

    EXPECT_EQ(manager->add(given, ""), expected);
    QString deepDest = "Day";
    for (int level = 0; level < 25; ++level)
        deepDest += "/" + QString::fromStdString(name);
    EXPECT_EQ(destinations(), (std::map<QString, QString>{{f, "Day/"}, {deep + "/C0001.MXF", deepDest + "/"}}));
    for (const ItemPtr& it : manager->items())
        EXPECT_EQ(it->size, it->path == f ? 0 : 5);
    EXPECT_EQ(expected.front().text(), ::geteuid() != 0 ? "No se puede leer: " + dir.path() + "/Day/locked"
                                                       : "No existe: " + dir.path() + "/nada");
    EXPECT_EQ(expected.back().text(), ::geteuid() != 0 ? "No se puede leer: " + dir.path() + "/closed.mov"
                                                      : "No es un archivo ni una carpeta: " + pipe);
    ::chmod(QFile::encodeName(dir.path() + "/Day/locked").constData(), 0700);
    // rm walks relative to each folder too; QDir's removal would stop at the long paths.
    QProcess::execute("rm", {"-rf", day + "/" + QString::fromStdString(name)});
}

TEST_F(IntakeTest, EachDroppedFolderIsQueuedInNaturalOrder)
{
    // Created in another order than wanted: the file system may hand them back in either.
    const QStringList wanted = {"DAY/A001/C2.MXF", "DAY/A001/c3.MXF", "DAY/A001/C10.MXF", "DAY/A001/SUB/x.MXF",
                                "DAY/A001-B/C1.MXF", "DAY/A001C001.MXF", "DAY/A001C002.MXF", "DAY/A001C010.MXF"};
    for (qsizetype i = wanted.size() - 1; i >= 0; i -= 2)
        file(wanted[i]);
    for (qsizetype i = wanted.size() - 2; i >= 0; i -= 2)
        file(wanted[i]);
    const QString single = file("Z/B.MXF");

    manager->add({url(dir.path() + "/DAY"), url(single)}, "b");

    QStringList queued;
    for (const ItemPtr& it : manager->items())
        queued << it->path.mid(dir.path().size() + 1);
    // The folder's files sorted among themselves; the drop order of the paths stays.
    EXPECT_EQ(queued, wanted + QStringList{"Z/B.MXF"});
}
