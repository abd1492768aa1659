#pragma once
// Shared by the end-to-end tests: one local stand-in per test program, the real program run with a
// home of its own, sample files with known digests, and lookups in the store's request log.
#include <QCryptographicHash>
#include <QFileInfo>
#include "support/devserver_process.h"
#include "support/program_run.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>
#include <set>
#include <string>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace zafrel::test {

inline const QString kDemoEmail = QStringLiteral("demo@zafrel.test");
inline const QString kDemoPassword = QStringLiteral("zafrel-demo");

class EndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (DevServerProcess::unavailableReason())
            return;
        server_ = new DevServerProcess();
    }

    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (const auto reason = DevServerProcess::unavailableReason())
            GTEST_SKIP() << reason->toStdString();
        ASSERT_TRUE(server_ && server_->started()) << (server_ ? server_->failure().toStdString() : "");
        server_->reset();
    }

    DevServerProcess& server() { return *server_; }

    QStringList uploadArguments(const QStringList& paths, const QString& dest, bool withLogin = true) const
    {
        QStringList arguments{"--server", server_->serviceURL()};
        if (!dest.isNull())
            arguments << "--dest" << dest;
        if (withLogin)
            arguments << "--login" << kDemoEmail << kDemoPassword;
        arguments << "--upload";
        arguments += paths;
        return arguments;
    }

    ProgramResult upload(const ProgramHome& home, const QStringList& paths, const QString& dest)
    {
        return runProgram(home, uploadArguments(paths, dest));
    }

    // A file of `size` pseudo-random bytes; answers its MD5 hex digest.
    static std::string writeFile(const QString& path, qint64 size, quint32 seed = 1)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        QRandomGenerator random(seed);
        // Whole 32-bit words, no more than the file needs: small files are written by the thousand.
        QByteArray chunk(int((std::min<qint64>(size, 4 << 20) + 3) & ~qint64(3)), Qt::Uninitialized);
        QCryptographicHash digest(QCryptographicHash::Md5);
        for (qint64 left = size; left > 0;) {
            const qint64 n = std::min<qint64>(left, chunk.size());
            random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
            file.write(chunk.constData(), n);
            digest.addData(QByteArrayView(chunk.constData(), n));
            left -= n;
        }
        return digest.result().toHex().toStdString();
    }

    // The whole content of a file, or empty.
    static QByteArray fileBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The stored object whose key ends with `suffix` ("Rodaje/C0001.MXF"): its entry of the
    // store's object list, or nothing.
    std::optional<nlohmann::json> storedObject(const QString& suffix)
    {
        const std::string s = "/" + suffix.toStdString();
        for (const auto& object : server_->objects()) {
            const std::string key = "/" + object.value("key", "");
            if (key.size() >= s.size() && key.compare(key.size() - s.size(), s.size(), s) == 0)
                return object;
        }
        return std::nullopt;
    }

    // Store PUTs for the object named `suffix` that the store accepted; part numbers of the
    // multipart ones (0 for a whole-object PUT).
    std::multiset<int> storedPuts(const QString& suffix)
    {
        std::multiset<int> parts;
        for (const auto& request : server_->storeRequests("PUT", "/" + suffix)) {
            if (request.value("status", 0) / 100 != 2)
                continue;
            const auto& query = request.value("query", nlohmann::json::object());
            int part = 0;
            if (query.contains("partNumber"))
                part = std::stoi(query["partNumber"].is_string() ? query["partNumber"].get<std::string>()
                                                                  : std::to_string(query["partNumber"].get<int>()));
            parts.insert(part);
        }
        return parts;
    }

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
