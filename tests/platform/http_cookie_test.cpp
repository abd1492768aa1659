// The service session's cookies: kept in memory for every later request, written to the jar file
// (mode 0600) when they carry an expiry, read back by the next session; none at all for uploads.
#include "platform/cookie_jar.h"
#include "platform/http.h"
#include "platform/paths.h"
#include "support/async_wait.h"
#include "support/http_test_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <mutex>

#include <sys/stat.h>

using namespace zafrel;
using namespace std::chrono_literals;
using test::awaitTask;
using test::TestHttpServer;

namespace {

// "/login" sets a cookie with Max-Age, one with Expires and a session cookie; "/logout" removes
// the Max-Age one; "/whoami" reports the Cookie header it received ("" when none).
class HttpCookieTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        jarPath = test::sandboxDir() + "/jar-" + QString::fromStdString(
                      ::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".txt";
        QFile::remove(jarPath);
        auto& s = server.server();
        s.Post("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=abc123; Max-Age=86400; Path=/; HttpOnly");
            res.set_header("Set-Cookie", "lang=es; Expires=Fri, 01 Jan 2100 00:00:00 GMT; Path=/");
            res.set_header("Set-Cookie", "tab=7; Path=/");
            res.set_content("{}", "application/json");
        });
        s.Post("/logout", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=; Max-Age=0; Path=/");
            res.set_content("{}", "application/json");
        });
        s.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Cookie"), "text/plain");
        });
        server.start();
    }

    HttpSession::Config jarConfig() const
    {
        HttpSession::Config config;
        config.cookieFile = jarPath;
        return config;
    }

    void post(HttpSession& session, const std::string& path)
    {
        auto outcome = awaitTask(session.send(test::makeRequest("POST", server.url(path))));
        ASSERT_TRUE(outcome.value) << outcome.message();
        ASSERT_EQ(outcome.value->status, 200);
    }

    // The cookies the server received, as "a=1; b=2" (order as sent).
    std::string cookiesSent(HttpSession& session)
    {
        auto outcome = awaitTask(session.send(test::makeRequest("GET", server.url("/whoami"))));
        EXPECT_TRUE(outcome.value) << outcome.message();
        return outcome.value ? outcome.value->body.toStdString() : "(failed)";
    }

    QByteArray jarContents() const
    {
        QFile file(jarPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestHttpServer server;
    QString jarPath;
};

bool sends(const std::string& cookieHeader, const std::string& cookie)
{
    return ("; " + cookieHeader + ";").find("; " + cookie + ";") != std::string::npos;
}

}  // namespace

TEST_F(HttpCookieTest, CookiesSetByAResponseGoWithTheNextRequests)
{
    HttpSession session(jarConfig());
    EXPECT_EQ(cookiesSent(session), "");

    post(session, "/login");
    const std::string sent = cookiesSent(session);

    EXPECT_TRUE(sends(sent, "sid=abc123")) << sent;
    EXPECT_TRUE(sends(sent, "lang=es")) << sent;
    EXPECT_TRUE(sends(sent, "tab=7")) << sent;   // a session cookie lives as long as the process
}

TEST_F(HttpCookieTest, CookiesWithAnExpiryAreWrittenToAPrivateJarAndSessionCookiesAreNot)
{
    HttpSession session(jarConfig());
    post(session, "/login");

    ASSERT_TRUE(QFileInfo::exists(jarPath));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(jarPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    const QByteArray jar = jarContents();
    EXPECT_TRUE(jar.contains("\tsid\tabc123")) << jar.constData();
    EXPECT_TRUE(jar.contains("\tlang\tes")) << jar.constData();
    EXPECT_FALSE(jar.contains("\ttab\t")) << jar.constData();
    // No temporary file is left next to it.
    const QStringList siblings = QFileInfo(jarPath).dir().entryList({QFileInfo(jarPath).fileName() + "*"}, QDir::Files);
    EXPECT_EQ(siblings, QStringList{QFileInfo(jarPath).fileName()});
}

TEST_F(HttpCookieTest, ANewSessionOnTheSameJarSendsThePersistentCookiesOnly)
{
    {
        HttpSession first(jarConfig());
        post(first, "/login");
    }

    HttpSession restarted(jarConfig());   // as after a restart of the program
    const std::string sent = cookiesSent(restarted);

    EXPECT_TRUE(sends(sent, "sid=abc123")) << sent;
    EXPECT_TRUE(sends(sent, "lang=es")) << sent;
    EXPECT_FALSE(sends(sent, "tab=7")) << sent;
}

TEST_F(HttpCookieTest, ARemovedCookieLeavesMemoryAndJar)
{
    HttpSession session(jarConfig());
    post(session, "/login");
    post(session, "/logout");

    const std::string sent = cookiesSent(session);
    EXPECT_FALSE(sends(sent, "sid=abc123")) << sent;
    EXPECT_TRUE(sends(sent, "lang=es")) << sent;
    EXPECT_FALSE(jarContents().contains("\tsid\t")) << jarContents().constData();

    HttpSession restarted(jarConfig());
    EXPECT_EQ(cookiesSent(restarted), "lang=es");
}

TEST_F(HttpCookieTest, AJarWrittenByHandIsReadAndMadePrivate)
{
    {
        QFile file(jarPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("# Netscape HTTP Cookie File\n"
                   "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tsid\tfromdisk\n"
                   "127.0.0.1\tFALSE\t/\tFALSE\t1000\told\texpired\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    HttpSession session(jarConfig());

    EXPECT_EQ(cookiesSent(session), "sid=fromdisk");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(jarPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
}

TEST_F(HttpCookieTest, TheUploadSessionNeitherKeepsNorSendsCookies)
{
    {
        HttpSession service(jarConfig());
        post(service, "/login");
    }
    HttpSession upload(HttpSession::uploadConfig());
    EXPECT_EQ(upload.config().cookieFile, QString());

    post(upload, "/login");
    EXPECT_EQ(cookiesSent(upload), "");
}

TEST(HttpSessionConfigs, ServiceJarLivesInTheDataFolder)
{
    EXPECT_EQ(HttpSession::serviceConfig().cookieFile, paths::dataDir() + "/cookies.txt");
    EXPECT_EQ(HttpSession::serviceConfig().totalTimeout, 120s);
    EXPECT_EQ(HttpSession::uploadConfig().maxConnectionsPerHost, 16);
    EXPECT_EQ(HttpSession::uploadConfig().totalTimeout, 3600s);
}

TEST(CookieJarLines, OnlyCookiesWithAFutureExpiryArePersistent)
{
    const int64_t now = 1'700'000'000;
    EXPECT_TRUE(CookieJar::isPersistent("example.com\tFALSE\t/\tTRUE\t1700000100\tsid\tv", now));
    EXPECT_TRUE(CookieJar::isPersistent("#HttpOnly_example.com\tFALSE\t/\tTRUE\t1700000100\tsid\t", now));
    EXPECT_FALSE(CookieJar::isPersistent("example.com\tFALSE\t/\tTRUE\t0\tsid\tv", now));            // session
    EXPECT_FALSE(CookieJar::isPersistent("example.com\tFALSE\t/\tTRUE\t1699999999\tsid\tv", now));   // expired
    EXPECT_FALSE(CookieJar::isPersistent("example.com\tFALSE\t/\tTRUE\tsoon\tsid\tv", now));
    EXPECT_FALSE(CookieJar::isPersistent("example.com\tFALSE\t/", now));
}
