// The option rules of the unattended upload: exact flags, first occurrence wins, paths collected
// after "--upload" (values of later options included), values used unchanged.
#include "cli/options.h"

#include <gtest/gtest.h>

namespace zafrel {
namespace {

using Login = std::optional<Options::Login>;

struct Expected {
    bool upload = true;
    std::optional<QString> server;
    std::optional<QString> dest;
    QStringList paths;
    Login login;
};

TEST(OptionsTest, EveryRuleOnTheArgumentsThatShowIt)
{
    const std::pair<QStringList, Expected> cases[] = {
        // Upload mode only with the exact flag, wherever it stands.
        {{}, {false}},
        {{"--server", "http://x", "--dest", "Dia01/"}, {false, "http://x", "Dia01/"}},
        {{"--upload=a"}, {false}},
        {{"--UPLOAD", "a"}, {false}},
        {{"-upload", "a"}, {false}},
        {{"--upload"}, {}},
        // Nothing after "--upload" gives no paths.
        {{"a", "b", "--upload"}, {}},
        {{"--upload", "--dest"}, {}},
        // A value is the argument after the first occurrence, used unchanged: blanks kept, and
        // even when it looks like a flag ("--login" then still counts as the credentials' flag).
        {{"--dest", "Dia01/", "--upload", "a", "--dest", "Dia02/"}, {true, {}, "Dia01/", {"a", "Dia02/"}}},
        {{"--server", " http://127.0.0.1:9/ ", "--upload"}, {true, " http://127.0.0.1:9/ "}},
        {{"--upload", "a", "--server", "--login", "x@y", "pw"},
         {true, "--login", {}, {"a", "x@y", "pw"}, {{"x@y", "pw"}}}},
        // A flag as the last argument, an absent flag or one joined with its value has no value.
        {{"--upload", "a", "--server"}, {true, {}, {}, {"a"}}},
        {{"--upload", "a", "--dest"}, {true, {}, {}, {"a"}}},
        {{"--upload", "a"}, {true, {}, {}, {"a"}}},
        {{"--upload", "a", "--dest=Dia01/", "--server=http://x"}, {true, {}, {}, {"a"}}},
        // Paths follow "--upload", values of later options included, options before it not;
        // every argument starting with "--" is skipped without stopping the collection.
        {{"--upload", "a", "b", "--dest", "/Day1"}, {true, {}, "/Day1", {"a", "b", "/Day1"}}},
        {{"--dest", "Dia01/", "--login", "demo@zafrel.test", "secret", "--upload", "a", "b"},
         {true, {}, "Dia01/", {"a", "b"}, {{"demo@zafrel.test", "secret"}}}},
        {{"--upload", "a", "--login", "demo@zafrel.test", "pw"},
         {true, {}, {}, {"a", "demo@zafrel.test", "pw"}, {{"demo@zafrel.test", "pw"}}}},
        {{"--upload", "--verbose", "a", "--", "b", "-c", "--upload", "d"}, {true, {}, {}, {"a", "b", "-c", "d"}}},
        // "--login" needs an e-mail; the password is the next argument unless that is missing or
        // an option (it then comes from elsewhere). The first "--login" decides.
        {{"--upload", "a", "--login", "demo@zafrel.test"},
         {true, {}, {}, {"a", "demo@zafrel.test"}, {{"demo@zafrel.test", std::nullopt}}}},
        {{"--login", "x@y", "--upload", "a"}, {true, {}, {}, {"a"}, {{"x@y", std::nullopt}}}},
        {{"--upload", "a", "--login"}, {true, {}, {}, {"a"}}},
        {{"--upload", "--login", "x", "--login"}, {true, {}, {}, {"x"}, {{"x", std::nullopt}}}},
        {{"--login", "a@x", "p1", "--upload", "--login", "b@x", "p2"}, {true, {}, {}, {"b@x", "p2"}, {{"a@x", "p1"}}}},
    };
    for (const auto& [arguments, expected] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Options o(QStringList{"/usr/bin/zafrel"} + arguments);
        EXPECT_EQ(o.uploadRequested(), expected.upload);
        EXPECT_EQ(o.server(), expected.server);
        EXPECT_EQ(o.value("--dest"), expected.dest);
        EXPECT_EQ(o.destDir(), expected.dest.value_or(QString()));
        EXPECT_EQ(o.paths(), expected.paths);
        EXPECT_EQ(o.login(), expected.login);
        EXPECT_EQ(o.passwordIndex().has_value(), expected.login && expected.login->password);
    }
}

}  // namespace
}  // namespace zafrel
