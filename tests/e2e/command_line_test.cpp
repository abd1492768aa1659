// The command line as crews and scripts use it: help, version and unknown options, the leftovers of
// earlier runs, the progress line on a terminal and the JSON report.
#include "e2e_fixture.h"
#include "support/terminal_run.h"

#include <nlohmann/json.hpp>

namespace zafrel::test {
namespace {

using CommandLineEndToEnd = EndToEndTest;

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST_F(CommandLineEndToEnd, HelpAndVersionAnswerAndAnUnknownOptionStopsBeforeAnythingIsSent)
{
    const QString path = files_.filePath("C0003.MXF");
    writeFile(path, 1000);
    struct Case {
        QStringList arguments;
        int exitCode;
        QStringList out;   // each must appear on standard output
        QString err;
    };
    const QString version = QStringLiteral("zafrel " ZAFREL_VERSION "\n");
    const QStringList help{"--upload RUTA", "--dest CARPETA", "--login EMAIL", "--server URL", "--limite VELOCIDAD",
                           "--json", "--pendientes", "--olvidar", "-h, --help", "--version", "Código de salida",
                           "ZAFREL_PASSWORD", "https_proxy, http_proxy, no_proxy"};
    const Case cases[] = {
        {{"--help"}, 0, help, ""},
        {{"-h"}, 0, help, ""},
        {{"--version"}, 0, {version}, ""},
        {uploadArguments({path}, "Dia04/") + QStringList{"--dset", "Dia05"}, 2, {}, "Opción desconocida: --dset\n"},
        {QStringList{"--dset", "Dia05"} + uploadArguments({path}, "Dia04/"), 2, {}, "Opción desconocida: --dset\n"},
        {QStringList{"--limite", "rapido"} + uploadArguments({path}, "Dia04/"), 2, {},
         "--limite necesita una velocidad, como 50M (50 MB/s) o 800K (800 KB/s).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        server().reset();
        ProgramHome home;
        const ProgramResult run = runProgram(home, c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out.toStdString() << run.err.toStdString();
        for (const QString& text : c.out)
            EXPECT_TRUE(run.out.contains(text)) << text.toStdString() << " in " << run.out.toStdString();
        if (c.out.isEmpty()) {
            EXPECT_EQ(run.out, "");
        }
        EXPECT_EQ(run.err, c.err);
        EXPECT_TRUE(server().requests().empty()) << server().requests().dump();
    }
    EXPECT_EQ(runProgram(ProgramHome(), {"--version"}).out, version);
}

// A completion the service refuses leaves the file failed with its parts stored: listed, then
// forgotten, its upload aborted at the service.
TEST_F(CommandLineEndToEnd, LeftoversAreListedAndForgottenWithTheirOpenUploads)
{
    ProgramHome home;
    const QString clip = files_.filePath("Pendientes/CLIP.MXF");
    writeFile(clip, 33'554'432 + 1000, 41);
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/complete"}, {"count", 1},
                       {"action", "status"}, {"status", 400}});
    const ProgramResult failed = upload(home, {clip}, "Pendientes/");
    ASSERT_EQ(failed.exitCode, 1) << failed.out.toStdString();
    ASSERT_EQ(server().openUploads().size(), 1u);

    server().reset();
    const ProgramResult listed = runProgram(home, {"--pendientes"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.split(u'\n');
    ASSERT_GE(lines.size(), 3) << listed.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("ERROR ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith("\t33555432\t" + clip + "\tPendientes/CLIP.MXF")) << lines[0].toStdString();
    EXPECT_TRUE(lines[2].startsWith("0 pendientes, 1 con error.")) << listed.out.toStdString();
    EXPECT_TRUE(server().requests().empty()) << "listing sends nothing";

    // A service that does not abort the upload: the file stays listed, for a later try.
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/abort"}, {"count", 1},
                       {"action", "status"}, {"status", 400}});
    const ProgramResult refused = runProgram(home, {"--server", server().serviceURL(), "--olvidar"});
    EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains("1 archivos siguen en la cola")) << refused.out.toStdString();
    EXPECT_EQ(server().openUploads().size(), 1u);
    EXPECT_TRUE(runProgram(home, {"--pendientes"}).out.contains(clip));

    server().reset();
    const ProgramResult forgotten = runProgram(home, {"--server", server().serviceURL(), "--olvidar"});
    EXPECT_EQ(forgotten.exitCode, 0) << forgotten.out.toStdString() << forgotten.err.toStdString();
    EXPECT_EQ(forgotten.out, "1 archivos quitados de la cola; 1 subidas por partes canceladas en el servicio.\n");
    EXPECT_EQ(server().serviceRequests("POST", "/api/upload/abort").size(), 1u);
    EXPECT_TRUE(server().openUploads().empty()) << server().openUploads().dump();

    const ProgramResult empty = runProgram(home, {"--pendientes"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "No hay archivos pendientes.\n");
    const ProgramResult again = upload(home, {}, "Pendientes/");
    EXPECT_EQ(again.exitCode, 0) << "nothing left to keep later runs at 1: " << again.out.toStdString();
}

// A capped upload lasts a few seconds: long enough for the line to be drawn several times.
TEST_F(CommandLineEndToEnd, ProgressIsDrawnOnATerminalOnlyAndNeverOnStandardOutput)
{
    const QString path = files_.filePath("C0001.MXF");
    const std::string md5 = writeFile(path, 1'500'000);
    const QStringList arguments = QStringList{"--limite", "500K"} + uploadArguments({path}, "Progreso/");

    ProgramHome home;
    const QString standardOutput = home.path() + "/salida.txt";
    TerminalRun terminal(home.environment(), arguments, standardOutput);
    ASSERT_TRUE(terminal.started());
    EXPECT_EQ(terminal.finish(), 0) << terminal.output().toStdString();
    const QString shown = terminal.output();
    EXPECT_TRUE(shown.contains("\r0 de 1 archivo · ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(" de 1.5 MB · ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("/s · calculando… · C0001.MXF")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("\r\x1b[K")) << "erased before the report: " << shown.toStdString();
    const QString out = readAll(standardOutput);
    EXPECT_EQ(reportLine(out, "Progreso/C0001.MXF"), "OK verificado\t1500000\tProgreso/C0001.MXF") << out.toStdString();
    EXPECT_FALSE(out.contains(" de 1 archivo") || out.contains('\r') || out.contains("\x1b")) << out.toStdString();

    EXPECT_EQ(storedObject("Progreso/C0001.MXF").value_or(nlohmann::json::object()).value("md5", ""), md5);

    // Standard error not a terminal: not a byte of it there.
    ProgramHome plainHome;
    const ProgramResult plain = runProgram(plainHome, QStringList{"--limite", "500K"} + uploadArguments({path}, "Log/"));
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(reportLine(plain.out, "Log/C0001.MXF"), "OK verificado\t1500000\tLog/C0001.MXF");
}

// The same files, one run with each report, each to a destination that already holds one of them.
TEST_F(CommandLineEndToEnd, JsonReportMatchesTheTextReportItemForItem)
{
    const QString card = files_.filePath("Tarjeta");
    writeFile(card + "/A.MXF", 1000, 1);
    writeFile(card + "/B.MXF", 2000, 2);
    writeFile(card + "/C.MXF", 3000, 3);
    for (const QString dest : {"Texto/", "Json/"}) {
        ProgramHome seed;
        ASSERT_EQ(runProgram(seed, uploadArguments({card + "/B.MXF"}, dest + "Tarjeta/")).exitCode, 0);
    }
    ProgramHome textHome, jsonHome;
    const ProgramResult text = runProgram(textHome, uploadArguments({card}, "Texto/"));
    const ProgramResult json = runProgram(jsonHome, QStringList{"--json"} + uploadArguments({card}, "Json/"));
    ASSERT_EQ(text.exitCode, 0) << text.out.toStdString();
    ASSERT_EQ(json.exitCode, 0) << json.out.toStdString() << json.err.toStdString();

    const nlohmann::json report = nlohmann::json::parse(json.out.toStdString());
    EXPECT_EQ(report["destination"], "Json/");
    EXPECT_LE(report["start"].get<std::string>(), report["end"].get<std::string>());
    // The route of each run, whose measured time may differ by a millisecond between the two runs.
    const auto routeKind = [](const QString& route) { return route.section(u'(', 0, 0); };
    EXPECT_EQ(routeKind("ruta: " + QString::fromStdString(report["route"].get<std::string>())),
              routeKind(text.out.trimmed().split(u'\n').last()));
    const nlohmann::json expectedTotals = {{"done", 2}, {"skipped", 1}, {"errors", 0}, {"cancelled", 0}, {"paused", 0},
                                           {"bytes", 4000}};
    EXPECT_EQ(report["totals"], expectedTotals);

    // Item lines of the text report: between the header's blank line and the totals' one.
    const QStringList lines = text.out.split(u'\n');
    const qsizetype first = lines.indexOf(QString()) + 1;
    const QStringList itemLines = lines.mid(first, lines.indexOf(QString(), first) - first);
    ASSERT_EQ(itemLines.size(), 3);
    ASSERT_EQ(report["items"].size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const nlohmann::json& item = report["items"][i];
        const QStringList fields = itemLines[i].split(u'\t');
        SCOPED_TRACE(itemLines[i].toStdString());
        const bool verified = item["verified"].get<bool>();
        EXPECT_EQ(verified, item["status"] == "done");   // a file found there was not verified by this run
        const std::string state = item["status"] == "done" ? (verified ? "OK verificado" : "OK")
                                  : item["status"] == "skipped" ? "ya existía"
                                                                : item["status"].get<std::string>();
        EXPECT_EQ(state, fields[0].toStdString());
        EXPECT_EQ(std::to_string(item["size"].get<qint64>()), fields[1].toStdString());
        EXPECT_EQ("Texto/" + item["destination"].get<std::string>().substr(5), fields[2].toStdString());
        EXPECT_EQ(QFileInfo(QString::fromStdString(item["path"])).fileName(), QFileInfo(fields[2]).fileName());
        EXPECT_TRUE(item["error"].is_null());
        if (item["status"] == "done") {
            EXPECT_TRUE(storedObject(QString::fromStdString(item["destination"].get<std::string>())).has_value());
        }
    }
}

}  // namespace
}  // namespace zafrel::test
