#pragma once
// The ASC MHL history a run extends at the destination: for each managed folder of a drop, one
// new hash list per run that sent files of it, and the chain that lists every generation there.
// The destination cannot be read back, so what was written there, and what was verified but not
// yet written, is kept in the data folder (DestinationHistoryRecord).
#include "engine/destination/hash_list_writer.h"
#include "engine/destination/offload_history.h"
#include "engine/queue/upload_item.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zafrel {

// One managed folder of a drop (or, when asked, a dropped folder without a history) and the
// files of it that were queued. Main thread.
struct DestinationHistory {
    QString root;         // absolute, in the source; nothing is ever written there
    QString destFolder;   // where the root goes: "Rodaje/B001/"
    // The offload's generations as its chain lists them; none for a history started here.
    std::vector<ChainEntry> offloadChain;
    bool startsHere = false;
    std::vector<std::weak_ptr<UploadItem>> members;

    // Writing a generation: its hash lists go up first, then the chain that names them, so that
    // the chain at the destination never lists a hash list that is not there.
    enum class Stage { Collecting, HashLists, Chain };
    Stage stage = Stage::Collecting;
    std::vector<ItemPtr> sending;         // of the current stage
    std::vector<ChainEntry> chainAfter;   // the chain once the generation is written
    std::vector<HashListEntry> listed;    // the files its hash list names
    QString outgoing;                     // the data folder's copy of the generation's files

    // The line of the new hash list for a file sent in this run.
    HashListEntry entryOf(const UploadItem& item) const;
};

// What this program wrote to, and verified for, each destination folder's history: a JSON file of
// the data folder, replaced atomically. Keyed by the service origin and the folder.
class DestinationHistoryRecord {
public:
    explicit DestinationHistoryRecord(QString filePath) : filePath_(std::move(filePath)) {}

    struct Folder {
        std::vector<ChainEntry> written;        // the chain at the destination, as last written
        std::vector<HashListEntry> verified;    // sent and verified, not yet in a written hash list
    };
    const Folder& folder(const QString& origin, const QString& destFolder);
    // Files verified since the last generation; a later one of the same path replaces the earlier.
    bool addVerified(const QString& origin, const QString& destFolder, const std::vector<HashListEntry>& entries);
    // A generation is at the destination: the chain is `written`, `listed` need not be written again.
    bool written(const QString& origin, const QString& destFolder, std::vector<ChainEntry> written,
                 const std::vector<HashListEntry>& listed);
    QString filePath() const { return filePath_; }

private:
    void load();
    bool save();

    QString filePath_;
    bool loaded_ = false;
    std::map<std::pair<QString, QString>, Folder> folders_;
};

}  // namespace zafrel
