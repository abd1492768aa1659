#pragma once
// The JSON records exchanged with the company's service. Member names are the service's own;
// encoding writes members in the order they are declared here and leaves absent optionals out.
#include <nlohmann/json.hpp>

#include <QByteArray>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {

struct Company {
    std::string slug, name;
    bool operator==(const Company&) const = default;
};

// Answer of "api/me": "email", "name", "is_admin", "company"?, "bucket", "app_name"?.
struct User {
    std::string email, name;
    bool isAdmin = false;
    std::optional<Company> company;
    std::string bucket;
    std::optional<std::string> appName;
    bool operator==(const User&) const = default;
};

struct Folder {
    std::string name, path;
    std::optional<std::string> label;
    int64_t count = 0, size = 0;
    bool operator==(const Folder&) const = default;
};

struct FileEntry {
    std::string name, path;
    int64_t size = 0, modified = 0;
    bool operator==(const FileEntry&) const = default;
};

// Answer of "api/ls".
struct Listing {
    std::string path;
    std::vector<Folder> folders;
    std::vector<FileEntry> files;
    bool operator==(const Listing&) const = default;
};

// Body of "api/upload/init".
struct InitBody {
    std::string path, name;
    int64_t size = 0;
    std::string type;
    bool accelerate = false;
    bool operator==(const InitBody&) const = default;
};

// Answer of "api/upload/init".
struct UploadInit {
    std::string mode, key;
    std::optional<std::string> url, uploadId;
    std::optional<int64_t> partSize, parts;
    std::optional<std::string> contentType;
    bool operator==(const UploadInit&) const = default;
};

// Answer of "api/upload/urls", as sent: member name (meant as a part number) and URL text.
struct PartURLs {
    std::vector<std::pair<std::string, std::string>> urls;
    bool operator==(const PartURLs&) const = default;
};

// One finished part of a multipart upload; encoded with the object store's names "PartNumber"/"ETag".
struct Part {
    int64_t partNumber = 0;
    std::string etag;
    bool operator==(const Part&) const = default;
};

// Body of "api/upload/complete".
struct CompleteBody {
    std::string key, uploadId;
    std::vector<Part> parts;
    bool operator==(const CompleteBody&) const = default;
};

// Strict decoding: a required member that is missing, null or of another JSON type, or an
// integer member holding a fraction (also 3.0) or a value outside int64, throws
// APIError::decode(). Optional members may be missing or null. Unknown members are ignored.
// An UploadInit whose key, uploadId or contentType holds a CR, LF or NUL, or whose url is not an
// absolute http(s) URL free of them, is refused the same way: those values go into requests.
template<class T> T decodeRecord(const nlohmann::json& json);
template<> Company decodeRecord<Company>(const nlohmann::json& json);
template<> User decodeRecord<User>(const nlohmann::json& json);
template<> Folder decodeRecord<Folder>(const nlohmann::json& json);
template<> FileEntry decodeRecord<FileEntry>(const nlohmann::json& json);
template<> Listing decodeRecord<Listing>(const nlohmann::json& json);
template<> InitBody decodeRecord<InitBody>(const nlohmann::json& json);
template<> UploadInit decodeRecord<UploadInit>(const nlohmann::json& json);
template<> PartURLs decodeRecord<PartURLs>(const nlohmann::json& json);
template<> Part decodeRecord<Part>(const nlohmann::json& json);
template<> CompleteBody decodeRecord<CompleteBody>(const nlohmann::json& json);

// The whole body as one JSON value; anything else (empty, truncated, trailing text, invalid
// UTF-8, or more than four million values, keys and brackets) throws APIError::decode().
nlohmann::json parseJsonBody(const QByteArray& body);

// Answers whose content the client does not use but whose shape it still checks: any JSON
// object ("api/login", "api/mkdir", "api/upload/complete"), or null / an object of booleans
// ("api/logout", "api/upload/abort", "api/upload/done"). Throw APIError::decode() otherwise.
void requireAnyObject(const nlohmann::json& json);
void requireOptionalBooleanObject(const nlohmann::json& json);

// The usable entries of a part-URL answer: member names that are a whole decimal integer (an
// optional leading "+" or "-") paired with values that parse as absolute http(s) URLs with a host
// and hold no CR, LF or NUL.
// Everything else is left out silently; the caller notices missing part numbers itself.
std::map<int64_t, std::string> usablePartURLs(const PartURLs& answer);

nlohmann::ordered_json encodeRecord(const Company& value);
nlohmann::ordered_json encodeRecord(const User& value);
nlohmann::ordered_json encodeRecord(const Folder& value);
nlohmann::ordered_json encodeRecord(const FileEntry& value);
nlohmann::ordered_json encodeRecord(const Listing& value);
nlohmann::ordered_json encodeRecord(const InitBody& value);
nlohmann::ordered_json encodeRecord(const UploadInit& value);
nlohmann::ordered_json encodeRecord(const PartURLs& value);
nlohmann::ordered_json encodeRecord(const Part& value);
nlohmann::ordered_json encodeRecord(const CompleteBody& value);

// Compact JSON text (no spaces, members in insertion order, UTF-8 written as is). Throws
// std::invalid_argument when a string is not valid UTF-8, rather than sending altered text.
std::string compactJson(const nlohmann::ordered_json& json);

}  // namespace zafrel
