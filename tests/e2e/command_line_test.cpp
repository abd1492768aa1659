// The command line as crews and scripts use it: the runs that end before anything is sent, signing
// in, a session that ends mid-run, and what a person at a terminal sees.
#include "e2e_fixture.h"

#include <QDeadlineTimer>
#include <QThread>

namespace zafrel::test {
namespace {

using CommandLineEndToEnd = EndToEndTest;

// Help and version answer; an unknown option, a bad rate, no session or no usable sign-in end with
// code 2 before anything is uploaded. Before the password leaves for a server that is neither
// encrypted nor this machine, one line on standard error says so.
TEST_F(CommandLineEndToEnd, RunsThatEndBeforeAnythingIsSent)
{
    const QString path = files_.filePath("X.MXF");
    writeFile(path, 1000);
    const QString url = server().serviceURL();
    const QString unencrypted = "aviso: la conexión con 0.0.0.0:1 no está cifrada (http://) y la contraseña o la sesión "
                                "viajarán legibles por la red; usa una dirección https:// en --server.\n";
    const struct {
        QStringList arguments;
        int exitCode;
        QString out;   // ending with "*": its start
        QString err;
        size_t logins;
    } cases[] = {
        {{"--help"}, 0, "Uso: zafrel [OPCIONES] --upload RUTA...*", "", 0},
        {{"--version"}, 0, "zafrel " ZAFREL_VERSION "\n", "", 0},
        {uploadArguments({path}, "D/") + QStringList{"--dset", "D"}, 2, "", "Opción desconocida: --dset\n", 0},
        {{"--upload", path, "--login", "a@b.c", "--MiClave"}, 2, "",
         "Opción desconocida: (lo que sigue al correo de --login, que no se muestra por si es una contraseña)\n", 0},
        {QStringList{"--limite", "rapido"} + uploadArguments({path}, "D/"), 2, "",
         "--limite necesita una velocidad, como 50M (50 MB/s) o 800K (800 KB/s).\n", 0},
        {{"--server", url, "--login", kDemoEmail, kDemoPassword}, 2, "Uso: zafrel [OPCIONES] --upload RUTA...*", "", 0},
        {{"--server", url, "--upload", path}, 2, "sin sesión: usa --login email pass\n", "", 0},
        {{"--server", url, "--upload", "--login", kDemoEmail}, 2, "sin sesión: usa --login email pass\n", "", 0},
        {{"--server", url, "--login", kDemoEmail, "no-es-esta", "--upload", path}, 2, "login: auth\n", "", 1},
        {{"--server", "http://127.0.0.1:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, 2, "login: *", "", 0},
        {{"--server", "https://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, 2, "login: *", "", 0},
        {{"--server", "http://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, 2, "login: *", unencrypted, 0},
        {{"--server", "http://0.0.0.0:1", "--upload", path}, 2, "sin sesión: usa --login email pass\n", unencrypted, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        server().reset();
        const ProgramResult run = runProgram(ProgramHome().environment(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.out.endsWith('*'))
            EXPECT_TRUE(run.out.startsWith(c.out.chopped(1)) && run.out.size() > c.out.size()) << run.out.toStdString();
        else
            EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), c.logins);
        EXPECT_TRUE(server().storeRequests("PUT", "").empty());
    }
}

// The service ends the session at every upload start: the run signs in again once with the
// password it was given, then stops with code 2 and its file paused, not failed.
TEST_F(CommandLineEndToEnd, ASessionThatEndsMidRunPausesTheRunWithCodeTwo)
{
    const QString path = files_.filePath("S01.MXF");
    writeFile(path, 20'000);
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"count", 2}, {"action", "logout"}});
    const ProgramResult run = runProgram(ProgramHome().environment(), uploadArguments({path}, "Sesion/"));
    EXPECT_EQ(run.exitCode, 2) << run.out.toStdString();
    EXPECT_TRUE(run.err.startsWith("Sesión caducada.")) << run.err.toStdString();
    EXPECT_EQ(reportLine(run.out, "Sesion/S01.MXF"), "paused\t20000\tSesion/S01.MXF");
    EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), 2u);
}

// The object keys of `bucket`.
QStringList keysIn(DevServerProcess& server, const std::string& bucket)
{
    QStringList keys;
    for (const auto& object : server.objects(bucket))
        keys << QString::fromStdString(object.value("key", ""));
    return keys;
}

// Two companies' accounts share a data folder. demo@'s file is left paused (the service ends the
// session at each upload start): every later run of demo@ reports it and ends with 1. otra@, named
// by "--login" while demo@'s session is stored, signs in as itself; its run neither shows nor sends
// demo@'s file, nor does its "--olvidar" forget it; demo@ signed in again continues it into its own
// bucket.
TEST_F(CommandLineEndToEnd, PendingFilesStayWithTheAccountTheyWereQueuedUnder)
{
    ProgramHome home;
    const QString left = files_.filePath("P/left.wav"), mine = files_.filePath("Q/mine.wav"),
                  theirs = files_.filePath("R/theirs.wav");
    const std::string leftMd5 = writeFile(left, 1000, 41);
    writeFile(mine, 2000, 42);
    writeFile(theirs, 3000, 43);
    const auto uploadAs = [&](const QString& email, const QString& password, const QString& path) {
        return runProgram(home.environment(), {"--server", server().serviceURL(), "--dest", "Cuentas/", "--login", email,
                                               password, "--upload", path});
    };
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"count", 2}, {"action", "logout"}});
    const ProgramResult first = uploadAs(kDemoEmail, kDemoPassword, left);
    ASSERT_EQ(first.exitCode, 2) << first.out.toStdString();
    ASSERT_EQ(reportLine(first.out, "Cuentas/left.wav"), "paused\t1000\tCuentas/left.wav");

    server().reset();
    const ProgramResult second = uploadAs(kDemoEmail, kDemoPassword, mine);
    EXPECT_EQ(second.exitCode, 1) << second.out.toStdString();
    EXPECT_EQ(reportLine(second.out, "Cuentas/mine.wav"), "OK verificado\t2000\tCuentas/mine.wav");
    EXPECT_EQ(reportLine(second.out, "Cuentas/left.wav"), "paused\t1000\tCuentas/left.wav");

    server().reset();
    const ProgramResult other = uploadAs(kOtherEmail, kOtherPassword, theirs);
    EXPECT_EQ(other.exitCode, 0) << other.out.toStdString();
    EXPECT_EQ(other.err, "1 archivo de otra cuenta espera a que esa cuenta vuelva a entrar.\n");
    EXPECT_FALSE(other.out.contains("left.wav")) << other.out.toStdString();
    EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), 1u);
    EXPECT_EQ(keysIn(server(), "zafrel-otra"), QStringList{"otra-productora/Cuentas/theirs.wav"});
    EXPECT_TRUE(server().storeRequests("PUT", "/left.wav").empty());
    const QString listed = runProgram(home.environment(), {"--pendientes"}).out;
    EXPECT_TRUE(listed.startsWith("pendiente\t1000\t" + left + "\tCuentas/left.wav\tdemo@zafrel.test (demo-films)\n"))
        << listed.toStdString();
    EXPECT_EQ(runProgram(home.environment(), {"--olvidar"}).out,
              "No hay archivos pendientes.\n1 archivo de otra cuenta espera a que esa cuenta vuelva a entrar; no se tocan.\n");

    server().reset();
    const ProgramResult back = uploadAs(kDemoEmail, kDemoPassword, left);
    EXPECT_EQ(back.exitCode, 0) << back.out.toStdString() << back.err.toStdString();
    EXPECT_EQ(reportLine(back.out, "Cuentas/left.wav"), "OK verificado\t1000\tCuentas/left.wav");
    EXPECT_EQ(back.out.count("left.wav"), 1) << "the file must not be queued twice";
    EXPECT_EQ(storedMd5("Cuentas/left.wav"), leftMd5);
    EXPECT_EQ(keysIn(server(), "zafrel-otra"), QStringList{"otra-productora/Cuentas/theirs.wav"});
}

// Waits until the stand-in holds a request of `path` that it has not answered yet.
bool waitUntilUnanswered(DevServerProcess& server, const std::string& path)
{
    for (QDeadlineTimer deadline(std::chrono::seconds(30)); !deadline.hasExpired(); QThread::msleep(20))
        for (const auto& request : server.requests())
            if (request.value("path", "") == path && request.contains("status") && request["status"].is_null())
                return true;
    return false;
}

// The password reaches the service from the environment, typed at the terminal's prompt (without
// echo) or from the command line; the process's command line, which every account of the machine
// can read, never shows it while the run lasts.
TEST_F(CommandLineEndToEnd, ThePasswordSignsInWithoutShowingInTheCommandLine)
{
    enum class From { Environment, Terminal, Argument };
    for (const From from : {From::Environment, From::Terminal, From::Argument}) {
        SCOPED_TRACE(int(from));
        server().reset();
        // The session check is held back a moment, to look at the program while it runs.
        server().addFault({{"server", "service"}, {"pathContains", "/api/me"}, {"action", "delay"}, {"ms", 1000}});
        ProgramHome home;
        QProcessEnvironment environment = home.environment();
        QStringList arguments{"--server", server().serviceURL(), "--login", kDemoEmail};
        if (from == From::Environment)
            environment.insert("ZAFREL_PASSWORD", kDemoPassword);
        if (from == From::Argument)
            arguments << kDemoPassword;

        TerminalRun run(environment, arguments << "--upload");
        ASSERT_TRUE(waitUntilUnanswered(server(), "/api/me"));
        EXPECT_TRUE(run.commandLine().contains(kDemoEmail)) << run.commandLine().toStdString();
        EXPECT_FALSE(run.commandLine().contains(kDemoPassword)) << run.commandLine().toStdString();
        if (from == From::Terminal) {
            ASSERT_TRUE(run.waitFor("Contraseña: ")) << run.output().toStdString();
            run.type(kDemoPassword + "\n");
        }
        EXPECT_EQ(run.finish(), 0) << run.output().toStdString();
        EXPECT_FALSE(run.output().contains(kDemoPassword)) << run.output().toStdString();
        EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), 1u);
    }
}

// The progress line is drawn on the terminal and erased before the report; standard output (here a
// file, as a DIT's script keeps it) holds only the report.
TEST_F(CommandLineEndToEnd, ProgressIsDrawnOnTheTerminalOnly)
{
    const QString path = files_.filePath("C0001.MXF");
    writeFile(path, 600'000);
    ProgramHome home;
    const QString report = home.path() + "/salida.txt";
    TerminalRun terminal(home.environment(), QStringList{"--limite", "500K"} + uploadArguments({path}, "Progreso/"), report);
    EXPECT_EQ(terminal.finish(), 0) << terminal.output().toStdString();
    const QString shown = terminal.output(), out = QString::fromUtf8(fileBytes(report));
    EXPECT_TRUE(shown.contains("\r0 de 1 archivo · ") && shown.endsWith("\r\x1b[K")) << shown.toStdString();
    EXPECT_EQ(reportLine(out, "Progreso/C0001.MXF"), "OK verificado\t600000\tProgreso/C0001.MXF");
    EXPECT_FALSE(out.contains(" de 1 archivo") || out.contains('\r') || out.contains("\x1b")) << out.toStdString();
}

}  // namespace
}  // namespace zafrel::test
