// The command line as crews and scripts use it, and what a person at a terminal sees.
#include "e2e_fixture.h"

#include <QDeadlineTimer>
#include <QThread>

namespace zafrel::test {
namespace {

using CommandLineEndToEnd = EndToEndTest;

// Help and version answer; a refused option or sign-in ends with code 2 before anything is uploaded,
// saying why on standard error, and a password bound for plain http to another machine is warned of.
TEST_F(CommandLineEndToEnd, RunsThatEndBeforeAnythingIsSent)
{
    const QString path = files_.filePath("X.MXF");
    writeFile(path, 1000);
    const QString url = server().serviceURL();
    const QString unencrypted = "aviso: la conexión con 0.0.0.0:1 no está cifrada (http://) y la contraseña o la sesión "
                                "viajarán legibles por la red; usa una dirección https:// en --server.\n";
    const QString badDest = "La carpeta de destino «%1» no vale: %2. Escribe una ruta dentro del almacenamiento, como "
                            "--dest Dia04/ o --dest Rodaje/Dia04/.\n";
    const QString badRate = "--limite «%1» no es una velocidad: escribe el número con su unidad, en bytes por segundo "
                            "(50M = 50 MB/s, 800K = 800 KB/s) o en bits (100Mbit = 100 megabits/s); sin --limite no hay "
                            "límite.\n";
    const QString unreachable = "No se pudo conectar con el servidor 0.0.0.0:1 (*";
    const auto withDest = [&](const QString& dest) {
        return QStringList{"--server", url, "--login", kDemoEmail, kDemoPassword, "--dest", dest, "--upload", path};
    };
    const struct {
        QStringList arguments;
        int exitCode;
        QString out;   // ending with "*": its start
        QString err;   // the same
        size_t logins;
    } cases[] = {
        {{"--help"}, 0, "Uso: zafrel [OPCIONES] --upload RUTA...*", "", 0},
        {{"--version"}, 0, "zafrel " ZAFREL_VERSION "\n", "", 0},
        {uploadArguments({path}, "D/") + QStringList{"--dset", "D"}, 2, "", "Opción desconocida: --dset\n", 0},
        {{"--upload", path, "--login", "a@b.c", "--MiClave"}, 2, "",
         "Opción desconocida: (lo que sigue al correo de --login, que no se muestra por si es una contraseña)\n", 0},
        {{"--server", url, "--login", kDemoEmail, kDemoPassword}, 2, "Uso: zafrel [OPCIONES] --upload RUTA...*", "", 0},
        // A value missing at the end, or before another option, is never a default.
        {uploadArguments({path}, "D/") + QStringList{"--dest"}, 2, "", "Falta el valor de --dest; por ejemplo: --dest Dia04/\n", 0},
        {uploadArguments({path}, "D/") + QStringList{"--server"}, 2, "",
         "Falta el valor de --server; por ejemplo: --server https://upload.productora.es\n", 0},
        {{"--upload", path, "--login"}, 2, "", "Falta el valor de --login; por ejemplo: --login ana@productora.es\n", 0},
        {{"--limite", "--upload", path}, 2, "", "Falta el valor de --limite; por ejemplo: --limite 50M\n", 0},
        // Destinations the store would not hold as written.
        {withDest("/abs/"), 2, "", badDest.arg("/abs/", "empieza por «/»"), 0},
        {withDest("../x"), 2, "", badDest.arg("../x", "tiene un paso «..»"), 0},
        {withDest("Dia01/./B"), 2, "", badDest.arg("Dia01/./B", "tiene un paso «.»"), 0},
        {withDest("Dia01//B"), 2, "", badDest.arg("Dia01//B", "tiene dos «/» seguidas"), 0},
        {withDest(""), 2, "", badDest.arg("", "está vacía (para la carpeta superior, omite --dest)"), 0},
        {withDest("Dia\x1b[2J01"), 2, "", badDest.arg("Dia [2J01", "tiene caracteres de control"), 0},
        // A rate refused (which ones: the options' own tests) stops the run.
        {QStringList{"--limite", "0M"} + uploadArguments({path}, "D/"), 2, "", badRate.arg("0M"), 0},
        {{"--server", "ftp://x", "--upload", path}, 2, "",
         "--server «ftp://x» no es una dirección http:// o https://; por ejemplo: --server https://upload.productora.es\n", 0},
        // Signing in: what is missing or refused, in words that say what to do.
        {{"--server", url, "--upload", path}, 2, "",
         "No hay sesión: entra con --login EMAIL (la contraseña se pide en la terminal o se toma de ZAFREL_PASSWORD); no "
         "se ha enviado nada.\n",
         0},
        {{"--server", url, "--upload", "--login", kDemoEmail}, 2, "",
         "No hay contraseña: define ZAFREL_PASSWORD o ejecuta en una terminal\n", 0},
        {{"--server", url, "--login", kDemoEmail, "no-es-esta", "--upload", path}, 2, "",
         "El servicio no aceptó el correo " + kDemoEmail + " con esa contraseña: revisa los dos.\n", 1},
        {{"--server", "https://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, 2, "", unreachable, 0},
        // Plain http: said once, whether a password or the stored session would go out.
        {{"--server", "http://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, 2, "", unencrypted + unreachable, 0},
        {{"--server", "http://0.0.0.0:1", "--upload", path}, 2, "", unencrypted + unreachable, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        server().reset();
        const ProgramResult run = runProgram(ProgramHome().environment(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        for (const auto& [shown, wanted] : {std::pair{run.out, c.out}, std::pair{run.err, c.err}}) {
            if (wanted.endsWith('*'))
                EXPECT_TRUE(shown.startsWith(wanted.chopped(1)) && shown.size() > wanted.size()) << shown.toStdString();
            else
                EXPECT_EQ(shown, wanted);
        }
        EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), c.logins);
        EXPECT_TRUE(server().storeRequests("PUT", "").empty());
    }
}

// Two companies' accounts share a data folder. demo@'s session ends at each upload start: the run
// signs in again once, then stops with 2 and the file paused, which later runs of demo@ report (1).
// otra@'s run neither shows, sends nor forgets it; demo@ signed in again sends it to its own bucket.
TEST_F(CommandLineEndToEnd, PendingFilesStayWithTheAccountTheyWereQueuedUnder)
{
    ProgramHome home;
    const QString left = files_.filePath("P/left.wav"), mine = files_.filePath("Q/mine.wav"),
                  theirs = files_.filePath("R/theirs.wav");
    const std::string leftMd5 = writeFile(left, 1000, 41);
    writeFile(mine, 2000, 42);
    const nlohmann::json otherBucket = nlohmann::json::array(
        {{{"key", "otra-productora/Cuentas/theirs.wav"}, {"size", 3000}, {"md5", writeFile(theirs, 3000, 43)}}});
    const auto uploadAs = [&](const QString& email, const QString& password, const QString& path) {
        return runProgram(home.environment(), {"--server", server().serviceURL(), "--dest", "Cuentas/", "--login", email,
                                               password, "--upload", path});
    };
    server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"count", 2}, {"action", "logout"}});
    const ProgramResult first = uploadAs(kDemoEmail, kDemoPassword, left);
    ASSERT_EQ(first.exitCode, 2) << first.out.toStdString();
    ASSERT_EQ(reportLine(first.out, "Cuentas/left.wav"), "paused\t1000\tCuentas/left.wav");
    EXPECT_TRUE(first.err.startsWith("Sesión caducada.")) << first.err.toStdString();
    EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), 2u);

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
    EXPECT_EQ(server().objects("zafrel-otra"), otherBucket);
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
    EXPECT_EQ(server().objects("zafrel-otra"), otherBucket);
}

// Waits until the stand-in holds a request whose path ends with `path` that it has not answered yet.
bool waitUntilUnanswered(DevServerProcess& server, const std::string& path)
{
    for (QDeadlineTimer deadline(std::chrono::seconds(30)); !deadline.hasExpired(); QThread::msleep(20))
        for (const auto& request : server.requests())
            if (request.value("path", "").ends_with(path) && request.contains("status") && request["status"].is_null())
                return true;
    return false;
}

// The password from the environment, the terminal (one typed wrong is asked for once more, a second
// ends with 2) or the arguments; the command line, which every account can read, never shows it.
TEST_F(CommandLineEndToEnd, ThePasswordSignsInWithoutShowingInTheCommandLine)
{
    enum class From { Environment, Terminal, TerminalWrongTwice, Argument };
    for (const From from : {From::Environment, From::Terminal, From::TerminalWrongTwice, From::Argument}) {
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
        const bool typed = from == From::Terminal || from == From::TerminalWrongTwice;
        if (typed) {
            ASSERT_TRUE(run.waitFor("Contraseña: ")) << run.output().toStdString();
            run.type("no-es-esta\n");
            ASSERT_TRUE(run.waitFor("con esa contraseña: revisa los dos. Vuelve a escribir la contraseña.\r\nContraseña: "))
                << run.output().toStdString();
            run.type(from == From::Terminal ? kDemoPassword + "\n" : "tampoco\n");
        }
        EXPECT_EQ(run.finish(), from == From::TerminalWrongTwice ? 2 : 0) << run.output().toStdString();
        EXPECT_FALSE(run.output().contains(kDemoPassword)) << run.output().toStdString();
        EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), typed ? 2u : 1u);
    }
}

// With --json every outcome is one JSON document on standard output, with the exit code and the
// message (a run's report in JSON is checked with the uploads).
TEST_F(CommandLineEndToEnd, EveryOutcomeIsOneJsonDocument)
{
    const QString path = files_.filePath("J/C0001.MXF");
    writeFile(path, 2000);
    const struct {
        QStringList arguments;
        int exitCode;
        QString error;   // its start; empty: null or absent
    } cases[] = {
        {uploadArguments({path}, "J/") + QStringList{"--dest"}, 2, "Falta el valor de --dest"},
        {{"--server", server().serviceURL(), "--login", kDemoEmail, "mala", "--upload", path}, 2,
         "El servicio no aceptó el correo"},
        {{"--server", "http://127.0.0.1:1", "--upload", path}, 2, "No se pudo conectar con el servidor"},
        {{"--pendientes"}, 0, ""},
        {{"--dest", "D/"}, 2, "Nada que hacer: usa --upload"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ProgramResult run = runProgram(ProgramHome().environment(), c.arguments + QStringList{"--json"});
        EXPECT_EQ(run.exitCode, c.exitCode);
        const auto document = nlohmann::json::parse(run.out.toStdString(), nullptr, false);
        ASSERT_TRUE(document.is_object()) << run.out.toStdString();
        EXPECT_EQ(document.value("exitCode", -1), c.exitCode);
        const auto error = document.value("error", nlohmann::json());
        EXPECT_EQ(error.is_string(), !c.error.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(!error.is_string() || QString::fromStdString(error.get<std::string>()).startsWith(c.error)) << error;
    }
}

// Ctrl-C or SIGTERM mid-run pauses the file in flight (nothing aborted at the service) and ends with
// 130 or 143 and the report; the same command sends it. The progress line goes to the terminal only:
// standard output (a file here, as a DIT's script keeps it) holds only the report.
TEST_F(CommandLineEndToEnd, AnInterruptedRunReportsAndTheSameCommandFinishes)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        server().reset();
        const QString path = files_.filePath(QStringLiteral("I%1/C0001.MXF").arg(signal));
        const QString dest = QStringLiteral("Corte%1/").arg(signal);
        writeFile(path, 600'000);
        server().addFault({{"server", "store"}, {"method", "PUT"}, {"pathContains", "C0001.MXF"}, {"action", "delay"}, {"ms", 60000}});
        ProgramHome home;
        const QString report = home.path() + "/salida.txt";
        const QStringList arguments = QStringList{"--limite", "500K"} + uploadArguments({path}, dest);
        {
            TerminalRun terminal(home.environment(), arguments, report);
            ASSERT_TRUE(waitUntilUnanswered(server(), "/C0001.MXF"));
            ASSERT_TRUE(terminal.waitFor("\r0 de 1 archivo · ")) << terminal.output().toStdString();
            terminal.signal(signal);
            EXPECT_EQ(terminal.finish(), 128 + signal) << terminal.output().toStdString();
            EXPECT_TRUE(terminal.output().contains("\r\x1b[KInterrumpido. Los archivos quedan pendientes"))
                << terminal.output().toStdString();
        }
        EXPECT_EQ(reportLine(QString::fromUtf8(fileBytes(report)), dest + "C0001.MXF"), "paused\t600000\t" + dest + "C0001.MXF");
        EXPECT_TRUE(server().serviceRequests("POST", "/api/upload/abort").empty());
        const auto queued = nlohmann::json::parse(runProgram(home.environment(), {"--pendientes", "--json"}).out.toStdString());
        EXPECT_EQ(queued.value("paused", 0), 1) << queued.dump();
        server().reset();
        TerminalRun again(home.environment(), arguments, report);
        EXPECT_EQ(again.finish(), 0) << again.output().toStdString();
        EXPECT_TRUE(again.output().endsWith("\r\x1b[K")) << again.output().toStdString();
        const QString out = QString::fromUtf8(fileBytes(report));
        EXPECT_EQ(reportLine(out, dest + "C0001.MXF"), "OK verificado\t600000\t" + dest + "C0001.MXF");
        EXPECT_FALSE(out.contains(" de 1 archivo") || out.contains('\r') || out.contains("\x1b")) << out.toStdString();
    }
}

// "--simular" tells what would be sent or skipped and why, "--comprobar" whether each file is at the
// destination (size, and MD5 where recorded); neither sends anything.
TEST_F(CommandLineEndToEnd, ADryRunAndACheckSendNothing)
{
    const QString day = files_.filePath("Sim/Dia"), otherCamera = files_.filePath("Otra/Dia");
    writeFile(day + "/C0001.MXF", 1000, 1);
    writeFile(day + "/C0002.MXF", 2000, 2);
    writeFile(otherCamera + "/C0001.MXF", 1000, 5);
    ProgramHome home;
    ASSERT_EQ(upload(home, {day}, "Sim/").exitCode, 0);
    writeFile(day + "/C0002.MXF", 2500, 3);
    writeFile(day + "/C0003.MXF", 300, 4);
    server().reset();
    const auto run = [&](const QString& mode, const QStringList& paths) {
        return runProgram(home.environment(), QStringList{"--dest", "Sim/", mode} + paths);
    };
    const struct {
        QString mode;
        int exitCode;
        QString out;
    } cases[] = {
        {"--simular", 1,
         "se salta\t1000\tSim/Dia/C0001.MXF\tya existía (subido desde este mismo archivo)\n"
         "enviar\t2500\tSim/Dia/C0002.MXF\treemplaza el que hay, de 2000 bytes\n"
         "enviar\t300\tSim/Dia/C0003.MXF\n"
         "ERROR\t1000\tSim/Dia/C0001.MXF\tYa hay otro archivo con ese nombre en el destino (de 1000 bytes); --reemplazar "
         "lo sustituye\n\n"
         "Se enviarían 2 archivos (3 KB); se saltarían 1 (1 KB); 1 chocarían con otro archivo del mismo nombre. No se "
         "ha enviado nada.\n"},
        {"--comprobar", 1,
         "OK\t1000\tSim/Dia/C0001.MXF\tmismo MD5\nDISTINTO\t2500\tSim/Dia/C0002.MXF\ten el destino tiene 2000 bytes\n"
         "FALTA\t300\tSim/Dia/C0003.MXF\nDISTINTO\t1000\tSim/Dia/C0001.MXF\totro contenido: su MD5 no es el del archivo "
         "subido\n\n1 de 4 archivos están en el destino con el mismo tamaño; 2 comprobados también por su MD5.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode.toStdString());
        const ProgramResult checked = run(c.mode, {day, otherCamera});
        EXPECT_EQ(checked.exitCode, c.exitCode) << checked.err.toStdString();
        EXPECT_EQ(checked.out, c.out);
    }
    const auto document = nlohmann::json::parse(runProgram(home.environment(), {"--comprobar", "--json", "--dest", "Sim/", day}).out.toStdString());
    EXPECT_EQ(document["exitCode"], 1);
    EXPECT_EQ(document["totals"]["there"], 1);
    EXPECT_EQ(document["items"][1]["destinationSize"], 2000);
    EXPECT_TRUE(server().serviceRequests("POST", "/api/upload/init").empty());
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());

    ASSERT_EQ(upload(home, {day}, "Sim/").exitCode, 0);
    EXPECT_EQ(run("--comprobar", {day}).exitCode, 0);
}

// Without a home or a data folder it can make, nothing is written anywhere; a "--server" is kept
// for later runs only once a sign-in there worked.
TEST_F(CommandLineEndToEnd, TheNamedServerOrNothing)
{
    const QString path = files_.filePath("H/C0001.MXF");
    writeFile(path, 1000);
    ProgramHome home;
    QFile(home.path() + "/archivo").open(QIODevice::WriteOnly);
    const auto without = [&](QStringList names, std::pair<QString, QString> set = {}) {
        QProcessEnvironment environment = home.environment();
        for (const QString& name : names)
            environment.remove(name);
        if (!set.first.isEmpty())
            environment.insert(set.first, set.second);
        return environment;
    };
    const QString noHome = "HOME no está definida: no hay dónde guardar la sesión, la cola y los ajustes. Define HOME "
                           "con tu carpeta personal (o XDG_CONFIG_HOME y XDG_DATA_HOME) y vuelve a ejecutar.\n";
    const QString file = home.path() + "/archivo", data = file + "/data";
    const std::pair<QProcessEnvironment, QString> cases[] = {   // the error, or its start
        {without({"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}), noHome},
        {without({"XDG_CONFIG_HOME"}, {"HOME", ""}), noHome},
        {without({"XDG_DATA_HOME"}, {"HOME", file}), "HOME («" + file + "») no es una carpeta"},
        {without({}, {"XDG_DATA_HOME", data}), "No se puede crear la carpeta de datos «" + data + "/Zafrel»"},
    };
    for (const auto& [environment, error] : cases) {
        const ProgramResult run = runProgram(environment, uploadArguments({path}, "H/"));
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith(error)) << run.err.toStdString();
        EXPECT_TRUE(server().serviceRequests("POST", "/api/login").empty());
        EXPECT_FALSE(QFileInfo::exists("/.config/Zafrel") || QFileInfo::exists("/.local/share/Zafrel"));
    }

    // The settings' folder cannot be made: the run still signs in where it was told, and says so.
    const ProgramResult unstored =
        runProgram(without({}, {"XDG_CONFIG_HOME", home.path() + "/archivo/config"}), uploadArguments({path}, "H/"));
    EXPECT_EQ(unstored.exitCode, 0) << unstored.out.toStdString() << unstored.err.toStdString();
    EXPECT_TRUE(unstored.err.startsWith("No se pudieron guardar los ajustes")) << unstored.err.toStdString();
    EXPECT_EQ(server().serviceRequests("POST", "/api/login").size(), 1u);

    // A server where the sign-in fails is not kept; one where it works is.
    const QString settingsFile = home.path() + "/config/Zafrel/Zafrel.conf";
    EXPECT_EQ(runProgram(home.environment(), {"--server", "http://127.0.0.1:1", "--upload", path}).exitCode, 2);
    EXPECT_FALSE(fileBytes(settingsFile).contains("127.0.0.1:1"));
    EXPECT_EQ(upload(home, {path}, "H/").exitCode, 0);
    EXPECT_TRUE(fileBytes(settingsFile).contains(server().serviceURL().toUtf8()));

    // The session is stored, the service cannot be reached: the run says so, not that there is no session.
    server().addFault({{"server", "service"}, {"pathContains", "/api/me"}, {"action", "reset"}});
    const ProgramResult unreachable = runProgram(home.environment(), {"--upload", path});
    EXPECT_EQ(unreachable.exitCode, 2);
    EXPECT_TRUE(unreachable.err.startsWith("No se pudo conectar con el servidor 127.0.0.1:")) << unreachable.err.toStdString();
}

}  // namespace
}  // namespace zafrel::test
