// MD5 of pieces, alone and two at once over the same bytes, against OpenSSL's whole-buffer MD5.
#include "platform/dual_md5.h"
#include "platform/md5.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace zafrel;

namespace {

QByteArray randomBytes(std::mt19937& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random());
    return bytes;
}

// `bytes` cut at up to four random places.
std::vector<QByteArrayView> randomPieces(std::mt19937& random, const QByteArray& bytes)
{
    std::vector<qsizetype> cuts{0, bytes.size()};
    for (int i = int(random() % 5); i > 0; --i)
        cuts.push_back(qsizetype(random() % (bytes.size() + 1)));
    std::sort(cuts.begin(), cuts.end());
    std::vector<QByteArrayView> pieces;
    for (size_t i = 1; i < cuts.size(); ++i)
        pieces.push_back(QByteArrayView(bytes).sliced(cuts[i - 1], cuts[i] - cuts[i - 1]));
    return pieces;
}

}  // namespace

// Lengths around the padding's and the block's edges and a long one, after earlier bytes at the same
// or different offsets in the block, on plain registers and (where the CPU has them) vector ones.
TEST(DualMd5, MatchesOpenSslForEveryLengthSplitAndStartingPoint)
{
    std::mt19937 random(20261207);
    const qsizetype lengths[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, (1 << 20) + 7};
    const struct {
        qsizetype first, second;   // bytes each hasher took before
    } starts[] = {{0, 0}, {0, 128}, {0, 3 * 64 + 5}, {5, 64 + 5}, {0, 1}, {63, 0}};
    for (const bool vector : {false, true}) {
        const bool usesVector = useVectorMd5(vector);
        if (vector && !usesVector)
            std::printf("This CPU has no AVX-512: only the plain way was checked\n");
        for (const qsizetype length : lengths) {
            const QByteArray bytes = randomBytes(random, length);
            for (const auto& start : starts) {
                const QByteArray before1 = randomBytes(random, start.first);
                const QByteArray before2 = randomBytes(random, start.second);
                Md5Hasher one, two, alone;
                one.add(before1.constData(), size_t(before1.size()));
                two.add(before2.constData(), size_t(before2.size()));
                alone.add(before1.constData(), size_t(before1.size()));
                for (const QByteArrayView piece : randomPieces(random, bytes)) {
                    addToBoth(one, two, piece.data(), size_t(piece.size()));
                    alone.add(piece.data(), size_t(piece.size()));
                }
                SCOPED_TRACE(testing::Message() << length << " bytes after " << start.first << " and "
                                                << start.second << (usesVector ? ", vector" : ""));
                EXPECT_EQ(one.length(), uint64_t(start.first + length));
                EXPECT_EQ(two.length(), uint64_t(start.second + length));
                EXPECT_EQ(one.finishHex(), md5Hex(before1 + bytes));
                EXPECT_EQ(two.finishHex(), md5Hex(before2 + bytes));
                EXPECT_EQ(alone.finishHex(), md5Hex(before1 + bytes));
            }
        }
    }
}
