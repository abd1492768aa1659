// A run killed in the middle of a multipart upload, and the same command given again: only the
// parts that were missing are sent and the object is whole.
#include "e2e_fixture.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <map>
#include <set>

namespace zafrel::test {
namespace {

using CrashEndToEnd = EndToEndTest;

constexpr qint64 kSize = 110'000'000;   // 4 parts of 32 MiB, the last one shorter

// Part numbers with a stored ETag on disk, for the item of `path`: in the queue file and in the
// journal of what happened since it was written whole.
std::set<int> partsInQueueFile(const ProgramHome& home, const QString& path)
{
    std::set<int> parts;
    QFile file(home.queueFile());
    if (!file.open(QIODevice::ReadOnly))
        return parts;
    QString id;
    for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject item = entry.toObject();
        if (item.value("path").toString() != path)
            continue;
        id = item.value("id").toString();
        for (const QString& number : item.value("etags").toObject().keys())
            parts.insert(number.toInt());
    }
    QFile journal(QString(home.queueFile()).replace("queue.json", "queue.journal"));
    if (journal.open(QIODevice::ReadOnly))
        for (const QByteArray& line : journal.readAll().split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            if (record.value("part").toString() == id)
                parts.insert(record.value("n").toInt());
        }
    return parts;
}

QString queueStatus(const ProgramHome& home, const QString& path)
{
    QFile file(home.queueFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QJsonValue& entry : QJsonDocument::fromJson(file.readAll()).array())
        if (entry.toObject().value("path").toString() == path)
            return entry.toObject().value("status").toString();
    return {};
}

// Starts uploading `clip` to Crash/ and kills the program (SIGKILL) once parts 1 and 2 are stored
// and the others are in flight; `meanwhile` runs just before the kill, given the program's id.
void killMidUpload(DevServerProcess& server, const ProgramHome& home, const QString& clip,
                   const QStringList& arguments, const std::function<void(qint64)>& meanwhile = {})
{
    for (int part = 3; part <= 4; ++part)
        server.addFault({{"server", "store"}, {"method", "PUT"}, {"queryContains", "partNumber=" + std::to_string(part)},
                         {"count", 1}, {"action", "delay"}, {"ms", 120000}});
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(programPath(), arguments);
    ASSERT_TRUE(first.waitForStarted(10000));
    QDeadlineTimer deadline(90000);
    while (partsInQueueFile(home, clip) != std::set<int>{1, 2} && !deadline.hasExpired()
           && first.state() != QProcess::NotRunning)
        QThread::msleep(100);
    ASSERT_EQ(partsInQueueFile(home, clip), (std::set<int>{1, 2}))
        << "output so far: " << first.readAllStandardOutput().toStdString();
    if (meanwhile)
        meanwhile(first.processId());
    first.kill();   // SIGKILL: no chance to write anything more
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
    server.reset();
}

TEST_F(CrashEndToEnd, RunningTheSameCommandAfterAKillSendsOnlyTheMissingParts)
{
    ProgramHome home;
    const QString clip = files_.filePath("Dia02/C0100.MXF");
    const std::string md5 = writeFile(clip, kSize, 31);
    const QString other = files_.filePath("Otro/C0200.MXF");
    writeFile(other, 5000, 32);
    // A second process on the same data folder leaves the running one's queue alone.
    const auto secondProcess = [&](qint64 running) {
        const QByteArray queue = fileBytes(home.queueFile());
        const ProgramResult refused = upload(home, {other}, "Crash/");
        ASSERT_TRUE(refused.finished);
        EXPECT_EQ(refused.exitCode, 2) << refused.out.toStdString();
        EXPECT_EQ(refused.err, QString("Zafrel ya está en marcha con esta cola (proceso %1)\n").arg(running));
        EXPECT_EQ(fileBytes(home.queueFile()), queue);
        EXPECT_TRUE(server().storeRequests("PUT", "/Crash/C0200.MXF").empty());
    };
    ASSERT_NO_FATAL_FAILURE(killMidUpload(server(), home, clip, uploadArguments({clip}, "Crash/"), secondProcess));
    EXPECT_FALSE(storedObject("Crash/C0100.MXF").has_value());

    // Another command leaves the interrupted item alone: it stays paused, in the report and on disk.
    const ProgramResult unrelated = upload(home, {other}, "Crash/");
    ASSERT_TRUE(unrelated.finished);
    EXPECT_EQ(unrelated.exitCode, 0) << unrelated.out.toStdString();
    EXPECT_EQ(reportLine(unrelated.out, "Crash/C0100.MXF"), "paused\t110000000\tCrash/C0100.MXF");
    EXPECT_EQ(reportLine(unrelated.out, "Crash/C0200.MXF"), "OK verificado\t5000\tCrash/C0200.MXF");
    EXPECT_TRUE(storedPuts("Crash/C0100.MXF").empty());
    EXPECT_EQ(queueStatus(home, clip), "paused");
    EXPECT_EQ(partsInQueueFile(home, clip), (std::set<int>{1, 2}));

    // The same command again continues the upload with the parts it had not stored.
    server().reset();
    const ProgramResult again = upload(home, {clip}, "Crash/");
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Crash/C0100.MXF"), "OK verificado\t110000000\tCrash/C0100.MXF");
    EXPECT_EQ(again.out.count("Crash/C0100.MXF"), 1) << "the file must not be queued twice";
    EXPECT_EQ(storedPuts("Crash/C0100.MXF"), (std::multiset<int>{3, 4}));
    const auto object = storedObject("Crash/C0100.MXF");
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->value("md5", ""), md5);
    EXPECT_EQ(object->value("size", 0LL), kSize);
    EXPECT_EQ(queueStatus(home, clip), QString()) << "a finished item leaves the queue file";
}

}  // namespace
}  // namespace zafrel::test
