// The real program against the local stand-in: what arrives in the store, how it is sent, the
// report and the exit code.
#include "e2e_fixture.h"

namespace zafrel::test {
namespace {

using UploadEndToEnd = EndToEndTest;

// Up to 32 MiB a file goes in one request, one byte more in parts; paths are taken from the
// current folder. Standard error, not a terminal, gets no progress line.
TEST_F(UploadEndToEnd, SmallFilesGoInOneVerifiedRequestAndLargerOnesInParts)
{
    const struct {
        QString name;
        qint64 size;
        std::multiset<int> puts;
    } files[] = {{"C0001.MXF", 1'500'000, {0}}, {"EXACTO.MXF", 33'554'432, {0}}, {"MAS.MXF", 33'554'433, {1, 2}}};
    std::string md5[3];
    for (int i = 0; i < 3; ++i)
        md5[i] = writeFile(files_.filePath("Tarjeta/" + files[i].name), files[i].size, quint32(i + 2));

    const ProgramResult run =
        runProgram(ProgramHome().environment(), uploadArguments({"./Tarjeta/"}, "Rodaje/"), files_.path());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.contains("\n3 subidos, 0 ya existían, 0 errores, ")) << run.out.toStdString();
    for (int i = 0; i < 3; ++i) {
        const QString dest = "Rodaje/Tarjeta/" + files[i].name;
        EXPECT_EQ(reportLine(run.out, dest), QString("OK verificado\t%1\t%2").arg(files[i].size).arg(dest));
        EXPECT_EQ(storedPuts(dest), files[i].puts) << dest.toStdString();
        EXPECT_EQ(storedMd5(dest), md5[i]) << dest.toStdString();
    }
}

// The second run takes the stored server and session, finds there the file it has and sends the
// one that changed size; its JSON report calls only that one verified. A path that is not there is
// said, and the run is not a success.
TEST_F(UploadEndToEnd, WhatIsAlreadyThereIsSkipped)
{
    ProgramHome home;
    const QString day = files_.filePath("Dia01");
    writeFile(day + "/A001/CLIPS/C0001.MXF", 200'000, 4);
    writeFile(day + "/A001/CLIPS/C0002.MXF", 300'000, 5);
    writeFile(day + "/A001/.DS_Store", 100, 6);   // hidden: never taken
    ASSERT_EQ(upload(home, {day}, "Rodaje/").exitCode, 0);

    server().reset();
    writeFile(day + "/A001/CLIPS/C0002.MXF", 300'001, 7);
    const QString missing = files_.filePath("no-existe.MXF");
    const ProgramResult second = runProgram(home.environment(), {"--json", "--dest", "Rodaje/", "--upload", day, missing});
    EXPECT_EQ(second.exitCode, 1) << second.out.toStdString();
    EXPECT_EQ(second.err, "No existe: " + missing + "\n");
    EXPECT_TRUE(server().serviceRequests("POST", "/api/login").empty());
    EXPECT_EQ(server().storeRequests("PUT", "").size(), 1u);
    const nlohmann::json report = nlohmann::json::parse(second.out.toStdString());
    EXPECT_EQ(report["exitCode"], 1);
    EXPECT_EQ(report["totals"], nlohmann::json({{"done", 1}, {"skipped", 1}, {"errors", 0}, {"cancelled", 0},
                                                {"paused", 0}, {"problems", 1}, {"bytes", 300'001}}));
    EXPECT_EQ(report["problems"],
              nlohmann::json::array({{{"path", missing.toStdString()}, {"error", ("No existe: " + missing).toStdString()}}}));
    ASSERT_EQ(report["items"].size(), 2u);
    EXPECT_EQ(report["items"][0]["status"], "skipped");
    EXPECT_EQ(report["items"][0]["verified"], false);
    EXPECT_EQ(report["items"][1]["status"], "done");
    EXPECT_EQ(report["items"][1]["verified"], true);
    EXPECT_EQ(report["items"][1]["destination"], "Rodaje/Dia01/A001/CLIPS/C0002.MXF");
}

// A wrong ETag fails the file at once (no retry) and the run with it. Such a file is listed as left
// over and can be forgotten; given again it is sent again: the failed object has its name and size,
// yet is not "already there".
TEST_F(UploadEndToEnd, WrongETagEndsTheFileInErrorAndTheSameCommandSendsItAgain)
{
    ProgramHome home;
    const QString folder = files_.filePath("Etag");
    const std::string md5 = writeFile(folder + "/MALA.MXF", 400'000, 11);
    writeFile(folder + "/BUENA.MXF", 300'000, 12);
    server().addFault({{"method", "PUT"}, {"pathContains", "MALA.MXF"}, {"action", "etag"}});

    const ProgramResult run = upload(home, {folder}, "Fallos/");
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_EQ(reportLine(run.out, "Fallos/Etag/MALA.MXF"), "ERROR La verificación MD5 no coincide\t400000\tFallos/Etag/MALA.MXF");
    EXPECT_EQ(reportLine(run.out, "Fallos/Etag/BUENA.MXF"), "OK verificado\t300000\tFallos/Etag/BUENA.MXF");
    EXPECT_TRUE(run.out.contains("\n1 subidos, 0 ya existían, 1 errores, 300 KB\n")) << run.out.toStdString();
    EXPECT_EQ(server().storeRequests("PUT", "/Fallos/Etag/MALA.MXF").size(), 1u);

    const ProgramResult listed = runProgram(home.environment(), {"--pendientes"});
    EXPECT_TRUE(listed.out.startsWith("ERROR ")
                && listed.out.endsWith("\t400000\t" + folder + "/MALA.MXF\tFallos/Etag/MALA.MXF\n\n0 pendientes, 1 con error. "
                                       "La misma orden --upload los continúa; --olvidar los quita de la cola.\n"))
        << listed.out.toStdString();
    EXPECT_EQ(runProgram(home.environment(), {"--olvidar"}).out,
              "1 archivos quitados de la cola; 0 subidas por partes canceladas en el servicio.\n");
    EXPECT_EQ(runProgram(home.environment(), {"--pendientes"}).out, "No hay archivos pendientes.\n");

    server().reset();
    const ProgramResult again = upload(home, {folder}, "Fallos/");
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(reportLine(again.out, "Fallos/Etag/MALA.MXF"), "OK verificado\t400000\tFallos/Etag/MALA.MXF");
    EXPECT_EQ(reportLine(again.out, "Fallos/Etag/BUENA.MXF"), "ya existía\t300000\tFallos/Etag/BUENA.MXF");
    EXPECT_EQ(storedPuts("Fallos/Etag/MALA.MXF"), std::multiset<int>({0}));
    EXPECT_EQ(storedMd5("Fallos/Etag/MALA.MXF"), md5);
}

#ifdef ZAFREL_WITH_GUI
// With a display the window opens beside the run and shares its engine; the run still ends the
// process with its report and leaves the queue file as a finished run does.
TEST_F(UploadEndToEnd, RunWithTheWindowBesideEndsWithItsReport)
{
    ProgramHome home;
    const QString path = files_.filePath("Ventana.MXF");
    writeFile(path, 12345, 9);
    QProcessEnvironment environment = home.environment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    const ProgramResult run = runProgram(environment, uploadArguments({path}, "Ventana/"));
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Ventana/Ventana.MXF"), "OK verificado\t12345\tVentana/Ventana.MXF");
    EXPECT_EQ(fileBytes(home.queueFile()).trimmed(), "[]");
}
#endif

}  // namespace
}  // namespace zafrel::test
