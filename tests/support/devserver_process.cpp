#include "support/devserver_process.h"

#include "support/test_env.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <httplib.h>

#include <stdexcept>

namespace zafrel::test {

namespace {

const QByteArray kReadyPrefix = "ZAFREL_DEVSERVER ";

httplib::Client controlClient(const QString& serviceURL)
{
    httplib::Client client(serviceURL.toStdString());
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    return client;
}

[[noreturn]] void fail(const char* what, const httplib::Result& result)
{
    std::string text = std::string("devserver control ") + what + ": ";
    text += result ? std::to_string(result->status) + " " + result->body : httplib::to_string(result.error());
    throw std::runtime_error(text);
}

// GET of a control path that answers JSON.
nlohmann::json getJson(const QString& serviceURL, const char* what, const std::string& path, const httplib::Params& params = {})
{
    auto client = controlClient(serviceURL);
    const auto result = client.Get(path, params, httplib::Headers{});
    if (!result || result->status / 100 != 2)
        fail(what, result);
    return nlohmann::json::parse(result->body);
}

}  // namespace

std::optional<QString> DevServerProcess::unavailableReason()
{
    if (QStandardPaths::findExecutable("node").isEmpty())
        return QStringLiteral("node is not installed");
    if (!QFileInfo::exists(sourceDir() + "/devserver/node_modules"))
        return QStringLiteral("devserver/node_modules is missing (run scripts/setup)");
    if (!QFileInfo::exists(sourceDir() + "/devserver/server.js"))
        return QStringLiteral("devserver/server.js is missing");
    return std::nullopt;
}

DevServerProcess::DevServerProcess(QStringList extraArguments)
{
    const QString out = dir_.filePath("stdout.txt");
    const QString err = dir_.filePath("stderr.txt");
    // Files rather than pipes: nobody has to keep draining them while a test blocks.
    process_.setStandardOutputFile(out);
    process_.setStandardErrorFile(err);
    process_.setWorkingDirectory(sourceDir() + "/devserver");
    QStringList arguments{sourceDir() + "/devserver/server.js", "--port", "0", "--store-port", "0",
                          "--data", dir_.filePath("data")};
    arguments += extraArguments;
    process_.start(QStandardPaths::findExecutable("node"), arguments);
    if (!process_.waitForStarted(10000)) {
        failure_ = "node did not start: " + process_.errorString();
        return;
    }
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QFile file(out);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.startsWith(kReadyPrefix))
                    continue;
                const auto info = nlohmann::json::parse(line.mid(kReadyPrefix.size()).toStdString(), nullptr, false);
                if (info.is_discarded() || !info.contains("service"))
                    continue;
                service_ = QString::fromStdString(info.value("service", ""));
                store_ = QString::fromStdString(info.value("store", ""));
                s3rver_ = QString::fromStdString(info.value("s3rver", ""));
                bucket_ = QString::fromStdString(info.value("bucket", ""));
                started_ = true;
                return;
            }
        }
        if (process_.state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    QFile errors(err);
    errors.open(QIODevice::ReadOnly);
    failure_ = "devserver did not report ready; stderr: " + QString::fromUtf8(errors.readAll());
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

nlohmann::json DevServerProcess::requests() const
{
    return getJson(service_, "requests", "/__control/requests");
}

void DevServerProcess::addFault(const nlohmann::json& fault) const
{
    auto client = controlClient(service_);
    const auto result = client.Post("/__control/faults", fault.dump(), "application/json");
    if (!result || result->status / 100 != 2)
        fail("faults", result);
}

void DevServerProcess::reset() const
{
    auto client = controlClient(service_);
    const auto result = client.Post("/__control/reset", "", "application/json");
    if (!result || result->status / 100 != 2)
        fail("reset", result);
}

bool DevServerProcess::waitUntilAnswering(std::chrono::milliseconds deadline) const
{
    QDeadlineTimer until(deadline);
    for (;;) {
        auto client = controlClient(service_);
        if (client.Get("/__control/faults"))
            return true;
        if (until.hasExpired())
            return false;
        QThread::msleep(200);
    }
}

std::optional<QByteArray> DevServerProcess::object(const QString& key) const
{
    auto client = controlClient(service_);
    const auto result = client.Get("/__control/object", httplib::Params{{"key", key.toStdString()}}, httplib::Headers{});
    if (result && result->status == 404)
        return std::nullopt;
    if (!result || result->status / 100 != 2)
        fail("object", result);
    return QByteArray::fromStdString(result->body);
}

nlohmann::json DevServerProcess::objects(const QString& prefix) const
{
    return getJson(service_, "objects", "/__control/objects", {{"prefix", prefix.toStdString()}});
}

nlohmann::json DevServerProcess::openUploads() const
{
    return getJson(service_, "uploads", "/__control/uploads");
}

std::vector<nlohmann::json> DevServerProcess::storeRequests(const QString& method, const QString& pathSuffix) const
{
    return requestsOf("store", method, pathSuffix);
}

std::vector<nlohmann::json> DevServerProcess::serviceRequests(const QString& method, const QString& pathSuffix) const
{
    return requestsOf("service", method, pathSuffix);
}

std::vector<nlohmann::json> DevServerProcess::requestsOf(const char* server, const QString& method,
                                                         const QString& pathSuffix) const
{
    std::vector<nlohmann::json> matching;
    const std::string suffix = pathSuffix.toStdString();
    for (const auto& r : requests()) {
        const std::string path = r.value("path", "");
        if (r.value("server", "") == server && r.value("method", "") == method.toStdString()
            && path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
            matching.push_back(r);
    }
    return matching;
}

}  // namespace zafrel::test
