// Signing in from the command line: the stored session, "--login", "--server", and the two ways a
// run ends with code 2 before anything is uploaded.
#include "e2e_fixture.h"

#include <QSettings>

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

QString storedServer(const ProgramHome& home)
{
    return QSettings(home.settingsFile(), QSettings::IniFormat).value("serverURL").toString();
}

TEST_F(SessionEndToEnd, WithoutSessionOrCredentialsNothingIsUploaded)
{
    ProgramHome home;
    writeFile(files_.filePath("X.MXF"), 1000);
    const ProgramResult run = runProgram(home, uploadArguments({files_.filePath("X.MXF")}, "S/", false));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "sin sesión: usa --login email pass\n");
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);
    EXPECT_TRUE(server().storeRequests("PUT", "").empty());
}

TEST_F(SessionEndToEnd, LoginWithOnlyOneValueIsNoLogin)
{
    ProgramHome home;
    const ProgramResult run = runProgram(home, {"--server", server().serviceURL(), "--upload", "--login", kDemoEmail});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "sin sesión: usa --login email pass\n");
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);
}

TEST_F(SessionEndToEnd, WrongPasswordPrintsTheDiagnostic)
{
    ProgramHome home;
    const ProgramResult run =
        runProgram(home, {"--server", server().serviceURL(), "--login", kDemoEmail, "no-es-esta", "--upload"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "login: auth\n");
}

TEST_F(SessionEndToEnd, UnreachableServerPrintsTheTransportError)
{
    ProgramHome home;
    const ProgramResult run = runProgram(home, {"--server", "http://127.0.0.1:1", "--login", kDemoEmail, kDemoPassword, "--upload"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.out.startsWith("login: ")) << run.out.toStdString();
    EXPECT_GT(run.out.size(), QString("login: \n").size());
    EXPECT_TRUE(run.out.endsWith("\n"));
    EXPECT_EQ(run.out.count(u'\n'), 1);
}

TEST_F(SessionEndToEnd, ServerAndSessionAreKeptForLaterRuns)
{
    ProgramHome home;
    const ProgramResult first = upload(home, {}, QString());
    ASSERT_TRUE(first.finished);
    ASSERT_EQ(first.exitCode, 0) << first.out.toStdString();
    EXPECT_EQ(storedServer(home), server().serviceURL());

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

TEST_F(SessionEndToEnd, WithoutUploadTheOptionsAreIgnored)
{
    ProgramHome home;
    const ProgramResult run = runProgram(home, {"--server", server().serviceURL(), "--login", kDemoEmail, kDemoPassword});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.out.startsWith("Uso: zafrel --upload")) << run.out.toStdString();
    EXPECT_FALSE(QFile::exists(home.settingsFile()));
    EXPECT_EQ(serviceRequests(server(), "/api/me"), 0);
    EXPECT_EQ(serviceRequests(server(), "/api/login"), 0);
}

}  // namespace
}  // namespace zafrel::test
