#pragma once
#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <cstdint>

namespace zafrel {

// Gathers the ids of the queue's items whose observable fields changed and hands them over as one
// batch on the next turn of the event loop: a burst of progress from eight parts in flight costs
// one notification, and watchers need no connection per item. Main thread only.
class ItemChanges : public QObject {
    Q_OBJECT
public:
    void touched(const QUuid& id);
    // Hands over what was gathered now, instead of on the next turn.
    void deliver();
    // One of the queue's items became queued again: a pick that remembers where the first queued
    // item was must then look from the start (UploadQueue::firstQueued).
    void queued() { ++queuedGeneration_; }
    uint64_t queuedGeneration() const { return queuedGeneration_; }

signals:
    void changed(const QList<QUuid>& ids);

private:
    QSet<QUuid> pending_;
    bool posted_ = false;
    uint64_t queuedGeneration_ = 0;
};

}  // namespace zafrel
