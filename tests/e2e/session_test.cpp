// Signing in from the command line: the stored session, "--login", "--server", and the two ways a
// run ends with code 2 before anything is uploaded.
#include "e2e_fixture.h"

#include "support/terminal_run.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QThread>

namespace zafrel::test {
namespace {

using SessionEndToEnd = EndToEndTest;

int serviceRequests(DevServerProcess& server, const std::string& path)
{
    int n = 0;
    for (const auto& request : server.requests())
        if (request.value("server", "") == "service" && request.value("path", "") == path)
            ++n;
    return n;
}

// Waits until the stand-in holds a request of `path` that it has not answered yet.
bool waitUntilUnanswered(DevServerProcess& server, const std::string& path)
{
    QDeadlineTimer deadline(std::chrono::seconds(30));
    while (!deadline.hasExpired()) {
        for (const auto& request : server.requests()) {
            const auto status = request.find("status");
            if (request.value("path", "") == path && status != request.end() && status->is_null())
                return true;
        }
        QThread::msleep(20);
    }
    return false;
}

QString storedServer(const ProgramHome& home)
{
    return QSettings(home.settingsFile(), QSettings::IniFormat).value("serverURL").toString();
}

// Each way a run ends with code 2 before anything is sent: no session and no credentials, "--login"
// with one value, a wrong password, a server out of reach. Before the password leaves for a server
// that is neither encrypted nor this machine, one line on standard error says so.
TEST_F(SessionEndToEnd, ARunThatCannotSignInEndsWithCodeTwoAndSendsNothing)
{
    writeFile(files_.filePath("X.MXF"), 1000);
    const QString unencrypted = "aviso: la conexión con 0.0.0.0:1 no está cifrada (http://) y la contraseña viajará legible "
                                "por la red; usa una dirección https:// en --server.\n";
    const struct {
        QStringList arguments;
        QString out;   // ending with "*": its start
        QString err;
    } cases[] = {
        {uploadArguments({files_.filePath("X.MXF")}, "S/", false), "sin sesión: usa --login email pass\n", ""},
        {{"--server", server().serviceURL(), "--upload", "--login", kDemoEmail}, "sin sesión: usa --login email pass\n", ""},
        {{"--server", server().serviceURL(), "--login", kDemoEmail, "no-es-esta", "--upload"}, "login: auth\n", ""},
        {{"--server", "http://127.0.0.1:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, "login: *", ""},
        {{"--server", "https://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, "login: *", ""},
        {{"--server", "http://0.0.0.0:1", "--login", kDemoEmail, kDemoPassword, "--upload"}, "login: *", unencrypted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        server().reset();
        ProgramHome home;
        const ProgramResult run = runProgram(home, c.arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 2);
        if (c.out.endsWith('*')) {
            EXPECT_TRUE(run.out.startsWith(c.out.chopped(1))) << run.out.toStdString();
            EXPECT_GT(run.out.size(), c.out.size() + 1);
            EXPECT_EQ(run.out.count(u'\n'), 1);
            EXPECT_TRUE(run.out.endsWith('\n'));
        } else {
            EXPECT_EQ(run.out, c.out);
        }
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(serviceRequests(server(), "/api/login"), c.out.startsWith("login: auth") ? 1 : 0);
        EXPECT_TRUE(server().storeRequests("PUT", "").empty());
    }
}

// The password reaches the service from the environment, typed at the terminal's prompt (without
// echo) or from the command line; the process's command line, which every account of the machine
// can read, never shows it while the run lasts.
TEST_F(SessionEndToEnd, ThePasswordSignsInWithoutShowingInTheCommandLine)
{
    enum class From { Environment, Terminal, Argument };
    for (const From from : {From::Environment, From::Terminal, From::Argument}) {
        SCOPED_TRACE(int(from));
        server().reset();
        // The session check is held back a moment, to look at the program while it runs.
        server().addFault({{"server", "service"}, {"method", "GET"}, {"pathContains", "/api/me"}, {"action", "delay"},
                           {"ms", 2000}});
        ProgramHome home;
        QProcessEnvironment environment = home.environment();
        QStringList arguments{"--server", server().serviceURL(), "--login", kDemoEmail};
        if (from == From::Environment)
            environment.insert("ZAFREL_PASSWORD", kDemoPassword);
        if (from == From::Argument)
            arguments << kDemoPassword;
        arguments << "--upload";

        TerminalRun run(environment, arguments);
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(waitUntilUnanswered(server(), "/api/me"));
        EXPECT_TRUE(run.commandLine().contains(kDemoEmail)) << run.commandLine().toStdString();
        EXPECT_FALSE(run.commandLine().contains(kDemoPassword)) << run.commandLine().toStdString();
        if (from == From::Terminal) {
            ASSERT_TRUE(run.waitFor("Contraseña: ")) << run.output().toStdString();
            run.type(kDemoPassword + "\n");
        }
        EXPECT_EQ(run.finish(), 0) << run.output().toStdString();
        EXPECT_FALSE(run.output().contains(kDemoPassword)) << run.output().toStdString();
        EXPECT_EQ(serviceRequests(server(), "/api/login"), 1);
    }
}

TEST_F(SessionEndToEnd, ServerAndSessionAreKeptForLaterRuns)
{
    ProgramHome home;
    const ProgramResult first = upload(home, {}, QString());
    ASSERT_TRUE(first.finished);
    ASSERT_EQ(first.exitCode, 0) << first.out.toStdString();
    EXPECT_EQ(storedServer(home), server().serviceURL());
    // The session cookie and the queue are kept where only this account can look.
    const auto shared = QFile::permissions(home.path() + "/data/Zafrel")
                      & (QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    EXPECT_EQ(shared.toInt(), 0);

    // No "--server", no credentials: the stored origin and the stored session cookie do it. A
    // "--server" without a value stores nothing.
    writeFile(files_.filePath("Y.MXF"), 2000, 21);
    server().reset();
    const ProgramResult second = runProgram(home, {"--upload", files_.filePath("Y.MXF"), "--server"});
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0) << second.out.toStdString();
    EXPECT_EQ(reportLine(second.out, "Y.MXF"), "OK verificado\t2000\tY.MXF");
    EXPECT_EQ(storedServer(home), server().serviceURL());
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);

    // A valid session makes wrong credentials irrelevant: they are never sent.
    server().reset();
    const ProgramResult third =
        runProgram(home, {"--login", kDemoEmail, "no-es-esta", "--upload", files_.filePath("Y.MXF")});
    ASSERT_TRUE(third.finished);
    EXPECT_EQ(third.exitCode, 0) << third.out.toStdString();
    EXPECT_EQ(reportLine(third.out, "Y.MXF"), "ya existía\t2000\tY.MXF");
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);
}

// On a full disk (here: every file write fails, as under "ulimit -f 0") the values given for the
// run still hold for the whole run: it signs in where "--server" says, not at the stored server,
// and uploads to "--dest". The settings and queue files keep their old content, and each failure
// is said once on standard error.
TEST_F(SessionEndToEnd, GivenValuesHoldOnAFullDiskAndTheOldFilesStay)
{
    ProgramHome home;
    const QByteArray settings = "[General]\ndestDir=Antes/\nemail=ana@example.com\nserverURL=http://127.0.0.1:9\n";
    writeFile(home.settingsFile(), 0);
    writeFile(home.queueFile(), 0);
    for (const auto& [path, bytes] : {std::pair{home.settingsFile(), settings}, {home.queueFile(), QByteArray("[ ]")}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    writeFile(files_.filePath("Lleno.MXF"), 3000, 51);

    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.start("sh", QStringList{"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", programPath()}
                            + uploadArguments({files_.filePath("Lleno.MXF")}, "Dia05"));
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 0) << out.toStdString() << err.toStdString();
    EXPECT_EQ(reportLine(out, "Dia05/Lleno.MXF"), "OK verificado\t3000\tDia05/Lleno.MXF") << out.toStdString();
    EXPECT_EQ(err.count("No se pudieron guardar los ajustes en " + home.settingsFile()), 1) << err.toStdString();
    EXPECT_EQ(err.count("No se pudo guardar la cola en " + home.queueFile()), 1) << err.toStdString();
    EXPECT_EQ(fileBytes(home.settingsFile()), settings);
    EXPECT_EQ(fileBytes(home.queueFile()), "[ ]");
}

// The service ends the session while files go up (its 6th upload start answers 401). Without
// "--login" the run stops with code 2 and its files paused; the same command with "--login" signs
// in again, once, and finishes; no file is accepted twice by the store over all the runs.
TEST_F(SessionEndToEnd, ASessionEndedMidRunPausesOrSignsInAgainWithLogin)
{
    ProgramHome home;
    const QString card = files_.filePath("CARD");
    QStringList names;
    for (int i = 1; i <= 12; ++i) {
        names << QStringLiteral("Sesion/CARD/S%1.MXF").arg(i, 2, 10, QChar(u'0'));
        writeFile(card + QStringLiteral("/S%1.MXF").arg(i, 2, 10, QChar(u'0')), 20'000 + i, quint32(i));
    }
    const auto endSessionAtUploadStart = [&](int skip) {
        server().addFault({{"server", "service"}, {"pathContains", "/api/upload/init"}, {"skip", skip},
                           {"action", "logout"}});
    };
    // Signed in once by an empty run; the stored session carries the next one.
    ASSERT_EQ(upload(home, {}, QString()).exitCode, 0);
    endSessionAtUploadStart(5);
    const ProgramResult withoutLogin = runProgram(home, uploadArguments({card}, "Sesion/", false));
    ASSERT_TRUE(withoutLogin.finished);
    EXPECT_EQ(withoutLogin.exitCode, 2) << withoutLogin.out.toStdString();
    EXPECT_TRUE(withoutLogin.err.startsWith("Sesión caducada.")) << withoutLogin.err.toStdString();
    EXPECT_FALSE(withoutLogin.out.contains("ERROR")) << withoutLogin.out.toStdString();
    EXPECT_TRUE(reportLine(withoutLogin.out, names.last()).startsWith("paused\t")) << withoutLogin.out.toStdString();

    // The password is taken once, from the command line, when the session ends again mid-run.
    endSessionAtUploadStart(2);
    const ProgramResult withLogin = upload(home, {card}, "Sesion/");
    ASSERT_TRUE(withLogin.finished);
    EXPECT_EQ(withLogin.exitCode, 0) << withLogin.out.toStdString() << withLogin.err.toStdString();
    EXPECT_TRUE(withLogin.out.contains(", 0 errores, ")) << withLogin.out.toStdString();
    // The empty run's, this run's start (the session the last run lost) and the renewal.
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 3);
    for (const QString& name : names) {
        // A PUT stopped by the pause after its body went through is stored without an answer;
        // the next run then finds the file there.
        EXPECT_LE(storedPuts(name).size(), 1u) << name.toStdString();
        EXPECT_TRUE(storedObject(name).has_value()) << name.toStdString();
    }
}

TEST_F(SessionEndToEnd, WithoutUploadTheOptionsAreIgnored)
{
    ProgramHome home;
    const ProgramResult run = runProgram(home, {"--server", server().serviceURL(), "--login", kDemoEmail, kDemoPassword});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.out.startsWith("Uso: zafrel [OPCIONES] --upload RUTA...")) << run.out.toStdString();
    EXPECT_FALSE(QFile::exists(home.settingsFile()));
    EXPECT_EQ(serviceRequests(server(), "/api/me"), 0);
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);
}

}  // namespace
}  // namespace zafrel::test
