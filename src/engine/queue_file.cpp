#include "engine/queue_file.h"
#include "platform/utf8.h"


#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

namespace zafrel {

namespace {

// The queue file is written by hand rather than through a JSON document: a large queue (a
// hundred thousand frames of an image sequence) is rewritten often, and building a document first
// costs several times the encoding itself.

void appendCodePoint(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The text as a JSON string: UTF-8, with quote, backslash and control characters escaped.
// Converted straight from UTF-16 into the output, without a UTF-8 copy of every string. A lone
// surrogate (which no file name decoded from the file system holds) becomes U+FFFD.
void appendJsonString(std::string& out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\') {
                out += char(c);
                continue;
            }
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xf];
            }
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            appendCodePoint(out, 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(p[i + 1]) - 0xDC00));
            ++i;
        } else {
            appendCodePoint(out, c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
        }
    }
    out += '"';
}

// An integer, or the shortest text that reads back as the same double ("1733400000.5"; an integral
// value has no fraction: "1733400000").
template<class Number>
void appendNumber(std::string& out, Number value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

// Canonical 8-4-4-4-12 form in upper case.
void appendUuid(std::string& out, const QUuid& id)
{
    static const char hex[] = "0123456789ABCDEF";
    const uchar bytes[16] = {
        uchar(id.data1 >> 24), uchar(id.data1 >> 16), uchar(id.data1 >> 8), uchar(id.data1),
        uchar(id.data2 >> 8),  uchar(id.data2),       uchar(id.data3 >> 8), uchar(id.data3),
        id.data4[0], id.data4[1], id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7],
    };
    out += '"';
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0xf];
    }
    out += '"';
}

void appendSnapshot(std::string& out, const UploadItem& item)
{
    out += "{\"id\":";
    appendUuid(out, item.id);
    out += ",\"path\":";
    appendJsonString(out, item.path);
    out += ",\"size\":";
    appendNumber(out, item.size);
    out += ",\"mtime\":";
    // A value JSON cannot carry (never produced by the file system) is written as 0 rather than
    // failing the whole file over a field nothing reads.
    appendNumber(out, std::isfinite(item.mtime) ? item.mtime : 0.0);
    out += ",\"destDir\":";
    appendJsonString(out, item.destDir);
    if (item.key) {
        out += ",\"key\":";
        appendJsonString(out, *item.key);
    }
    if (item.uploadId) {
        out += ",\"uploadId\":";
        appendJsonString(out, *item.uploadId);
    }
    out += ",\"partSize\":";
    appendNumber(out, item.partSize);
    out += ",\"etags\":{";
    bool first = true;
    for (const auto& [part, etag] : item.etags) {
        if (!first)
            out += ',';
        first = false;
        out += '"';
        appendNumber(out, part);
        out += "\":";
        appendJsonString(out, etag);
    }
    out += "},\"status\":\"";
    out += statusText(item.status());
    out += "\"}";
}

std::string encode(const std::vector<ItemPtr>& items)
{
    std::string out;
    out.reserve(items.size() * 256 + 2);
    out += '[';
    bool first = true;
    for (const ItemPtr& item : items) {
        if (!isPersisted(item->status()))
            continue;
        if (!first)
            out += ',';
        first = false;
        appendSnapshot(out, *item);
    }
    out += ']';
    return out;
}

// A fingerprint of the queue file's bytes for the journal's first line: it tells a journal that
// continues this content from one left over from other content. Eight bytes at a time, so that
// even a queue file of tens of megabytes costs a few milliseconds.
uint64_t fingerprint(QByteArrayView bytes)
{
    const auto mix = [](uint64_t h) {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    };
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ uint64_t(bytes.size());
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    for (; left >= 8; p += 8, left -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 31;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, size_t(left));
    h = (h ^ tail ^ (uint64_t(left) << 56)) * 0x94d049bb133111ebULL;
    return mix(h);
}

// A journal line: one record, kind told by its first member.
struct JournalRecord {
    enum class Kind { Item, Gone, Part } kind = Kind::Item;
    Snapshot item;            // Item
    QUuid id;                 // Gone, Part
    int64_t part = 0;         // Part
    QString etag;             // Part
};

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Only the canonical 36-character form, in either case: no braces, no other spellings.
std::optional<QUuid> parseUuid(std::string_view text)
{
    if (text.size() != 36)
        return std::nullopt;
    uchar bytes[16];
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash) {
            if (text[i] != '-')
                return std::nullopt;
            continue;
        }
        if (!isHex(text[i]) || !isHex(text[i + 1]))
            return std::nullopt;
        bytes[n++] = uchar(hexValue(text[i]) << 4 | hexValue(text[i + 1]));
        ++i;
    }
    return QUuid(uint(bytes[0]) << 24 | uint(bytes[1]) << 16 | uint(bytes[2]) << 8 | bytes[3],
                 ushort(bytes[4] << 8 | bytes[5]), ushort(bytes[6] << 8 | bytes[7]), bytes[8], bytes[9], bytes[10],
                 bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
}

QString toQString(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// A strict JSON reader for the queue file that fills snapshots directly. A general JSON document
// (a tree of maps and strings) costs several times more than the file's own content: restoring a
// queue of a hundred thousand items must stay well under half a second. Anything that is not
// valid JSON, or not the expected shape, fails the whole file.
class QueueReader {
public:
    QueueReader(const char* begin, const char* end) : p_(begin), end_(end) {}

    std::optional<std::vector<Snapshot>> read()
    {
        std::vector<Snapshot> snapshots;
        skipSpace();
        const bool ok = consume('[') && readSequence(']', [&] {
            Snapshot& s = snapshots.emplace_back();
            return readSnapshot(s);
        });
        skipSpace();
        if (!ok || p_ != end_)
            return std::nullopt;
        return snapshots;
    }

    // The journal's first line, {"base":"<16 hex digits>","bytes":N}, the line feed excluded.
    bool readJournalHeader(uint64_t& base, int64_t& bytes)
    {
        bool haveBase = false, haveBytes = false;
        const bool ok = readObject([&] {
            if (name_ == "base") {
                haveBase = true;
                if (!readString(scratch_) || scratch_.size() != 16)
                    return false;
                const auto result = std::from_chars(scratch_.data(), scratch_.data() + 16, base, 16);
                return result.ec == std::errc() && result.ptr == scratch_.data() + 16;
            }
            if (name_ == "bytes") {
                haveBytes = true;
                return readNumber(bytes);
            }
            return skipValue(1);
        });
        return ok && haveBase && haveBytes && p_ == end_;
    }

    // One record line, the line feed excluded: {"item":{...}}, {"gone":"<id>"} or
    // {"part":"<id>","n":N,"etag":"..."}.
    bool readJournalRecord(JournalRecord& record)
    {
        bool item = false, gone = false, part = false, number = false, etag = false;
        const bool ok = readObject([&] {
            if (name_ == "item") {
                item = true;
                record.kind = JournalRecord::Kind::Item;
                return readSnapshot(record.item);
            }
            if (name_ == "gone" || name_ == "part") {
                (name_ == "gone" ? gone : part) = true;
                record.kind = name_ == "gone" ? JournalRecord::Kind::Gone : JournalRecord::Kind::Part;
                return readString(scratch_) && assign(record.id, parseUuid(scratch_));
            }
            if (name_ == "n") {
                number = true;
                return readNumber(record.part);
            }
            if (name_ == "etag") {
                etag = true;
                return readQString(record.etag);
            }
            return skipValue(1);
        });
        if (!ok || p_ != end_ || int(item) + int(gone) + int(part) != 1)
            return false;
        return !part || (number && etag);
    }

private:
    static constexpr int kMaxDepth = 256;

    bool atEnd() const { return p_ == end_; }

    void skipSpace()
    {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }

    bool consume(char c)
    {
        if (p_ == end_ || *p_ != c)
            return false;
        ++p_;
        return true;
    }

    bool consumeWord(std::string_view word)
    {
        if (size_t(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word)
            return false;
        p_ += word.size();
        return true;
    }

    // The elements of an array or the members of an object, the opening bracket already read:
    // `element` reads one (the reader stands on it) and answers whether it was well-formed.
    template<class ReadElement>
    bool readSequence(char close, ReadElement&& element)
    {
        skipSpace();
        if (consume(close))
            return true;
        for (;;) {
            if (!element())
                return false;
            skipSpace();
            if (consume(close))
                return true;
            if (!consume(','))
                return false;
            skipSpace();
        }
    }

    // An object: `value` reads the value of the member whose name is in name_.
    template<class ReadValue>
    bool readObject(ReadValue&& value)
    {
        return consume('{') && readSequence('}', [&] {
            if (!readString(name_))
                return false;
            skipSpace();
            if (!consume(':'))
                return false;
            skipSpace();
            return value();
        });
    }

    // A string value into `out` (UTF-8, escapes resolved); the reader stands on its opening quote.
    bool readString(std::string& out)
    {
        out.clear();
        if (!consume('"'))
            return false;
        for (;;) {
            const char* run = p_;
            while (p_ != end_) {
                const auto c = static_cast<unsigned char>(*p_);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
                    break;
                ++p_;
            }
            out.append(run, p_ - run);
            if (p_ == end_)
                return false;
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c >= 0x80) {
                const int length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p_),
                                                      reinterpret_cast<const unsigned char*>(end_));
                if (length == 0)
                    return false;
                out.append(p_, length);
                p_ += length;
                continue;
            }
            ++p_;   // the backslash
            if (p_ == end_)
                return false;
            switch (*p_++) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!readHex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return false;   // a second half without its first
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low = 0;
                    if (!consume('\\') || !consume('u') || !readHex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendCodePoint(out, cp);
                break;
            }
            default:
                return false;
            }
        }
    }

    bool readHex4(uint32_t& value)
    {
        if (end_ - p_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (!isHex(p_[i]))
                return false;
            value = value << 4 | uint32_t(hexValue(p_[i]));
        }
        p_ += 4;
        return true;
    }

    // A number by the JSON grammar; `integral` tells whether it had neither fraction nor exponent.
    bool readNumberText(std::string_view& text, bool& integral)
    {
        const char* start = p_;
        integral = true;
        consume('-');
        if (consume('0')) {
        } else if (!atEnd() && *p_ >= '1' && *p_ <= '9') {
            while (!atEnd() && *p_ >= '0' && *p_ <= '9')
                ++p_;
        } else {
            return false;
        }
        if (consume('.')) {
            integral = false;
            if (atEnd() || *p_ < '0' || *p_ > '9')
                return false;
            while (!atEnd() && *p_ >= '0' && *p_ <= '9')
                ++p_;
        }
        if (!atEnd() && (*p_ == 'e' || *p_ == 'E')) {
            integral = false;
            ++p_;
            if (!consume('+'))
                consume('-');
            if (atEnd() || *p_ < '0' || *p_ > '9')
                return false;
            while (!atEnd() && *p_ >= '0' && *p_ <= '9')
                ++p_;
        }
        text = std::string_view(start, p_ - start);
        return true;
    }

    // An integer member takes only numbers without fraction or exponent.
    template<class Number>
    bool readNumber(Number& value)
    {
        std::string_view text;
        bool integral = false;
        if (!readNumberText(text, integral) || (std::is_integral_v<Number> && !integral))
            return false;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        return result.ec == std::errc() && result.ptr == text.data() + text.size();
    }

    bool readQString(QString& value)
    {
        if (!readString(scratch_))
            return false;
        value = toQString(scratch_);
        return true;
    }

    // A member whose value may be absent or null: answers false only for a value of another type.
    bool readOptionalString(std::optional<QString>& value)
    {
        if (consumeWord("null")) {
            value.reset();
            return true;
        }
        return readQString(value.emplace());
    }

    // Any value, thrown away (members this version does not know).
    bool skipValue(int depth)
    {
        if (depth > kMaxDepth || atEnd())
            return false;
        switch (*p_) {
        case '"':
            return readString(scratch_);
        case '{':
            return readObject([&] { return skipValue(depth + 1); });
        case '[':
            ++p_;
            return readSequence(']', [&] { return skipValue(depth + 1); });
        case 't':
            return consumeWord("true");
        case 'f':
            return consumeWord("false");
        case 'n':
            return consumeWord("null");
        default: {
            std::string_view text;
            bool integral = false;
            return readNumberText(text, integral);
        }
        }
    }

    bool readEtags(std::map<int64_t, QString>& etags)
    {
        etags.clear();
        return readObject([&] {
            int64_t part = 0;
            const auto result = std::from_chars(name_.data(), name_.data() + name_.size(), part);
            if (name_.empty() || result.ec != std::errc() || result.ptr != name_.data() + name_.size())
                return false;
            if (!readString(scratch_))
                return false;
            etags[part] = toQString(scratch_);
            return true;
        });
    }

    bool readSnapshot(Snapshot& s)
    {
        bool id = false, path = false, size = false, mtime = false, destDir = false, partSize = false,
             etags = false, status = false;
        const bool ok = readObject([&] {
            if (name_ == "id") {
                id = true;
                return readString(scratch_) && assign(s.id, parseUuid(scratch_));
            }
            if (name_ == "path") {
                path = true;
                return readQString(s.path);
            }
            if (name_ == "size") {
                size = true;
                return readNumber(s.size);
            }
            if (name_ == "mtime") {
                mtime = true;
                return readNumber(s.mtime);
            }
            if (name_ == "destDir") {
                destDir = true;
                return readQString(s.destDir);
            }
            if (name_ == "key")
                return readOptionalString(s.key);
            if (name_ == "uploadId")
                return readOptionalString(s.uploadId);
            if (name_ == "partSize") {
                partSize = true;
                return readNumber(s.partSize);
            }
            if (name_ == "etags") {
                etags = true;
                return readEtags(s.etags);
            }
            if (name_ == "status") {
                status = true;
                return readString(scratch_) && assign(s.status, statusFromText(scratch_));
            }
            return skipValue(1);
        });
        return ok && id && path && size && mtime && destDir && partSize && etags && status;
    }

    template<class T>
    static bool assign(T& to, std::optional<T> from)
    {
        if (!from)
            return false;
        to = std::move(*from);
        return true;
    }

    const char* p_;
    const char* end_;
    std::string name_;      // the member name being read
    std::string scratch_;   // the string value being read
};

}  // namespace

bool isPersisted(Status status)
{
    return status == Status::Queued || status == Status::Running || status == Status::Paused
        || status == Status::Error;
}

QByteArray encodeQueue(const std::vector<ItemPtr>& items)
{
    const std::string bytes = encode(items);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

std::string journalHeader(QByteArrayView base)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fingerprint(base)));
    std::string out = "{\"base\":\"";
    out += hex;
    out += "\",\"bytes\":";
    appendNumber(out, int64_t(base.size()));
    out += "}\n";
    return out;
}

std::string journalItemRecord(const UploadItem& item)
{
    std::string out;
    if (isPersisted(item.status())) {
        out.reserve(320);
        out += "{\"item\":";
        appendSnapshot(out, item);
        out += "}\n";
    } else {
        out += "{\"gone\":";
        appendUuid(out, item.id);
        out += "}\n";
    }
    return out;
}

std::string journalPartRecord(const UploadItem& item, int64_t part)
{
    std::string out = "{\"part\":";
    appendUuid(out, item.id);
    out += ",\"n\":";
    appendNumber(out, part);
    out += ",\"etag\":";
    const auto etag = item.etags.find(part);
    appendJsonString(out, etag == item.etags.end() ? QString() : etag->second);
    out += "}\n";
    return out;
}

bool applyJournal(QByteArrayView journal, QByteArrayView base, std::vector<Snapshot>& snapshots)
{
    const char* p = journal.data();
    const char* const end = p + journal.size();
    // Only whole lines count: a line without its line feed was being written when the program ended.
    const auto nextLine = [&](const char*& lineEnd) {
        lineEnd = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        return lineEnd != nullptr;
    };
    const char* lineEnd = nullptr;
    if (journal.isEmpty() || !nextLine(lineEnd))
        return false;
    uint64_t baseFingerprint = 0;
    int64_t baseBytes = -1;
    if (!QueueReader(p, lineEnd).readJournalHeader(baseFingerprint, baseBytes) || baseBytes != base.size()
        || baseFingerprint != fingerprint(base))
        return false;
    p = lineEnd + 1;

    std::map<QUuid, std::vector<size_t>> positions;
    for (size_t i = 0; i < snapshots.size(); ++i)
        positions[snapshots[i].id].push_back(i);
    std::vector<char> removed(snapshots.size(), 0);
    bool applied = false;
    while (p != end && nextLine(lineEnd)) {
        JournalRecord record;
        if (!QueueReader(p, lineEnd).readJournalRecord(record))
            break;   // nothing after a damaged line can be trusted to follow it
        p = lineEnd + 1;
        applied = true;
        const QUuid& id = record.kind == JournalRecord::Kind::Item ? record.item.id : record.id;
        const auto found = positions.find(id);
        if (found == positions.end())
            continue;
        for (const size_t i : found->second) {
            switch (record.kind) {
            case JournalRecord::Kind::Item:
                snapshots[i] = record.item;
                removed[i] = 0;
                break;
            case JournalRecord::Kind::Gone:
                removed[i] = 1;
                break;
            case JournalRecord::Kind::Part:
                snapshots[i].etags.insert_or_assign(record.part, record.etag);
                break;
            }
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < snapshots.size(); ++i) {
        if (removed[i])
            continue;
        if (kept != i)   // a map moved onto itself may come out empty
            snapshots[kept] = std::move(snapshots[i]);
        ++kept;
    }
    snapshots.resize(kept);
    return applied;
}

std::optional<std::vector<Snapshot>> decodeQueue(const QByteArray& bytes)
{
    return QueueReader(bytes.constData(), bytes.constData() + bytes.size()).read();
}

}  // namespace zafrel
