#pragma once
#include "platform/file_stamp.h"

#include <QString>

#include <cstdint>
#include <set>
#include <utility>

namespace zafrel {

// Destinations whose object failed verification: the store answered an ETag that is not the MD5
// of what was sent, so the object standing there may hold anything, even with the right name and
// size. Such a destination is not taken as "already there" until a verified upload to it succeeds.
//
// A destination is the service's origin and the file's full path as the service names it
// (destDir followed by the name): that pair is what the already-there check looks up in a
// listing. The bucket is left out on purpose: the engine does not know it in every path (a retry
// after a restart, before any drop), and a destination wrongly taken for another's only costs
// sending a file again, while one missed would let a corrupt object pass as verified.
//
// Kept in a small JSON file of the data folder, replaced atomically on every change, so that the
// knowledge survives restarts and is shared by every engine that uses the folder (the command
// line's and the window's): a change re-reads the file first, and a lookup re-reads it when it
// changed on disk since the last read. A file that cannot be read counts as empty.
class SuspectDestinations {
public:
    explicit SuspectDestinations(QString filePath);

    bool contains(const QString& server, const QString& path);
    void mark(const QString& server, const QString& path);
    void clear(const QString& server, const QString& path);

private:
    using Entry = std::pair<QString, QString>;   // server origin, destination path

    void reloadIfChanged();
    void write();

    QString filePath_;
    std::set<Entry> entries_;
    FileStamp stamp_;   // the file when last read or written
};

}  // namespace zafrel
