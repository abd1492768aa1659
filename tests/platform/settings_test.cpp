// Settings on a full disk: a value the file did not take still holds for this process, the old
// file stays whole, the failure is told once; the file is this account's alone.
#include "platform/settings.h"
#include "platform/write_failures.h"
#include "support/test_env.h"

#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace zafrel {
namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SettingsTest, AValueTheFileDidNotTakeHoldsForThisProcess)
{
    ASSERT_TRUE(settings::setValue("serverURL", "https://antes.example"));
    const QString file = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Zafrel", "Zafrel").fileName();
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const QByteArray before = bytesOf(file);
    QStringList told;
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, [&](const QString& m) { told << m; });

    {
        const test::FileWritesFail full;
        EXPECT_FALSE(settings::setValue("serverURL", "https://dada.example"));
        EXPECT_FALSE(settings::setValue("destDir", "Dia05/"));
    }
    EXPECT_EQ(bytesOf(file), before);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("No se pudieron guardar los ajustes en " + file + ": ")) << told[0].toStdString();

    EXPECT_EQ(settings::value("serverURL"), "https://dada.example");
    EXPECT_EQ(settings::value("destDir"), "Dia05/");
}

}  // namespace
}  // namespace zafrel
