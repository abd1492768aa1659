#pragma once
// The readers behind decodeQueue() and applyJournal() (queue_file.h): strict JSON of the expected
// shape, members this version does not know passed over. Whatever else is off fails the whole text.
#include "engine/queue/queue_file.h"

#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zafrel {

// A journal line: one record, its kind told by its first member.
struct JournalRecord {
    enum class Kind { Item, Gone, Part } kind = Kind::Item;
    Snapshot item;      // Item
    QUuid id;           // Gone, Part
    int64_t part = 0;   // Part
    QString etag;       // Part
};

// The queue file: a JSON array of snapshots, in file order.
std::optional<std::vector<Snapshot>> readQueueFile(std::string_view bytes);

// The journal's first line without its line feed: {"base":"<16 hex digits>","bytes":N}.
bool readJournalHeader(std::string_view line, uint64_t& base, int64_t& bytes);

// One record line without its line feed: {"item":{...}}, {"gone":"<id>"} or
// {"part":"<id>","n":N,"etag":"..."}.
bool readJournalRecord(std::string_view line, JournalRecord& record);

}  // namespace zafrel
