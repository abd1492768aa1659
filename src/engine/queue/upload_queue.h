#pragma once
#include "engine/queue/upload_item.h"

#include <QList>
#include <QObject>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zafrel {

class ItemChanges;

// Counts over the queue for the window, the headless run and the report's totals.
struct Summary {
    int done = 0;        // items done
    qint64 bytes = 0;    // sum of the sizes of the done items (skipped ones not included)
    int skipped = 0;
    int errors = 0;
    int active = 0;      // queued or running (paused items are not counted)
    int cancelled = 0;
    int paused = 0;

    // Counts `item` under its state.
    void add(const UploadItem& item);
};

// The queue: the signed-in account's items in queue order, which the window, the runs, the
// controls and the report see, and the items of other accounts, waiting aside for their account.
// Every change of the list is told as what it is, each followed by changed(); the items' own
// changes are gathered by changes() into batches. Main thread only.
class UploadQueue : public QObject {
    Q_OBJECT
public:
    UploadQueue();
    ~UploadQueue() override;

    const std::vector<ItemPtr>& items() const { return items_; }
    // A new list.
    void set(std::vector<ItemPtr> items);
    // Adds `items` at the end; each takes the run `joinsRun` when given.
    void append(std::vector<ItemPtr> items, std::optional<uint64_t> joinsRun);
    // Leaves only `kept`: told as the removal of the others when `kept` is the queue in its order
    // with items left out, otherwise as a new list.
    void keepOnly(std::vector<ItemPtr> kept);

    // The items of other accounts, in queue order.
    const std::vector<ItemPtr>& aside() const { return aside_; }
    void setAside(std::vector<ItemPtr> aside) { aside_ = std::move(aside); }
    // Both lists, as the queue file holds them.
    const std::vector<ItemPtr>& whole() const;

    // Where the items' changes are gathered.
    ItemChanges& changes() const { return *changes_; }

    // The first queued item in queue order, or null. Looks on from where the last pick found one,
    // and from the start after the list changed or one of its items was queued again.
    ItemPtr firstQueued();
    // Where the last pick stopped: the items before it are not queued.
    size_t pickPosition() const { return pickFrom_; }

    Summary summary() const;

signals:
    void reset();
    void appended(int first, int count);
    void removed(const QList<QUuid>& ids);
    void changed();

private:
    std::vector<ItemPtr> items_;
    std::vector<ItemPtr> aside_;
    mutable std::vector<ItemPtr> whole_;
    std::shared_ptr<ItemChanges> changes_;
    // Where firstQueued() looks on from, valid while no item was queued again since.
    size_t pickFrom_ = 0;
    uint64_t pickGeneration_ = 0;
};

}  // namespace zafrel
