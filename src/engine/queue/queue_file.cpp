#include "engine/queue/queue_file.h"
#include "engine/queue/queue_file_reader.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

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
    if (item.key()) {
        out += ",\"key\":";
        appendJsonString(out, *item.key());
    }
    if (item.uploadId()) {
        out += ",\"uploadId\":";
        appendJsonString(out, *item.uploadId());
    }
    out += ",\"partSize\":";
    appendNumber(out, item.partSize());
    out += ",\"etags\":{";
    bool first = true;
    for (const auto& [part, etag] : item.etags()) {
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

}  // namespace

bool isPersisted(Status status)
{
    return status == Status::Queued || status == Status::Running || status == Status::Paused
        || status == Status::Error || status == Status::Cancelled;
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
    const auto etag = item.etags().find(part);
    appendJsonString(out, etag == item.etags().end() ? QString() : etag->second);
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
    if (!readJournalHeader(std::string_view(p, size_t(lineEnd - p)), baseFingerprint, baseBytes) || baseBytes != base.size()
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
        if (!readJournalRecord(std::string_view(p, size_t(lineEnd - p)), record))
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
    return readQueueFile(std::string_view(bytes.constData(), size_t(bytes.size())));
}

}  // namespace zafrel
