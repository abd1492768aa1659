// A run killed in the middle of a multipart upload, and what the same command given again does.
#include "e2e_fixture.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <tuple>

namespace zafrel::test {
namespace {

using CrashEndToEnd = EndToEndTest;

constexpr qint64 kSize = 110'000'000;   // 4 parts of 32 MiB, the last one shorter

// The queue file's item of `path`, or an empty object.
QJsonObject queueEntry(const ProgramHome& home, const QString& path)
{
    for (const QJsonValue& entry : QJsonDocument::fromJson(fileBytes(home.queueFile())).array())
        if (entry.toObject().value("path").toString() == path)
            return entry.toObject();
    return {};
}

// Part numbers with a stored ETag on disk for the item of `path`: in the queue file and its journal.
std::set<int> partsInQueueFile(const ProgramHome& home, const QString& path)
{
    const QJsonObject item = queueEntry(home, path);
    std::set<int> parts;
    for (const QString& number : item.value("etags").toObject().keys())
        parts.insert(number.toInt());
    const QString journal = QString(home.queueFile()).replace("queue.json", "queue.journal");
    for (const QByteArray& line : fileBytes(journal).split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (!item.isEmpty() && record.value("part").toString() == item.value("id").toString())
            parts.insert(record.value("n").toInt());
    }
    return parts;
}

// Starts `arguments` in `run` with the parts after `stored` held at the store, and waits until
// those parts are on disk; answers whether they are. The program is left running.
bool runUntilStored(QProcess& run, DevServerProcess& server, const ProgramHome& home, const QStringList& arguments,
                    const QString& clip, const std::set<int>& stored)
{
    for (int part = int(stored.size()) + 1; part <= 4; ++part)
        server.addFault({{"method", "PUT"}, {"queryContains", "partNumber=" + std::to_string(part)}, {"action", "delay"}, {"ms", 120000}});
    run.setProcessEnvironment(home.environment());
    run.start(programPath(), arguments);
    run.waitForStarted(10000);
    for (QDeadlineTimer deadline(90000);
         partsInQueueFile(home, clip) != stored && !deadline.hasExpired() && run.state() != QProcess::NotRunning;)
        QThread::msleep(100);
    return partsInQueueFile(home, clip) == stored;
}

// SIGKILL (no chance to write anything more) once parts 1 and 2 are on disk; meanwhile a second
// process on the same data folder leaves the running one's queue alone.
TEST_F(CrashEndToEnd, RunningTheSameCommandAfterAKillSendsOnlyTheMissingParts)
{
    ProgramHome home;
    const QString clip = files_.filePath("Dia02/C0100.MXF");
    const std::string md5 = writeFile(clip, kSize, 31);
    const QString other = files_.filePath("Otro/C0200.MXF");
    writeFile(other, 5000, 32);
    QProcess first;
    ASSERT_TRUE(runUntilStored(first, server(), home, uploadArguments({clip}, "Crash/"), clip, {1, 2}))
        << first.readAllStandardOutput().toStdString();
    const QByteArray queue = fileBytes(home.queueFile());
    const ProgramResult refused = upload(home, {other}, "Crash/");
    EXPECT_EQ(refused.exitCode, 2) << refused.out.toStdString();
    EXPECT_EQ(refused.err, QString("Zafrel ya está en marcha con esta cola (proceso %1)\n").arg(first.processId()));
    EXPECT_EQ(fileBytes(home.queueFile()), queue);
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_TRUE(server().storeRequests("PUT", "/Crash/C0200.MXF").empty());
    EXPECT_EQ(storedMd5("Crash/C0100.MXF"), "");

    const QString listed = runProgram(home.environment(), {"--pendientes"}).out;
    EXPECT_TRUE(listed.startsWith("pendiente\t110000000\t" + clip + "\tCrash/C0100.MXF\tdemo@zafrel.test (demo-films)\n")) << listed.toStdString();
    server().reset();
    const ProgramResult again = upload(home, {clip}, "Crash/");
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Crash/C0100.MXF"), "OK verificado\t110000000\tCrash/C0100.MXF");
    EXPECT_EQ(again.out.count("Crash/C0100.MXF"), 1) << "the file must not be queued twice";
    EXPECT_EQ(inStore("Crash/C0100.MXF"), Stored({3, 4}, md5));
    EXPECT_EQ(queueEntry(home, clip).value("status").toString(), QString()) << "a finished item leaves the queue file";
}

constexpr qint64 kTwoParts = 40'000'000;   // 32 MiB and the rest

// The ids of the uploads the store holds open for objects named `name` (the stand-in outlives a test).
std::vector<std::string> openUploadsOf(const DevServerProcess& server, const QString& name)
{
    std::vector<std::string> open;
    for (const auto& upload : server.uploads())
        if (QString::fromStdString(upload.value("key", "")).endsWith(u'/' + name))
            open.push_back(upload.value("uploadId", ""));
    return open;
}

// Uploads `clip` (two parts), killed once the first is on disk; answers the id of the upload left open.
std::string killedAfterFirstPart(DevServerProcess& server, const ProgramHome& home, const QStringList& arguments,
                                 const QString& clip)
{
    QProcess run;
    const bool stored = runUntilStored(run, server, home, arguments, clip, {1});
    run.kill();
    run.waitForFinished(10000);
    const std::vector<std::string> open = openUploadsOf(server, QFileInfo(clip).fileName());
    server.reset();
    return stored && !open.empty() ? open.back() : "";
}

// The store ended the open upload (a lifecycle rule) while the service still signs its part URLs:
// the part sent is refused (NoSuchUpload), and the file is sent anew, the old upload aborted.
TEST_F(CrashEndToEnd, AnUploadTheStoreEndedIsSentAnewByTheSameCommand)
{
    ProgramHome home;
    const QString clip = files_.filePath("Vencida/C0300.MXF");
    const std::string md5 = writeFile(clip, kTwoParts, 33);
    const std::string old = killedAfterFirstPart(server(), home, uploadArguments({clip}, "Vencida/"), clip);
    ASSERT_FALSE(old.empty());
    server().forgetUpload(old);

    const ProgramResult again = upload(home, {clip}, "Vencida/");
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Vencida/C0300.MXF"), "OK verificado\t40000000\tVencida/C0300.MXF");
    const auto puts = server().storeRequests("PUT", "/Vencida/C0300.MXF");
    ASSERT_EQ(puts.size(), 3u);
    EXPECT_EQ(std::tuple(puts[0]["query"].value("uploadId", ""), puts[0].value("status", 0)), std::tuple(old, 404));
    EXPECT_EQ(inStore("Vencida/C0300.MXF"), Stored({1, 2}, md5));
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/abort").size(), 1u);
    EXPECT_TRUE(openUploadsOf(server(), "C0300.MXF").empty());
}

// A queue file cut short (a full disk, a crash) is not an empty queue: it is set aside and said, and
// the open upload it names is aborted so that its parts are not left stored.
TEST_F(CrashEndToEnd, ACutQueueFileIsSetAsideSaidAndItsUploadAborted)
{
    ProgramHome home;
    const QString clip = files_.filePath("Cortada/C0600.MXF");
    writeFile(clip, kTwoParts, 36);
    const std::string open = killedAfterFirstPart(server(), home, uploadArguments({clip}, "Cortada/"), clip);
    ASSERT_FALSE(open.empty());
    runProgram(home.environment(), {"--pendientes"});   // folds the journal: the queue file names the upload
    QByteArray queue = fileBytes(home.queueFile());
    ASSERT_TRUE(queue.contains(QByteArray::fromStdString(open)));
    queue.chop(20);
    QFile cut(home.queueFile());
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate) && cut.write(queue) == queue.size());
    cut.close();

    const ProgramResult listed = runProgram(home.environment(), {"--pendientes"});
    EXPECT_EQ(listed.out, "No hay archivos pendientes.\n");
    const QString data = QFileInfo(home.queueFile()).path();
    const QStringList aside = QDir(data).entryList({"queue.json.dañado-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(fileBytes(data + "/" + aside[0]), queue);
    EXPECT_EQ(listed.err, "La cola guardada en " + home.queueFile() + " no se puede leer: se ha apartado como " + data
                              + "/" + aside[0] + " y se empieza con una cola vacía. Vuelve a añadir los archivos que "
                                                 "quedaban pendientes.\n");
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/abort").size(), 1u);
    EXPECT_TRUE(openUploadsOf(server(), "C0600.MXF").empty());
}

// A card not mounted yet across a restart: its item waits, said so, with its upload and parts; once
// back, the same command sends only the missing part, and nothing is aborted on the way.
TEST_F(CrashEndToEnd, ACardOutOfReachKeepsItsPartsUntilItIsBack)
{
    ProgramHome home;
    const QString card = files_.filePath("Tarjeta");
    const QString clip = card + "/CLIPS/C0400.MXF";
    const std::string md5 = writeFile(clip, kTwoParts, 34);
    ASSERT_FALSE(killedAfterFirstPart(server(), home, uploadArguments({card}, "Fuera/"), clip).empty());

    ASSERT_TRUE(QDir().rename(card, card + ".fuera"));
    const QString listed = runProgram(home.environment(), {"--pendientes"}).out;
    EXPECT_TRUE(listed.startsWith("pendiente: No disponible (¿tarjeta sin montar?)\t40000000\t" + clip + "\t"))
        << listed.toStdString();
    const ProgramResult away = upload(home, {card}, "Fuera/");
    EXPECT_EQ(away.exitCode, 1);
    EXPECT_EQ(away.err, "No existe: " + card + "\n");
    EXPECT_TRUE(server().serviceRequests("POST", "/api/upload/abort").empty());
    EXPECT_EQ(openUploadsOf(server(), "C0400.MXF").size(), 1u);

    ASSERT_TRUE(QDir().rename(card + ".fuera", card));
    server().reset();
    const ProgramResult back = upload(home, {card}, "Fuera/");
    EXPECT_EQ(back.exitCode, 0) << back.out.toStdString();
    EXPECT_EQ(reportLine(back.out, "Fuera/Tarjeta/CLIPS/C0400.MXF"), "OK verificado\t40000000\tFuera/Tarjeta/CLIPS/C0400.MXF");
    EXPECT_EQ(inStore("Tarjeta/CLIPS/C0400.MXF"), Stored({2}, md5));
    EXPECT_TRUE(server().serviceRequests("POST", "/api/upload/abort").empty());
}

}  // namespace
}  // namespace zafrel::test
