// A run killed in the middle of a multipart upload, and the same command given again: only the
// parts that were missing are sent and the object is whole.
#include "e2e_fixture.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <set>

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

// Part numbers with a stored ETag on disk, for the item of `path`: in the queue file and in the
// journal of what happened since it was written whole.
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

// Parts 3 and 4 are held at the store; the program is killed (SIGKILL: no chance to write anything
// more) once parts 1 and 2 are on disk. Meanwhile a second process on the same data folder leaves
// the running one's queue alone.
TEST_F(CrashEndToEnd, RunningTheSameCommandAfterAKillSendsOnlyTheMissingParts)
{
    ProgramHome home;
    const QString clip = files_.filePath("Dia02/C0100.MXF");
    const std::string md5 = writeFile(clip, kSize, 31);
    const QString other = files_.filePath("Otro/C0200.MXF");
    writeFile(other, 5000, 32);
    for (const char* part : {"partNumber=3", "partNumber=4"})
        server().addFault({{"method", "PUT"}, {"queryContains", part}, {"action", "delay"}, {"ms", 120000}});
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(programPath(), uploadArguments({clip}, "Crash/"));
    ASSERT_TRUE(first.waitForStarted(10000));
    for (QDeadlineTimer deadline(90000); partsInQueueFile(home, clip) != std::set<int>{1, 2} && !deadline.hasExpired()
                                         && first.state() != QProcess::NotRunning;)
        QThread::msleep(100);
    ASSERT_EQ(partsInQueueFile(home, clip), (std::set<int>{1, 2})) << first.readAllStandardOutput().toStdString();

    const QByteArray queue = fileBytes(home.queueFile());
    const ProgramResult refused = upload(home, {other}, "Crash/");
    EXPECT_EQ(refused.exitCode, 2) << refused.out.toStdString();
    EXPECT_EQ(refused.err, QString("Zafrel ya está en marcha con esta cola (proceso %1)\n").arg(first.processId()));
    EXPECT_EQ(fileBytes(home.queueFile()), queue);
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_TRUE(server().storeRequests("PUT", "/Crash/C0200.MXF").empty());
    EXPECT_EQ(storedMd5("Crash/C0100.MXF"), "");
    server().reset();

    // The interrupted item waits for the same command.
    const QString listed = runProgram(home.environment(), {"--pendientes"}).out;
    EXPECT_TRUE(listed.startsWith("pendiente\t110000000\t" + clip + "\tCrash/C0100.MXF\tdemo@zafrel.test (demo-films)\n")) << listed.toStdString();

    // The same command again continues the upload with the parts it had not stored.
    server().reset();
    const ProgramResult again = upload(home, {clip}, "Crash/");
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Crash/C0100.MXF"), "OK verificado\t110000000\tCrash/C0100.MXF");
    EXPECT_EQ(again.out.count("Crash/C0100.MXF"), 1) << "the file must not be queued twice";
    EXPECT_EQ(storedPuts("Crash/C0100.MXF"), (std::multiset<int>{3, 4}));
    EXPECT_EQ(storedMd5("Crash/C0100.MXF"), md5);
    EXPECT_EQ(queueEntry(home, clip).value("status").toString(), QString()) << "a finished item leaves the queue file";
}

}  // namespace
}  // namespace zafrel::test
