// Reading the parts of a multipart file: positions, the short last part, and reads from several
// threads at once.
#include "engine/file_state.h"
#include "engine/part_reader.h"
#include "platform/errors.h"
#include "support/test_env.h"

#include <QByteArray>
#include <QFile>
#include <QUuid>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zafrel {
namespace {

QString writeNumbered(qint64 size)
{
    const QString path = test::sandboxDir() + "/parts-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QByteArray content(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        content[i] = char('A' + (i / 10) % 26);   // ten A's, ten B's, ...
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
}

TEST(PartReader, EachPartStartsAtItsOffsetAndTheLastIsShorter)
{
    const QString path = writeNumbered(45);
    PartReader reader(path, 20, 45);
    EXPECT_EQ(reader.partCount(), 3);
    EXPECT_EQ(reader.read(1), "AAAAAAAAAABBBBBBBBBB");
    EXPECT_EQ(reader.read(2), "CCCCCCCCCCDDDDDDDDDD");
    EXPECT_EQ(reader.read(3), "EEEEE");
    EXPECT_EQ(reader.expectedLength(3), 5);
    EXPECT_THROW(reader.read(4), FileError);   // beyond the file
    QFile::remove(path);
}

TEST(PartReader, ThreadsReadingAtOnceGetTheirOwnParts)
{
    const qint64 partSize = 1000, parts = 16;
    const QString path = writeNumbered(partSize * parts);
    PartReader reader(path, partSize, partSize * parts);
    QFile whole(path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray content = whole.readAll();

    std::vector<QByteArray> got(parts);
    std::vector<std::thread> threads;
    for (int round = 0; round < 4; ++round) {
        threads.clear();
        for (qint64 n = 1; n <= parts; ++n)
            threads.emplace_back([&, n] { got[size_t(n - 1)] = reader.read(n); });
        for (auto& t : threads)
            t.join();
        for (qint64 n = 1; n <= parts; ++n)
            ASSERT_EQ(got[size_t(n - 1)], content.mid((n - 1) * partSize, partSize)) << "part " << n;
    }
    QFile::remove(path);
}

TEST(PartReader, AFileThatLostItsTailCannotGiveAShortPart)
{
    const QString path = writeNumbered(45);
    PartReader reader(path, 20, 45);
    ASSERT_TRUE(QFile::resize(path, 42));
    EXPECT_EQ(reader.read(2).size(), 20);
    try {
        reader.read(3);
        FAIL() << "a 2-byte part was read where 5 bytes were planned";
    } catch (const FileChangedError& e) {
        EXPECT_STREQ(e.what(), "El archivo cambió durante la subida");
    }
    QFile::remove(path);
}

TEST(PartReader, AFileThatCannotBeOpenedIsAFileError)
{
    EXPECT_THROW(PartReader(test::sandboxDir() + "/does-not-exist", 20, 45), FileError);
}

}  // namespace
}  // namespace zafrel
