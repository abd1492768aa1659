#include "platform/format.h"
#include "platform/md5.h"
#include "platform/printable.h"
#include "platform/utf8.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace zafrel;

TEST(ByteCountFormat, UsesDecimalMultiplesAndNamesTheUnit)
{
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(formatByteCount(0), "0 bytes");
    EXPECT_EQ(formatByteCount(1), "1 byte");
    EXPECT_EQ(formatByteCount(999), "999 bytes");
    EXPECT_EQ(formatByteCount(1000), "1 KB");
    EXPECT_EQ(formatByteCount(1500), "2 KB");
    EXPECT_EQ(formatByteCount(999'999), "1 MB");
    EXPECT_EQ(formatByteCount(1'048'576), "1 MB");
    EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
    EXPECT_EQ(formatByteCount(2'000'000), "2 MB");
    EXPECT_EQ(formatByteCount(3'250'000'000), "3.25 GB");
    EXPECT_EQ(formatByteCount(1'000'000'000'000), "1 TB");
}

TEST(ByteCountFormat, FollowsTheLocaleDecimalSeparator)
{
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Spain));
    EXPECT_EQ(formatByteCount(1'500'000), "1,5 MB");
    QLocale::setDefault(QLocale::c());
}

TEST(Md5Hex, MatchesKnownDigests)
{
    EXPECT_EQ(md5Hex(QByteArray()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex(QByteArray("The quick brown fox jumps over the lazy dog")), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Printable, ControlCharactersBecomeOneBlankAndNeverLeaveTheLine)
{
    const std::pair<QString, QString> cases[] = {
        {"C0001.MXF", "C0001.MXF"},
        {"Día 3 · ñandú 🎬", "Día 3 · ñandú 🎬"},
        {"a\nb\tc\rd", "a b c d"},
        {"<Error>\n  <Code>", "<Error>   <Code>"},
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
        {"\xE0\x80\xAF", false},       // overlong, three bytes
        {"\xED\xA0\x80", false},       // a surrogate
        {"\xF4\x90\x80\x80", false},   // above U+10FFFF
        {"\xC3", false},               // cut short
        {"\x80", false},               // a lone continuation byte
    };
    for (const auto& [bytes, valid] : cases)
        EXPECT_EQ(isValidUtf8(bytes), valid) << testing::PrintToString(bytes);
}
