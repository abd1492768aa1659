// Sizes and rates as people read and write them, printable text and UTF-8.
#include "platform/byte_rate.h"
#include "platform/format.h"
#include "platform/printable.h"
#include "platform/utf8.h"
#include "support/test_env.h"

#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace zafrel;

TEST(ByteCountFormat, UsesDecimalMultiplesAndNamesTheUnitWithTheLocalesSeparator)
{
    QLocale::setDefault(QLocale::c());
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 bytes"}, {1, "1 byte"}, {999, "999 bytes"}, {1000, "1 KB"}, {1500, "2 KB"}, {999'999, "1 MB"},
        {1'048'576, "1 MB"}, {1'500'000, "1.5 MB"}, {2'000'000, "2 MB"}, {3'250'000'000, "3.25 GB"},
        {1'000'000'000'000, "1 TB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(formatByteCount(bytes), text) << bytes;
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    EXPECT_EQ(formatByteCount(1'500'000), "1,5 MB");
    QLocale::setDefault(QLocale::c());
}

// Times say where they were read: the zone's name when it has one, and always its offset.
TEST(TimeFormat, LocalTimesCarryTheirZoneAndDurationsTheirUnits)
{
    const QDateTime moment(QDate(2026, 12, 7), QTime(14, 0, 5), QTimeZone::utc());
    const std::pair<const char*, const char*> zones[] = {{"Asia/Kolkata", "2026-12-07 19:30:05 IST (UTC+05:30)"},
                                                         {"America/Sao_Paulo", "2026-12-07 11:00:05 (UTC-03:00)"},
                                                         {"Europe/Madrid", "2026-12-07 15:00:05 CET (UTC+01:00)"}};
    for (const auto& [zone, text] : zones) {
        const zafrel::test::LocalZone local(zone);
        EXPECT_EQ(localTimeText(moment).toStdString(), text);
    }
    const std::pair<int64_t, const char*> spans[] = {{-3, "0 s"}, {45, "45 s"}, {725, "12 min 05 s"}, {7389, "2 h 03 min 09 s"}};
    for (const auto& [seconds, text] : spans)
        EXPECT_EQ(durationText(seconds).toStdString(), text);
}

TEST(ByteRate, ReadsTheRatesPeopleWrite)
{
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"50M", 50'000'000}, {"800K", 800'000}, {"800k", 800'000}, {"1.5M", 1'500'000}, {"1,5M", 1'500'000},
        {"100MB/s", 100'000'000}, {"2G", 2'000'000'000}, {"12345", 12345}, {" 10 M ", 10'000'000}, {"0", 0},
        {"", std::nullopt}, {"M", std::nullopt}, {"-5M", std::nullopt}, {"5X", std::nullopt},
        {"50M50", std::nullopt}, {"99999G", std::nullopt}, {"--json", std::nullopt},
    };
    for (const auto& [text, rate] : cases)
        EXPECT_EQ(parseByteRate(QString::fromUtf8(text)), rate) << text;
    EXPECT_EQ(byteRateText(50'000'000), "50M");
    EXPECT_EQ(byteRateText(1'500'000), "1.5M");
    EXPECT_EQ(parseByteRate(byteRateText(800'000)), 800'000);
}

TEST(Printable, ControlCharactersBecomeOneBlankAndNeverLeaveTheLine)
{
    const std::pair<QString, QString> cases[] = {
        {"Día 3 · ñandú 🎬", "Día 3 · ñandú 🎬"},
        {"a\nb\tc\rd", "a b c d"},
        {"\n\x1b]0;pwn\x07OK verificado\n", "]0;pwn OK verificado"},
        {QString("x") + QChar(0x85) + QChar(0x9b) + "y" + QChar(0x7f), "x y"},
        {QString("a") + QChar(0x2028) + "b" + QChar(0x2029) + "c", "a b c"},
        {QString("txt.") + QChar(0x202e) + "exe" + QChar(0x2066), "txt. exe"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(printable(text), expected) << text.toStdString();
    EXPECT_EQ(printable(std::string_view("ok\r\n\xff")), "ok \xEF\xBF\xBD");
}

TEST(Utf8, OnlyWellFormedSequencesAreValid)
{
    const std::pair<std::string_view, bool> cases[] = {
        {"", true}, {"C0001.MXF", true}, {"Día 🎬", true}, {"\xF4\x8F\xBF\xBF", true},
        {"\xC0\xAF", false},           // overlong "/"
        {"\xED\xA0\x80", false},       // a surrogate
        {"\xF4\x90\x80\x80", false},   // above U+10FFFF
        {"\xC3", false},               // cut short
        {"\x80", false},               // a lone continuation byte
    };
    for (const auto& [bytes, valid] : cases)
        EXPECT_EQ(isValidUtf8(bytes), valid) << testing::PrintToString(bytes);
}
