#include "client/records.h"

#include "client/api_error.h"
#include "platform/ascii_text.h"

#include <QUrl>

#include <array>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <tuple>
#include <type_traits>

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

// One member of a record: the service's name and where it lives in the struct. Decoding and
// encoding both walk a record's list, in the order the members are declared.
template<class Record, class Value>
struct Member {
    const char* name;
    Value Record::*field;
};

template<class Record>
constexpr auto membersOf();
template<> constexpr auto membersOf<Company>()
{
    return std::tuple{Member{"slug", &Company::slug}, Member{"name", &Company::name}};
}
template<> constexpr auto membersOf<User>()
{
    return std::tuple{Member{"email", &User::email},   Member{"name", &User::name},
                      Member{"is_admin", &User::isAdmin}, Member{"company", &User::company},
                      Member{"bucket", &User::bucket}, Member{"app_name", &User::appName}};
}
template<> constexpr auto membersOf<Folder>()
{
    return std::tuple{Member{"name", &Folder::name}, Member{"path", &Folder::path}, Member{"label", &Folder::label},
                      Member{"count", &Folder::count}, Member{"size", &Folder::size}};
}
template<> constexpr auto membersOf<FileEntry>()
{
    return std::tuple{Member{"name", &FileEntry::name}, Member{"path", &FileEntry::path},
                      Member{"size", &FileEntry::size}, Member{"modified", &FileEntry::modified}};
}
template<> constexpr auto membersOf<Listing>()
{
    return std::tuple{Member{"path", &Listing::path}, Member{"folders", &Listing::folders},
                      Member{"files", &Listing::files}};
}
template<> constexpr auto membersOf<InitBody>()
{
    return std::tuple{Member{"path", &InitBody::path}, Member{"name", &InitBody::name}, Member{"size", &InitBody::size},
                      Member{"type", &InitBody::type}, Member{"accelerate", &InitBody::accelerate}};
}
template<> constexpr auto membersOf<UploadInit>()
{
    return std::tuple{Member{"mode", &UploadInit::mode},         Member{"key", &UploadInit::key},
                      Member{"url", &UploadInit::url},           Member{"uploadId", &UploadInit::uploadId},
                      Member{"partSize", &UploadInit::partSize}, Member{"parts", &UploadInit::parts},
                      Member{"contentType", &UploadInit::contentType}};
}
template<> constexpr auto membersOf<Part>()
{
    return std::tuple{Member{"PartNumber", &Part::partNumber}, Member{"ETag", &Part::etag}};
}
template<> constexpr auto membersOf<CompleteBody>()
{
    return std::tuple{Member{"key", &CompleteBody::key}, Member{"uploadId", &CompleteBody::uploadId},
                      Member{"parts", &CompleteBody::parts}};
}

template<class T>
struct IsOptional : std::false_type {};
template<class T>
struct IsOptional<std::optional<T>> : std::true_type {};

void decodeValue(const json& j, std::string& out) { out = asString(j); }
void decodeValue(const json& j, bool& out) { out = asBool(j); }
void decodeValue(const json& j, int64_t& out) { out = asInt64(j); }
template<class Record>
void decodeValue(const json& j, Record& out) { out = decodeRecord<Record>(j); }
template<class T>
void decodeValue(const json& j, std::vector<T>& out)
{
    if (!j.is_array())
        throw APIError::decode();
    out.clear();
    out.reserve(j.size());
    for (const json& element : j)
        decodeValue(element, out.emplace_back());
}

template<class Record>
Record decodeMembers(const json& j)
{
    const json& o = objectOf(j);
    Record record;
    std::apply(
        [&](const auto&... members) {
            const auto decodeMember = [&](const auto& m) {
                auto& field = record.*m.field;
                if constexpr (IsOptional<std::remove_reference_t<decltype(field)>>::value) {
                    if (const json* value = member(o, m.name))
                        decodeValue(*value, field.emplace());
                } else {
                    decodeValue(required(o, m.name), field);
                }
            };
            (decodeMember(members), ...);
        },
        membersOf<Record>());
    return record;
}

template<class T>
ordered_json encodeValue(const T& value)
{
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool> || std::is_same_v<T, int64_t>)
        return value;
    else
        return encodeRecord(value);
}
template<class T>
ordered_json encodeValue(const std::vector<T>& values)
{
    ordered_json out = ordered_json::array();
    for (const T& value : values)
        out.push_back(encodeValue(value));
    return out;
}

template<class Record>
ordered_json encodeMembers(const Record& record)
{
    ordered_json out = ordered_json::object();
    std::apply(
        [&](const auto&... members) {
            const auto encodeMember = [&](const auto& m) {
                const auto& field = record.*m.field;
                if constexpr (IsOptional<std::remove_cvref_t<decltype(field)>>::value) {
                    if (field)
                        out[m.name] = encodeValue(*field);
                } else {
                    out[m.name] = encodeValue(field);
                }
            };
            (encodeMember(members), ...);
        },
        membersOf<Record>());
    return out;
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

constexpr size_t kMostParserSteps = 4'000'000;

// Builds the tree exactly as json::parse does, but gives up past kMostParserSteps values, keys and
// brackets, before the tree has taken the memory.
class BoundedTreeBuilder {
public:
    explicit BoundedTreeBuilder(json& result) : builder_(result, /*allow_exceptions=*/false) {}
    bool null() { return step() && builder_.null(); }
    bool boolean(bool v) { return step() && builder_.boolean(v); }
    bool number_integer(json::number_integer_t v) { return step() && builder_.number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return step() && builder_.number_unsigned(v); }
    bool number_float(json::number_float_t v, const json::string_t& s) { return step() && builder_.number_float(v, s); }
    bool string(json::string_t& v) { return step() && builder_.string(v); }
    bool binary(json::binary_t& v) { return step() && builder_.binary(v); }
    bool start_object(size_t n) { return step() && builder_.start_object(n); }
    bool key(json::string_t& v) { return step() && builder_.key(v); }
    bool end_object() { return step() && builder_.end_object(); }
    bool start_array(size_t n) { return step() && builder_.start_array(n); }
    bool end_array() { return step() && builder_.end_array(); }
    bool parse_error(size_t position, const std::string& token, const nlohmann::detail::exception& e)
    {
        return builder_.parse_error(position, token, e);
    }

private:
    bool step() { return ++steps_ <= kMostParserSteps; }

    nlohmann::detail::json_sax_dom_parser<json> builder_;
    size_t steps_ = 0;
};

// Values that go into a request line or a header: a CR or LF there would end it early and let
// the rest of the value pass for headers of the service's choosing; a NUL would cut it short.
bool fitsInAHeader(const std::string& value)
{
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// The characters a URL's path and query hold as they are: unreserved, sub-delimiters, ":@/?".
constexpr std::array<bool, 256> kAsWritten = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : std::string_view("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/?"))
        table[c] = true;
    return table;
}();

// What the service hands out for every file, all alike: "http(s)://" in any case, a host of
// dot-separated labels of letters, digits and inner hyphens, perhaps a port of at most 65535, then
// nothing or a path or query of characters a URL holds as they are or percent-encoded. Such a URL
// is valid as written; anything else (a fragment, brackets, user info, another character) is left
// to QUrl's strict parser, whose reading of a pre-signed URL cost almost half a 10 KB file's MD5.
bool isPlainHttpURL(std::string_view text)
{
    const auto dropScheme = [&](std::string_view scheme) {
        const bool found = equalsIgnoringAsciiCase(text.substr(0, scheme.size()), scheme);
        if (found)
            text.remove_prefix(scheme.size());
        return found;
    };
    if (!dropScheme("https://") && !dropScheme("http://"))
        return false;
    size_t at = 0;
    for (;;) {   // one label and the dot after it
        const size_t start = at;
        while (at < text.size() && (isAsciiAlnum(text[at]) || text[at] == '-'))
            ++at;
        if (at == start || text[start] == '-' || text[at - 1] == '-')
            return false;
        if (at == text.size() || text[at] != '.')
            break;
        ++at;
    }
    if (at < text.size() && text[at] == ':') {
        const size_t start = ++at;
        unsigned port = 0;
        while (at < text.size() && at - start < 5 && text[at] >= '0' && text[at] <= '9')
            port = port * 10 + unsigned(text[at++] - '0');
        if (at == start || port > 65535)
            return false;
    }
    if (at < text.size() && text[at] != '/' && text[at] != '?')
        return false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '%') {
            if (at + 2 >= text.size() || !isAsciiHexDigit(text[at + 1]) || !isAsciiHexDigit(text[at + 2]))
                return false;
            at += 2;
        } else if (!kAsWritten[static_cast<unsigned char>(c)]) {
            return false;
        }
    }
    return true;
}

// A pre-signed URL that can actually be sent: absolute http or https with a host, valid as
// written. Another scheme would only fail at the transport, and be retried there in vain.
bool isUploadURL(const std::string& text)
{
    if (!fitsInAHeader(text))
        return false;
    if (isPlainHttpURL(text))
        return true;
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

}  // namespace

template<> Company decodeRecord<Company>(const json& j) { return decodeMembers<Company>(j); }
template<> User decodeRecord<User>(const json& j) { return decodeMembers<User>(j); }
template<> Folder decodeRecord<Folder>(const json& j) { return decodeMembers<Folder>(j); }
template<> FileEntry decodeRecord<FileEntry>(const json& j) { return decodeMembers<FileEntry>(j); }
template<> Listing decodeRecord<Listing>(const json& j) { return decodeMembers<Listing>(j); }
template<> InitBody decodeRecord<InitBody>(const json& j) { return decodeMembers<InitBody>(j); }
template<> UploadInit decodeRecord<UploadInit>(const json& j)
{
    UploadInit init = decodeMembers<UploadInit>(j);
    const bool unsafe = !fitsInAHeader(init.key) || (init.uploadId && !fitsInAHeader(*init.uploadId))
                     || (init.contentType && !fitsInAHeader(*init.contentType)) || (init.url && !isUploadURL(*init.url));
    if (unsafe)
        throw APIError::decode();
    return init;
}
template<> Part decodeRecord<Part>(const json& j) { return decodeMembers<Part>(j); }
template<> CompleteBody decodeRecord<CompleteBody>(const json& j) { return decodeMembers<CompleteBody>(j); }

// Kept as sent, in order: the member names are only meant to be part numbers.
template<> PartURLs decodeRecord<PartURLs>(const json& j)
{
    const json& urls = objectOf(required(objectOf(j), "urls"));
    PartURLs answer;
    for (auto it = urls.begin(); it != urls.end(); ++it)
        answer.urls.emplace_back(it.key(), asString(it.value()));
    return answer;
}

json parseJsonBody(const QByteArray& body)
{
    // The bytes of an answer are bounded by the transport, but a tree built from them is not: 64 MiB
    // of "{}," make 22 million objects and gigabytes. A listing of 100,000 files is about a
    // million parser steps; an answer that needs more than a few times that is refused before
    // its tree takes the memory.
    json value;
    BoundedTreeBuilder builder(value);
    if (!json::sax_parse(body.cbegin(), body.cend(), &builder))
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
        if (isUploadURL(text))
            result[*number] = text;
    }
    return result;
}

ordered_json encodeRecord(const Company& v) { return encodeMembers(v); }
ordered_json encodeRecord(const User& v) { return encodeMembers(v); }
ordered_json encodeRecord(const Folder& v) { return encodeMembers(v); }
ordered_json encodeRecord(const FileEntry& v) { return encodeMembers(v); }
ordered_json encodeRecord(const Listing& v) { return encodeMembers(v); }
ordered_json encodeRecord(const InitBody& v) { return encodeMembers(v); }
ordered_json encodeRecord(const UploadInit& v) { return encodeMembers(v); }
ordered_json encodeRecord(const Part& v) { return encodeMembers(v); }
ordered_json encodeRecord(const CompleteBody& v) { return encodeMembers(v); }

ordered_json encodeRecord(const PartURLs& v)
{
    ordered_json urls = ordered_json::object();
    for (const auto& [name, url] : v.urls)
        urls[name] = url;
    ordered_json out = ordered_json::object();
    out["urls"] = std::move(urls);
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
