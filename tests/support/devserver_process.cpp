#include "support/devserver_process.h"

#include "support/test_env.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <httplib.h>

#include <stdexcept>

namespace zafrel::test {

DevServerProcess::DevServerProcess()
{
    // Files rather than pipes: nobody has to keep draining them while a test blocks.
    const QString out = dir_.filePath("stdout.txt");
    process_.setStandardOutputFile(out);
    process_.setStandardErrorFile(dir_.filePath("stderr.txt"));
    process_.setWorkingDirectory(sourceDir() + "/devserver");
    process_.start("node", {sourceDir() + "/devserver/server.js", "--port", "0", "--store-port", "0", "--data",
                            dir_.filePath("data")});
    const QByteArray ready = "ZAFREL_DEVSERVER ";
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired() && process_.state() != QProcess::NotRunning;) {
        for (const QByteArray& line : fileBytes(out).split('\n'))
            if (line.startsWith(ready)) {
                const auto info = nlohmann::json::parse(line.mid(ready.size()).toStdString(), nullptr, false);
                service_ = QString::fromStdString(info.is_object() ? info.value("service", "") : "");
                store_ = QString::fromStdString(info.is_object() ? info.value("store", "") : "");
                if (started())
                    return;
            }
        QThread::msleep(50);
    }
    failure_ = "devserver did not report ready (" + process_.errorString()
               + "); stderr: " + QString::fromUtf8(fileBytes(dir_.filePath("stderr.txt")));
}

DevServerProcess::~DevServerProcess()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

nlohmann::json DevServerProcess::control(const char* method, const char* path, const std::string& body) const
{
    httplib::Client client(service_.toStdString());
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    const auto result = std::string(method) == "GET" ? client.Get(path) : client.Post(path, body, "application/json");
    if (!result || result->status / 100 != 2)
        throw std::runtime_error(std::string("devserver control ") + path + ": "
                                 + (result ? std::to_string(result->status) + " " + result->body : httplib::to_string(result.error())));
    return nlohmann::json::parse(result->body, nullptr, false);
}

std::optional<QByteArray> DevServerProcess::objectBytes(const QString& key) const
{
    httplib::Client client(service_.toStdString());
    client.set_read_timeout(60);
    const auto result = client.Get("/__control/object", httplib::Params{{"key", key.toStdString()}}, httplib::Headers{});
    if (!result || result->status != 200)
        return std::nullopt;
    return QByteArray::fromStdString(result->body);
}

std::vector<nlohmann::json> DevServerProcess::requestsOf(const char* server, const QString& method,
                                                         const QString& pathSuffix) const
{
    std::vector<nlohmann::json> matching;
    for (const auto& r : requests())
        if (r.value("server", "") == server && r.value("method", "") == method.toStdString()
            && QString::fromStdString(r.value("path", "")).endsWith(pathSuffix))
            matching.push_back(r);
    return matching;
}

}  // namespace zafrel::test
