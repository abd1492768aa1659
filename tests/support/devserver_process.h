#pragma once
// The local stand-in (devserver/server.js: service, signing front and s3rver) as a child process of
// a test, with blocking calls to its control endpoint. Stopped (SIGTERM) when the object goes.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace zafrel::test {

class DevServerProcess {
public:
    // Starts `node devserver/server.js` on free ports and waits (up to 60 s) for its ready line.
    DevServerProcess();
    ~DevServerProcess();

    // False when it did not start (no node, no npm packages...); failure() then says why.
    bool started() const { return !service_.isEmpty(); }
    QString failure() const { return failure_; }
    QString serviceURL() const { return service_; }   // "http://127.0.0.1:P1"
    QString storeURL() const { return store_; }       // the signing front of the store

    // Control endpoint (devserver/README.md). Each call throws std::runtime_error when the stand-in
    // does not answer 2xx.
    nlohmann::json requests() const { return control("GET", "/__control/requests"); }   // oldest first
    void addFault(const nlohmann::json& fault) const { control("POST", "/__control/faults", fault.dump()); }
    void reset() const { control("POST", "/__control/reset"); }   // clears the log and the faults
    // [{"key","size","md5"}] of the first company's bucket, or of `bucket`.
    nlohmann::json objects(const std::string& bucket = {}) const
    { return control("GET", ("/__control/objects" + (bucket.empty() ? "" : "?bucket=" + bucket)).c_str()); }
    nlohmann::json uploads() const { return control("GET", "/__control/uploads"); }   // [{"uploadId","key","parts"}]
    // The bytes of the first company's object of full key `key`; nothing when there is none.
    std::optional<QByteArray> objectBytes(const QString& key) const;
    // The store ends the open upload on its own; the service still signs for it.
    void forgetUpload(const std::string& uploadId) const
    { control("POST", "/__control/forget-upload", nlohmann::json{{"uploadId", uploadId}}.dump()); }

    // The logged requests of the store (or the service) of `method` whose path ends with `pathSuffix`.
    std::vector<nlohmann::json> storeRequests(const QString& method, const QString& pathSuffix) const
    { return requestsOf("store", method, pathSuffix); }
    std::vector<nlohmann::json> serviceRequests(const QString& method, const QString& pathSuffix) const
    { return requestsOf("service", method, pathSuffix); }

private:
    nlohmann::json control(const char* method, const char* path, const std::string& body = {}) const;
    std::vector<nlohmann::json> requestsOf(const char* server, const QString& method, const QString& pathSuffix) const;

    QTemporaryDir dir_;
    QProcess process_;
    QString store_;
    QString failure_;
    QString service_;
};

}  // namespace zafrel::test
