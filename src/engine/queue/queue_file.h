#pragma once
#include "engine/queue/upload_item.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zafrel {

// The persisted form of one item in queue.json.
struct Snapshot {
    QUuid id;
    QString path;
    qint64 size = 0;
    double mtime = 0;
    QString destDir;
    std::optional<QString> key;
    std::optional<QString> uploadId;
    qint64 partSize = 0;
    std::map<int64_t, QString> etags;
    Status status = Status::Queued;
};

// Whether an item in this state is kept in the queue file: queued, running, paused, error,
// cancelled (a cancelled file may still be tried again, so it outlasts a restart).
bool isPersisted(Status status);

// The queue file's bytes for the persisted items of `items`, in queue order: one JSON array,
// members id, path, size, mtime, destDir, key?, uploadId?, partSize, etags, status, no whitespace.
QByteArray encodeQueue(const std::vector<ItemPtr>& items);

// The snapshots of a queue file, in file order; nullopt when anything in it is unusable (not
// JSON, not an array, a required member missing or of the wrong type, an unknown status word, an
// unreadable id): a queue file is taken whole or not at all.
std::optional<std::vector<Snapshot>> decodeQueue(const QByteArray& bytes);

// The journal beside the queue file holds the changes made since the queue file was last written
// whole, one line each: a finished file costs one short line, not a rewrite of the whole queue.
// Its first line names the queue file it continues (size and fingerprint of its bytes), so that a
// journal left over from an earlier queue file is never applied to a later one.
std::string journalHeader(QByteArrayView base);
// The item's entry as it now stands, or its removal when its state is no longer kept.
std::string journalItemRecord(const UploadItem& item);
// Part `part` of the item stored, with its ETag as the item holds it.
std::string journalPartRecord(const UploadItem& item, int64_t part);
// Applies the records of `journal` to `snapshots`, read from the queue file `base`, in order, up to
// the first line that is cut short or unreadable (a crash in the middle of a write). Records of an
// id the queue file does not hold are passed over. Answers whether the journal continues `base`
// and held any record.
bool applyJournal(QByteArrayView journal, QByteArrayView base, std::vector<Snapshot>& snapshots);

}  // namespace zafrel
