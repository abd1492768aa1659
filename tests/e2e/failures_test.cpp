// A wrong ETag injected at the stand-in, seen through the real program, and the same command run
// again. The other failures of a transfer are the engine's tests, on the in-process network.
#include "e2e_fixture.h"

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

}  // namespace
}  // namespace zafrel::test
