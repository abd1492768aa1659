#pragma once
// Both sides of an upload for the engine's tests, on the in-process network: the company's service
// ("api/ls", "api/upload/init|urls|complete|abort|done") and the object store (PUT of whole
// objects and of parts, answered with the MD5 of the body as ETag). Records everything; tests
// script other answers through onPut and intercept, and hold answers at gates.
#include "platform/md5.h"
#include "support/fake_network.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zafrel::test {

class FakeUploadService {
public:
    struct Put {
        std::string key;            // object key (path after "/store/")
        int partNumber = 0;         // 0 for a single-request upload
        std::string contentType;    // "" when the request had none
        std::string md5;
        int attempt = 1;            // how many PUTs of this key and part arrived so far, this one included
    };
    struct PutReply {
        int status = 200;
        std::string body;
        std::optional<std::string> etag;   // no header when absent
        Gate* after = nullptr;             // answered once this gate opens
    };
    struct Completion {
        std::string uploadId;
        std::vector<std::pair<int64_t, std::string>> parts;   // as sent, in order
    };

    // Decides the answer to a PUT; nullopt gives the default (200, ETag "<md5>" in quotes).
    std::function<std::optional<PutReply>(const Put&)> onPut;
    // Sees every request first and answers it instead of the script: a hostile service or store.
    std::function<std::optional<FakeReply>(const SeenRequest&)> intercept;

    FakeUploadService();
    FakeUploadService(const FakeUploadService&) = delete;
    FakeUploadService& operator=(const FakeUploadService&) = delete;

    std::string origin() const { return "http://service.test"; }
    const std::shared_ptr<FakeNetwork>& network() const { return network_; }

    // The listing of folder `path` names `name` with `size`.
    void list(const std::string& path, const std::string& name, int64_t size) { listings_[path][name] = size; }
    // The service no longer knows this upload: "api/upload/urls" and "complete" answer 404.
    void forget(const std::string& uploadId) { forgotten_.insert(uploadId); }
    // "api/upload/init" answers "single" with a store URL for sizes up to 32 MiB, otherwise
    // "multipart" with a fresh upload id and no part size (key = path + name), with the members of
    // `change` set (a null member left out).
    void changeInit(nlohmann::json change) { initChange_ = std::move(change); }

    size_t calls(const std::string& method, const std::string& path) const { return network_->seen(method, path).size(); }
    const std::vector<nlohmann::json>& inits() const { return inits_; }
    const std::vector<Completion>& completions() const { return completions_; }
    const std::vector<std::pair<std::string, std::string>>& aborts() const { return aborts_; }
    const std::vector<Put>& puts() const { return puts_; }

private:
    FakeReply ls(const SeenRequest& req);
    FakeReply init(const SeenRequest& req);
    FakeReply urls(const SeenRequest& req);
    FakeReply complete(const SeenRequest& req);
    FakeReply abort(const SeenRequest& req);
    FakeReply put(const SeenRequest& req);

    std::shared_ptr<FakeNetwork> network_ = FakeNetwork::create();
    std::map<std::string, std::map<std::string, int64_t>> listings_;
    nlohmann::json initChange_ = nlohmann::json::object();
    int uploadIds_ = 0;
    std::vector<nlohmann::json> inits_;
    std::vector<Completion> completions_;
    std::vector<std::pair<std::string, std::string>> aborts_;
    std::vector<Put> puts_;
    std::map<std::string, int> attempts_;
    std::set<std::string> forgotten_;
};

inline FakeReply jsonReply(const nlohmann::json& value, int status = 200) { return FakeReply::status(status, value.dump()); }

}  // namespace zafrel::test
