#pragma once
#include "engine/destination/destination_records.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace zafrel {

// What stands at a file's destination, as far as this program can tell.
struct AtDestination {
    std::optional<int64_t> listedSize;           // the listing's object of that name, if any
    bool suspect = false;                         // that object once failed verification
    std::optional<DestinationRecord> record;      // what this program verified there, if it did
};

// The local file about to go there, as its transfer takes it.
struct LocalFile {
    QString path;
    int64_t size = 0;
    double mtime = 0;
};

enum class DestinationVerdict {
    Send,          // nothing of that name there, or nothing that may be trusted
    Skip,          // the same file is there: "ya existía"
    NeedsDigest,   // the record came from another local file: only the content can tell
    OtherFile,     // another file holds the name: never skipped, never replaced unasked
};

// The rule that keeps one camera's clip from being taken for another's of the same name:
// - no object of that name, or one that failed verification: send;
// - an object this program verified (its record has the object's size) and sent from this same
//   local path: the same file when the path's size and modification time are as recorded, without
//   reading it; otherwise the file's newer version, sent to replace it unless its MD5 (`localMd5`,
//   NeedsDigest until it is given) is the recorded one;
// - an object it verified from another local path: of the same size and MD5, the same file (a
//   copy of the card); else another file;
// - an object without such a record (sent before records were kept, by another computer, or its
//   record dropped as the oldest): of the same size, the same file, as names and sizes always
//   decided (its content cannot be compared); of another size, another file, never replaced
//   unasked.
// With `replaceAllowed` another file is replaced (Send) rather than refused.
DestinationVerdict judgeDestination(const AtDestination& there, const LocalFile& file,
                                    const std::optional<std::string>& localMd5, bool replaceAllowed);

// The record names `file` as it is now among its sources.
bool recordNames(const DestinationRecord& record, const LocalFile& file);

// What the item of a refused file shows, and the report says after "ERROR".
inline const char* const kOtherFileThere = "Ya hay otro archivo con ese nombre en el destino";

}  // namespace zafrel
