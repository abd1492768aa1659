#include "client/records.h"

#include "client/api_error.h"

#include <QUrl>

#include <charconv>
#include <limits>
#include <stdexcept>

namespace zafrel {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

const json& objectOf(const json& value)
{
    if (!value.is_object())
        throw APIError::decode();
    return value;
}

// nullptr when the member is absent or null: both mean "not given".
const json* member(const json& object, const char* name)
{
    auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

const json& required(const json& object, const char* name)
{
    const json* value = member(object, name);
    if (!value)
        throw APIError::decode();
    return *value;
}

std::string asString(const json& value)
{
    if (!value.is_string())
        throw APIError::decode();
    return value.get<std::string>();
}

bool asBool(const json& value)
{
    if (!value.is_boolean())
        throw APIError::decode();
    return value.get<bool>();
}

// Only JSON integers: sizes must keep every bit, so a float (even 3.0 or 2^53 written with an
// exponent) is refused instead of being rounded into a plausible wrong number.
int64_t asInt64(const json& value)
{
    if (value.is_number_unsigned()) {
        auto v = value.get<uint64_t>();
        if (v > uint64_t(std::numeric_limits<int64_t>::max()))
            throw APIError::decode();
        return int64_t(v);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    throw APIError::decode();
}

template<class T>
std::vector<T> arrayOf(const json& value)
{
    if (!value.is_array())
        throw APIError::decode();
    std::vector<T> out;
    out.reserve(value.size());
    for (const json& element : value)
        out.push_back(decodeRecord<T>(element));
    return out;
}

std::string requiredString(const json& o, const char* name) { return asString(required(o, name)); }
int64_t requiredInt64(const json& o, const char* name) { return asInt64(required(o, name)); }
bool requiredBool(const json& o, const char* name) { return asBool(required(o, name)); }

std::optional<std::string> optionalString(const json& o, const char* name)
{
    const json* value = member(o, name);
    return value ? std::optional(asString(*value)) : std::nullopt;
}

std::optional<int64_t> optionalInt64(const json& o, const char* name)
{
    const json* value = member(o, name);
    return value ? std::optional(asInt64(*value)) : std::nullopt;
}

template<class T>
void putOptional(ordered_json& out, const char* name, const std::optional<T>& value)
{
    if (value)
        out[name] = *value;
}

// A whole decimal integer with an optional sign; "", "+", "1a", " 1" and "+-1" are not numbers.
std::optional<int64_t> wholeDecimal(const std::string& text)
{
    const char* begin = text.data();
    const char* end = begin + text.size();
    const bool plus = begin != end && *begin == '+';
    if (plus)
        ++begin;
    const char* digits = (!plus && begin != end && *begin == '-') ? begin + 1 : begin;
    if (digits == end || *digits < '0' || *digits > '9')
        return std::nullopt;
    int64_t number = 0;
    auto [ptr, ec] = std::from_chars(begin, end, number);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return number;
}

}  // namespace

template<> Company decodeRecord<Company>(const json& j)
{
    const json& o = objectOf(j);
    return Company{requiredString(o, "slug"), requiredString(o, "name")};
}

template<> User decodeRecord<User>(const json& j)
{
    const json& o = objectOf(j);
    User user;
    user.email = requiredString(o, "email");
    user.name = requiredString(o, "name");
    user.isAdmin = requiredBool(o, "is_admin");
    if (const json* company = member(o, "company"))
        user.company = decodeRecord<Company>(*company);
    user.bucket = requiredString(o, "bucket");
    user.appName = optionalString(o, "app_name");
    return user;
}

template<> Folder decodeRecord<Folder>(const json& j)
{
    const json& o = objectOf(j);
    Folder folder;
    folder.name = requiredString(o, "name");
    folder.path = requiredString(o, "path");
    folder.label = optionalString(o, "label");
    folder.count = requiredInt64(o, "count");
    folder.size = requiredInt64(o, "size");
    return folder;
}

template<> FileEntry decodeRecord<FileEntry>(const json& j)
{
    const json& o = objectOf(j);
    return FileEntry{requiredString(o, "name"), requiredString(o, "path"), requiredInt64(o, "size"),
                     requiredInt64(o, "modified")};
}

template<> Listing decodeRecord<Listing>(const json& j)
{
    const json& o = objectOf(j);
    Listing listing;
    listing.path = requiredString(o, "path");
    listing.folders = arrayOf<Folder>(required(o, "folders"));
    listing.files = arrayOf<FileEntry>(required(o, "files"));
    return listing;
}

template<> InitBody decodeRecord<InitBody>(const json& j)
{
    const json& o = objectOf(j);
    InitBody body;
    body.path = requiredString(o, "path");
    body.name = requiredString(o, "name");
    body.size = requiredInt64(o, "size");
    body.type = requiredString(o, "type");
    body.accelerate = requiredBool(o, "accelerate");
    return body;
}

template<> UploadInit decodeRecord<UploadInit>(const json& j)
{
    const json& o = objectOf(j);
    UploadInit init;
    init.mode = requiredString(o, "mode");
    init.key = requiredString(o, "key");
    init.url = optionalString(o, "url");
    init.uploadId = optionalString(o, "uploadId");
    init.partSize = optionalInt64(o, "partSize");
    init.parts = optionalInt64(o, "parts");
    init.contentType = optionalString(o, "contentType");
    return init;
}

template<> PartURLs decodeRecord<PartURLs>(const json& j)
{
    const json& urls = objectOf(required(objectOf(j), "urls"));
    PartURLs answer;
    for (auto it = urls.begin(); it != urls.end(); ++it)
        answer.urls.emplace_back(it.key(), asString(it.value()));
    return answer;
}

template<> Part decodeRecord<Part>(const json& j)
{
    const json& o = objectOf(j);
    return Part{requiredInt64(o, "PartNumber"), requiredString(o, "ETag")};
}

template<> CompleteBody decodeRecord<CompleteBody>(const json& j)
{
    const json& o = objectOf(j);
    return CompleteBody{requiredString(o, "key"), requiredString(o, "uploadId"), arrayOf<Part>(required(o, "parts"))};
}

json parseJsonBody(const QByteArray& body)
{
    json value = json::parse(body.cbegin(), body.cend(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        throw APIError::decode();
    return value;
}

void requireAnyObject(const json& value)
{
    objectOf(value);
}

void requireOptionalBooleanObject(const json& value)
{
    if (value.is_null())
        return;
    for (const json& member : objectOf(value))
        asBool(member);
}

std::map<int64_t, std::string> usablePartURLs(const PartURLs& answer)
{
    std::map<int64_t, std::string> result;
    for (const auto& [name, text] : answer.urls) {
        auto number = wholeDecimal(name);
        if (!number)
            continue;
        // Only a URL that can actually be sent: absolute, with a host, and valid as written.
        QUrl url(QString::fromStdString(text), QUrl::StrictMode);
        if (!url.isValid() || url.isRelative() || url.host().isEmpty())
            continue;
        result[*number] = text;
    }
    return result;
}

ordered_json encodeRecord(const Company& v)
{
    ordered_json out = ordered_json::object();
    out["slug"] = v.slug;
    out["name"] = v.name;
    return out;
}

ordered_json encodeRecord(const User& v)
{
    ordered_json out = ordered_json::object();
    out["email"] = v.email;
    out["name"] = v.name;
    out["is_admin"] = v.isAdmin;
    if (v.company)
        out["company"] = encodeRecord(*v.company);
    out["bucket"] = v.bucket;
    putOptional(out, "app_name", v.appName);
    return out;
}

ordered_json encodeRecord(const Folder& v)
{
    ordered_json out = ordered_json::object();
    out["name"] = v.name;
    out["path"] = v.path;
    putOptional(out, "label", v.label);
    out["count"] = v.count;
    out["size"] = v.size;
    return out;
}

ordered_json encodeRecord(const FileEntry& v)
{
    ordered_json out = ordered_json::object();
    out["name"] = v.name;
    out["path"] = v.path;
    out["size"] = v.size;
    out["modified"] = v.modified;
    return out;
}

ordered_json encodeRecord(const Listing& v)
{
    ordered_json out = ordered_json::object();
    out["path"] = v.path;
    ordered_json& folders = out["folders"] = ordered_json::array();
    for (const Folder& folder : v.folders)
        folders.push_back(encodeRecord(folder));
    ordered_json& files = out["files"] = ordered_json::array();
    for (const FileEntry& file : v.files)
        files.push_back(encodeRecord(file));
    return out;
}

ordered_json encodeRecord(const InitBody& v)
{
    ordered_json out = ordered_json::object();
    out["path"] = v.path;
    out["name"] = v.name;
    out["size"] = v.size;
    out["type"] = v.type;
    out["accelerate"] = v.accelerate;
    return out;
}

ordered_json encodeRecord(const UploadInit& v)
{
    ordered_json out = ordered_json::object();
    out["mode"] = v.mode;
    out["key"] = v.key;
    putOptional(out, "url", v.url);
    putOptional(out, "uploadId", v.uploadId);
    putOptional(out, "partSize", v.partSize);
    putOptional(out, "parts", v.parts);
    putOptional(out, "contentType", v.contentType);
    return out;
}

ordered_json encodeRecord(const PartURLs& v)
{
    ordered_json urls = ordered_json::object();
    for (const auto& [name, url] : v.urls)
        urls[name] = url;
    ordered_json out = ordered_json::object();
    out["urls"] = std::move(urls);
    return out;
}

ordered_json encodeRecord(const Part& v)
{
    ordered_json out = ordered_json::object();
    out["PartNumber"] = v.partNumber;
    out["ETag"] = v.etag;
    return out;
}

ordered_json encodeRecord(const CompleteBody& v)
{
    ordered_json out = ordered_json::object();
    out["key"] = v.key;
    out["uploadId"] = v.uploadId;
    ordered_json& parts = out["parts"] = ordered_json::array();
    for (const Part& part : v.parts)
        parts.push_back(encodeRecord(part));
    return out;
}

std::string compactJson(const ordered_json& value)
{
    try {
        return value.dump();
    } catch (const nlohmann::json::type_error&) {
        throw std::invalid_argument("La petición contiene texto que no es UTF-8 válido");
    }
}

}  // namespace zafrel
