#include "engine/queue_file.h"
#include "engine/upload_manager.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <QByteArrayList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

using namespace zafrel;
using zafrel::test::readWholeFile;

namespace {

using Changes = std::vector<std::pair<QByteArray, QByteArray>>;

// The n-th of a few well-known ids, as JSON text.
QByteArray id(int n)
{
    return "\"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C0" + QByteArray::number(n) + "\"";
}

// One well-formed entry; `changes` replace members, add them at the end, or (an empty value) leave
// them out.
QByteArray entry(const Changes& changes = {}, const QByteArray& path = "/p")
{
    Changes members = {{"id", id(1)},    {"path", "\"" + path + "\""}, {"size", "10"},   {"mtime", "1.5"},
                       {"destDir", "\"D/\""}, {"partSize", "0"},       {"etags", "{}"}, {"status", "\"paused\""}};
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

class QueueFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::resetEngineState();
        ASSERT_TRUE(dir.isValid());
    }

    QString file(const QString& relative) { return test::writeFile(dir.path() + "/" + relative); }
    void writeQueueFile(const QByteArray& bytes) { test::writeFile(test::queueFilePath(), bytes); }

    static ItemPtr item(int n, const QString& path, qint64 size, double mtime, const QString& destDir, Status status)
    {
        auto it = std::make_shared<UploadItem>(QUuid::fromString(QLatin1StringView(id(n).mid(1, 36))),
                                               QUrl::fromLocalFile(path), size, mtime, destDir);
        it->setStatus(status);
        return it;
    }

    QTemporaryDir dir{test::sandboxDir() + "/files-XXXXXX"};
};

}  // namespace

TEST_F(QueueFileTest, WritesTheExactEncodingAndReadsItBack)
{
    const QString f1 = file("A001/C0001.MXF");
    const QString f2 = file("we\"ird\\ \xC3\xB1\t.mov");
    const QString f3 = file("C0003.MXF");
    auto manager = test::offlineManager();
    auto first = item(1, f1, 2000000, 1733400000.5, "Rodaje/Dia03/CLIPS/A001/", Status::Queued);
    auto second = item(2, f2, 0, 1733400000.0, "", Status::Running);
    second->key = QStringLiteral("Rodaje/w\u00e9\"ird\\.mov");
    auto third = item(3, f3, 100000000, 1733400000.123456789, "Rodaje/", Status::Paused);
    third->key = QStringLiteral("Rodaje/C0003.MXF");
    third->uploadId = QStringLiteral("upload-3");
    third->partSize = 33554432;
    third->etags = {{10, "\"e10\""}, {2, "\"e2\""}, {1, "\"e1\""}};
    auto fourth = item(4, f3, 5, 0, "x/", Status::Error);
    fourth->setError(QStringLiteral("HTTP 500 boom"));
    fourth->uploadId = QStringLiteral("u4");
    manager->setItems({item(5, f1, 1, 1, "", Status::Done), first, item(6, f1, 1, 1, "", Status::Skipped), second,
                       third, item(7, f1, 1, 1, "", Status::Cancelled), fourth});
    manager->persistNow();

    const QByteArray d = dir.path().toUtf8();
    const QByteArray expected =
        R"([{"id":"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C01","path":")" + d
        + R"(/A001/C0001.MXF","size":2000000,"mtime":1733400000.5,"destDir":"Rodaje/Dia03/CLIPS/A001/","partSize":0,"etags":{},"status":"queued"},)"
        + R"({"id":"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C02","path":")" + d + "/we\\\"ird\\\\ \xC3\xB1\\t.mov"
        + R"(","size":0,"mtime":1733400000,"destDir":"","key":"Rodaje/w)" + "\xC3\xA9"
        + R"(\"ird\\.mov","partSize":0,"etags":{},"status":"running"},)"
        + R"({"id":"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C03","path":")" + d
        + R"(/C0003.MXF","size":100000000,"mtime":1733400000.1234567,"destDir":"Rodaje/","key":"Rodaje/C0003.MXF","uploadId":"upload-3","partSize":33554432,"etags":{"1":"\"e1\"","2":"\"e2\"","10":"\"e10\""},"status":"paused"},)"
        + R"({"id":"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C04","path":")" + d
        + R"(/C0003.MXF","size":5,"mtime":0,"destDir":"x/","uploadId":"u4","partSize":0,"etags":{},"status":"error"}])";
    EXPECT_EQ(readWholeFile(test::queueFilePath()).toStdString(), expected.toStdString());
    EXPECT_EQ(encodeQueue({item(5, f1, 1, 1, "", Status::Done)}), "[]");

    manager.reset();
    auto restored = test::offlineManager();
    ASSERT_EQ(restored->items().size(), 4u);
    const auto& items = restored->items();
    EXPECT_EQ(items[0]->path, f1);
    EXPECT_EQ(items[0]->name, "C0001.MXF");
    EXPECT_EQ(items[1]->key, second->key);
    EXPECT_EQ(items[2]->mtime, 1733400000.123456789);
    EXPECT_EQ(items[2]->etags, third->etags);
    EXPECT_EQ(items[3]->error(), QStringLiteral("Pendiente de reintento"));
    EXPECT_EQ(items[3]->uploadId, QStringLiteral("u4"));
    // Read back and written again, only the states differ: queued and running came back paused.
    restored->persistNow();
    QByteArray rewritten = expected;
    rewritten.replace(R"("status":"queued")", R"("status":"paused")");
    rewritten.replace(R"("status":"running")", R"("status":"paused")");
    EXPECT_EQ(readWholeFile(test::queueFilePath()).toStdString(), rewritten.toStdString());
}

TEST_F(QueueFileTest, RestoredStateLoadedBytesAndOneChangeOfTheQueue)
{
    const QString f = file("a.mov");
    const char* words[] = {"queued", "running", "done", "skipped", "error", "cancelled", "paused"};
    // Stored parts count up to the size: two of ten bytes, and three of ten capped at 25.
    const Changes parts[] = {{{"uploadId", "\"u\""}, {"partSize", "10"}, {"size", "100"}, {"etags", R"({"1":"a","3":"c"})"}},
                             {{"partSize", "10"}, {"size", "25"}, {"etags", R"({"1":"a","2":"b","3":"c"})"}}};
    QByteArrayList entries;
    for (int i = 0; i < 7; ++i) {
        Changes changes = {{"id", id(i)}, {"status", "\"" + QByteArray(words[i]) + "\""}};
        if (i < 2)
            changes.insert(changes.end(), parts[i].begin(), parts[i].end());
        entries.push_back(entry(changes, f.toUtf8()));
    }
    writeQueueFile("[" + entries.join(',') + "]");
    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), 7u);
    for (int i = 0; i < 7; ++i) {
        const ItemPtr& it = manager->items()[i];
        EXPECT_EQ(it->status(), i == 4 ? Status::Error : Status::Paused) << words[i];
        EXPECT_EQ(it->error(), i == 4 ? std::optional<QString>("Pendiente de reintento") : std::nullopt);
        EXPECT_EQ(it->loaded(), i == 0 ? 20 : i == 1 ? 25 : 0) << words[i];
    }
    int changes = 0;
    QObject::connect(manager.get(), &UploadManager::itemsChanged, [&] { ++changes; });
    manager->restore();
    EXPECT_EQ(changes, 1);
}

TEST_F(QueueFileTest, RefusedFileRestoresNothingAndIsLeftAlone)
{
    const QString f = file("a.mov");
    for (const QByteArray& bytes : {QByteArray("not json"), "[" + entry({}, f.toUtf8()) + ",5]"}) {
        writeQueueFile(bytes);
        EXPECT_TRUE(test::offlineManager()->items().empty());
        EXPECT_EQ(readWholeFile(test::queueFilePath()), bytes);
    }
    QFile::remove(test::queueFilePath());
    test::offlineManager();   // no file at all: nothing restored, and none created
    EXPECT_FALSE(QFile::exists(test::queueFilePath()));
}

// Large enough for the existence checks to be spread over the pool and, with long folder names, for
// the file to be read in pieces.
TEST_F(QueueFileTest, LargeQueueReadsBackExactlyAndDropsOnlyTheMissingFilesAtTheNextWrite)
{
    const double times[] = {0, 1733400000.0, 1733400000.5, 1733400000.123456789, 1e-7, 4.9406564584124654e-324,
                            -12.75, 1.7976931348623157e308};
    std::vector<ItemPtr> written;
    const QString folder = QString(700, u'd') + QString::fromUtf8("\xC3\xADa/\t/");
    for (int i = 0; i < 3000; ++i) {
        const QString path = file(QString::fromUtf8("many/cl\xC3\xADp \xF0\x9F\x8E\xAC\"%1\\.dpx").arg(i));
        written.push_back(std::make_shared<UploadItem>(QUuid::createUuid(), QUrl::fromLocalFile(path), i * 1000,
                                                       times[i % 8], folder));
        written.back()->etags = {{1, "\"a\""}, {100000, "b"}};
        written.back()->partSize = 33554432;
    }
    {
        auto manager = test::offlineManager();
        manager->setItems(written);
        manager->persistNow();
    }
    std::vector<ItemPtr> expected;
    for (int i = 0; i < 3000; ++i) {
        if (i % 7 == 3)
            ASSERT_TRUE(QFile::remove(written[i]->path));
        else
            expected.push_back(written[i]);
    }
    const QByteArray before = readWholeFile(test::queueFilePath());
    ASSERT_GT(before.size(), 2 << 20);

    auto manager = test::offlineManager();
    ASSERT_EQ(manager->items().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const UploadItem& r = *manager->items()[i];
        const UploadItem& w = *expected[i];
        EXPECT_TRUE(r.id == w.id && r.path == w.path && r.fileURL == w.fileURL && r.size == w.size
                    && r.mtime == w.mtime && r.destDir == w.destDir && r.etags == w.etags && r.partSize == w.partSize)
            << i;
    }
    EXPECT_EQ(readWholeFile(test::queueFilePath()), before);   // restoring does not write
    manager->persistNow();
    EXPECT_FALSE(readWholeFile(test::queueFilePath()).contains(written[3]->id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
    // A fault in any piece refuses it all.
    for (const qsizetype at : {before.indexOf(R"("queued")") + 7, before.size() - 3})
        EXPECT_FALSE(decodeQueue(QByteArray(before).insert(at, '?')));
}

// Progress of a run goes to the journal beside the queue file, not into a rewrite of the whole
// queue; the next engine applies it, up to a line cut short by a crash, and folds it in. A
// journal that does not continue the queue file as it is now is left unread.
TEST_F(QueueFileTest, JournalRecordsProgressAndTheNextEngineFoldsIt)
{
    const QString f = file("a.mov");
    const QByteArray gone = R"({"gone":)" + id(1) + "}\n";
    struct Case {
        const char* name;
        QByteArray appended;      // written at the end of the journal, as a crash could leave it
        bool queueFileReplaced;   // by someone else, after the journal began
        bool progressApplied;
    };
    const Case cases[] = {
        {"whole records", "", false, true},
        {"line cut short", gone.chopped(2), false, true},
        {"unreadable line stops reading", "\r" + gone + gone, false, true},
        {"another queue file", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::resetEngineState();
        auto manager = test::offlineManager();
        auto first = item(1, f, 100, 1, "", Status::Running);
        first->partSize = 100;
        auto second = item(2, f, 100, 1, "", Status::Running);
        manager->setItems({first, second});
        manager->persistNow();
        const QByteArray written = readWholeFile(test::queueFilePath());

        first->etags[1] = "\"x\"";
        manager->persistPart(first, 1);
        EXPECT_TRUE(test::runUntil([&] { return QFile::exists(manager->journalURL()); }, std::chrono::seconds(3)));
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
        EXPECT_EQ(manager->items()[0]->loaded(), c.progressApplied ? 100 : 0);
        if (c.progressApplied) {
            EXPECT_EQ(readWholeFile(test::queueFilePath()), encodeQueue(manager->items()));
            EXPECT_FALSE(QFile::exists(manager->journalURL()));
        }
    }
}

namespace {

std::optional<Snapshot> decodeOne(const QByteArray& entryText)
{
    auto decoded = decodeQueue("[" + entryText + "]");
    if (!decoded || decoded->size() != 1)
        return std::nullopt;
    return decoded->front();
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

}  // namespace

TEST(QueueDecode, AcceptsEveryWellFormedSpelling)
{
    struct Case {
        QByteArray entry;
        std::function<bool(const Snapshot&)> holds;
    };
    const Case cases[] = {
        {entry({{"path", R"("/a\/b\\c\"d\te\n\u00e9\u0041\ud83c\udfac )" "\xC3\xB1\""}, {"destDir", R"("x\u002Fy\/")"},
                {"key", R"("\b\f\r")"}}),
         [](const Snapshot& s) {
             return s.path == QString::fromUtf8("/a/b\\c\"d\te\n\xC3\xA9" "A\xF0\x9F\x8E\xAC \xC3\xB1") && s.destDir == "x/y/"
                 && s.key == QStringLiteral("\b\f\r");
         }},
        // Another order, optionals null, a lower-case id, members of a later version of any shape.
        {R"({"status":"queued","etags":{"2":"b","1":"a"},"partSize":4,"key":null,"uploadId":null,"destDir":"",)"
         R"("mtime":12,"size":9,"path":"/p","id":"0b7e7a52-8c57-4f4b-9e6b-2d0c0a0b0c01",)"
         R"("later":{"a":[1,2.5,-3e2,{"b":null}],"c":true,"d":false,"e":"\u00e9"},"more":[],"x":)" + nested(256) + "}",
         [](const Snapshot& s) {
             return s.id == QUuid::fromString(QLatin1StringView(id(1).mid(1, 36))) && s.mtime == 12 && !s.key
                 && !s.uploadId && s.etags.size() == 2 && s.etags.at(2) == "b" && s.status == Status::Queued;
         }},
        {" \n{\t\"id\" : " + id(1) + " ,\r\n \"path\":\"/p\", \"size\" : 1 , \"mtime\": 1.25e3 ,\"destDir\":\"\","
         "\"partSize\":0,\"etags\":{ \"1\" : \"a\" , \"2\":\"b\" },\"status\":\"paused\" } ",
         [](const Snapshot& s) { return s.mtime == 1250.0 && s.etags.size() == 2; }},
        // A later duplicate member wins.
        {entry({{"path", R"("/first","path":"/second")"}, {"key", R"("k","key":null)"}}),
         [](const Snapshot& s) { return s.path == "/second" && !s.key; }},
        {entry({{"mtime", "17334E5"}, {"size", "-5"}}),
         [](const Snapshot& s) { return s.mtime == 1733400000.0 && s.size == -5; }},
        {entry({{"mtime", "-0"}, {"size", "9223372036854775807"}}),
         [](const Snapshot& s) { return s.mtime == 0.0 && s.size == std::numeric_limits<qint64>::max(); }},
        // Large, with what looks like the start of an entry inside a member.
        {entry({{"later", QByteArray(R"([{},{"id":"x"}],"more":)").repeated(120000) + "0"}}),
         [](const Snapshot& s) { return s.path == "/p"; }},
    };
    for (const Case& c : cases) {
        const auto decoded = decodeOne(c.entry);
        EXPECT_TRUE(decoded && c.holds(*decoded)) << c.entry.left(300).toStdString();
    }
    EXPECT_EQ(decodeQueue(" [ ] ").value_or(std::vector<Snapshot>(1)).size(), 0u);
}

TEST(QueueDecode, RefusesTheWholeFileOverAnythingOutOfShape)
{
    const QByteArray good = entry();
    std::vector<QByteArray> documents = {
        "", "not json", "{\"items\":[" + good + "]}", "[" + good + ",5]", "[" + good.chopped(5), "[" + good + ",]",
        "[" + good + "]x", "[" + good + "][]", "\xEF\xBB\xBF[" + good + "]",
    };
    const Changes badMembers = {
        {"status", "\"finished\""}, {"status", "\"Paused\""}, {"status", "null"}, {"id", "\"not-a-uuid\""},
        {"id", "\"{0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0C02}\""}, {"id", "\"0B7E7A52-8C57-4F4B-9E6B-2D0C0A0B0CZZ\""},
        {"id", "5"}, {"partSize", ""}, {"path", ""}, {"destDir", "null"}, {"key", "5"}, {"uploadId", "false"},
        {"size", "10.5"}, {"size", "\"10\""}, {"size", "1.0"}, {"size", "1e3"}, {"size", "true"}, {"size", "null"},
        {"size", "9223372036854775808"}, {"mtime", "\"1\""}, {"mtime", "01"}, {"mtime", "+1"}, {"mtime", "1."},
        {"mtime", ".5"}, {"mtime", "1e"}, {"mtime", "1e+"}, {"mtime", "-"}, {"mtime", "0x10"}, {"mtime", "NaN"},
        {"mtime", "Infinity"}, {"mtime", "1e999"}, {"mtime", "1e-400"},
        {"etags", "[]"}, {"etags", R"({"one":"x"})"}, {"etags", R"({"1":7})"}, {"etags", R"({"1":"a","x":"b"})"},
        {"etags", R"({"":"a"})"}, {"etags", R"({"1.5":"a"})"},
        {"status", "\"paused\","},                         // a trailing comma in the object
        {"destDir", R"("" "x":1)"},                        // no comma between members
        {"path", "\"/p\ttab\""},                           // a raw control character
        {"path", R"("/p\x")"}, {"path", R"("/p\u12")"},   // an unknown escape, a short one
        {"path", R"("/p\ud83c")"}, {"path", R"("/p\udfac")"},   // half of a surrogate pair
        {"path", "\"/p\xC3\""}, {"path", "\"/p\xC0\xAF\""}, {"path", "\"/p\xED\xA0\x80\""},   // cut, overlong, surrogate
        {"path", "'/p'"}, {"x", "tru"}, {"x", "[1 2]"}, {"x", "{1:2}"}, {"x", nested(257)},
    };
    for (const auto& change : badMembers)
        documents.push_back("[" + good + "," + entry({{"id", id(2)}, change}) + "]");
    for (const QByteArray& bytes : documents)
        EXPECT_FALSE(decodeQueue(bytes).has_value()) << bytes.toStdString();
}

