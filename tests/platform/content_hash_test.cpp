// The digests of camera-media hash lists, written as those lists write them.
#include "platform/content_hash.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <xxhash.h>

#include <cinttypes>
#include <cstdio>

using namespace zafrel;

namespace {

std::string digestOf(HashFormat format, QByteArrayView bytes, qsizetype piece = 0)
{
    ContentHasher hasher(format);
    if (piece <= 0)
        piece = std::max<qsizetype>(bytes.size(), 1);
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        hasher.add(bytes.sliced(at, std::min(piece, bytes.size() - at)));
    return hasher.finish();
}

}  // namespace

// Published vectors, and the C4 IDs of SHA-512 digests worked out with arbitrary-precision
// integers apart from this code.
TEST(ContentHash, KnownVectorsInEveryFormat)
{
    const struct {
        HashFormat format;
        const char* text;
        const char* digest;
    } cases[] = {
        {HashFormat::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {HashFormat::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {HashFormat::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashFormat::Xxh64, "", "ef46db3751d8e999"},
        {HashFormat::Xxh3, "", "2d06800538d394c2"},
        {HashFormat::Xxh128, "", "99aa06d3014798d86001c324468d497f"},
        {HashFormat::C4, "", "c459dsjfscH38cYeXXYogktxf4Cd9ibshE3BHUo6a58hBXmRQdZrAkZzsWcbWtDg5oQstpDuni4Hirj75GEmTc1sFT"},
        {HashFormat::C4, "abc", "c45S4rnaTNWonxss1u8LzsaJdEph1AJhWUF4sh2waXKMsutyfAxg4ybUeuXVWS9HdNcEypmeXn8FZGonD4w1rj9DZp"},
        {HashFormat::C4, "foo", "c45xZeXwMSpqXjpDumcHMA6mhoAmGHkUo7r9WmN2UgSEQzj9KjgseaQdkEJ11fGb5S1WEENcV3q8RFWwEeVpC7Fjk2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(digestOf(c.format, QByteArrayView(c.text)), c.digest) << hashFormatName(c.format) << " " << c.text;

    // The extremes of the number: padding with "1" on the left, and the largest 512-bit value.
    unsigned char digest[64] = {};
    EXPECT_EQ(c4FromSha512(digest), "c4" + std::string(88, '1'));
    digest[63] = 1;
    EXPECT_EQ(c4FromSha512(digest), "c4" + std::string(87, '1') + "2");
    std::fill(std::begin(digest), std::end(digest), 0xff);
    EXPECT_EQ(c4FromSha512(digest),
              "c467rpwLCuS5DGA8KGZXKsVQ7dnPb9goRLoKfgGbLfQg9WoLUgNY77E2jT11fem3coV9nAkguBACzrU1iyZM4B8roQ");
}

// Bytes given in uneven pieces digest as one block does, and the xxHash values are written
// big-endian (the high half of xxh128 first), whatever the machine's byte order.
TEST(ContentHash, PiecesAndByteOrder)
{
    QByteArray data(3'000'001, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& byte : data)
        byte = char(random.generate());
    char expected[40];
    std::snprintf(expected, sizeof expected, "%016" PRIx64, uint64_t(XXH64(data.constData(), size_t(data.size()), 0)));
    EXPECT_EQ(digestOf(HashFormat::Xxh64, data, 65'537), expected);
    std::snprintf(expected, sizeof expected, "%016" PRIx64, uint64_t(XXH3_64bits(data.constData(), size_t(data.size()))));
    EXPECT_EQ(digestOf(HashFormat::Xxh3, data, 4093), expected);
    const XXH128_hash_t wide = XXH3_128bits(data.constData(), size_t(data.size()));
    std::snprintf(expected, sizeof expected, "%016" PRIx64 "%016" PRIx64, uint64_t(wide.high64), uint64_t(wide.low64));
    EXPECT_EQ(digestOf(HashFormat::Xxh128, data, 1 << 20), expected);
    EXPECT_EQ(digestOf(HashFormat::Md5, data, 333),
              QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().toStdString());
    EXPECT_EQ(digestOf(HashFormat::C4, data, 100'000), digestOf(HashFormat::C4, data));
}

TEST(ContentHash, FormatNamesAndComparison)
{
    for (HashFormat f : {HashFormat::C4, HashFormat::Md5, HashFormat::Sha1, HashFormat::Xxh128, HashFormat::Xxh3,
                         HashFormat::Xxh64})
        EXPECT_EQ(hashFormatFromName(hashFormatName(f)), f);
    EXPECT_EQ(hashFormatFromName("XXH64"), std::nullopt);
    EXPECT_EQ(hashFormatFromName("sha256"), std::nullopt);
    EXPECT_TRUE(sameDigest(HashFormat::Xxh64, "0EA03B369A463D9D", "0ea03b369a463d9d"));
    EXPECT_FALSE(sameDigest(HashFormat::Xxh64, "0ea03b369a463d9d", "0ea03b369a463d9e"));
    EXPECT_FALSE(sameDigest(HashFormat::Xxh64, "0ea03b369a463d9d", "0ea03b369a463d9"));
    EXPECT_FALSE(sameDigest(HashFormat::C4, "c45S4rna", "C45S4RNA"));
}
