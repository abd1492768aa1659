#include "engine/queue_file.h"
#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <QByteArrayList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace zafrel;
using zafrel::test::readWholeFile;
using zafrel::test::runUntil;

namespace {

class QueueFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetEngineState();
        ASSERT_TRUE(dir.isValid());
    }

    QString file(const QString& relative, const QByteArray& content = {})
    {
        return test::writeFile(dir.path() + "/" + relative, content);
    }

    static ItemPtr item(const char* id, const QString& path, qint64 size, double mtime, const QString& destDir,
                        Status status)
    {
        auto it = std::make_shared<UploadItem>(QUuid::fromString(QLatin1StringView(id)), QUrl::fromLocalFile(path),
                                               size, mtime, destDir);
        it->setStatus(status);
        return it;
    }

    void writeQueueFile(const QByteArray& bytes) { test::writeFile(test::queueFilePath(), bytes); }

    // The n-th of a few well-known ids, as JSON text.
    static QByteArray id(int n) { return "\"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C0" + QByteArray::number(n) + "\""; }

    // One well-formed entry for the file at `path`; `changes` replace members, add them, or (with
    // an empty value) leave them out.
    static QByteArray entry(const QString& path, const std::vector<std::pair<QByteArray, QByteArray>>& changes = {})
    {
        std::vector<std::pair<QByteArray, QByteArray>> members = {
            {"id", id(1)},          {"path", "\"" + path.toUtf8() + "\""}, {"size", "10"}, {"mtime", "1.5"},
            {"destDir", "\"D/\""}, {"partSize", "0"}, {"etags", "{}"}, {"status", "\"paused\""}};
        for (const auto& [name, value] : changes) {
            auto it = std::find_if(members.begin(), members.end(), [&](const auto& m) { return m.first == name; });
            if (it == members.end())
                members.emplace_back(name, value);
            else
                it->second = value;
        }
        QByteArrayList written;
        for (const auto& [name, value] : members)
            if (!value.isEmpty())
                written.push_back("\"" + name + "\":" + value);
        return "{" + written.join(',') + "}";
    }

    QTemporaryDir dir{test::sandboxDir() + "/files-XXXXXX"};
};

}  // namespace

TEST_F(QueueFileTest, WritesTheExactEncodingAndReadsItBack)
{
    const QString f1 = file("A001/C0001.MXF");
    const QString f2 = file("we\"ird\\ \xC3\xB1\t.mov");
    const QString f3 = file("C0003.MXF");
    const QString f4 = file("C0004.MXF");

    auto manager = test::offlineManager();
    auto first = item("6F1C2A3B-0000-4000-8000-000000000001", f1, 2000000, 1733400000.5, "Rodaje/Dia03/CLIPS/A001/",
                      Status::Queued);
    auto second = item("6f1c2a3b-0000-4000-8000-0000000000ab", f2, 0, 1733400000.0, "", Status::Running);
    second->key = QStringLiteral("Rodaje/w\u00e9\"ird\\.mov");
    auto third = item("6F1C2A3B-0000-4000-8000-000000000003", f3, 100000000, 1733400000.123456789, "Rodaje/",
                      Status::Paused);
    third->key = QStringLiteral("Rodaje/C0003.MXF");
    third->uploadId = QStringLiteral("upload-3");
    third->partSize = 33554432;
    third->etags = {{10, "\"e10\""}, {2, "\"e2\""}, {1, "\"e1\""}};
    auto fourth = item("6F1C2A3B-0000-4000-8000-000000000004", f4, 5, 0, "x/", Status::Error);
    fourth->setError(QStringLiteral("HTTP 500 boom"));
    fourth->uploadId = QStringLiteral("u4");
    manager->setItems({
        item("6F1C2A3B-0000-4000-8000-000000000005", f1, 1, 1, "", Status::Done),
        first,
        item("6F1C2A3B-0000-4000-8000-000000000006", f1, 1, 1, "", Status::Skipped),
        second,
        third,
        item("6F1C2A3B-0000-4000-8000-000000000007", f1, 1, 1, "", Status::Cancelled),
        fourth,
    });
    manager->persistNow();

    const QByteArray d = dir.path().toUtf8();
    const QByteArray expected =
        R"([{"id":"6F1C2A3B-0000-4000-8000-000000000001","path":")" + d
        + R"(/A001/C0001.MXF","size":2000000,"mtime":1733400000.5,"destDir":"Rodaje/Dia03/CLIPS/A001/","partSize":0,"etags":{},"status":"queued"},)"
        + R"({"id":"6F1C2A3B-0000-4000-8000-0000000000AB","path":")" + d
        + "/we\\\"ird\\\\ \xC3\xB1\\t.mov"
        + R"(","size":0,"mtime":1733400000,"destDir":"","key":"Rodaje/w)" + "\xC3\xA9"
        + R"(\"ird\\.mov","partSize":0,"etags":{},"status":"running"},)"
        + R"({"id":"6F1C2A3B-0000-4000-8000-000000000003","path":")" + d
        + R"(/C0003.MXF","size":100000000,"mtime":1733400000.1234567,"destDir":"Rodaje/","key":"Rodaje/C0003.MXF","uploadId":"upload-3","partSize":33554432,"etags":{"1":"\"e1\"","2":"\"e2\"","10":"\"e10\""},"status":"paused"},)"
        + R"({"id":"6F1C2A3B-0000-4000-8000-000000000004","path":")" + d
        + R"(/C0004.MXF","size":5,"mtime":0,"destDir":"x/","uploadId":"u4","partSize":0,"etags":{},"status":"error"}])";
    EXPECT_EQ(readWholeFile(test::queueFilePath()).toStdString(), expected.toStdString());

    manager.reset();
    auto restored = test::offlineManager();
    ASSERT_EQ(restored->items().size(), 4u);
    const auto& items = restored->items();
    EXPECT_EQ(items[0]->id, first->id);
    EXPECT_EQ(items[0]->path, f1);
    EXPECT_EQ(items[0]->name, "C0001.MXF");
    EXPECT_EQ(items[0]->size, 2000000);
    EXPECT_EQ(items[0]->mtime, 1733400000.5);
    EXPECT_EQ(items[0]->destDir, "Rodaje/Dia03/CLIPS/A001/");
    EXPECT_FALSE(items[0]->key.has_value());
    EXPECT_EQ(items[0]->status(), Status::Paused);

    EXPECT_EQ(items[1]->id, second->id);
    EXPECT_EQ(items[1]->path, f2);
    EXPECT_EQ(items[1]->mtime, 1733400000.0);
    EXPECT_EQ(items[1]->destDir, "");
    EXPECT_EQ(items[1]->key, second->key);
    EXPECT_EQ(items[1]->status(), Status::Paused);   // running at the time of writing

    EXPECT_EQ(items[2]->mtime, 1733400000.123456789);
    EXPECT_EQ(items[2]->key, QStringLiteral("Rodaje/C0003.MXF"));
    EXPECT_EQ(items[2]->uploadId, QStringLiteral("upload-3"));
    EXPECT_EQ(items[2]->partSize, 33554432);
    EXPECT_EQ(items[2]->etags, third->etags);
    EXPECT_EQ(items[2]->loaded(), 100000000);   // three parts would exceed the size

    EXPECT_EQ(items[3]->status(), Status::Error);
    EXPECT_EQ(items[3]->error(), QStringLiteral("Pendiente de reintento"));
    EXPECT_FALSE(items[3]->key.has_value());
    EXPECT_EQ(items[3]->uploadId, QStringLiteral("u4"));

    for (const ItemPtr& it : items) {
        EXPECT_FALSE(it->verified());
        EXPECT_EQ(it->contentType, "application/octet-stream");
    }

    // Read back and written again, only the states differ: queued and running came back paused.
    restored->persistNow();
    QByteArray rewritten = expected;
    rewritten.replace(R"("status":"queued")", R"("status":"paused")");
    rewritten.replace(R"("status":"running")", R"("status":"paused")");
    EXPECT_EQ(readWholeFile(test::queueFilePath()).toStdString(), rewritten.toStdString());
}

TEST_F(QueueFileTest, RestoreIsOneChangeOfTheQueue)
{
    const QString f = file("a.mov");
    writeQueueFile("[" + entry(f) + "," + entry(f, {{"id", id(2)}}) + "]");
    // The constructor's one change cannot be observed from outside; restoring again can.
    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 2u);
    int changes = 0;
    QObject::connect(manager.get(), &UploadManager::itemsChanged, [&] { ++changes; });
    manager->restore();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(manager->items().size(), 2u);
}

TEST_F(QueueFileTest, AnyUnusableEntryRejectsTheWholeFileAndLeavesItAlone)
{
    const QString f = file("a.mov");
    const QByteArray good = entry(f);
    const std::vector<std::pair<QByteArray, QByteArray>> badMembers[] = {
        {{"status", "\"finished\""}}, {{"status", "\"Paused\""}}, {{"status", "null"}},
        {{"id", "\"not-a-uuid\""}}, {{"id", "\"{0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C02}\""}},
        {{"id", "\"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0CZZ\""}},
        {{"partSize", ""}},                                  // missing
        {{"size", "10.5"}}, {{"size", "\"10\""}},           // not an integer
        {{"mtime", "\"1\""}}, {{"destDir", "null"}}, {{"path", ""}},
        {{"key", "5"}},
        // "etags": not an object, a name that is no number, a value that is no string
        {{"etags", "[]"}}, {{"etags", R"({"one":"x"})"}}, {{"etags", R"({"1":7})"}},
    };
    std::vector<QByteArray> cases;
    for (auto changes : badMembers) {
        changes.insert(changes.begin(), {"id", id(2)});   // told apart from the good entry
        cases.push_back("[" + good + "," + entry(f, changes) + "]");
    }
    cases.insert(cases.end(), {
        // not an array, not JSON, an array of something else, cut short
        "{\"items\":[" + good + "]}",
        "not json",
        "[" + good + ",5]",
        "[" + good.left(good.size() - 5),
        "",
    });
    for (const QByteArray& bytes : cases) {
        writeQueueFile(bytes);
        {
            auto manager = test::offlineManager();
            EXPECT_TRUE(manager->items().empty()) << bytes.toStdString();
        }
        EXPECT_EQ(readWholeFile(test::queueFilePath()), bytes) << bytes.toStdString();
    }

    // The same good entry alone is restored: the rejections above come from the bad ones.
    writeQueueFile("[" + good + "]");
    EXPECT_EQ(test::offlineManager()->items().size(), 1u);
}

TEST_F(QueueFileTest, ReaderAcceptsOtherOrderNullOptionalsEscapedSlashesAndLowerCaseIds)
{
    const QString f = file("sub/b.mov");
    const QByteArray escaped = f.toUtf8().replace("/", "\\/");
    writeQueueFile(R"([{"status":"queued","etags":{"2":"b","1":"a"},"partSize":4,"key":null,"uploadId":null,)"
                   R"("destDir":"D\/E\/","mtime":12,"size":9,"path":")"
                   + escaped + R"(","id":"0b7e7a52-8c57-4f4b-9e6b-2d0c0a0b0c01","extra":[1,{"x":2}]}])");
    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 1u);
    const ItemPtr& it = manager->items()[0];
    EXPECT_EQ(it->id, QUuid::fromString(QLatin1StringView("0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01")));
    EXPECT_EQ(it->path, f);
    EXPECT_EQ(it->name, "b.mov");
    EXPECT_EQ(it->destDir, "D/E/");
    EXPECT_EQ(it->mtime, 12.0);
    EXPECT_FALSE(it->key.has_value());
    EXPECT_FALSE(it->uploadId.has_value());
    EXPECT_EQ(it->loaded(), 8);   // two parts of 4 bytes
    EXPECT_EQ(it->status(), Status::Paused);
}

TEST_F(QueueFileTest, EntriesWhoseFileIsGoneAreDroppedTheOthersRestored)
{
    const QString kept = file("kept.mov");
    const QString gone = file("gone.mov");
    const QString later = file("later.mov");
    writeQueueFile("[" + entry(kept) + "," + entry(gone, {{"id", id(2)}}) + "," + entry(later, {{"id", id(3)}}) + "]");
    ASSERT_TRUE(QFile::remove(gone));
    const QByteArray before = readWholeFile(test::queueFilePath());

    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 2u);
    EXPECT_EQ(manager->items()[0]->path, kept);
    EXPECT_EQ(manager->items()[1]->path, later);
    // Restoring does not write; the dropped entry leaves the file at the next write.
    EXPECT_EQ(readWholeFile(test::queueFilePath()), before);
    manager->persistNow();
    EXPECT_FALSE(readWholeFile(test::queueFilePath()).contains("gone.mov"));
}

TEST_F(QueueFileTest, LargeQueueKeepsItsOrderAndDropsOnlyTheMissingFiles)
{
    // Large enough for the existence checks to be spread over the thread pool.
    std::vector<ItemPtr> written;
    for (int i = 0; i < 3000; ++i) {
        const QString path = file(QStringLiteral("many/%1.dpx").arg(i));
        written.push_back(std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), i, i, "D/"));
    }
    {
        auto manager = test::offlineManager();
        manager->setItems(written);
        manager->persistNow();
    }
    std::vector<QUuid> expected;
    for (int i = 0; i < 3000; ++i) {
        if (i % 7 == 3)
            ASSERT_TRUE(QFile::remove(written[i]->path));
        else
            expected.push_back(written[i]->id);
    }

    auto manager = test::offlineManager();
    std::vector<QUuid> restored;
    for (const ItemPtr& it : manager->items())
        restored.push_back(it->id);
    EXPECT_EQ(restored, expected);
    for (const ItemPtr& it : manager->items()) {
        EXPECT_EQ(it->fileURL, QUrl::fromLocalFile(it->path));
        EXPECT_TRUE(QFile::exists(it->path));
    }
}

TEST_F(QueueFileTest, StoredErrorComesBackPendingEverythingElsePaused)
{
    const QString f = file("a.mov");
    QByteArray bytes = "[";
    const char* words[] = {"queued", "running", "done", "skipped", "error", "cancelled", "paused"};
    for (int i = 0; i < 7; ++i) {
        if (i)
            bytes += ",";
        bytes += entry(f, {{"id", id(i)}, {"status", "\"" + QByteArray(words[i]) + "\""}});
    }
    writeQueueFile(bytes + "]");
    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 7u);
    for (int i = 0; i < 7; ++i) {
        const ItemPtr& it = manager->items()[i];
        if (i == 4) {
            EXPECT_EQ(it->status(), Status::Error);
            EXPECT_EQ(it->error(), QStringLiteral("Pendiente de reintento"));
        } else {
            EXPECT_EQ(it->status(), Status::Paused) << words[i];
            EXPECT_FALSE(it->error().has_value());
        }
    }
}

TEST_F(QueueFileTest, LoadedCountsTheStoredPartsUpToTheSize)
{
    const QString f = file("big.mov");
    const std::vector<std::pair<QByteArray, QByteArray>> multipart = {
        {"uploadId", "\"u\""}, {"key", "\"k\""}, {"partSize", "10"}};
    auto with = [&](std::vector<std::pair<QByteArray, QByteArray>> changes) {
        changes.insert(changes.begin(), multipart.begin(), multipart.end());
        return changes;
    };
    writeQueueFile("[" + entry(f, with({{"size", "100"}, {"etags", R"({"1":"a","3":"c"})"}, {"status", "\"running\""}}))
                   + "," + entry(f, with({{"id", id(2)}, {"size", "25"}, {"etags", R"({"1":"a","2":"b","3":"c"})"}}))
                   + "," + entry(f, {{"id", id(3)}, {"size", "25"}, {"status", "\"queued\""}}) + "]");
    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 3u);
    EXPECT_EQ(manager->items()[0]->loaded(), 20);
    EXPECT_EQ(manager->items()[1]->loaded(), 25);
    EXPECT_EQ(manager->items()[2]->loaded(), 0);
}

TEST_F(QueueFileTest, NoFileGivesAnEmptyQueueAndCreatesNone)
{
    auto manager = test::offlineManager();
    EXPECT_TRUE(manager->items().empty());
    EXPECT_TRUE(QDir(paths::dataDir()).exists());
    EXPECT_FALSE(QFile::exists(test::queueFilePath()));
    manager.reset();
    EXPECT_FALSE(QFile::exists(test::queueFilePath()));
}

TEST_F(QueueFileTest, EmptyArrayGivesAnEmptyQueue)
{
    writeQueueFile("[]");
    EXPECT_TRUE(test::offlineManager()->items().empty());
}

TEST_F(QueueFileTest, OnlyFinishedItemsAreWrittenAsAnEmptyArray)
{
    const QString f = file("a.mov");
    auto manager = test::offlineManager();
    manager->setItems({item("0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01", f, 1, 1, "", Status::Done),
                       item("0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C02", f, 1, 1, "", Status::Skipped),
                       item("0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C03", f, 1, 1, "", Status::Cancelled)});
    manager->persistNow();
    EXPECT_EQ(readWholeFile(test::queueFilePath()), "[]");
    manager.reset();
    EXPECT_TRUE(test::offlineManager()->items().empty());
}

// Progress of a run goes to the journal beside the queue file, not into a rewrite of the whole
// queue; the next engine applies it, up to a line cut short by a crash, and folds it in. A
// journal that does not continue the queue file as it is now is left unread.
TEST_F(QueueFileTest, JournalRecordsProgressAndTheNextEngineFoldsIt)
{
    const QString f = file("a.mov");
    const char* firstId = "0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01";
    const char* secondId = "0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C02";
    struct Case {
        const char* name;
        QByteArray appended;       // written at the end of the journal, as a crash could leave it
        bool queueFileReplaced;    // by someone else, after the journal began
        bool progressApplied;
    };
    const Case cases[] = {
        {"whole records", "", false, true},
        {"line cut short", R"({"gone":")" + QByteArray(firstId), false, true},
        {"damaged line stops reading", "{\"gone\"\n{\"gone\":\"" + QByteArray(firstId) + "\"}\n", false, true},
        {"another queue file", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::resetEngineState();
        auto manager = test::offlineManager();
        auto first = item(firstId, f, 100, 1, "", Status::Running);
        first->partSize = 100;
        auto second = item(secondId, f, 100, 1, "", Status::Running);
        manager->setItems({first, second});
        manager->persistNow();
        const QByteArray written = readWholeFile(test::queueFilePath());

        first->etags[1] = "\"x\"";
        manager->persistPart(first, 1);
        EXPECT_TRUE(runUntil([&] { return QFile::exists(manager->journalURL()); }, std::chrono::seconds(3)));
        second->setStatus(Status::Done);
        manager->persist(second);
        manager.reset();   // what is not yet in the journal goes there with the engine
        EXPECT_EQ(readWholeFile(test::queueFilePath()), written);

        QFile journal(test::queueFilePath().replace("queue.json", "queue.journal"));
        ASSERT_TRUE(journal.open(QIODevice::Append));
        journal.write(c.appended);
        journal.close();
        if (c.queueFileReplaced)
            writeQueueFile(written + " ");

        manager = test::offlineManager();
        ASSERT_EQ(manager->items().size(), c.progressApplied ? 1u : 2u);
        EXPECT_EQ(manager->items()[0]->etags.size(), c.progressApplied ? 1u : 0u);
        EXPECT_EQ(manager->items()[0]->loaded(), c.progressApplied ? 100 : 0);
        if (c.progressApplied) {
            EXPECT_EQ(readWholeFile(test::queueFilePath()), encodeQueue(manager->items()));
            EXPECT_FALSE(QFile::exists(manager->journalURL()));
        }
    }
}

// The reader of the queue file is a strict JSON reader of its own; these pin down its JSON.
namespace {

QByteArray snapshotWith(const QByteArray& members)
{
    return R"([{"id":"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01","size":1,"mtime":1,"partSize":0,"etags":{},"status":"queued",)"
           + members + "}]";
}

}  // namespace

TEST(QueueDecode, StringEscapesAndUnicode)
{
    const auto decoded = decodeQueue(snapshotWith(
        R"("path":"/a\/b\\c\"d\te\n\u00e9\u0041\ud83c\udfac ñ","destDir":"x\u002Fy\/","key":"\b\f\r")"));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), 1u);
    EXPECT_EQ((*decoded)[0].path, QString::fromUtf8("/a/b\\c\"d\te\n\xC3\xA9" "A\xF0\x9F\x8E\xAC \xC3\xB1"));
    EXPECT_EQ((*decoded)[0].destDir, "x/y/");
    EXPECT_EQ((*decoded)[0].key, QStringLiteral("\b\f\r"));
}

TEST(QueueDecode, WhitespaceAroundEveryToken)
{
    const QByteArray text = " \n[ {\t\"id\" : \"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01\" ,\r\n \"path\":\"/p\", \"size\" : 1 , "
                            "\"mtime\": 1.25e3 ,\"destDir\":\"\",\"partSize\":0,\"etags\":{ \"1\" : \"a\" , \"2\":\"b\" },"
                            "\"status\":\"paused\" } ] \n";
    const auto decoded = decodeQueue(text);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded)[0].mtime, 1250.0);
    EXPECT_EQ((*decoded)[0].etags.size(), 2u);
    EXPECT_TRUE(decodeQueue(" [ ] ").has_value());
}

TEST(QueueDecode, NumbersFollowTheJsonGrammar)
{
    const auto mtime = [](const QByteArray& number) {
        return decodeQueue(snapshotWith(R"("path":"/p","destDir":"","mtime":)" + number));
    };
    EXPECT_EQ((*mtime("1733400000.5"))[0].mtime, 1733400000.5);
    EXPECT_EQ((*mtime("-0"))[0].mtime, 0.0);
    EXPECT_EQ((*mtime("17334E5"))[0].mtime, 1733400000.0);
    for (const char* bad : {"01", "+1", "1.", ".5", "1e", "1e+", "-", "0x10", "NaN", "Infinity", "1e999", "\"1\""})
        EXPECT_FALSE(mtime(bad).has_value()) << bad;

    const auto size = [](const QByteArray& number) {
        return decodeQueue(snapshotWith(R"("path":"/p","destDir":"","size":)" + number));
    };
    EXPECT_EQ((*size("9223372036854775807"))[0].size, std::numeric_limits<qint64>::max());
    EXPECT_EQ((*size("-5"))[0].size, -5);
    for (const char* bad : {"9223372036854775808", "1.0", "1e3", "true", "null"})
        EXPECT_FALSE(size(bad).has_value()) << bad;
}

TEST(QueueDecode, UnknownMembersOfAnyShapeAreSkipped)
{
    const auto decoded = decodeQueue(snapshotWith(
        R"("path":"/p","destDir":"","later":{"a":[1,2.5,-3e2,{"b":null}],"c":true,"d":false,"e":"\u00e9"},"more":[])"));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded)[0].path, "/p");
}

TEST(QueueDecode, LaterDuplicateMemberWins)
{
    const auto decoded = decodeQueue(snapshotWith(R"("path":"/first","destDir":"","path":"/second","key":"k","key":null)"));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded)[0].path, "/second");
    EXPECT_FALSE((*decoded)[0].key.has_value());
}

TEST(QueueDecode, MalformedJsonIsRejected)
{
    const QByteArray cases[] = {
        snapshotWith(R"("path":"/p","destDir":"",)"),                  // trailing comma in the object
        "[" + snapshotWith(R"("path":"/p","destDir":"")").mid(1).chopped(1) + ",]",   // trailing comma in the array
        snapshotWith(R"("path":"/p","destDir":"")") + "x",             // content after the array
        snapshotWith(R"("path":"/p","destDir":"")") + "[]",            // a second document
        snapshotWith("\"path\":\"/p\ttab\",\"destDir\":\"\""),        // raw control character
        snapshotWith(R"("path":"/p\x","destDir":"")"),                 // unknown escape
        snapshotWith(R"("path":"/p\u12","destDir":"")"),               // short \u escape
        snapshotWith(R"("path":"/p\ud83c","destDir":"")"),             // first half of a pair alone
        snapshotWith(R"("path":"/p\udfac","destDir":"")"),             // second half alone
        snapshotWith("\"path\":\"/p\xC3\",\"destDir\":\"\""),          // cut UTF-8 sequence
        snapshotWith("\"path\":\"/p\xC0\xAF\",\"destDir\":\"\""),      // overlong UTF-8
        snapshotWith("\"path\":\"/p\xED\xA0\x80\",\"destDir\":\"\""),  // encoded surrogate
        snapshotWith(R"("path":"/p","destDir":"","x":tru)"),           // broken literal
        snapshotWith(R"("path":"/p","destDir":"","x":[1 2])"),         // missing comma
        snapshotWith(R"("path":"/p","destDir":"" "x":1)"),             // missing comma between members
        snapshotWith(R"("path":"/p","destDir":"","x":{1:2})"),         // member name not a string
        snapshotWith(R"('path':"/p","destDir":"")"),                   // single quotes
        snapshotWith(R"("path":"/p","destDir":"","x":)" + QByteArray(300, '[') + QByteArray(300, ']')),   // too deep
        snapshotWith(R"("path":"/p","destDir":"","etags":{"1":"a","x":"b"})"),
        snapshotWith(R"("path":"/p","destDir":"","etags":{"":"a"})"),
        snapshotWith(R"("path":"/p","destDir":"","etags":{"1.5":"a"})"),
        snapshotWith(R"("path":"/p","destDir":"","uploadId":false)"),
    };
    for (const QByteArray& bytes : cases)
        EXPECT_FALSE(decodeQueue(bytes).has_value()) << bytes.toStdString();

    // The same document without the fault reads.
    EXPECT_TRUE(decodeQueue(snapshotWith(R"("path":"/p","destDir":"","x":[[1,2],{"a":[]}])")).has_value());
}

TEST(QueueDecode, EncodedQueueReadsBackExactly)
{
    std::vector<ItemPtr> items;
    const double times[] = {0, 1733400000.0, 1733400000.5, 1733400000.123456789, 1e-7, 4.9406564584124654e-324,
                            -12.75, 1.7976931348623157e308};
    int n = 0;
    for (double t : times) {
        ++n;
        const QString path = QString::fromUtf8("/ruta/cl\xC3\xADp \xF0\x9F\x8E\xAC\"%1\\.mov").arg(n);
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), n * 1000, t,
                                               QStringLiteral("D\u00eda/\t/"));
        it->etags = {{1, "\"a\""}, {100000, "b"}};
        it->partSize = 33554432;
        items.push_back(it);
    }
    const auto decoded = decodeQueue(encodeQueue(items));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const Snapshot& s = (*decoded)[i];
        EXPECT_EQ(s.id, items[i]->id);
        EXPECT_EQ(s.path, items[i]->path);
        EXPECT_EQ(s.size, items[i]->size);
        EXPECT_EQ(s.mtime, items[i]->mtime) << i;
        EXPECT_EQ(s.destDir, items[i]->destDir);
        EXPECT_EQ(s.etags, items[i]->etags);
        EXPECT_EQ(s.partSize, 33554432);
        EXPECT_EQ(s.status, Status::Queued);
    }
}
