// The session's cookies and the settings, in files this account alone may read; on a full disk the
// old file stays whole and the failure is told once.
#include "platform/settings.h"
#include "platform/write_failures.h"
#include "support/test_env.h"
#include "support/http_test_server.h"

#include <QFile>
#include <QSettings>

using namespace zafrel;
using test::modeOf;
using HttpCookieTest = test::HttpServerTest;

// Cookies with an expiry go to the jar for the next session; none at all for uploads. A jar written
// by hand (readable by others) is read and made private.
TEST_F(HttpCookieTest, CookiesGoWithLaterRequestsAndThoseWithAnExpiryOutliveTheSession)
{
    // The cookies the server received, sorted.
    const auto cookiesSent = [this](HttpSession& session) {
        QStringList cookies = QString::fromUtf8(send(session, "GET", "/whoami").get().body).split("; ", Qt::SkipEmptyParts);
        cookies.sort();
        return cookies.join(" ").toStdString();
    };
    HttpSession::Config config;
    config.cookieFile = test::sandboxDir() + "/jar.txt";
    const QString jar = config.cookieFile;
    {
        QFile file(jar);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("# Netscape HTTP Cookie File\n"
                   "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tsid\tfromdisk\n"
                   "127.0.0.1\tFALSE\t/\tFALSE\t1000\told\texpired\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    {
        HttpSession session(config);
        EXPECT_EQ(cookiesSent(session), "sid=fromdisk");
        EXPECT_EQ(modeOf(jar), 0600);
        EXPECT_EQ(send(session, "POST", "/login").get().status, 200);
        EXPECT_EQ(cookiesSent(session), "lang=es sid=abc123 tab=7");
        EXPECT_EQ(modeOf(jar), 0600);
        const QByteArray written = test::fileBytes(jar);
        EXPECT_TRUE(written.contains("\tsid\tabc123") && written.contains("\tlang\tes")) << written.constData();
        EXPECT_FALSE(written.contains("\ttab\t") || written.contains("\told\t")) << written.constData();
    }
    {
        HttpSession restarted(config);   // as after a restart of the program
        EXPECT_EQ(cookiesSent(restarted), "lang=es sid=abc123");
        EXPECT_EQ(send(restarted, "POST", "/logout").get().status, 200);
        EXPECT_EQ(cookiesSent(restarted), "lang=es");
        EXPECT_FALSE(test::fileBytes(jar).contains("\tsid\t")) << test::fileBytes(jar).constData();
    }
    HttpSession again(config);
    EXPECT_EQ(cookiesSent(again), "lang=es");
    // On a full disk the jar keeps what it had, and the person hears of it once.
    QStringList told;
    QObject receiver;
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, &receiver, [&](const QString& m) { told << m; });
    {
        const test::FileWritesFail full;
        EXPECT_EQ(send(again, "POST", "/login").get().status, 200);
        EXPECT_EQ(send(again, "POST", "/login").get().status, 200);
    }
    EXPECT_TRUE(test::runUntil([&] { return !told.isEmpty(); }));
    EXPECT_EQ(cookiesSent(again), "lang=es sid=abc123 tab=7");
    EXPECT_FALSE(test::fileBytes(jar).contains("\tsid\t")) << test::fileBytes(jar).constData();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("No se pudo guardar la sesión en " + jar + ": ")) << told[0].toStdString();

    HttpSession upload(HttpSession::uploadConfig());
    EXPECT_EQ(send(upload, "POST", "/login").get().status, 200);
    EXPECT_EQ(cookiesSent(upload), "");
}

// A value the file did not take holds for this process, and is written again when set again.
TEST(SettingsTest, AValueTheFileDidNotTakeHoldsForThisProcess)
{
    ASSERT_TRUE(settings::setValue("serverURL", "https://antes.example"));
    const QString file = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel").fileName();
    EXPECT_EQ(modeOf(file), 0600);
    const QByteArray before = test::fileBytes(file);
    QStringList told;
    QObject receiver;
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, &receiver, [&](const QString& m) { told << m; });
    {
        const test::FileWritesFail full;
        EXPECT_TRUE(settings::setValue("serverURL", "https://antes.example")) << "unchanged: nothing to write";
        EXPECT_FALSE(settings::setValue("serverURL", "https://dada.example"));
        EXPECT_FALSE(settings::setValue("destDir", "Dia05/"));
        EXPECT_FALSE(settings::setValue("destDir", "Dia05/")) << "not taken yet: written again";
    }
    EXPECT_EQ(test::fileBytes(file), before);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("No se pudieron guardar los ajustes en " + file + ": ")) << told[0].toStdString();
    EXPECT_EQ(settings::value("serverURL"), "https://dada.example");
    EXPECT_EQ(settings::value("destDir"), "Dia05/");

    // Several keys go in one write, all of them.
    ASSERT_TRUE(settings::setValues({{"destDir", "Dia06/"}, {"destinos/a", "Dia06/"}, {"serverURL", "https://dada.example"}}));
    const QSettings written(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel");
    for (const char* key : {"destDir", "destinos/a"})
        EXPECT_EQ(written.value(key).toString(), "Dia06/") << key;
    EXPECT_EQ(written.value("serverURL").toString(), "https://dada.example");
}
