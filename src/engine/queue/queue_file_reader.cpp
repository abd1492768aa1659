#include "engine/queue/queue_file_reader.h"

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>

namespace zafrel {

namespace {

using Json = nlohmann::json;

// The value of each hexadecimal digit, -1 for any other byte: a restore reads a hundred thousand ids.
constexpr std::array<int8_t, 256> kHexValues = [] {
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int c = 0; c < 10; ++c)
        values['0' + c] = int8_t(c);
    for (int c = 0; c < 6; ++c) {
        values['a' + c] = int8_t(10 + c);
        values['A' + c] = int8_t(10 + c);
    }
    return values;
}();

// Only the canonical 36-character form, in either case: no braces, no other spellings.
std::optional<QUuid> parseUuid(std::string_view text)
{
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    uchar bytes[16];
    int n = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            ++i;
        const int high = kHexValues[uchar(text[i])];
        const int low = kHexValues[uchar(text[i + 1])];
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[n++] = uchar(high << 4 | low);
    }
    return QUuid(uint(bytes[0]) << 24 | uint(bytes[1]) << 16 | uint(bytes[2]) << 8 | bytes[3],
                 ushort(bytes[4] << 8 | bytes[5]), ushort(bytes[6] << 8 | bytes[7]), bytes[8], bytes[9], bytes[10],
                 bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
}

// All of `text` as a number of type T, or false.
template<class T, class... Base>
bool parseWhole(std::string_view text, T& value, Base... base)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base...);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// A number with a fraction or an exponent, read from its text as the queue file has always been
// read: a value too small for a double refuses the file rather than reading as 0. The parser's copy
// of the text holds the decimal point of the C locale in force, put back to '.' in `spelled`.
bool readFraction(std::string_view text, std::string& spelled, double& value)
{
    spelled = text;
    for (char& c : spelled) {
        if (!(c >= '0' && c <= '9') && c != '-' && c != '+' && c != 'e' && c != 'E')
            c = '.';
    }
    return parseWhole(spelled, value);
}

QString toQString(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// Takes the events of nlohmann's SAX parser straight into snapshots: a queue of a hundred thousand
// items is never built as a tree of JSON values first, which costs several times the file's own
// content, while restoring it must stay well under half a second.
class ShapeReader {
public:
    enum class Document { QueueFile, JournalHeader, JournalRecord };

    explicit ShapeReader(Document document) : slot_(document == Document::QueueFile       ? Slot::QueueFile
                                                     : document == Document::JournalHeader ? Slot::Header
                                                                                           : Slot::Record)
    {
    }

    bool parse(std::string_view text)
    {
        return Json::sax_parse(text.data(), text.data() + text.size(), this) && slot_ == Slot::Done;
    }

    std::vector<Snapshot> snapshots;
    JournalRecord record;
    uint64_t base = 0;
    int64_t bytes = 0;

    // The parser's events. Each answers false, which ends the parse, at the first thing out of shape.
    bool null()
    {
        if (skipDepth_ > 0)
            return skippedScalar();
        if (slot_ == Slot::Key)
            snapshot_->key.reset();
        else if (slot_ == Slot::UploadId)
            snapshot_->uploadId.reset();
        else if (slot_ != Slot::Unknown)
            return false;
        return valueRead();
    }

    bool boolean(bool)
    {
        if (skipDepth_ > 0)
            return skippedScalar();
        return slot_ == Slot::Unknown && valueRead();
    }

    bool number_integer(Json::number_integer_t value) { return integer(value, double(value)); }

    bool number_unsigned(Json::number_unsigned_t value)
    {
        if (value > uint64_t(std::numeric_limits<int64_t>::max()))
            return integer(std::nullopt, double(value));
        return integer(int64_t(value), double(value));
    }

    bool number_float(Json::number_float_t value, const std::string& text)
    {
        if (skipDepth_ > 0)
            return skippedScalar();
        if (slot_ == Slot::Mtime) {
            // The parser's value is the correctly rounded one; only a zero or a subnormal may hide
            // a value too small for a double, which the text itself tells.
            if (std::isnormal(value)) {
                snapshot_->mtime = value;
                return valueRead();
            }
            return readFraction(text, spelled_, snapshot_->mtime) && valueRead();
        }
        // An integer member takes only numbers without fraction or exponent.
        return slot_ == Slot::Unknown && valueRead();
    }

    bool string(std::string& value)
    {
        if (skipDepth_ > 0)
            return skippedScalar();
        switch (slot_) {
        case Slot::Id:
            return assign(snapshot_->id, parseUuid(value)) && valueRead();
        case Slot::Path:
            snapshot_->path = toQString(value);
            break;
        case Slot::DestDir:
            snapshot_->destDir = toQString(value);
            break;
        case Slot::Key:
            snapshot_->key = toQString(value);
            break;
        case Slot::UploadId:
            snapshot_->uploadId = toQString(value);
            break;
        case Slot::EtagValue:
            snapshot_->etags.insert_or_assign(etagPart_, toQString(value));
            break;
        case Slot::Status:
            return assign(snapshot_->status, statusFromText(value)) && valueRead();
        case Slot::Base:
            return value.size() == 16 && parseWhole(value, base, 16) && valueRead();
        case Slot::Gone:
        case Slot::Part:
            return assign(record.id, parseUuid(value)) && valueRead();
        case Slot::Etag:
            record.etag = toQString(value);
            break;
        case Slot::Unknown:
            break;
        default:
            return false;
        }
        return valueRead();
    }

    bool binary(Json::binary_t&) { return false; }   // not in JSON text

    bool start_object(std::size_t)
    {
        if (skipDepth_ > 0)
            return enterSkipped();
        switch (slot_) {
        case Slot::QueueElement:
            snapshot_ = &snapshots.emplace_back();
            return enterSnapshot();
        case Slot::Item:
            snapshot_ = &record.item;
            return enterSnapshot();
        case Slot::Etags:
            snapshot_->etags.clear();
            return enter(Frame::Etags);
        case Slot::Header:
            return enter(Frame::Header);
        case Slot::Record:
            return enter(Frame::Record);
        case Slot::Unknown:
            return enterSkipped();
        default:
            return false;
        }
    }

    bool key(std::string& name)
    {
        if (skipDepth_ > 0)
            return true;
        switch (frames_.back()) {
        case Frame::Snapshot:
            slot_ = member(kSnapshotMembers, name, snapshotSeen_);
            return true;
        case Frame::Etags:
            slot_ = Slot::EtagValue;
            return parseWhole(name, etagPart_);
        case Frame::Header:
            slot_ = member(kHeaderMembers, name, documentSeen_);
            return true;
        case Frame::Record:
            slot_ = member(kRecordMembers, name, documentSeen_);
            if (slot_ == Slot::Item || slot_ == Slot::Gone || slot_ == Slot::Part)
                record.kind = slot_ == Slot::Item ? JournalRecord::Kind::Item
                            : slot_ == Slot::Gone ? JournalRecord::Kind::Gone
                                                  : JournalRecord::Kind::Part;
            return true;
        case Frame::Queue:
            break;
        }
        return false;
    }

    bool end_object()
    {
        if (skipDepth_ > 0)
            return leaveSkipped();
        switch (frames_.back()) {
        case Frame::Snapshot:
            if (snapshotSeen_ != kSnapshotRequired)
                return false;
            break;
        case Frame::Header:
            if (documentSeen_ != kHeaderRequired)
                return false;
            break;
        case Frame::Record: {
            const unsigned kinds = documentSeen_ & (kItem | kGone | kPart);
            if (kinds != kItem && kinds != kGone && kinds != kPart)
                return false;
            if (kinds == kPart && (documentSeen_ & (kNumber | kEtag)) != (kNumber | kEtag))
                return false;
            break;
        }
        case Frame::Etags:
        case Frame::Queue:
            break;
        }
        frames_.pop_back();
        return valueRead();
    }

    bool start_array(std::size_t)
    {
        if (skipDepth_ > 0 || slot_ == Slot::Unknown)
            return enterSkipped();
        return slot_ == Slot::QueueFile && enter(Frame::Queue) && (slot_ = Slot::QueueElement, true);
    }

    bool end_array()
    {
        if (skipDepth_ > 0)
            return leaveSkipped();
        frames_.pop_back();   // the queue's: no other array is read
        return valueRead();
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    // What the next value is read into.
    enum class Slot : uint8_t {
        Done, MemberName, Unknown,
        QueueFile, QueueElement, Header, Record,
        Id, Path, Size, Mtime, DestDir, Key, UploadId, PartSize, Etags, EtagValue, Status,
        Base, Bytes, Item, Gone, Part, PartNumber, Etag,
    };
    // The objects and the array being read, innermost last.
    enum class Frame : uint8_t { Queue, Snapshot, Etags, Header, Record };

    struct Member {
        std::string_view name;
        Slot slot;
        unsigned bit;   // among the members seen, or 0 for an optional one
    };
    static constexpr unsigned kItem = 1, kGone = 2, kPart = 4, kNumber = 8, kEtag = 16;
    static constexpr Member kSnapshotMembers[] = {
        {"id", Slot::Id, 1},           {"path", Slot::Path, 2},        {"size", Slot::Size, 4},
        {"mtime", Slot::Mtime, 8},     {"destDir", Slot::DestDir, 16}, {"key", Slot::Key, 0},
        {"uploadId", Slot::UploadId, 0}, {"partSize", Slot::PartSize, 32}, {"etags", Slot::Etags, 64},
        {"status", Slot::Status, 128},
    };
    static constexpr unsigned kSnapshotRequired = 255;
    static constexpr Member kHeaderMembers[] = {{"base", Slot::Base, 1}, {"bytes", Slot::Bytes, 2}};
    static constexpr unsigned kHeaderRequired = 3;
    static constexpr Member kRecordMembers[] = {
        {"item", Slot::Item, kItem}, {"gone", Slot::Gone, kGone}, {"part", Slot::Part, kPart},
        {"n", Slot::PartNumber, kNumber}, {"etag", Slot::Etag, kEtag},
    };
    // Members of this version are never nested deeper; one that is passed over may not be either.
    static constexpr int kMaxDepth = 256;

    template<size_t N>
    static Slot member(const Member (&members)[N], std::string_view name, unsigned& seen)
    {
        for (const Member& m : members) {
            if (name == m.name) {
                seen |= m.bit;
                return m.slot;
            }
        }
        return Slot::Unknown;
    }

    bool integer(std::optional<int64_t> value, double asDouble)
    {
        if (skipDepth_ > 0)
            return skippedScalar();
        switch (slot_) {
        case Slot::Mtime:
            snapshot_->mtime = asDouble;
            return valueRead();
        case Slot::Unknown:
            return valueRead();
        case Slot::Size:
        case Slot::PartSize:
        case Slot::Bytes:
        case Slot::PartNumber:
            break;
        default:
            return false;
        }
        if (!value)
            return false;   // beyond a signed 64-bit integer
        if (slot_ == Slot::Size)
            snapshot_->size = *value;
        else if (slot_ == Slot::PartSize)
            snapshot_->partSize = *value;
        else if (slot_ == Slot::Bytes)
            bytes = *value;
        else
            record.part = *value;
        return valueRead();
    }

    template<class T>
    static bool assign(T& to, std::optional<T> from)
    {
        if (!from)
            return false;
        to = std::move(*from);
        return true;
    }

    bool enter(Frame frame)
    {
        frames_.push_back(frame);
        slot_ = Slot::MemberName;
        return true;
    }

    bool enterSnapshot()
    {
        snapshotSeen_ = 0;
        return enter(Frame::Snapshot);
    }

    // A value passed over: a member of the passed-over value starts one level deeper than it.
    bool skippedScalar() const { return skipDepth_ < kMaxDepth; }

    bool enterSkipped()
    {
        if (skipDepth_ >= kMaxDepth)
            return false;
        ++skipDepth_;
        return true;
    }

    bool leaveSkipped()
    {
        --skipDepth_;
        return skipDepth_ > 0 || valueRead();
    }

    // The value for the current slot is complete: the next is another element of the queue, the
    // next member of the object, or nothing once the document is whole.
    bool valueRead()
    {
        if (frames_.empty())
            slot_ = Slot::Done;
        else
            slot_ = frames_.back() == Frame::Queue ? Slot::QueueElement : Slot::MemberName;
        return true;
    }

    Slot slot_;
    std::vector<Frame> frames_;
    Snapshot* snapshot_ = nullptr;
    int64_t etagPart_ = 0;
    std::string spelled_;
    unsigned snapshotSeen_ = 0;
    unsigned documentSeen_ = 0;
    int skipDepth_ = 0;
};

}  // namespace

namespace {

std::optional<std::vector<Snapshot>> readWhole(std::string_view text)
{
    ShapeReader reader(ShapeReader::Document::QueueFile);
    if (!reader.parse(text))
        return std::nullopt;
    return std::move(reader.snapshots);
}

// Below this size a queue file is read on this thread alone.
constexpr size_t kMinPieceBytes = 1 << 20;

// A large queue file read in pieces, one per thread of the pool: the general parser reads about
// 100 MB/s, so a queue of a hundred thousand items takes a fifth of a second on one core. The
// entries are split where the encoder ends one and begins the next, and each piece is read as an
// array of its own. Pieces that are each a well-formed array make the whole file well-formed (none
// is empty: the first ends with a brace, the others begin with one), so the result is the file's
// own. Nothing when no split was found or a piece fails, which a split inside a member's content
// can cause too: the file is then read whole for the verdict.
std::optional<std::vector<Snapshot>> readInPieces(std::string_view bytes)
{
    const size_t threads = size_t(std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
    const size_t wanted = std::min(threads, bytes.size() / kMinPieceBytes);
    const size_t first = bytes.find_first_not_of(" \t\r\n");
    const size_t last = bytes.find_last_not_of(" \t\r\n");
    if (wanted < 2 || first == std::string_view::npos || bytes[first] != '[' || bytes[last] != ']')
        return std::nullopt;
    const std::string_view body = bytes.substr(first + 1, last - first - 1);
    constexpr std::string_view kBetweenEntries = R"(},{"id":")";
    std::vector<std::string_view> pieces;
    size_t begin = 0;
    for (size_t i = 1; i < wanted; ++i) {
        const size_t split = body.find(kBetweenEntries, std::max(begin, body.size() / wanted * i));
        if (split == std::string_view::npos)
            break;
        pieces.push_back(body.substr(begin, split + 1 - begin));
        begin = split + 2;
    }
    pieces.push_back(body.substr(begin));
    if (pieces.size() < 2)
        return std::nullopt;

    std::vector<std::optional<std::vector<Snapshot>>> read(pieces.size());
    const auto readPiece = [&](size_t i) {
        std::string array;
        array.reserve(pieces[i].size() + 2);
        array += '[';
        array += pieces[i];
        array += ']';
        read[i] = readWhole(array);
    };
    std::vector<QFuture<void>> helpers;
    for (size_t i = 1; i < pieces.size(); ++i)
        helpers.push_back(QtConcurrent::run(QThreadPool::globalInstance(), readPiece, i));
    readPiece(0);
    for (QFuture<void>& helper : helpers)
        helper.waitForFinished();

    std::vector<Snapshot> snapshots;
    for (auto& piece : read) {
        if (!piece)
            return std::nullopt;
        if (snapshots.empty())
            snapshots = std::move(*piece);
        else
            std::move(piece->begin(), piece->end(), std::back_inserter(snapshots));
    }
    return snapshots;
}

}  // namespace

std::optional<std::vector<Snapshot>> readQueueFile(std::string_view bytes)
{
    // nlohmann passes over a byte-order mark, which the queue file has never been written with.
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return std::nullopt;
    if (auto snapshots = readInPieces(bytes))
        return snapshots;
    return readWhole(bytes);
}

// A journal line is written without spaces around its object, and a line with them (or a carriage
// return before its line feed) is not one of the program's.
bool readJournalHeader(std::string_view line, uint64_t& base, int64_t& bytes)
{
    if (!line.starts_with('{') || !line.ends_with('}'))
        return false;
    ShapeReader reader(ShapeReader::Document::JournalHeader);
    if (!reader.parse(line))
        return false;
    base = reader.base;
    bytes = reader.bytes;
    return true;
}

bool readJournalRecord(std::string_view line, JournalRecord& record)
{
    if (!line.starts_with('{') || !line.ends_with('}'))
        return false;
    ShapeReader reader(ShapeReader::Document::JournalRecord);
    if (!reader.parse(line))
        return false;
    record = std::move(reader.record);
    return true;
}

}  // namespace zafrel
