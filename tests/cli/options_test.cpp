// The option rules of the unattended upload.
#include "cli/option_checks.h"
#include "cli/options.h"
#include "cli/send_rate_option.h"

#include <gtest/gtest.h>

namespace zafrel {
namespace {

struct Expected {
    bool upload = true;
    std::optional<QString> server, dest;
    QStringList paths;
    std::optional<Options::Login> login;
    QStringList unknown, missing;
};

TEST(OptionsTest, EveryRuleOnTheArgumentsThatShowIt)
{
    const std::pair<QStringList, Expected> cases[] = {
        // Upload mode only with the exact flag, wherever it stands.
        {{"--server", "http://x", "--dest", "Dia01/"}, {false, "http://x", "Dia01/"}},
        {{"--upload=a"}, {false, {}, {}, {}, {}, {"--upload=a"}}},
        {{"--dest", "--upload", "a"}, {true, {}, {}, {"a"}, {}, {}, {"--dest"}}},
        // Nothing after "--upload" gives no paths.
        {{"a", "b", "--upload"}, {}},
        // The first occurrence counts; values are used unchanged (blanks, "--" unless a known flag).
        {{"--upload", "Dia04", "--dest", "Dia04"}, {true, {}, "Dia04/", {"Dia04"}}},
        {{"--dest", "Dia01/", "--upload", "a", "--dest", "Dia02/"}, {true, {}, "Dia01/", {"a"}}},
        {{"--server", " http://127.0.0.1:9/ ", "--upload"}, {true, " http://127.0.0.1:9/ "}},
        {{"--upload", "a", "--dest", "--raro"}, {true, {}, "--raro/", {"a"}}},
        {{"--upload", "a", "--server", "--login", "x@y", "pw"}, {true, {}, {}, {"a"}, {{"x@y", "pw"}}, {}, {"--server"}}},
        // A non-empty destination ends with "/" (above); an empty one is the top folder.
        {{"--dest", "", "--upload"}, {true, {}, ""}},
        // A flag last, or before another, lacks its value; one joined with it ("=") is unknown.
        {{"--upload", "a", "--server"}, {true, {}, {}, {"a"}, {}, {}, {"--server"}}},
        {{"--upload", "a", "--dest=Dia01/", "--server=http://x"},
         {true, {}, {}, {"a"}, {}, {"--dest=Dia01/", "--server=http://x"}}},
        // Unknown options are skipped without stopping the paths; after "--" everything is a path.
        {{"--upload", "--verbose", "a", "-c", "--upload", "d"}, {true, {}, {}, {"a", "-c", "d"}, {}, {"--verbose"}}},
        {{"--upload", "a", "--", "--dest", "b"}, {true, {}, {}, {"a", "--dest", "b"}}},
        // The other options of the command line are known, and the rate is never a path.
        {{"--upload", "a", "--limite", "50M", "--json", "--pendientes", "--olvidar", "--help", "-h", "--version"},
         {true, {}, {}, {"a"}}},
        // "--login" needs an e-mail; the password is the next argument unless that is missing or
        // begins with "--" (it then comes from elsewhere). The first "--login" decides.
        {{"--dest", "D/", "--login", "demo@zafrel.test", "secret", "--upload", "a", "b"},
         {true, {}, "D/", {"a", "b"}, {{"demo@zafrel.test", "secret"}}}},
        {{"--upload", "a", "--login", "x@y"}, {true, {}, {}, {"a"}, {{"x@y", std::nullopt}}}},
        {{"--upload", "--login", "--dest", "D"}, {true, {}, "D/", {}, {}, {}, {"--login"}}},
        {{"--login", "a@x", "p1", "--upload", "--login", "b@x", "p2"}, {true, {}, {}, {}, {{"a@x", "p1"}}}},
        // What stands where the password would, beginning with "--", may be it: never repeated back.
        {{"--upload", "a", "--login", "a@b.c", "--MiClave"},
         {true, {}, {}, {"a"}, {{"a@b.c", std::nullopt}},
          {"(lo que sigue al correo de --login, que no se muestra por si es una contraseña)"}}},
        {{"--login", "a@b.c", "pw", "--raro", "--upload"}, {true, {}, {}, {}, {{"a@b.c", "pw"}}, {"--raro"}}},
        // "--mhl" may take the format of its history; what follows it otherwise is nothing to hide.
        {{"--upload", "a", "--mhl", "xxh64", "b"}, {true, {}, {}, {"a", "b"}}},
        {{"--mhl", "--raro", "--upload"}, {true, {}, {}, {}, {}, {"--raro"}}},
    };
    for (const auto& [arguments, expected] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Options o(QStringList{"/usr/bin/zafrel"} + arguments);
        EXPECT_EQ(o.uploadRequested(), expected.upload);
        EXPECT_EQ(o.server(), expected.server);
        EXPECT_EQ(o.destDir(), expected.dest.value_or(QString()));
        EXPECT_EQ(o.paths(), expected.paths);
        EXPECT_EQ(o.login(), expected.login);
        EXPECT_EQ(o.unknownOptions(), expected.unknown);
        EXPECT_EQ(o.missingValues(), expected.missing);
        const auto password = o.passwordIndex();
        ASSERT_EQ(password.has_value(), expected.login && expected.login->password);
        if (password)
            EXPECT_EQ(o.arguments().at(*password), *expected.login->password);
    }
}

// "--mhl" takes xxh64 or nothing: a path given as its value stops the run before anything is sent.
TEST(OptionsTest, TheHistoryFormatIsXxh64OrNone)
{
    const std::pair<QStringList, std::optional<QString>> cases[] = {
        {{"--upload", "a", "--mhl"}, std::nullopt},
        {{"--mhl", "xxh64", "--upload", "a"}, std::nullopt},
        {{"--upload", "--mhl", "/media/A"},
         "--mhl admite solo el valor xxh64 («/media/A» no vale); las rutas van tras --upload, por ejemplo: --mhl xxh64 "
         "--upload /media/A_CAM"},
    };
    for (const auto& [arguments, problem] : cases)
        EXPECT_EQ(optionProblem(Options(QStringList{"zafrel"} + arguments)), problem) << arguments.join(' ').toStdString();
}

// "--limite": bytes or bits per second as written, never a bare number, zero or "Mb".
TEST(OptionsTest, RatesAreTakenWithTheirUnit)
{
    const std::pair<QString, std::optional<int64_t>> cases[] = {
        {"50M", 50'000'000}, {"800K", 800'000}, {"1.5MB", 1'500'000}, {"2G/s", 2'000'000'000}, {"100Mbit", 12'500'000},
        {"800kbit/s", 100'000}, {"1Gbit", 125'000'000}, {"5", std::nullopt}, {"0M", std::nullopt},
        {"5Mb", std::nullopt}, {"5mb", std::nullopt}, {"rapido", std::nullopt}, {"-5M", std::nullopt},
    };
    for (const auto& [text, rate] : cases)
        EXPECT_EQ(parseSendRate(text), rate) << text.toStdString();
}

}  // namespace
}  // namespace zafrel
