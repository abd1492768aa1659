#include "engine/part_buffer_pool.h"

namespace zafrel {

PartBufferPool::Lease PartBufferPool::take(qsizetype size)
{
    ++lent_;
    // The transport may still hold a finished part's body for a moment; writing into a shared
    // QByteArray would copy it (or change bytes another thread is sending), so only a buffer
    // referenced by this pool alone is reused.
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
        if (it->isDetached()) {
            QByteArray bytes = std::move(*it);
            idle_.erase(it);
            bytes.resize(size);   // within its capacity: no new memory
            return Lease(*this, std::move(bytes));
        }
    }
    // None free: drop idle ones still shared (their holder frees them shortly) to make room, so
    // that idle plus lent never exceeds the capacity.
    while (!idle_.empty() && lent_ + int(idle_.size()) > capacity_)
        idle_.erase(idle_.begin());
    return Lease(*this, QByteArray(size, Qt::Uninitialized));
}

void PartBufferPool::giveBack(QByteArray bytes)
{
    --lent_;
    if (!bytes.isEmpty() && lent_ + int(idle_.size()) < capacity_)
        idle_.push_back(std::move(bytes));
}

}  // namespace zafrel
