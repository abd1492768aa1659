#include "support/fake_upload_service.h"

namespace zafrel::test {

FakeUploadService::FakeUploadService()
{
    const auto serve = [this](std::string method, std::string path, FakeNetwork::Handler handler) {
        network_->route(std::move(method), std::move(path), [this, handler](const SeenRequest& req) {
            std::optional<FakeReply> instead = intercept ? intercept(req) : std::nullopt;
            return instead ? *instead : handler(req);
        });
    };
    serve("GET", "/api/ls", std::bind_front(&FakeUploadService::ls, this));
    serve("POST", "/api/upload/init", std::bind_front(&FakeUploadService::init, this));
    serve("GET", "/api/upload/urls", std::bind_front(&FakeUploadService::urls, this));
    serve("POST", "/api/upload/complete", std::bind_front(&FakeUploadService::complete, this));
    serve("POST", "/api/upload/abort", std::bind_front(&FakeUploadService::abort, this));
    serve("POST", "/api/upload/done", [](const SeenRequest&) { return jsonReply({{"ok", true}}); });
    serve("PUT", "/store/", std::bind_front(&FakeUploadService::put, this));
    serve("HEAD", "/", [](const SeenRequest&) { return FakeReply::status(200, {}, {}); });
}

FakeReply FakeUploadService::ls(const SeenRequest& req)
{
    const std::string path = req.param("path");
    nlohmann::json files = nlohmann::json::array();
    for (const auto& [name, size] : listings_[path])
        files.push_back({{"name", name}, {"path", path + name}, {"size", size}, {"modified", 0}});
    return jsonReply({{"path", path}, {"folders", nlohmann::json::array()}, {"files", files}});
}

FakeReply FakeUploadService::init(const SeenRequest& req)
{
    const nlohmann::json& body = inits_.emplace_back(nlohmann::json::parse(req.body()));
    const std::string key = body.at("path").get<std::string>() + body.at("name").get<std::string>();
    nlohmann::json answer = {{"mode", "single"}, {"key", key}, {"url", origin() + "/store/" + key}};
    if (body.at("size").get<int64_t>() > 33554432)
        answer = {{"mode", "multipart"}, {"key", key}, {"uploadId", "up-" + std::to_string(++uploadIds_)}};
    for (const auto& [name, value] : initChange_.items())
        value.is_null() ? void(answer.erase(name)) : void(answer[name] = value);
    return jsonReply(answer);
}

FakeReply FakeUploadService::urls(const SeenRequest& req)
{
    const std::string key = req.param("key"), uploadId = req.param("uploadId");
    if (forgotten_.contains(uploadId))
        return jsonReply({{"error", "La subida no existe"}}, 404);
    nlohmann::json map = nlohmann::json::object();
    for (int64_t n = std::stoll(req.param("first")); n <= std::stoll(req.param("last")); ++n)
        map[std::to_string(n)] = origin() + "/store/" + key + "?uploadId=" + uploadId + "&partNumber=" + std::to_string(n);
    return jsonReply({{"urls", map}});
}

FakeReply FakeUploadService::complete(const SeenRequest& req)
{
    const nlohmann::json body = nlohmann::json::parse(req.body());
    Completion& c = completions_.emplace_back(Completion{body.at("uploadId"), {}});
    for (const auto& part : body.at("parts"))
        c.parts.emplace_back(part.at("PartNumber").get<int64_t>(), part.at("ETag").get<std::string>());
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
    Put p{req.path.substr(std::string("/store/").size()), std::atoi(req.param("partNumber").c_str()), "", md5Hex(req.request.body)};
    for (const auto& [name, value] : req.request.headers)
        if (QByteArray::fromStdString(name).compare("Content-Type", Qt::CaseInsensitive) == 0)
            p.contentType = value;
    p.attempt = ++attempts_[p.key + "#" + std::to_string(p.partNumber)];
    puts_.push_back(p);
    const PutReply reply = (onPut ? onPut(p) : std::nullopt).value_or(PutReply{200, "", "\"" + p.md5 + "\""});
    FakeReply answer = FakeReply::status(reply.status, reply.body, "application/xml");
    if (reply.etag)
        answer.response.headers.emplace_back("ETag", *reply.etag);
    answer.after = reply.after;
    return answer;
}

}  // namespace zafrel::test
