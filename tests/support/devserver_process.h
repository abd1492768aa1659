#pragma once
// The local stand-in (devserver/server.js: service, signing front and s3rver) as a child process of
// a test, with blocking calls to its control endpoint. Stopped (SIGTERM) when the object goes.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <optional>

namespace zafrel::test {

class DevServerProcess {
public:
    // Why the stand-in cannot run here (no node, no installed npm packages), or nothing.
    static std::optional<QString> unavailableReason();

    // Starts `node devserver/server.js --port 0 --store-port 0 --data <temp>` plus `extraArguments`
    // and waits (up to 60 s) for its ZAFREL_DEVSERVER line.
    explicit DevServerProcess(QStringList extraArguments = {});
    ~DevServerProcess();
    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    // False when it did not start; failure() then says why (with its stderr).
    bool started() const { return started_; }
    QString failure() const { return failure_; }

    QString serviceURL() const { return service_; }   // "http://127.0.0.1:P1"
    QString storeURL() const { return store_; }       // the signing front that pre-signed URLs name
    QString s3rverURL() const { return s3rver_; }
    QString bucket() const { return bucket_; }

    // Control endpoint. Each call throws std::runtime_error when the stand-in does not answer 2xx.
    nlohmann::json requests() const;                       // the request log, oldest first
    void addFault(const nlohmann::json& fault) const;      // POST /__control/faults
    void reset() const;                                    // clears the log and the faults
    // After an outage: waits (up to `deadline`) until the service answers again.
    bool waitUntilAnswering(std::chrono::milliseconds deadline) const;
    std::optional<QByteArray> object(const QString& key) const;   // stored bytes, nothing when absent
    nlohmann::json objects(const QString& prefix = {}) const;     // [{"key","size","md5"}]
    nlohmann::json openUploads() const;                           // [{"uploadId","key","parts"}]

    // The store (or service) requests of the log that match `method` and whose path ends with
    // `pathSuffix`.
    std::vector<nlohmann::json> storeRequests(const QString& method, const QString& pathSuffix) const;
    std::vector<nlohmann::json> serviceRequests(const QString& method, const QString& pathSuffix) const;

private:
    std::vector<nlohmann::json> requestsOf(const char* server, const QString& method, const QString& pathSuffix) const;

    QTemporaryDir dir_;
    QProcess process_;
    bool started_ = false;
    QString failure_;
    QString service_, store_, s3rver_, bucket_;
};

}  // namespace zafrel::test
