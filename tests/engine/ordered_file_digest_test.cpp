// The whole-file digests of a file sent in parts, fed out of order, and each fed part's own MD5.
#include "engine/transfer/ordered_file_digest.h"
#include "platform/content_hash.h"
#include "platform/errors.h"
#include "platform/md5.h"
#include "support/async_wait.h"
#include "support/engine_env.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QUuid>

namespace zafrel {
namespace {

// Parts that start on a 64-byte boundary of the file and parts that do not; parts 1, 4 and 6 were
// stored earlier and are read from the file; the record in a format of its own, as the MD5, or none.
TEST(OrderedFileDigest, PartsFedOutOfOrderGiveTheirOwnAndTheWholeFilesDigests)
{
    const std::optional<HashFormat> records[] = {std::nullopt, HashFormat::Xxh64, HashFormat::Md5};
    for (const int64_t partSize : {int64_t(3 * 64), int64_t(3 * 64 + 5)}) {
        for (const std::optional<HashFormat> record : records) {
            QByteArray content(partSize * 6 - 17, Qt::Uninitialized);
            for (qsizetype i = 0; i < content.size(); ++i)
                content[i] = char((i * 7919) >> 3);
            const QString path = test::writeFile(test::sandboxDir() + "/digest-" + QUuid::createUuid().toString(), content);
            const std::vector<int64_t> sent{2, 3, 5};
            auto reader = std::make_shared<PartReader>(path, partSize, content.size());
            OrderedFileDigest digest(reader, sent, record);
            std::vector<std::unique_ptr<test::StartedTask<std::string>>> fed;
            for (size_t index = sent.size(); index-- > 0;)
                fed.push_back(std::make_unique<test::StartedTask<std::string>>(
                    digest.feed(index, content.mid((sent[index] - 1) * partSize, partSize))));
            const OrderedFileDigest::Result result = test::awaitTask(digest.finish()).get();

            SCOPED_TRACE(testing::Message() << "parts of " << partSize << ", record " << (record ? int(*record) : -1));
            for (size_t i = 0; i < fed.size(); ++i) {
                const int64_t part = sent[sent.size() - 1 - i];
                ASSERT_TRUE(fed[i]->waitEnded());
                EXPECT_EQ(fed[i]->take().get(), md5Hex(content.mid((part - 1) * partSize, partSize))) << "part " << part;
            }
            EXPECT_EQ(result.md5, md5Hex(content));
            std::string expected;
            if (record) {
                ContentHasher hasher(*record);
                hasher.add(content);
                expected = hasher.finish();
            }
            EXPECT_EQ(result.record, expected);
            QFile::remove(path);
        }
    }
}

// A part that will never be fed ends the waits of the later ones.
TEST(OrderedFileDigest, AnAbandonedDigestEndsEveryWait)
{
    const QString path = test::writeFile(test::sandboxDir() + "/abandoned-" + QUuid::createUuid().toString(), QByteArray(300, 'x'));
    OrderedFileDigest digest(std::make_shared<PartReader>(path, 100, 300), {1, 2, 3}, std::nullopt);
    test::StartedTask<std::string> third(digest.feed(2, QByteArray(100, 'x')));
    digest.abandon();
    ASSERT_TRUE(third.waitEnded());
    EXPECT_TRUE(third.result().threw<Cancelled>());
    EXPECT_TRUE(test::awaitTask(digest.finish()).threw<Cancelled>());
    QFile::remove(path);
}

}  // namespace
}  // namespace zafrel
