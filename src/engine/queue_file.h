#pragma once
#include "platform/atomic_file.h"
#include "engine/upload_item.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <map>
#include <optional>
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

// Whether an item in this state is kept in the queue file: queued, running, paused, error.
bool isPersisted(Status status);

// The queue file's bytes for the persisted items of `items`, in queue order: one JSON array,
// members id, path, size, mtime, destDir, key?, uploadId?, partSize, etags, status, no whitespace.
QByteArray encodeQueue(const std::vector<ItemPtr>& items);

// The snapshots of a queue file, in file order; nullopt when anything in it is unusable (not
// JSON, not an array, a required member missing or of the wrong type, an unknown status word, an
// unreadable id): a queue file is taken whole or not at all.
std::optional<std::vector<Snapshot>> decodeQueue(const QByteArray& bytes);

// Encodes the queue as encodeQueue() does and replaces the file at `path` with it atomically;
// answers whether it worked.
bool writeQueueFile(const QString& path, const std::vector<ItemPtr>& items);

}  // namespace zafrel
