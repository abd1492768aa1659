#include "support/fake_upload_service.h"

namespace zafrel::test {

FakeReply jsonReply(const nlohmann::json& value, int status)
{
    return FakeReply::status(status, value.dump());
}

FakeUploadService::FakeUploadService()
{
    network_->intercept = [this](const SeenRequest& req) { return intercept ? intercept(req) : std::nullopt; };
    const auto bind = [this](FakeReply (FakeUploadService::*handler)(const SeenRequest&)) {
        return [this, handler](const SeenRequest& req) { return (this->*handler)(req); };
    };
    network_->route("GET", "/api/ls", bind(&FakeUploadService::ls));
    network_->route("POST", "/api/upload/init", bind(&FakeUploadService::init));
    network_->route("GET", "/api/upload/urls", bind(&FakeUploadService::urls));
    network_->route("POST", "/api/upload/complete", bind(&FakeUploadService::complete));
    network_->route("POST", "/api/upload/abort", bind(&FakeUploadService::abort));
    network_->route("POST", "/api/upload/done", [](const SeenRequest&) { return jsonReply({{"ok", true}}); });
    network_->route("PUT", "/store/", bind(&FakeUploadService::put));
    network_->route("HEAD", "/", [](const SeenRequest&) { return FakeReply::status(200, {}, {}); });
}

nlohmann::json FakeUploadService::defaultInit(const nlohmann::json& body)
{
    const std::string key = body.at("path").get<std::string>() + body.at("name").get<std::string>();
    if (body.at("size").get<int64_t>() <= 33554432)
        return {{"mode", "single"}, {"key", key}, {"url", origin() + "/store/" + key}};
    return {{"mode", "multipart"}, {"key", key}, {"uploadId", "up-" + std::to_string(++uploadIds_)}};
}

FakeReply FakeUploadService::ls(const SeenRequest& req)
{
    const std::string path = req.param("path");
    listed_.push_back(path);
    if (listingFailures_ > 0) {
        --listingFailures_;
        return jsonReply({{"error", "listado roto"}}, listingFailureStatus_);
    }
    nlohmann::json files = nlohmann::json::array();
    for (const auto& [name, size] : listings_[path])
        files.push_back({{"name", name}, {"path", path + name}, {"size", size}, {"modified", 0}});
    return jsonReply({{"path", path}, {"folders", nlohmann::json::array()}, {"files", files}});
}

FakeReply FakeUploadService::init(const SeenRequest& req)
{
    const nlohmann::json body = nlohmann::json::parse(req.body());
    inits_.push_back(body);
    return jsonReply(onInit ? onInit(body) : defaultInit(body));
}

FakeReply FakeUploadService::urls(const SeenRequest& req)
{
    UrlRequest r{req.param("key"), req.param("uploadId"), std::stoll(req.param("first")), std::stoll(req.param("last")),
                 req.param("accelerate")};
    urlRequests_.push_back(r);
    if (forgotten_.contains(r.uploadId))
        return jsonReply({{"error", "La subida no existe"}}, 404);
    nlohmann::json map = nlohmann::json::object();
    for (int64_t n = r.first; n <= r.last; ++n)
        map[std::to_string(n)] = origin() + "/store/" + r.key + "?uploadId=" + r.uploadId + "&partNumber=" + std::to_string(n);
    return jsonReply({{"urls", map}});
}

FakeReply FakeUploadService::complete(const SeenRequest& req)
{
    const nlohmann::json body = nlohmann::json::parse(req.body());
    Completion c{body.at("key"), body.at("uploadId"), {}};
    for (const auto& part : body.at("parts"))
        c.parts.emplace_back(part.at("PartNumber").get<int64_t>(), part.at("ETag").get<std::string>());
    completions_.push_back(c);
    if (forgotten_.contains(c.uploadId))
        return jsonReply({{"error", "La subida no existe"}}, 404);
    return jsonReply({{"ok", true}});
}

FakeReply FakeUploadService::abort(const SeenRequest& req)
{
    const nlohmann::json body = nlohmann::json::parse(req.body());
    aborts_.emplace_back(body.at("key"), body.at("uploadId"));
    return jsonReply({{"ok", true}});
}

FakeReply FakeUploadService::put(const SeenRequest& req)
{
    Put p;
    p.key = req.path.substr(std::string("/store/").size());
    p.partNumber = req.hasParam("partNumber") ? std::stoi(req.param("partNumber")) : 0;
    p.uploadId = req.param("uploadId");
    for (const auto& [name, value] : req.request.headers)
        if (QByteArray::fromStdString(name).compare("Content-Type", Qt::CaseInsensitive) == 0)
            p.contentType = value;
    p.bytes = req.request.body.size();
    p.md5 = md5Hex(req.request.body);
    p.attempt = ++attempts_[p.key + "#" + std::to_string(p.partNumber)];
    puts_.push_back(p);
    std::optional<PutReply> reply = onPut ? onPut(p) : std::nullopt;
    if (!reply)
        reply = PutReply{200, "", "\"" + p.md5 + "\""};
    if (reply->status == 200 && p.partNumber == 0)
        objects_[p.key] = req.body();
    FakeReply answer = FakeReply::status(reply->status, reply->body, "application/xml");
    if (reply->etag)
        answer.response.headers.emplace_back("ETag", *reply->etag);
    answer.after = reply->after;
    return answer;
}

}  // namespace zafrel::test
