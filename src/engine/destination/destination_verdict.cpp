#include "engine/destination/destination_verdict.h"

#include <algorithm>

namespace zafrel {

bool recordNames(const DestinationRecord& record, const LocalFile& file)
{
    return record.size == file.size && std::ranges::any_of(record.sources, [&](const RecordSource& source) {
               return source.path == file.path && source.mtime == file.mtime;
           });
}

bool recordHasPath(const DestinationRecord& record, const QString& path)
{
    return std::ranges::any_of(record.sources, [&](const RecordSource& source) { return source.path == path; });
}

DestinationVerdict judgeDestination(const AtDestination& there, const LocalFile& file,
                                    const std::optional<std::string>& localMd5, bool replaceAllowed)
{
    const auto otherFile = [replaceAllowed] { return replaceAllowed ? DestinationVerdict::Send : DestinationVerdict::OtherFile; };
    if (!there.listedSize || there.suspect)
        return DestinationVerdict::Send;
    // A record of another size describes an object that someone has replaced since: it says
    // nothing of the one there now.
    const bool recordHolds = there.record && there.record->size == *there.listedSize;
    // What stands there came from this very path: the file sent again is its newer version.
    const bool fromThisPath = recordHolds && recordHasPath(*there.record, file.path);
    if (*there.listedSize != file.size)
        return fromThisPath ? DestinationVerdict::Send : otherFile();
    if (!recordHolds || recordNames(*there.record, file))
        return DestinationVerdict::Skip;
    if (!localMd5)
        return DestinationVerdict::NeedsDigest;
    if (*localMd5 == there.record->md5)
        return DestinationVerdict::Skip;
    return fromThisPath ? DestinationVerdict::Send : otherFile();
}

}  // namespace zafrel
