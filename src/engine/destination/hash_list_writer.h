#pragma once
// New generations of an ASC MHL history, written with Qt's XML stream writer: a hash list
// (namespace urn:ASC:MHL:v2.0) and the chain that lists every generation by its C4 ID.
#include "engine/destination/offload_history.h"
#include "platform/content_hash.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <string>
#include <vector>

namespace zafrel {

// One file of a new hash list: the file as it was sent and the digests it was checked with.
struct HashListEntry {
    QString path;   // relative to the managed folder, "/" between folders
    qint64 size = 0;
    QDateTime modified;
    QDateTime hashed;   // when its digests were taken
    struct Digest {
        HashFormat format;
        std::string value;
        bool original = false;   // first recorded here, not checked against an earlier record
        bool operator==(const Digest&) const = default;
    };
    std::vector<Digest> digests;
    bool operator==(const HashListEntry&) const = default;
};

// Who wrote a hash list and when.
struct HashListOrigin {
    QDateTime created;
    QString hostname;
    QString toolVersion;
};

// A hash list of a transfer: every file of `entries` (sorted by path) with its digests in the
// schema's order, "verified" or "original".
QByteArray transferHashListXml(const HashListOrigin& origin, std::vector<HashListEntry> entries);
// The chain file that lists `generations` in order.
QByteArray chainXml(const std::vector<ChainEntry>& generations);
// "0002_A002R2EC_2026-12-07_191500Z.mhl": the generation, the managed folder's name, the start of
// the operation in UTC.
QString hashListName(qint64 generation, const QString& folderName, const QDateTime& created);
// The C4 ID of `bytes`, as a chain lists a hash list.
QString c4Of(QByteArrayView bytes);
// A date as hash lists write it: UTC, "2026-12-07T19:15:00+00:00".
QString hashListDate(const QDateTime& when);

}  // namespace zafrel
