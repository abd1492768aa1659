#pragma once
// A scripted stand-in for both sides of an upload, for the engine's transfer tests: the company's
// service ("api/ls", "api/upload/init|urls|complete|abort|done") and the object store (PUT of whole
// objects and of parts, answered with the MD5 of the body as ETag). Runs on 127.0.0.1 on a free
// port and records everything; tests script failures through hooks and hold requests with gates.
#include "platform/md5.h"
#include "support/http_test_server.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zafrel::test {

// A request held by the server until the test opens the gate (or 30 s pass).
class Gate {
public:
    void pass()
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(30), [this] { return open_; });
        --waiting_;
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int waiting() const
    {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

class TransferTestServer {
public:
    struct Put {
        std::string key;            // object key (path after "/store/")
        int partNumber = 0;         // 0 for a single-request upload
        std::string uploadId;
        std::string contentType;    // "" when the request had none
        int64_t bytes = 0;
        std::string md5;
        int attempt = 1;            // how many PUTs of this key and part arrived so far, this one included
    };
    struct PutReply {
        int status = 200;
        std::string body;
        std::optional<std::string> etag;   // no header when absent
    };
    struct UrlRequest {
        std::string key, uploadId;
        int64_t first = 0, last = 0;
        std::string accelerate;
    };
    struct Completion {
        std::string key, uploadId;
        std::vector<std::pair<int64_t, std::string>> parts;   // as sent, in order
    };

    // Decides the answer to a PUT; nullopt gives the default (200, ETag "<md5>" in quotes).
    // Called on a server thread, outside the server's lock: it may block (gates).
    std::function<std::optional<PutReply>(const Put&)> onPut;
    // Answer of "api/upload/init" for its JSON body; the default is described at defaultInit().
    std::function<nlohmann::json(const nlohmann::json& body)> onInit;
    // Sees every request first and answers it instead of the script when it returns true: a
    // hostile service or store. Set before the requests it is meant for; called on server threads.
    std::function<bool(const httplib::Request&, httplib::Response&)> intercept;

    TransferTestServer() : http_(12)
    {
        httplib::Server& server = http_.server();
        server.set_payload_max_length(size_t(128) << 20);
        // The pre-routing handler runs before the server has read a request's body: answering
        // there would leave the body on a kept-alive connection, to be read as the next request
        // line (a 400 nobody sent). Requests with a body are offered to `intercept` once read.
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return !carriesBody(req) && intercept && intercept(req, res) ? httplib::Server::HandlerResponse::Handled
                                                                         : httplib::Server::HandlerResponse::Unhandled;
        });
        const auto withBody = [this](auto handle) {
            return [this, handle](const httplib::Request& req, httplib::Response& res) {
                // A request without a body was offered before routing already: once is enough.
                if (!(carriesBody(req) && intercept && intercept(req, res)))
                    handle(req, res);
            };
        };
        server.Get("/api/ls", [this](const auto& req, auto& res) { ls(req, res); });
        server.Post("/api/upload/init", withBody([this](const auto& req, auto& res) { init(req, res); }));
        server.Get("/api/upload/urls", [this](const auto& req, auto& res) { urls(req, res); });
        server.Post("/api/upload/complete", withBody([this](const auto& req, auto& res) { complete(req, res); }));
        server.Post("/api/upload/abort", withBody([this](const auto& req, auto& res) { abort(req, res); }));
        server.Post("/api/upload/done", withBody([this](const auto&, auto& res) {
            std::lock_guard lock(mutex_);
            ++doneCalls_;
            res.set_content("{\"ok\":true}", "application/json");
        }));
        server.Put("/store/(.*)", withBody([this](const auto& req, auto& res) { put(req, res); }));
        server.Post(".*", withBody([](const auto&, auto& res) { res.status = 404; }));
        server.Get("/", [this](const auto&, auto& res) {   // also answers HEAD
            std::lock_guard lock(mutex_);
            ++heads_;
            res.status = 200;
        });
        http_.start();
    }

    ~TransferTestServer() { http_.stop(); }

    TransferTestServer(const TransferTestServer&) = delete;
    TransferTestServer& operator=(const TransferTestServer&) = delete;

    int port() const { return http_.port(); }
    std::string origin() const { return http_.origin(); }

    // The listing of folder `path` names `name` with `size`.
    void list(const std::string& path, const std::string& name, int64_t size)
    {
        std::lock_guard lock(mutex_);
        listings_[path][name] = size;
    }
    // The next `count` listings fail with `status` {"error":"listado roto"}.
    void failListings(int count, int status = 500)
    {
        std::lock_guard lock(mutex_);
        listingFailures_ = count;
        listingFailureStatus_ = status;
    }

    // The service no longer knows this upload: "api/upload/urls" and "complete" answer 404.
    void forget(const std::string& uploadId)
    {
        std::lock_guard lock(mutex_);
        forgotten_.insert(uploadId);
    }

    std::vector<std::string> listed() const { return locked(listed_); }
    std::vector<nlohmann::json> inits() const { return locked(inits_); }
    std::vector<UrlRequest> urlRequests() const { return locked(urlRequests_); }
    std::vector<Completion> completions() const { return locked(completions_); }
    std::vector<std::pair<std::string, std::string>> aborts() const { return locked(aborts_); }
    std::vector<Put> puts() const { return locked(puts_); }
    int doneCalls() const { return locked(doneCalls_); }
    int heads() const { return locked(heads_); }
    // Bytes of the last successful single PUT of `key`.
    std::optional<std::string> object(const std::string& key) const
    {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(key);
        return it == objects_.end() ? std::nullopt : std::optional(it->second);
    }

    // Default init answer: "single" with a URL of this server for sizes up to 32 MiB, otherwise
    // "multipart" with a fresh upload id and no part size. Key = path + name.
    nlohmann::json defaultInit(const nlohmann::json& body)
    {
        const std::string key = body.at("path").get<std::string>() + body.at("name").get<std::string>();
        if (body.at("size").get<int64_t>() <= 33554432)
            return {{"mode", "single"}, {"key", key}, {"url", origin() + "/store/" + key}};
        std::lock_guard lock(mutex_);
        return {{"mode", "multipart"}, {"key", key}, {"uploadId", "up-" + std::to_string(++uploadIds_)}};
    }

private:
    template<class T>
    T locked(const T& value) const
    {
        std::lock_guard lock(mutex_);
        return value;
    }

    static bool carriesBody(const httplib::Request& req)
    {
        return req.has_header("Transfer-Encoding") || std::atoll(req.get_header_value("Content-Length").c_str()) > 0;
    }

    static void json(httplib::Response& res, const nlohmann::json& value, int status = 200)
    {
        res.status = status;
        res.set_content(value.dump(), "application/json");
    }

    void ls(const httplib::Request& req, httplib::Response& res)
    {
        const std::string path = req.get_param_value("path");
        std::lock_guard lock(mutex_);
        listed_.push_back(path);
        if (listingFailures_ > 0) {
            --listingFailures_;
            return json(res, {{"error", "listado roto"}}, listingFailureStatus_);
        }
        nlohmann::json files = nlohmann::json::array();
        for (const auto& [name, size] : listings_[path])
            files.push_back({{"name", name}, {"path", path + name}, {"size", size}, {"modified", 0}});
        json(res, {{"path", path}, {"folders", nlohmann::json::array()}, {"files", files}});
    }

    void init(const httplib::Request& req, httplib::Response& res)
    {
        const nlohmann::json body = nlohmann::json::parse(req.body);
        {
            std::lock_guard lock(mutex_);
            inits_.push_back(body);
        }
        json(res, onInit ? onInit(body) : defaultInit(body));
    }

    void urls(const httplib::Request& req, httplib::Response& res)
    {
        UrlRequest r{req.get_param_value("key"), req.get_param_value("uploadId"),
                     std::stoll(req.get_param_value("first")), std::stoll(req.get_param_value("last")),
                     req.get_param_value("accelerate")};
        nlohmann::json map = nlohmann::json::object();
        for (int64_t n = r.first; n <= r.last; ++n)
            map[std::to_string(n)] = origin() + "/store/" + r.key + "?uploadId=" + r.uploadId + "&partNumber=" + std::to_string(n);
        {
            std::lock_guard lock(mutex_);
            urlRequests_.push_back(r);
            if (forgotten_.contains(r.uploadId))
                return json(res, {{"error", "La subida no existe"}}, 404);
        }
        json(res, {{"urls", map}});
    }

    void complete(const httplib::Request& req, httplib::Response& res)
    {
        const nlohmann::json body = nlohmann::json::parse(req.body);
        Completion c{body.at("key"), body.at("uploadId"), {}};
        for (const auto& part : body.at("parts"))
            c.parts.emplace_back(part.at("PartNumber").get<int64_t>(), part.at("ETag").get<std::string>());
        {
            std::lock_guard lock(mutex_);
            completions_.push_back(c);
            if (forgotten_.contains(c.uploadId))
                return json(res, {{"error", "La subida no existe"}}, 404);
        }
        json(res, {{"ok", true}});
    }

    void abort(const httplib::Request& req, httplib::Response& res)
    {
        const nlohmann::json body = nlohmann::json::parse(req.body);
        {
            std::lock_guard lock(mutex_);
            aborts_.emplace_back(body.at("key"), body.at("uploadId"));
        }
        json(res, {{"ok", true}});
    }

    void put(const httplib::Request& req, httplib::Response& res)
    {
        Put p;
        p.key = req.matches[1];
        p.partNumber = req.has_param("partNumber") ? std::stoi(req.get_param_value("partNumber")) : 0;
        p.uploadId = req.get_param_value("uploadId");
        p.contentType = req.has_header("Content-Type") ? req.get_header_value("Content-Type") : "";
        p.bytes = int64_t(req.body.size());
        p.md5 = md5Hex(req.body.data(), req.body.size());
        {
            std::lock_guard lock(mutex_);
            p.attempt = ++attempts_[p.key + "#" + std::to_string(p.partNumber)];
            puts_.push_back(p);
        }
        std::optional<PutReply> reply = onPut ? onPut(p) : std::nullopt;
        if (!reply)
            reply = PutReply{200, "", "\"" + p.md5 + "\""};
        if (reply->status == 200 && p.partNumber == 0) {
            std::lock_guard lock(mutex_);
            objects_[p.key] = req.body;
        }
        res.status = reply->status;
        if (reply->etag)
            res.set_header("ETag", *reply->etag);
        res.set_content(reply->body, "application/xml");
    }

    TestHttpServer http_;
    mutable std::mutex mutex_;
    std::map<std::string, std::map<std::string, int64_t>> listings_;
    int listingFailures_ = 0;
    int listingFailureStatus_ = 500;
    int uploadIds_ = 0;
    std::vector<std::string> listed_;
    std::vector<nlohmann::json> inits_;
    std::vector<UrlRequest> urlRequests_;
    std::vector<Completion> completions_;
    std::vector<std::pair<std::string, std::string>> aborts_;
    std::vector<Put> puts_;
    std::map<std::string, int> attempts_;
    std::map<std::string, std::string> objects_;
    std::set<std::string> forgotten_;
    int doneCalls_ = 0;
    int heads_ = 0;
};

}  // namespace zafrel::test
