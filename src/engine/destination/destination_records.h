#pragma once
#include "platform/file_stamp.h"

#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zafrel {

class UploadItem;

// A local file that a destination's object was verified to hold: its path and its modification
// time then (its size is the object's).
struct RecordSource {
    QString path;
    double mtime = 0;
    bool operator==(const RecordSource&) const = default;
};

// What this program verified at one destination: the object's size and MD5, and the local files
// known to hold it (the one sent, then copies found equal; newest first, a few at most).
struct DestinationRecord {
    int64_t size = 0;
    std::string md5;   // hex, lower case
    std::vector<RecordSource> sources;
    double recorded = 0;   // seconds since 1970, for dropping the oldest
    bool operator==(const DestinationRecord&) const = default;
};

// The records of what this program verified at each destination, so that a file that only shares
// a name and size with what stands there (another camera's clip, numbered alike) is never taken for
// it. Keyed by the account (its identity names the service too) and the destination path.
//
// Kept in a JSON file of the data folder, replaced atomically at most once every five seconds while
// records come in, and at once by flush() (the end of a run, the engine going): a crash loses at
// most the last seconds' records, whose files then fall back to the name-and-size rule. Shared by every
// engine that uses the folder: a write merges into what the file holds then, and a lookup re-reads
// the file when it changed on disk. Bounded: past `capacity` entries the oldest are dropped. A file
// that cannot be read counts as empty. Main thread only.
class DestinationRecords {
public:
    static constexpr size_t kCapacity = 20000;
    static constexpr size_t kSourcesKept = 4;

    explicit DestinationRecords(QString filePath, size_t capacity = kCapacity);
    ~DestinationRecords();
    DestinationRecords(const DestinationRecords&) = delete;
    DestinationRecords& operator=(const DestinationRecords&) = delete;

    std::optional<DestinationRecord> find(const QString& account, const QString& destination);
    // A verified upload: the destination now holds `md5` of `size` bytes, from `source` alone.
    void remember(const QString& account, const QString& destination, int64_t size, std::string md5, RecordSource source);
    // A local file found to hold what the record says (a copy of the card, or the same path touched
    // since): it joins the sources, in place of what the record said of that path.
    void addSource(const QString& account, const QString& destination, RecordSource source);
    // Writes what is not on disk yet.
    void flush();

private:
    using Key = std::pair<QString, QString>;   // account identity, destination path

    void reloadIfChanged();
    void changed(const Key& key, DestinationRecord record);

    QString filePath_;
    size_t capacity_;
    std::map<Key, DestinationRecord> entries_;   // as last read or written, plus pending_
    std::map<Key, DestinationRecord> pending_;   // not written yet
    QTimer writeSoon_;
    double latest_ = 0;   // the latest `recorded` known
    FileStamp stamp_;   // the file when last read or written
};

// The account part of a record's key for `item`: its owner's identity, or the bare service origin
// for an item queued before anyone signed in.
QString recordAccount(const UploadItem& item, const QString& origin);

}  // namespace zafrel
