// The manager without a network: the intake's walk, the queue's operations, the queue file and its
// journal, continuing a command's items, and the report.
#include "engine/intake/intake_scan.h"
#include "engine/queue/queue_file.h"
#include "engine/queue/queue_owners.h"
#include "engine/queue/queue_salvage.h"
#include "engine/transfer/file_state.h"
#include "engine/upload_manager.h"
#include "platform/format.h"
#include "platform/write_failures.h"
#include "support/engine_env.h"
#include "support/manager_test_access.h"
#include "support/test_env.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace zafrel::test {
namespace {

using Queued = std::vector<std::pair<QString, QString>>;

class Manager : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetEngineState();
        ASSERT_TRUE(dir.isValid());
        manager = offlineManager();
    }
    QString file(const QString& relative, const QByteArray& content = {}) { return writeFile(dir.path() + "/" + relative, content); }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(dir.path() + "/" + relative); }
    ItemPtr item(Status status, const QString& path = "/nowhere/a.mov", const QString& destDir = "D/", qint64 size = 10)
    {
        auto it = std::make_shared<UploadItem>(QUuid::createUuid(), path, size, 0, destDir);
        it->setStatus(status);
        return it;
    }
    // Each item's path relative to the folder and its destination, in queue order.
    Queued queued() const
    {
        Queued out;
        for (const ItemPtr& it : manager->items())
            out.emplace_back(it->path.mid(dir.path().size() + 1), it->destDir);
        return out;
    }

    QTemporaryDir dir{sandboxDir() + "/files-XXXXXX"};
    std::unique_ptr<UploadManager> manager;
};

// A dropped folder keeps its name below the destination; hidden entries (and all below them) are skipped,
// links not followed into folders; natural order per folder, paths in drop order; what cannot be taken is
// answered. Waiting and paused items keep their destination and block queueing the same file there again.
TEST_F(Manager, TheIntakeWalksDroppedFoldersByItsRules)
{
    const QString odd = QString::fromUtf8("CARD/Día 3/C#1 %20 ?x=1&y.mov");
    const Queued expected = {
        {"CARD/A001/C2.MXF", "Rodaje/CARD/A001/"},      {"CARD/A001/c3.MXF", "Rodaje/CARD/A001/"},
        {"CARD/A001/C10.MXF", "Rodaje/CARD/A001/"},     {"CARD/A001/SUB/x.MXF", "Rodaje/CARD/A001/SUB/"},
        {"CARD/A001-B/C1.MXF", "Rodaje/CARD/A001-B/"},  {"CARD/A001C001.MXF", "Rodaje/CARD/"},
        {"CARD/A001C010.MXF", "Rodaje/CARD/"},          {odd, "Rodaje/" + odd.left(odd.lastIndexOf('/') + 1)},
        {"CARD/link.mov", "Rodaje/CARD/"},              {"C0001.MXF", "Rodaje/"},
        {".cache/clip.mov", "Rodaje/.cache/"},          {"Linked/C1.MXF", "Rodaje/Linked/"},
    };
    for (int i = 7; i >= 0; --i)   // created in another order than queued
        file(expected[size_t(i)].first, "0123456789");
    for (const char* empty : {"CARD/.DS_Store", "CARD/.hidden/visible/D.MXF", "CARD/A001/._C2.MXF", "elsewhere/folder/never.mov",
                              ".secret.mov", ".cache/clip.mov"})
        file(empty);
    QDir().mkpath(dir.path() + "/CARD/EMPTY");
    const QString target = file("elsewhere/target.mov", "1234567");
    const QString card = dir.path() + "/CARD";
    ASSERT_EQ(::symlink("..", QFile::encodeName(card + "/A001/loop").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir.path() + "/elsewhere/folder").constData(), QFile::encodeName(card + "/dirlink").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(card + "/link.mov").constData()), 0);
    ASSERT_EQ(::symlink("nowhere.mov", QFile::encodeName(card + "/broken.mov").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(card + "/A001-B").constData(), QFile::encodeName(dir.path() + "/Linked").constData()), 0);
    const QString dropped = file("C0001.MXF", QByteArray(1234, 'x'));
    // What cannot be taken is answered, path by path: a missing path, a pipe handed over (one in a
    // folder is skipped without a word), an entry of the walk that cannot be examined (a link that
    // loops) and, but for root, whom no permission stops, an unreadable file handed over or met in
    // the walk, an unreadable folder, and the entries of a folder that can be listed but not entered.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.path() + "/pipe").constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(card + "/pipe").constData(), 0600), 0);
    ASSERT_EQ(::symlink("ring.mov", QFile::encodeName(card + "/ring.mov").constData()), 0);
    QList<QUrl> given{url("CARD/"), url("C0001.MXF"), url(".secret.mov"), url(".cache"), url("Linked"), url("nada"), url("pipe")};
    QStringList problems{"No se puede leer: " + card + "/ring.mov", "No existe: " + dir.path() + "/nada",
                         "No es un archivo ni una carpeta: " + dir.path() + "/pipe"};
    if (::geteuid() != 0) {
        file("CARD/locked/x.mov");
        file("CARD/listed/y.mov");
        ::chmod(QFile::encodeName(card + "/locked").constData(), 0);
        ::chmod(QFile::encodeName(card + "/listed").constData(), 0444);
        ::chmod(QFile::encodeName(file("closed.mov", "x")).constData(), 0);
        ::chmod(QFile::encodeName(file("CARD/shut.mov", "x")).constData(), 0);
        given << url("closed.mov");
        problems = QStringList{"No se puede leer: " + card + "/listed/y.mov", "No se puede leer: " + card + "/locked",
                               "No se puede leer: " + card + "/ring.mov", "No se puede leer: " + card + "/shut.mov"}
                   + problems.mid(1);
        problems << "No se puede leer: " + dir.path() + "/closed.mov";
    }
    manager->setDestDir("Rodaje/");

    QStringList told;
    for (const IntakeProblem& problem : manager->add(given, "zafrel-demo"))
        told << problem.text();

    EXPECT_EQ(told.join('\n').toStdString(), problems.join('\n').toStdString());
    EXPECT_EQ(queued(), expected);
    for (const ItemPtr& it : manager->items()) {
        EXPECT_EQ(it->status(), Status::Queued);
        EXPECT_EQ(it->size, it->name == "link.mov" ? 7 : it->name == "C0001.MXF" ? 1234 : it->name == "clip.mov" ? 0 : 10);
    }
    // Written before the run begins, which starts on a later turn.
    EXPECT_TRUE(fileBytes(queueFilePath()).contains(dropped.toUtf8()));
    for (size_t i = 0; i < 9; ++i)   // the card's files paused, the other one still queued
        manager->pause(manager->items()[i]);
    manager->setDestDir("Otro/");
    manager->add({url("CARD/A001/C2.MXF")}, "");
    manager->setDestDir("Rodaje/");
    manager->add({url("C0001.MXF"), url("CARD/")}, "");
    EXPECT_EQ(queued().size(), expected.size() + 1);
    EXPECT_EQ(queued().back(), Queued::value_type("CARD/A001/C2.MXF", "Otro/"));
    ::chmod(QFile::encodeName(card + "/locked").constData(), 0700);
    ::chmod(QFile::encodeName(card + "/listed").constData(), 0700);
    // The run the intake began (its route measured at once) ends before the manager goes.
    EXPECT_TRUE(runUntil([&] { return !manager->isRunning(); }));
}

// A first cancel marks an active item (clearing its error), a second removes it, any other goes at once;
// cancelling all without a run marks the waiting ones; the queue file follows at once. Retry queues a failed
// item again; continuing paused items leaves errors; clearing keeps the waiting items in order; a run
// begins after start() returns, once, hands each item over and winds down.
TEST_F(Manager, CancelRetryContinueClearAndStart)
{
    auto running = item(Status::Running), queued = item(Status::Queued), paused = item(Status::Paused), done = item(Status::Done);
    running->setError("old");
    ManagerTestAccess::setItems(*manager, {running, queued, paused, done});
    manager->cancel(running);
    EXPECT_EQ(std::tuple(running->status(), running->error().has_value(), manager->items().size()), std::tuple(Status::Cancelled, false, 4u));
    for (const ItemPtr& it : {running, queued, paused, done})
        manager->cancel(it);
    EXPECT_EQ(std::pair(manager->items(), queued->status()), std::pair(std::vector<ItemPtr>{queued}, Status::Cancelled));
    EXPECT_EQ(fileBytes(queueFilePath()), encodeQueue({queued}));   // a cancelled file may still be retried
    ManagerTestAccess::setItems(*manager, {item(Status::Queued), paused, item(Status::Error)});
    manager->cancelAll();
    EXPECT_EQ(statuses(*manager), (std::vector<Status>{Status::Cancelled, Status::Paused, Status::Error}));
    const QByteArray written = fileBytes(queueFilePath());
    EXPECT_TRUE(written.contains(R"("status":"paused")") && written.contains(R"("status":"error")") && !written.contains(R"("status":"queued")"));

    // Without an open upload the file starts over, its size taken afresh; the branch with one is
    // the same as when continuing a command.
    auto failed = item(Status::Error, file("clip.mov", QByteArray(25, 'x')));
    failed->setError("HTTP 500 ");
    failed->restoreFrom({"k", std::nullopt, 4, {{1, "a"}}});
    failed->setLoaded(7);
    ManagerTestAccess::setItems(*manager, {item(Status::Done), failed});
    manager->persistNow();
    const QByteArray before = fileBytes(queueFilePath());
    manager->retry(failed);
    EXPECT_EQ(std::tuple(failed->status(), failed->error().has_value(), failed->etags().size(), failed->loaded(), failed->size),
              std::tuple(Status::Queued, false, 0u, 0, 25));
    EXPECT_EQ(std::pair(manager->items()[1], manager->isRunning()), std::pair(failed, true));
    EXPECT_EQ(fileBytes(queueFilePath()), before);   // retry itself writes nothing
    manager->cancelAll();
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));

    ManagerTestAccess::setItems(*manager, {item(Status::Paused), item(Status::Error)});
    manager->resumePaused();
    EXPECT_EQ(statuses(*manager), (std::vector<Status>{Status::Queued, Status::Error}));
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    auto q = item(Status::Queued), r = item(Status::Running), p = item(Status::Paused);
    ManagerTestAccess::setItems(*manager, {item(Status::Done), q, item(Status::Skipped), r, item(Status::Error), p, item(Status::Cancelled)});
    manager->clearFinished();
    EXPECT_EQ(std::pair(manager->items(), fileBytes(queueFilePath()).count("\"id\"")), std::pair(std::vector<ItemPtr>{q, r, p}, qsizetype(3)));

    auto a = item(Status::Queued, file("a.mov")), b = item(Status::Queued, file("b.mov"));
    ManagerTestAccess::setItems(*manager, {a, b});
    ManagerTestAccess::setSpeed(*manager, 123);
    int runningChanges = 0;
    QObject::connect(manager.get(), &UploadManager::isRunningChanged, [&] { ++runningChanges; });
    manager->start();
    EXPECT_EQ(a->status(), Status::Queued);   // nothing of the run has happened yet
    manager->start();
    EXPECT_EQ(runningChanges, 1);   // the second start joined the run under way
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    EXPECT_EQ(statuses(*manager), (std::vector<Status>{Status::Error, Status::Error}));   // offline, each handed over once
    EXPECT_EQ(manager->speed(), 0);
    EXPECT_EQ(ManagerTestAccess::routeProbe(*manager).accelerate(), false);   // decided by the first run, kept afterwards
    manager->setDestDir("Day1/");
    EXPECT_EQ(offlineManager()->destDir(), "Day1/");   // remembered across managers
}

QByteArray id(int n) { return "0B7E7A52-8C57-4F4B-9E6B-" + QByteArray::number(n, 16).rightJustified(12, '0'); }

// One entry as the queue file holds it; `extra` replaces or adds members (JSON text).
QByteArray entry(const QByteArray& path, int n, const QByteArray& status, const QByteArray& extra = {})
{
    QByteArray members = R"("id":")" + id(n) + R"(","path":")" + path + R"(","size":10,"mtime":1.5,"destDir":"D/","partSize":0,"etags":{},"status":")"
                         + status + "\"";
    return "{" + members + (extra.isEmpty() ? "" : "," + extra) + "}";
}

TEST_F(Manager, TheQueueFileHasAnExactEncodingAndReadsBack)
{
    const QString f1 = file("A001/C0001.MXF"), f2 = file("we\"ird\\ \xC3\xB1\t.mov"), f3 = file("C0003.MXF");
    const auto withId = [&](int n, const QString& path, qint64 size, double mtime, const QString& destDir, Status status) {
        auto it = std::make_shared<UploadItem>(QUuid::fromString(QLatin1StringView(id(n))), path, size, mtime, destDir);
        it->setStatus(status);
        return it;
    };
    auto second = withId(2, f2, 0, 1733400000.0, "", Status::Running);
    second->setKey(QStringLiteral("Rodaje/w\u00e9\"ird\\.mov"));
    auto third = withId(3, f3, 100000000, 1733400000.123456789, "Rodaje/", Status::Paused);
    third->restoreFrom({"Rodaje/C0003.MXF", "upload-3", 33554432, {{10, "\"e10\""}, {2, "\"e2\""}, {1, "\"e1\""}}});
    auto fourth = withId(4, f3, 5, 0, "x/", Status::Error);
    fourth->setError("HTTP 500 boom");
    fourth->restoreFrom({.uploadId = "u4"});
    ManagerTestAccess::setItems(*manager, {withId(5, f1, 1, 1, "", Status::Done), withId(1, f1, 2000000, 1733400000.5, "Rodaje/A001/", Status::Queued),
                       withId(6, f1, 1, 1, "", Status::Skipped), second, third, withId(7, f1, 1, 1, "", Status::Cancelled), fourth});
    manager->persistNow();
    const QByteArray d = dir.path().toUtf8();
    const QByteArray expected =
        "[{\"id\":\"" + id(1) + "\",\"path\":\"" + d + R"(/A001/C0001.MXF","size":2000000,"mtime":1733400000.5,"destDir":"Rodaje/A001/","partSize":0,"etags":{},"status":"queued"},)"
        + "{\"id\":\"" + id(2) + "\",\"path\":\"" + d + "/we\\\"ird\\\\ \xC3\xB1\\t.mov"
        + R"(","size":0,"mtime":1733400000,"destDir":"","key":"Rodaje/w)" + "\xC3\xA9" + R"(\"ird\\.mov","partSize":0,"etags":{},"status":"running"},)"
        + "{\"id\":\"" + id(3) + "\",\"path\":\"" + d
        + R"(/C0003.MXF","size":100000000,"mtime":1733400000.1234567,"destDir":"Rodaje/","key":"Rodaje/C0003.MXF","uploadId":"upload-3","partSize":33554432,"etags":{"1":"\"e1\"","2":"\"e2\"","10":"\"e10\""},"status":"paused"},)"
        + "{\"id\":\"" + id(7) + "\",\"path\":\"" + d + R"(/A001/C0001.MXF","size":1,"mtime":1,"destDir":"","partSize":0,"etags":{},"status":"cancelled"},)"
        + "{\"id\":\"" + id(4) + "\",\"path\":\"" + d + R"(/C0003.MXF","size":5,"mtime":0,"destDir":"x/","uploadId":"u4","partSize":0,"etags":{},"status":"error"}])";
    EXPECT_EQ(fileBytes(queueFilePath()).toStdString(), expected.toStdString());

    manager = offlineManager();
    ASSERT_EQ(manager->items().size(), 5u);
    EXPECT_EQ(manager->items()[2]->mtime, 1733400000.123456789);   // or an unchanged file would look changed
    manager->persistNow();   // read and written again, only queued and running came back paused (a cancelled file stays so)
    const QByteArray rewritten = QByteArray(expected).replace(R"("status":"queued")", R"("status":"paused")")
                                     .replace(R"("status":"running")", R"("status":"paused")");
    EXPECT_EQ(fileBytes(queueFilePath()).toStdString(), rewritten.toStdString());

    // On a full disk the file stays as it was, and the person hears of it once.
    QStringList told;
    QObject receiver;
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, &receiver, [&](const QString& m) { told << m; });
    manager->items()[0]->setStatus(Status::Done);
    {
        const FileWritesFail full;
        manager->persistNow();
        manager->persistNow();
    }
    EXPECT_EQ(fileBytes(queueFilePath()).toStdString(), rewritten.toStdString());
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("No se pudo guardar la cola en " + queueFilePath() + ": ")) << told[0].toStdString();
}

// Restored: waiting and running items come back paused, errors ask for a retry, cancelled ones stay so,
// stored parts count as loaded up to the size; a file gone is dropped at the next write, one out of reach
// waits with its upload, saying so. A refused queue file restores nothing: it is set aside and said once,
// the open uploads read before its fault are for aborting. Temporary files of cut whole writes go.
TEST_F(Manager, TheQueueFileIsRestoredPausedOrRefusedWhole)
{
    const QByteArray f = file("a.mov").toUtf8(), gone = file("gone.mov").toUtf8();
    const QByteArray away = (dir.path() + "/card/away.mov").toUtf8();
    const char* words[] = {"queued", "running", "done", "skipped", "error", "cancelled", "paused"};
    QByteArrayList entries;
    for (int i = 0; i < 7; ++i)
        entries << entry(f, i, words[i], i == 0 ? R"("uploadId":"u","partSize":10,"size":100,"etags":{"1":"a","3":"c"})"
                                          : i == 1 ? R"("partSize":10,"size":25,"etags":{"1":"a","2":"b","3":"c"})" : "");
    for (int i = 10; i < 2110; ++i)   // enough for the existence checks to be spread over the pool
        entries << entry(i % 7 ? f : gone, i, "paused");
    entries << entry(away, 7, "paused", R"("key":"D/away.mov","uploadId":"u7","partSize":10,"etags":{"1":"a"})");
    const QByteArray good = "[" + entries.join(',') + "]";
    writeFile(queueFilePath(), good);
    QFile::remove(QString::fromUtf8(gone));
    const QString temporary = queueFilePath() + ".x1Y2z3", kept = queueFilePath() + ".guardada";
    writeFile(temporary, "[");
    writeFile(kept, "[]");
    manager = offlineManager();
    EXPECT_EQ(std::tuple(QFile::exists(temporary), QFile::exists(kept)), std::tuple(false, true));
    ASSERT_EQ(manager->items().size(), 7u + 1800u + 1u);
    const ItemPtr& waiting = manager->items().back();
    EXPECT_EQ(std::tuple(waiting->status(), waiting->error(), waiting->uploadId(), waiting->loaded()),
              std::tuple(Status::Paused, std::optional<QString>(kFileUnavailable), std::optional<QString>("u7"), 10));
    for (int i = 0; i < 7; ++i) {
        const ItemPtr& it = manager->items()[i];
        EXPECT_EQ(it->status(), i == 4 ? Status::Error : i == 5 ? Status::Cancelled : Status::Paused) << words[i];
        EXPECT_EQ(it->error(), i == 4 ? std::optional<QString>("Pendiente de reintento") : std::nullopt);
        EXPECT_EQ(it->loaded(), i == 0 ? 20 : i == 1 ? 25 : 0) << words[i];
    }
    EXPECT_EQ(fileBytes(queueFilePath()), good);   // restoring does not write
    manager->persistNow();
    EXPECT_FALSE(fileBytes(queueFilePath()).contains(gone));
    const QByteArray one = entry(f, 1, "paused");
    QStringList told;
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, [&](const QString& message) { told << message; });
    for (const QByteArray& bytes : {QByteArray("not json"), "[" + one + ",5]", "{\"items\":[" + one + "]}", "[" + one + ",]",
                                    "[" + entry(f, 1, "finished") + "]", "[" + entry(f, 1, "paused", R"("size":10.5)") + "]",
                                    "[" + entry(f, 1, "paused", R"("etags":{"x":"b"})") + "]", "[" + QByteArray(one).replace(",\"partSize\":0", "") + "]",
                                    "[" + one.chopped(1), QByteArray()}) {
        writeFile(queueFilePath(), bytes);
        EXPECT_TRUE(offlineManager()->items().empty() && !QFile::exists(queueFilePath())) << bytes.toStdString();
        const QStringList aside = QDir(QFileInfo(queueFilePath()).path()).entryList({"queue.json.dañado-*"});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(fileBytes(QFileInfo(queueFilePath()).path() + "/" + aside[0]), bytes);
        QFile::remove(QFileInfo(queueFilePath()).path() + "/" + aside[0]);
        EXPECT_FALSE(decodeQueue(bytes).has_value());
    }
    ASSERT_FALSE(told.isEmpty());
    EXPECT_TRUE(told[0].startsWith("La cola guardada en " + queueFilePath() + " no se puede leer: se ha apartado como "
                                   + queueFilePath() + ".dañado-")) << told[0].toStdString();
    // A cut file still names the uploads of the entries before the cut.
    const QByteArray cut = "[" + entry(f, 1, "paused", R"("key":"D/a.mov","uploadId":"u1","etags":{"1":"x"})") + ","
                           + entry(f, 2, "paused", R"("uploadId":"u2","key":"D/b.mov")") + "," + entry(f, 3, "paused", R"("key":"D/c.mov","uploadId":"u3")").chopped(1);
    EXPECT_EQ(openUploadsNamedIn(cut), (std::vector<std::pair<std::string, std::string>>{{"D/a.mov", "u1"}, {"D/b.mov", "u2"},
                                                                                        {"D/c.mov", "u3"}}));
    EXPECT_EQ(openUploadsNamedIn(cut.left(cut.lastIndexOf("u3"))).size(), 2u);
    QFile::remove(queueFilePath());
    offlineManager();   // no file at all: nothing restored, and none created
    EXPECT_FALSE(QFile::exists(queueFilePath()));
}

// Progress of a run goes to the journal beside the queue file; the next engine applies it, up to a
// line cut short by a crash, and folds it in. A journal that does not continue the queue file as it
// is now is left unread.
TEST_F(Manager, TheJournalRecordsProgressAndTheNextEngineFoldsIt)
{
    const QString f = file("a.mov");
    const QByteArray gone = R"({"gone":")" + id(1) + "\"}\n";
    const std::tuple<const char*, QByteArray, bool> cases[] = {
        {"whole records", "", false}, {"line cut short", gone.chopped(1), false},
        {"unreadable line stops reading", "\r" + gone + gone, false}, {"another queue file", "", true},
    };
    for (const auto& [what, appended, replaced] : cases) {
        SCOPED_TRACE(what);
        resetEngineState();
        manager = offlineManager();
        auto first = std::make_shared<UploadItem>(QUuid::fromString(QLatin1StringView(id(1))), f, 100, 1, "");
        auto second = item(Status::Running, f, "", 100);
        first->setStatus(Status::Running);
        first->restoreFrom({.partSize = 100});
        ManagerTestAccess::setItems(*manager, {first, second});
        manager->persistNow();
        const QByteArray written = fileBytes(queueFilePath());
        first->recordPart(1, "\"x\"");
        ManagerTestAccess::store(*manager).persistPart(*first, 1);
        EXPECT_TRUE(runUntil([&] { return QFile::exists(ManagerTestAccess::store(*manager).journalPath()); }, std::chrono::seconds(3)));
        second->setStatus(Status::Done);
        ManagerTestAccess::store(*manager).persist(*second);
        manager.reset();   // what is not yet in the journal goes there with the engine
        EXPECT_EQ(fileBytes(queueFilePath()), written);
        const QString journal = paths::dataDir() + "/queue.journal";
        writeFile(journal, fileBytes(journal) + appended);
        if (replaced)
            writeFile(queueFilePath(), QByteArray(written).replace("\"mtime\":1,", "\"mtime\":2,"));   // of the same length
        manager = offlineManager();
        ASSERT_EQ(manager->items().size(), replaced ? 2u : 1u);
        EXPECT_EQ(manager->items()[0]->loaded(), replaced ? 0 : 100);
        if (!replaced) {
            EXPECT_EQ(fileBytes(queueFilePath()), encodeQueue(manager->items()));
            EXPECT_FALSE(QFile::exists(ManagerTestAccess::store(*manager).journalPath()));
        }
    }
}

// Continuing an interrupted command: the paused and failed items its paths would queue again are queued
// again as a retry would (an open upload keeps its stored parts, else the file starts over as it is now).
TEST_F(Manager, ContinuingACommandTakesUpOnlyTheItemsItsPathsWouldQueue)
{
    file("CARD/C0001.MXF", "x");
    manager->setDestDir("Dia/");
    const auto stored = [&](const QString& destDir, Status status, bool open = true) {
        auto it = item(status, dir.path() + "/CARD/C0001.MXF", destDir, 3 * 33554432);
        it->restoreFrom({std::nullopt, open ? std::optional<QString>("upload-1") : std::nullopt, 33554432,
                         {{1, "\"a\""}, {2, "\"b\""}}});
        if (status == Status::Error)
            it->setError("Pendiente de reintento");
        return it;
    };
    const struct {
        ItemPtr item;
        Status after;
        bool anew;
    } cases[] = {
        {stored("Dia/CARD/", Status::Paused), Status::Queued, false}, {stored("Dia/CARD/", Status::Error), Status::Queued, false},
        {stored("Dia/CARD/", Status::Error, false), Status::Queued, true}, {stored("Otro/CARD/", Status::Paused), Status::Paused, false},
        {stored("Dia/CARD/", Status::Done), Status::Done, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item->destDir.toStdString() + " " + statusWord(c.item->status()).toStdString());
        ManagerTestAccess::setItems(*manager, {c.item});
        manager->resumeMatching(scanForIntake({url("CARD")}, manager->destDir()));
        EXPECT_EQ(std::tuple(c.item->status(), c.item->etags().size(), c.item->loaded(), c.item->size, c.item->error().has_value()),
                  std::tuple(c.after, c.anew ? 0u : 2u, c.anew ? 0 : 67108864, c.anew ? 1 : 3 * 33554432, false));
    }
}

// Whose each queued file is stays beside the queue file: a later engine gives each file its account
// back (the whole queue before anyone signs in), an account sees only its own files and destination,
// and files no account claims (an older version, a damaged side file) go to the first to sign in.
TEST_F(Manager, QueuedFilesKeepTheirAccountAcrossEngines)
{
    const User ana{"ana@a.test", "Ana", false, Company{"alfa", "Alfa"}, "b", std::nullopt}, luis{"luis@b.test", "Luis", false, Company{"beta", "Beta"}, "b", std::nullopt},
        luisAgain{"LUIS@b.test", "Luis", false, Company{"beta", "Beta"}, "b", std::nullopt}, admin{"admin@x.test", "Admin", true, std::nullopt, "b", std::nullopt};
    const auto queueAs = [&](const User& user, const QString& name) {
        manager->setAccount(user);
        file(name);
        manager->add({url(name)}, "b");
        ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    };
    // Paths of the items of `user` (none: before anyone signs in) and how many wait for others.
    const auto seenBy = [&](std::optional<User> user) {
        if (user)
            manager->setAccount(*user);
        QStringList names;
        for (const ItemPtr& it : manager->items())
            names << it->name + u' ' + (it->owner ? it->owner->text() : QString());
        return std::pair(names, manager->otherAccountsWaiting());
    };
    using Seen = std::pair<QStringList, int>;
    queueAs(ana, "a.mov");
    manager->setDestDir("A/");
    manager = offlineManager();
    EXPECT_EQ(seenBy(std::nullopt), Seen({"a.mov ana@a.test (alfa)"}, 0));
    EXPECT_EQ(seenBy(luis), Seen({}, 1));
    EXPECT_EQ(manager->destDir(), "");
    queueAs(luis, "b.mov");
    manager = offlineManager();
    EXPECT_EQ(seenBy(ana), Seen({"a.mov ana@a.test (alfa)"}, 1));
    EXPECT_EQ(manager->destDir(), "A/");
    EXPECT_EQ(seenBy(luisAgain), Seen({"b.mov luis@b.test (beta)"}, 1));
    EXPECT_EQ(statuses(*manager), std::vector<Status>{Status::Error});

    writeFile(paths::dataDir() + "/queue-accounts.json", "{\"accounts\":[");
    manager = offlineManager();
    EXPECT_EQ(seenBy(admin), Seen({"b.mov admin@x.test (administración)", "a.mov admin@x.test (administración)"}, 0));
    manager = offlineManager();
    EXPECT_EQ(seenBy(ana), Seen({}, 2));
}

// The report: a title with the time, the destination chosen now, one line per item with its state's word
// (a name's control characters flattened: no name forges a line), the totals of done, skipped and failed.
TEST_F(Manager, TheReportHasOneLinePerItemAndTheTotals)
{
    auto failed = item(Status::Error, "/C/e.mov", "D/", 5);
    failed->setError("HTTP 500 boom");
    auto done = item(Status::Done, "/C/plain.mov", "D/", 1500);
    done->md5 = "0123456789abcdef0123456789abcdef";
    ManagerTestAccess::setItems(*manager, {done, failed, item(Status::Error, "/C/silent.mov", "", 6),
                       item(Status::Running, "/C/r.mov", "D/", 8), item(Status::Cancelled, "/C/c.mov", "D/", 9),
                       item(Status::Skipped, "/C/s.mov", "D/", 999999), item(Status::Queued, "/C/fake\nOK verificado\t1\tx.mov", "D/", 11)});
    manager->setDestDir("Elsewhere/");
    const QStringList lines = manager->report().split(u'\n');
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Zafrel \u2014 informe de subida 20"))) << lines[0].toStdString();
    EXPECT_EQ(lines.mid(1), (QStringList{"Destino: Elsewhere/", "", "OK\t1500\tD/plain.mov", "ERROR HTTP 500 boom\t5\tD/e.mov",
                                         "ERROR \t6\tsilent.mov", "running\t8\tD/r.mov", "cancelled\t9\tD/c.mov",
                                         QString::fromUtf8("ya existía\t999999\tD/s.mov"), "queued\t11\tD/fake OK verificado 1 x.mov", "",
                                         "1 subidos, 1 ya existían, 2 errores, " + formatByteCount(1500)}));
    const Summary s = manager->summary();
    EXPECT_EQ((std::vector<qint64>{s.done, s.skipped, s.errors, s.active, s.paused, s.bytes}),
              (std::vector<qint64>{1, 1, 2, 2, 0, 1500}));
}

// The window's report of a run holds the files that run took up, however each ended, and no row
// of an earlier run; a file retried joins the run that retried it. Times are local with their
// zone, errors come first, every line has the file's MD5 when known and its source path.
TEST_F(Manager, TheRunReportHoldsOnlyItsOwnFilesInLocalTime)
{
    const LocalZone india("Asia/Kolkata");
    manager->setDestDir("D/");
    auto earlier = item(Status::Done, "/C/earlier.mov"), retried = item(Status::Error, file("r.mov", "0123456789"));
    ManagerTestAccess::setItems(*manager, {earlier, retried});
    file("a.mov", "0123456789");
    manager->add({url("a.mov")}, "b");
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    ASSERT_EQ(manager->items().size(), 3u);
    const ItemPtr a = manager->items()[2];
    EXPECT_EQ(manager->runItems(), std::vector<ItemPtr>{a});
    for (const char* name : {"b.mov", "c.mov", "d.mov"})
        file(name, "0123456789");
    manager->add({url("b.mov"), url("c.mov"), url("d.mov")}, "b");
    manager->retry(retried);   // joins the run under way
    manager->cancelAll();      // before the run took any: they are its files all the same
    ASSERT_TRUE(runUntil([&] { return !manager->isRunning(); }));
    ASSERT_EQ(manager->items().size(), 6u);
    const ItemPtr b = manager->items()[3], c = manager->items()[4], d = manager->items()[5];
    retried->setStatus(Status::Done);
    retried->md5 = "0123456789abcdef0123456789abcdef";
    b->setStatus(Status::Cancelled);
    c->setStatus(Status::Paused);
    d->setStatus(Status::Error);
    d->setError("HTTP 500 boom");
    const auto line = [&](const QString& state, const ItemPtr& it, const QString& md5 = "-") {
        return state + "\t10\tD/" + it->name + "\t" + md5 + "\t" + it->path;
    };
    const QStringList lines = manager->runReport().split('\n');
    ASSERT_EQ(lines.size(), 16) << manager->runReport().toStdString();
    EXPECT_EQ(lines.mid(0, 2), (QStringList{"Zafrel — informe de subida", "Destino: D/"}));
    const RunRecord& run = *manager->lastRun();
    const QString local = "yyyy-MM-dd HH:mm:ss' IST (UTC+05:30)'";
    const QTimeZone india_(QByteArrayLiteral("Asia/Kolkata"));
    EXPECT_EQ(lines.mid(2, 2), (QStringList{"Inicio: " + run.started.toTimeZone(india_).toString(local),
                                            "Fin: " + run.ended.value_or(QDateTime()).toTimeZone(india_).toString(local)}));
    EXPECT_TRUE(QRegularExpression("^Duración: \\d+ s$").match(lines[4]).hasMatch()) << lines[4].toStdString();
    EXPECT_EQ(lines.mid(5).join('\n').toStdString(), QStringList({"Velocidad media: 0 bytes/s (0 bytes enviados)",
                                         "Archivos: 1 subido y verificado · 10 bytes · 1 error · 1 cancelado · 1 pendiente", "",
                                         "Estado\tTamaño\tDestino\tMD5\tOrigen", line("ERROR HTTP 500 boom", d),
                                         line("OK", retried, "0123456789abcdef0123456789abcdef"), line("cancelado", b),
                                         line("pendiente", c), "", "MD5:", "0123456789abcdef0123456789abcdef  D/r.mov"}).join('\n').toStdString());
}

}  // namespace
}  // namespace zafrel::test
