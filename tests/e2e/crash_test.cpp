// A run killed in the middle of a multipart upload, and the same command given again: only the
// parts that were missing are sent and the object is whole; a file changed in between is sent as it
// is now, and the old upload aborted.
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

// A file touched or appended to after the crash: the stored parts belong to the old version, so the
// upload is aborted and the file goes up as it is now.
TEST_F(CrashEndToEnd, AFileChangedAfterAKillIsSentAsItIsNow)
{
    for (const bool appended : {false, true}) {
        ProgramHome home;
        const QString clip = files_.filePath(appended ? "Largo/C0300.MXF" : "Tocado/C0300.MXF");
        writeFile(clip, kSize, 33);
        const QString dest = appended ? "Largo/" : "Tocado/";
        ASSERT_NO_FATAL_FAILURE(killMidUpload(server(), home, clip, uploadArguments({clip}, dest)));
        QFile file(clip);
        if (appended) {
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write(QByteArray(40'000'000, 'z'));
            file.close();
        } else {
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
            file.close();
        }

        const ProgramResult again = upload(home, {clip}, dest);
        ASSERT_TRUE(again.finished);
        EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
        const qint64 size = QFileInfo(clip).size();
        EXPECT_EQ(reportLine(again.out, dest + "C0300.MXF"),
                  QString("OK verificado\t%1\t%2C0300.MXF").arg(size).arg(dest));
        EXPECT_EQ(storedPuts(dest + "C0300.MXF").size(), appended ? 5u : 4u) << "every part of the new version";
        EXPECT_EQ(server().serviceRequests("POST", "/api/upload/abort").size(), 1u);
        EXPECT_TRUE(server().openUploads().empty()) << server().openUploads().dump();
        const auto object = storedObject(dest + "C0300.MXF");
        ASSERT_TRUE(object.has_value());
        file.open(QIODevice::ReadOnly);
        EXPECT_EQ(object->value("md5", ""), QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex().toStdString());
        EXPECT_EQ(object->value("size", 0LL), size);
    }
}

// A run of many small files killed half-way, then the same command: every file ends verified in
// the store and none is sent twice. What the killed run had finished more than a moment before
// the kill is already settled in its queue (only the last second's files are looked at again).
TEST_F(CrashEndToEnd, KillingARunOfManySmallFilesLosesAndRepeatsNothing)
{
    constexpr int kFiles = 2000;
    ProgramHome home;
    std::map<QString, std::string> md5s;   // file name -> digest
    for (int i = 0; i < kFiles; ++i) {
        const QString name = QString("F%1.WAV").arg(i, 5, 10, QChar('0'));
        md5s[name] = writeFile(files_.filePath("Muchos/" + name), 1000 + i, 100 + quint32(i));
    }
    const QStringList arguments = uploadArguments({files_.filePath("Muchos")}, "Lote/");
    // File name -> arrival of each PUT the store accepted.
    const auto acceptedPuts = [&] {
        std::map<QString, std::vector<QDateTime>> puts;
        for (const auto& request : server().storeRequests("PUT", ""))
            if (request["status"].is_number() && request["status"].get<int>() / 100 == 2)
                puts[QString::fromStdString(request.value("path", "")).section('/', -1)].push_back(
                    QDateTime::fromString(QString::fromStdString(request.value("time", "")), Qt::ISODateWithMs));
        return puts;
    };

    // Slowed down, so that the run lasts several seconds and its early files are long settled.
    server().addFault({{"server", "store"}, {"method", "PUT"}, {"count", kFiles}, {"action", "delay"}, {"ms", 15}});
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(programPath(), arguments);
    ASSERT_TRUE(first.waitForStarted(10000));
    QDeadlineTimer deadline(120000);
    while (acceptedPuts().size() < size_t(kFiles) * 6 / 10 && !deadline.hasExpired()
           && first.state() != QProcess::NotRunning)
        QThread::msleep(250);
    const QDateTime killedAt = QDateTime::currentDateTimeUtc();
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_EQ(first.exitStatus(), QProcess::CrashExit) << "the run ended before it could be killed";
    const auto storedAtKill = acceptedPuts();

    // The queue as the killed run left it: a command with nothing to upload reads it and writes it
    // out whole.
    ASSERT_TRUE(runProgram(home, uploadArguments({}, "Lote/")).finished);
    QFile queue(home.queueFile());
    ASSERT_TRUE(queue.open(QIODevice::ReadOnly));
    std::set<QString> unsettled;
    for (const QJsonValue& entry : QJsonDocument::fromJson(queue.readAll()).array())
        unsettled.insert(entry.toObject().value("path").toString().section('/', -1));
    int repeated = 0;
    for (const auto& [name, md5] : md5s) {
        const auto stored = storedAtKill.find(name);
        if (stored == storedAtKill.end()) {
            EXPECT_TRUE(unsettled.contains(name)) << "lost: " << name.toStdString();
        } else if (unsettled.contains(name)) {
            ++repeated;
            EXPECT_GT(stored->second.front(), killedAt.addMSecs(-3000)) << name.toStdString() << " was settled long before";
        }
    }
    EXPECT_LT(repeated, int(storedAtKill.size())) << "nothing of the killed run was settled";

    const ProgramResult again = runProgram(home, arguments);
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    std::map<QString, std::string> stored;
    for (const auto& object : server().objects())
        stored[QString::fromStdString(object.value("key", "")).section('/', -1)] = object.value("md5", "");
    for (const auto& [name, md5] : md5s)
        EXPECT_EQ(stored[name], md5) << name.toStdString();
    for (const auto& [name, arrivals] : acceptedPuts())
        EXPECT_EQ(arrivals.size(), 1u) << name.toStdString() << " stored more than once";
}

}  // namespace
}  // namespace zafrel::test
