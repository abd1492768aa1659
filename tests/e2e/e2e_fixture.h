#pragma once
// The end-to-end tests' fixture: one local stand-in per test program, and what its store holds.
#include "support/devserver_process.h"
#include "support/program_run.h"
#include "support/test_env.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace zafrel::test {

inline const QString kDemoEmail = QStringLiteral("demo@zafrel.test");
inline const QString kDemoPassword = QStringLiteral("zafrel-demo");
// An account of another company (its own bucket).
inline const QString kOtherEmail = QStringLiteral("otra@zafrel.test");
inline const QString kOtherPassword = QStringLiteral("zafrel-otra");

// A file of `size` pseudo-random bytes; answers its MD5 hex digest.
inline std::string writeFile(const QString& path, qint64 size, quint32 seed = 1)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QRandomGenerator random(seed);
    QByteArray chunk(int((std::min<qint64>(size, 4 << 20) + 3) & ~qint64(3)), Qt::Uninitialized);
    QCryptographicHash digest(QCryptographicHash::Md5);
    for (qint64 left = size; left > 0; left -= chunk.size()) {
        random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        const QByteArrayView bytes(chunk.constData(), std::min<qint64>(left, chunk.size()));
        file.write(bytes.data(), bytes.size());
        digest.addData(bytes);
    }
    return digest.result().toHex().toStdString();
}

// Other bytes in the file, its size and time kept: only a run that reads it sees another file.
inline void replaceKeepingSizeAndTime(const QString& path, quint32 seed)
{
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    writeFile(path, before.st_size, seed);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

class EndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new DevServerProcess(); }
    static void TearDownTestSuite() { delete std::exchange(server_, nullptr); }
    void SetUp() override
    {
        ASSERT_TRUE(server_->started()) << server_->failure().toStdString();
        server_->reset();
    }

    DevServerProcess& server() { return *server_; }

    QStringList uploadArguments(const QStringList& paths, const QString& dest) const
    {
        return QStringList{"--server", server_->serviceURL(), "--dest", dest, "--login", kDemoEmail, kDemoPassword,
                           "--upload"}
               + paths;
    }
    ProgramResult upload(const ProgramHome& home, const QStringList& paths, const QString& dest)
    {
        return runProgram(home.environment(), uploadArguments(paths, dest));
    }

    // The MD5 of the stored object whose key ends with "/`suffix`", or empty when there is none.
    std::string storedMd5(const QString& suffix)
    {
        for (const auto& object : server_->objects())
            if (QString::fromStdString(object.value("key", "")).endsWith(u'/' + suffix))
                return object.value("md5", "");
        return {};
    }

    // Part numbers of the store PUTs for `suffix` that the store accepted (0 for a whole object).
    std::multiset<int> storedPuts(const QString& suffix)
    {
        std::multiset<int> parts;
        for (const auto& request : server_->storeRequests("PUT", u'/' + suffix))
            if (request.value("status", 0) / 100 == 2)
                parts.insert(std::stoi(request.value("query", nlohmann::json::object()).value("partNumber", "0")));
        return parts;
    }

    // The accepted PUTs of `suffix` and its stored MD5, as one value to compare.
    using Stored = std::pair<std::multiset<int>, std::string>;
    Stored inStore(const QString& suffix) { return {storedPuts(suffix), storedMd5(suffix)}; }

    // The report's line for `destName` (its third field), or empty.
    static QString reportLine(const QString& out, const QString& destName)
    {
        for (const QString& line : out.split(u'\n'))
            if (line.endsWith(u'\t' + destName))
                return line;
        return {};
    }

    QTemporaryDir files_;

private:
    static inline DevServerProcess* server_ = nullptr;
};

}  // namespace zafrel::test
