// The real program against the local stand-in: what the store holds, the report and the exit code.
#include "e2e_fixture.h"

#include <QRegularExpression>

namespace zafrel::test {
namespace {

using UploadEndToEnd = EndToEndTest;

// Up to 32 MiB a file goes in one request, one byte more in parts; hidden files never; no progress
// line without a terminal. The second run takes the stored server and session and sends only the
// file that changed size; a path that is not there is said, and the run is not a success.
TEST_F(UploadEndToEnd, SmallFilesGoInOneVerifiedRequestLargerOnesInPartsAndWhatIsThereIsSkipped)
{
    const struct {
        QString name;
        qint64 size;
        std::multiset<int> puts;
    } files[] = {{"C0001.MXF", 1'500'000, {0}}, {"EXACTO.MXF", 33'554'432, {0}}, {"MAS.MXF", 33'554'433, {1, 2}}};
    std::string md5[3];
    for (int i = 0; i < 3; ++i)
        md5[i] = writeFile(files_.filePath("Tarjeta/" + files[i].name), files[i].size, quint32(i + 2));
    writeFile(files_.filePath("Tarjeta/.DS_Store"), 100, 6);

    ProgramHome home;
    const ProgramResult run = runProgram(home.environment(), uploadArguments({"./Tarjeta/"}, "Rodaje/"), files_.path());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.contains("\n3 subidos, 0 ya existían, 0 errores, ")) << run.out.toStdString();
    for (int i = 0; i < 3; ++i) {
        const QString dest = "Rodaje/Tarjeta/" + files[i].name;
        EXPECT_EQ(reportLine(run.out, dest), QString("OK verificado\t%1\t%2").arg(files[i].size).arg(dest));
        EXPECT_EQ(inStore(dest), Stored(files[i].puts, md5[i])) << dest.toStdString();
    }

    server().reset();
    writeFile(files_.filePath("Tarjeta/C0001.MXF"), 1'500'001, 7);
    const QString missing = files_.filePath("no-existe.MXF");
    const ProgramResult second =
        runProgram(home.environment(), {"--json", "--dest", "Rodaje/", "--upload", files_.filePath("Tarjeta"), missing});
    EXPECT_EQ(second.exitCode, 1) << second.out.toStdString();
    EXPECT_EQ(second.err, "No existe: " + missing + "\n");
    EXPECT_TRUE(server().serviceRequests("POST", "/api/login").empty());
    EXPECT_EQ(server().storeRequests("PUT", "").size(), 1u);
    const nlohmann::json report = nlohmann::json::parse(second.out.toStdString());
    EXPECT_EQ(report["exitCode"], 1);
    EXPECT_EQ(report["totals"], nlohmann::json({{"done", 1}, {"skipped", 2}, {"errors", 0}, {"cancelled", 0},
                                                {"paused", 0}, {"problems", 1}, {"bytes", 1'500'001}}));
    EXPECT_EQ(report["problems"],
              nlohmann::json::array({{{"path", missing.toStdString()}, {"error", ("No existe: " + missing).toStdString()}}}));
    ASSERT_EQ(report["items"].size(), 3u);
    EXPECT_EQ(std::tuple(report["items"][0]["status"], report["items"][0]["verified"], report["items"][0]["destination"]),
              std::tuple("done", true, "Rodaje/Tarjeta/C0001.MXF"));
    EXPECT_EQ(std::tuple(report["items"][1]["status"], report["items"][1]["verified"]), std::tuple("skipped", false));
}

// A wrong ETag fails the file at once (no retry) and the run with it; listed as left over, it can be
// forgotten, and given again it is sent again: an object of its name and size is not "already there".
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
                && listed.out.endsWith("\t400000\t" + folder + "/MALA.MXF\tFallos/Etag/MALA.MXF\tdemo@zafrel.test (demo-films)\n\n0 pendientes, 1 con error. "
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
    EXPECT_EQ(inStore("Fallos/Etag/MALA.MXF"), Stored({0}, md5));
}

// Two cameras' cards share folder and clip names: B's clips (one of the size of A's) are never "ya
// existía" nor replace A's unasked ("--reemplazar" does). A copy of A's card is "ya existía" (read
// once to compare), and a run again from either path reads nothing.
TEST_F(UploadEndToEnd, AnotherCamerasClipOfTheSameNameIsNeverTakenForIt)
{
    ProgramHome home;
    const QString a = files_.filePath("A_CAM/XDROOT"), b = files_.filePath("B_CAM/XDROOT"),
                  copy = files_.filePath("A_COPIA/XDROOT");
    const QString one = "Dia01/XDROOT/Clip/C0001.MXF", two = "Dia01/XDROOT/Clip/C0002.MXF";
    const std::string a1 = writeFile(a + "/Clip/C0001.MXF", 200'000, 61), a2 = writeFile(a + "/Clip/C0002.MXF", 300'000, 62);
    const std::string b1 = writeFile(b + "/Clip/C0001.MXF", 200'000, 63), b2 = writeFile(b + "/Clip/C0002.MXF", 250'000, 64);
    writeFile(copy + "/Clip/C0001.MXF", 200'000, 61);
    writeFile(copy + "/Clip/C0002.MXF", 300'000, 62);
    ASSERT_EQ(upload(home, {a}, "Dia01/").exitCode, 0);

    const ProgramResult copied = upload(home, {copy}, "Dia01/");
    EXPECT_EQ(copied.exitCode, 0) << copied.out.toStdString();
    EXPECT_TRUE(copied.out.contains("\n0 subidos, 2 ya existían, 0 errores, ")) << copied.out.toStdString();
    replaceKeepingSizeAndTime(a + "/Clip/C0001.MXF", 65);
    replaceKeepingSizeAndTime(copy + "/Clip/C0001.MXF", 66);
    server().reset();
    const ProgramResult again = upload(home, {a, copy}, "Dia01/");
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_TRUE(again.out.contains("\n0 subidos, 4 ya existían, 0 errores, ")) << again.out.toStdString();
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());

    const QString other = "ERROR Ya hay otro archivo con ese nombre en el destino\t";
    const ProgramResult refused = upload(home, {b}, "Dia01/");
    EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
    EXPECT_EQ(reportLine(refused.out, one), other + "200000\t" + one);
    EXPECT_EQ(reportLine(refused.out, two), other + "250000\t" + two);
    EXPECT_EQ(std::pair(storedMd5(one), storedMd5(two)), std::pair(a1, a2));

    const ProgramResult replaced = runProgram(home.environment(), {"--reemplazar", "--dest", "Dia01/", "--upload", b});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.out.toStdString();
    EXPECT_EQ(reportLine(replaced.out, one), "OK verificado\t200000\t" + one);
    EXPECT_EQ(std::pair(storedMd5(one), storedMd5(two)), std::pair(b1, b2));
}

#ifdef ZAFREL_WITH_GUI
// With a display the window opens beside the run, which still ends the process with its report.
// Under umask 000 too, the folders and files it writes are this account's alone.
TEST_F(UploadEndToEnd, RunWithTheWindowBesideEndsWithItsReport)
{
    ProgramHome home;
    const QString path = files_.filePath("Ventana.MXF");
    writeFile(path, 12345, 9);
    QProcessEnvironment environment = home.environment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    const mode_t umaskBefore = ::umask(0);
    const ProgramResult run = runProgram(environment, uploadArguments({path}, "Ventana/"));
    ::umask(umaskBefore);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Ventana/Ventana.MXF"), "OK verificado\t12345\tVentana/Ventana.MXF");
    EXPECT_EQ(fileBytes(home.queueFile()).trimmed(), "[]");

    const QStringList reports = QDir(home.path() + "/data/Zafrel/informes").entryList(QDir::Files);
    ASSERT_EQ(reports.size(), 1);
    const std::pair<QString, int> expected[] = {
        {"config/Zafrel", 0700}, {"config/Zafrel/Zafrel.conf", 0600}, {"data/Zafrel", 0700},
        {"data/Zafrel/queue.json", 0600}, {"data/Zafrel/informes", 0700}, {"data/Zafrel/informes/" + reports[0], 0600},
    };
    for (const auto& [file, wanted] : expected)
        EXPECT_EQ(modeOf(home.path() + u'/' + file), wanted) << file.toStdString();
}

// The program maps only the libraries a run needs: the window's only with a display.
TEST_F(UploadEndToEnd, EachRunMapsOnlyThePartsItNeeds)
{
    const QString path = files_.filePath("Partes.MXF");
    writeFile(path, 1000, 4);
    const struct {
        QStringList arguments;
        bool display;
        QStringList mapped, unmapped;
    } cases[] = {
        {{"--version"}, true, {}, {"libzafrel_core.so", "libcurl", "libzafrel_window.so", "libQt6Widgets"}},
        {{"--pendientes"}, true, {"libzafrel_core.so", "libcurl"}, {"libzafrel_window.so", "libQt6Widgets"}},
        {uploadArguments({path}, "Partes/"), false, {"libzafrel_core.so"}, {"libzafrel_window.so", "libQt6Widgets"}},
        {uploadArguments({path}, "Partes/"), true, {"libzafrel_window.so", "libQt6Widgets"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.display ? " (pantalla)" : ""));
        QProcessEnvironment environment = ProgramHome().environment();
        environment.insert("LD_DEBUG", "files");
        if (c.display)
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        const ProgramResult run = runProgram(environment, c.arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        // The loader's "file=PATH [0];  needed by" lines, one per library mapped.
        for (const auto& [libraries, wanted] : {std::pair(c.mapped, true), std::pair(c.unmapped, false)})
            for (const QString& library : libraries) {
                const QRegularExpression loaded("file=\\S*" + QRegularExpression::escape(library));
                EXPECT_EQ(run.err.contains(loaded), wanted) << library.toStdString();
            }
    }
}

// Without the window's library an upload goes on and the window alone is said missing; without the
// program's library only "--help" and "--version" answer.
TEST_F(UploadEndToEnd, AMissingPartOfTheProgramIsSaid)
{
    const QString path = files_.filePath("Falta.MXF");
    writeFile(path, 1000, 5);
    QTemporaryDir installed;
    const QString program = installed.filePath("zafrel");
    ASSERT_TRUE(QFile::copy(programPath(), program));
    const QString window = "No se encontró la ventana de Zafrel o no se pudo cargar; reinstala el paquete o usa la "
                           "línea de órdenes (zafrel --upload RUTA...).\n";
    const QString core = "No se encontró la biblioteca de Zafrel (libzafrel_core.so) o no se pudo cargar; reinstala "
                         "el paquete.\n";
    const struct {
        bool coreThere;
        QStringList arguments;
        int exitCode;
        QString out;   // ending with "*": a part of it
        QString err;
    } cases[] = {
        {true, {}, 2, "", window},
        {true, uploadArguments({path}, "Falta/"), 0, "OK verificado\t1000\tFalta/Falta.MXF\n*", window},
        {false, {"--version"}, 0, "zafrel " ZAFREL_VERSION "\n", ""},
        {false, {"--pendientes"}, 2, "", core},
        {false, {"--pendientes", "--json"}, 2, R"({"error":")" + core.chopped(1) + R"(","exitCode":2})" "\n", ""},
    };
    const QString coreLibrary = QFileInfo(programPath()).dir().filePath("libzafrel_core.so");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QFile::remove(installed.filePath("libzafrel_core.so"));
        ASSERT_TRUE(!c.coreThere || QFile::copy(coreLibrary, installed.filePath("libzafrel_core.so")));
        QProcessEnvironment environment = ProgramHome().environment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const ProgramResult run = runProgram(environment, c.arguments, {}, program);
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.out.endsWith('*'))
            EXPECT_TRUE(run.out.contains(c.out.chopped(1))) << run.out.toStdString();
        else
            EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}
#endif

}  // namespace
}  // namespace zafrel::test
