// Failures injected at the stand-in, seen through the real program: a wrong ETag (and the same
// command run again), PUTs that fail and then succeed, PUTs that keep failing, pre-signed URLs that
// expire before they are used, a completion that fails once, and an unusable part size.
#include "e2e_fixture.h"
#include "support/http_test_server.h"

#include <atomic>

namespace zafrel::test {
namespace {

using FailuresEndToEnd = EndToEndTest;

TEST_F(FailuresEndToEnd, WrongETagEndsTheFileInErrorAndTheSameCommandSendsItAgain)
{
    ProgramHome home;
    const QString folder = files_.filePath("Etag");
    const std::string md5 = writeFile(folder + "/MALA.MXF", 400'000, 11);
    writeFile(folder + "/BUENA.MXF", 300'000, 12);
    server().addFault({{"server", "store"}, {"method", "PUT"}, {"pathContains", "MALA.MXF"}, {"count", 1},
                       {"action", "etag"}});

    const ProgramResult run = upload(home, {folder}, "Fallos/");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_EQ(reportLine(run.out, "Fallos/Etag/MALA.MXF"),
              "ERROR La verificación MD5 no coincide\t400000\tFallos/Etag/MALA.MXF");
    EXPECT_EQ(reportLine(run.out, "Fallos/Etag/BUENA.MXF"), "OK verificado\t300000\tFallos/Etag/BUENA.MXF");
    EXPECT_TRUE(run.out.contains("\n1 subidos, 0 ya existían, 1 errores, 300 KB\n")) << run.out.toStdString();
    // A checksum mismatch is not retried.
    EXPECT_EQ(server().storeRequests("PUT", "/Fallos/Etag/MALA.MXF").size(), 1u);

    // The object that failed verification has the file's name and size, yet it is not "already
    // there": the same command sends the file again.
    server().reset();
    const ProgramResult again = upload(home, {folder}, "Fallos/");
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Fallos/Etag/MALA.MXF"), "OK verificado\t400000\tFallos/Etag/MALA.MXF");
    EXPECT_EQ(reportLine(again.out, "Fallos/Etag/BUENA.MXF"), "ya existía\t300000\tFallos/Etag/BUENA.MXF");
    EXPECT_EQ(storedPuts("Fallos/Etag/MALA.MXF"), std::multiset<int>({0}));
    ASSERT_TRUE(storedObject("Fallos/Etag/MALA.MXF").has_value());
    EXPECT_EQ(storedObject("Fallos/Etag/MALA.MXF")->value("md5", ""), md5);
}

// URLs that the store takes for three seconds only, while the first part and a small file wait
// longer before they are sent: each gets a fresh URL and the run still ends verified.
TEST_F(FailuresEndToEnd, ExpiredURLsAreRenewedAndTheFilesArrive)
{
    ProgramHome home;
    const QString folder = files_.filePath("Caducan");
    const std::string clipMd5 = writeFile(folder + "/CLIP.MXF", 33'554'432 + 1000, 21);
    const std::string smallMd5 = writeFile(folder + "/CORTO.MXF", 5000, 22);
    server().addFault({{"server", "store"}, {"method", "PUT"}, {"count", 100}, {"action", "expire"}, {"seconds", 3}});
    for (const char* slow : {"partNumber=1", "x-id=PutObject"})
        server().addFault({{"server", "store"}, {"method", "PUT"}, {"queryContains", slow}, {"count", 1},
                           {"action", "delay"}, {"ms", 4000}});

    const ProgramResult run = upload(home, {folder}, "Caducan/");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(reportLine(run.out, "Caducan/Caducan/CLIP.MXF"), "OK verificado\t33555432\tCaducan/Caducan/CLIP.MXF");
    EXPECT_EQ(reportLine(run.out, "Caducan/Caducan/CORTO.MXF"), "OK verificado\t5000\tCaducan/Caducan/CORTO.MXF");
    int expired = 0;
    for (const auto& request : server().storeRequests("PUT", ""))
        expired += request.value("fault", "") == "expire" ? 1 : 0;
    EXPECT_EQ(expired, 2);
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/init").size(), 3u);   // the clip, the file twice
    EXPECT_EQ(storedObject("Caducan/Caducan/CLIP.MXF")->value("md5", ""), clipMd5);
    EXPECT_EQ(storedObject("Caducan/Caducan/CORTO.MXF")->value("md5", ""), smallMd5);
}

// A completion that fails leaves every part verified: the same command completes the upload
// without sending any part again.
TEST_F(FailuresEndToEnd, AFailedCompletionIsCompletedByTheNextRunWithoutSendingAgain)
{
    ProgramHome home;
    const QString clip = files_.filePath("Completar/CLIP.MXF");
    const std::string md5 = writeFile(clip, 33'554'432 + 1000, 23);
    // Refused, not failed for a while: a 5xx would be retried at once.
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/complete"}, {"count", 1},
                       {"action", "status"}, {"status", 409}});

    const ProgramResult first = upload(home, {clip}, "Completar/");
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 1) << first.out.toStdString();
    EXPECT_TRUE(reportLine(first.out, "Completar/CLIP.MXF").startsWith("ERROR Servidor: 409")) << first.out.toStdString();
    EXPECT_EQ(storedPuts("Completar/CLIP.MXF"), std::multiset<int>({1, 2}));

    server().reset();
    const ProgramResult again = upload(home, {clip}, "Completar/");
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Completar/CLIP.MXF"), "OK verificado\t33555432\tCompletar/CLIP.MXF");
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/complete").size(), 1u);
    EXPECT_EQ(storedObject("Completar/CLIP.MXF")->value("md5", ""), md5);
}

// A service that plans parts the store would refuse (here 2^62 bytes): the file fails with the
// service's fault, nothing is sent, and the upload it opened is aborted.
TEST_F(FailuresEndToEnd, AnUnusablePartSizeFromTheServiceSendsNothing)
{
    ProgramHome home;
    const QString clip = files_.filePath("Enorme/CLIP.MXF");
    writeFile(clip, 33'554'432 + 1, 24);
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"count", 1},
                       {"action", "json"}, {"merge", {{"partSize", int64_t(1) << 62}}}});

    const ProgramResult run = upload(home, {clip}, "Enorme/");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_EQ(reportLine(run.out, "Enorme/CLIP.MXF"), "ERROR Respuesta inesperada del servidor\t33554433\tEnorme/CLIP.MXF");
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());
    EXPECT_TRUE(server().serviceRequests("POST", "/api/upload/complete").empty());
    EXPECT_TRUE(server().openUploads().empty());
}

// Peak memory of a running process in KiB (its VmHWM), or -1.
long peakMemoryKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A hostile service whose listing never ends (up to 1 GiB): the program cuts the answer off at its
// 64 MiB bound and ends the file in error; its peak memory stays below half of what the answer
// would take (about 90 MiB; three times that under AddressSanitizer).
TEST(HostileServiceEndToEnd, AnEndlessListingIsCutOffAndMemoryStaysBounded)
{
    TestHttpServer service;
    std::atomic<qint64> pid{0};
    std::atomic<long> peakKiB{-1};
    service.server().Get("/api/me", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"email":"a@b.test","name":"A","is_admin":false,"company":{"slug":"s","name":"S"},"bucket":"b"})",
                        "application/json");
    });
    service.server().Get("/api/ls", [](const httplib::Request&, httplib::Response& res) {
        streamEndlessly(res, "{", std::string(1 << 20, ' '), {}, size_t(1) << 30);
    });
    // The run is over and waits for this answer.
    service.server().Post("/api/upload/done", [&](const httplib::Request&, httplib::Response&) { peakKiB = peakMemoryKiB(pid); });
    service.start();
    QTemporaryDir files;
    const QString path = files.filePath("C0001.MXF");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("0123456789");
    file.close();

    ProgramHome home;
    const ProgramResult run = runProgram(home.environment(), {"--server", QString::fromStdString(service.origin()), "--upload", path},
                                         {}, std::chrono::seconds(120), [&](qint64 started) { pid = started; });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("\nERROR La respuesta de 127.0.0.1 era demasiado grande y se cortó")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\t10\tC0001.MXF\n")) << run.out.toStdString();
    ASSERT_GT(peakKiB.load(), 0);
    EXPECT_LT(peakKiB.load(), 512 * 1024) << "peak memory " << peakKiB.load() / 1024 << " MiB";
}

}  // namespace
}  // namespace zafrel::test
