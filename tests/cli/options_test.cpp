// The option rules of the unattended upload: exact flags, first occurrence wins, paths collected
// after "--upload" (values of later options included), values used unchanged.
#include "cli/options.h"

#include <gtest/gtest.h>

namespace zafrel {
namespace {

Options parse(QStringList rest)
{
    rest.prepend(QStringLiteral("/usr/bin/zafrel"));
    return Options(rest);
}

TEST(OptionsTest, UploadModeOnlyWithTheExactFlag)
{
    EXPECT_FALSE(parse({}).uploadRequested());
    EXPECT_FALSE(parse({"--server", "http://x", "--dest", "Dia01/"}).uploadRequested());
    EXPECT_FALSE(parse({"--upload=a"}).uploadRequested());
    EXPECT_FALSE(parse({"--UPLOAD", "a"}).uploadRequested());
    EXPECT_FALSE(parse({"-upload", "a"}).uploadRequested());
    EXPECT_TRUE(parse({"--upload"}).uploadRequested());
    EXPECT_TRUE(parse({"a", "--upload"}).uploadRequested());
}

TEST(OptionsTest, ValueIsTheArgumentAfterTheFirstOccurrence)
{
    const Options o = parse({"--dest", "Dia01/", "--upload", "a", "--dest", "Dia02/"});
    EXPECT_EQ(o.value("--dest"), QString("Dia01/"));
    EXPECT_EQ(o.destDir(), QString("Dia01/"));
}

TEST(OptionsTest, ValueIsUsedUnchangedEvenWhenItLooksLikeAFlag)
{
    const Options o = parse({"--upload", "a", "--server", "--login", "x@y", "pw"});
    EXPECT_EQ(o.server(), QString("--login"));
    // "--login" is still the flag for the credentials: the server value does not consume it.
    ASSERT_TRUE(o.credentials().has_value());
    EXPECT_EQ(o.credentials()->first, QString("x@y"));
}

TEST(OptionsTest, ValueKeepsBlanksAndTrailingText)
{
    const Options o = parse({"--server", " http://127.0.0.1:9/ ", "--upload"});
    EXPECT_EQ(o.server(), QString(" http://127.0.0.1:9/ "));
}

TEST(OptionsTest, FlagAsLastArgumentHasNoValue)
{
    EXPECT_EQ(parse({"--upload", "a", "--server"}).server(), std::nullopt);
    EXPECT_EQ(parse({"--upload", "a", "--dest"}).value("--dest"), std::nullopt);
    EXPECT_EQ(parse({"--upload", "a", "--dest"}).destDir(), QString());
}

TEST(OptionsTest, AbsentFlagHasNoValueAndEmptyDestination)
{
    const Options o = parse({"--upload", "a"});
    EXPECT_EQ(o.server(), std::nullopt);
    EXPECT_EQ(o.destDir(), QString());
    EXPECT_EQ(o.credentials(), std::nullopt);
}

TEST(OptionsTest, JoinedFlagAndValueIsNotRecognised)
{
    const Options o = parse({"--upload", "a", "--dest=Dia01/", "--server=http://x"});
    EXPECT_EQ(o.value("--dest"), std::nullopt);
    EXPECT_EQ(o.server(), std::nullopt);
    EXPECT_EQ(o.paths(), QStringList({"a"}));
}

TEST(OptionsTest, PathsFollowUploadAndIncludeValuesOfLaterOptions)
{
    const Options o = parse({"--upload", "a", "b", "--dest", "/Day1"});
    EXPECT_EQ(o.paths(), QStringList({"a", "b", "/Day1"}));
    EXPECT_EQ(o.destDir(), QString("/Day1"));
}

TEST(OptionsTest, OptionsBeforeUploadAreNotCollected)
{
    const Options o = parse({"--dest", "Dia01/", "--login", "demo@zafrel.test", "secret", "--upload", "a", "b"});
    EXPECT_EQ(o.paths(), QStringList({"a", "b"}));
    EXPECT_EQ(o.destDir(), QString("Dia01/"));
    ASSERT_TRUE(o.credentials().has_value());
    EXPECT_EQ(o.credentials()->first, QString("demo@zafrel.test"));
    EXPECT_EQ(o.credentials()->second, QString("secret"));
}

TEST(OptionsTest, CredentialsAfterUploadAreCollectedAsPathsToo)
{
    const Options o = parse({"--upload", "a", "--login", "demo@zafrel.test", "pw"});
    EXPECT_EQ(o.paths(), QStringList({"a", "demo@zafrel.test", "pw"}));
    ASSERT_TRUE(o.credentials().has_value());
    EXPECT_EQ(o.credentials()->second, QString("pw"));
}

TEST(OptionsTest, CollectionSkipsEveryDoubleDashArgumentWithoutStopping)
{
    const Options o = parse({"--upload", "--verbose", "a", "--", "b", "-c", "--upload", "d"});
    EXPECT_EQ(o.paths(), QStringList({"a", "b", "-c", "d"}));
}

TEST(OptionsTest, NothingAfterUploadGivesNoPaths)
{
    EXPECT_TRUE(parse({"a", "b", "--upload"}).paths().isEmpty());
    EXPECT_TRUE(parse({"--upload", "--dest"}).paths().isEmpty());
}

TEST(OptionsTest, CredentialsNeedBothValues)
{
    EXPECT_EQ(parse({"--upload", "a", "--login", "demo@zafrel.test"}).credentials(), std::nullopt);
    EXPECT_EQ(parse({"--upload", "a", "--login"}).credentials(), std::nullopt);
    // The first "--login" decides, even when a later one would be complete.
    EXPECT_EQ(parse({"--upload", "--login", "x", "--login"}).credentials(),
              (std::optional<std::pair<QString, QString>>{{"x", "--login"}}));
}

TEST(OptionsTest, FirstLoginWins)
{
    const Options o = parse({"--login", "a@x", "p1", "--upload", "--login", "b@x", "p2"});
    EXPECT_EQ(o.credentials(), (std::optional<std::pair<QString, QString>>{{"a@x", "p1"}}));
}

}  // namespace
}  // namespace zafrel
