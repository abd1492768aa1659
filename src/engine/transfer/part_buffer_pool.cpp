#include "engine/transfer/part_buffer_pool.h"

namespace zafrel {

PartBufferPool::Lease PartBufferPool::take(qsizetype size)
{
    // The transport may still hold a finished part's body for a moment; writing into a shared
    // QByteArray would copy it (or change bytes another thread is sending), so only a buffer
    // referenced by this pool alone, and large enough, is reused.
    for (size_t i = 0; i < idle_.size(); ++i) {
        if (idle_[i].isDetached() && idle_[i].capacity() >= size) {
            QByteArray bytes = idle_[i];
            dropIdle(i);
            bytes.resize(size);   // within its capacity: no new memory
            return lend(std::move(bytes));
        }
    }
    // None fits: drop idle ones to make room, so that idle plus lent stays within the capacity.
    while (!idle_.empty() && lentBytes_ + idleBytes_ + size > capacity_)
        dropIdle(0);
    return lend(QByteArray(size, Qt::Uninitialized));
}

PartBufferPool::Lease PartBufferPool::lend(QByteArray bytes)
{
    ++lent_;
    lentBytes_ += bytes.capacity();   // what the lease will give back: its accounted_
    return Lease(*this, std::move(bytes));
}

void PartBufferPool::giveBack(QByteArray bytes, int64_t accounted)
{
    --lent_;
    lentBytes_ -= accounted;
    const int64_t kept = bytes.capacity();
    if (!bytes.isEmpty() && lentBytes_ + idleBytes_ + kept <= capacity_) {
        idleBytes_ += kept;
        idle_.push_back(std::move(bytes));
    }
}

void PartBufferPool::dropIdle(size_t index)
{
    idleBytes_ -= idle_[index].capacity();
    idle_.erase(idle_.begin() + qsizetype(index));
}

}  // namespace zafrel
