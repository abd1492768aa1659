#pragma once
#include <QByteArray>

#include <utility>
#include <vector>

namespace zafrel {

// Part bodies of a run, handed round instead of allocated anew: a fresh 32 MiB buffer per part
// costs a page fault and the zeroing of every page, several percent of a large upload. It holds
// at most `capacity` buffers, counting the lent ones, so with one capacity per part permit the
// run's part memory stays at one buffer per permit. Main thread only; a lent buffer may be filled
// on the pool while its lease waits on the main thread.
class PartBufferPool {
public:
    // A buffer on loan; back to the pool when the lease ends, whichever way its part ended.
    class Lease {
    public:
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { pool_->giveBack(std::move(bytes)); }

        QByteArray bytes;   // no one else references it when lent: safe to write in place

    private:
        friend class PartBufferPool;   // only take() lends, so that the count of lent ones holds
        Lease(PartBufferPool& pool, QByteArray lent) : bytes(std::move(lent)), pool_(&pool) {}
        PartBufferPool* pool_;
    };

    explicit PartBufferPool(int capacity) : capacity_(capacity) {}

    // A buffer of `size` bytes, contents undefined, that no one else references.
    Lease take(qsizetype size);
    // Lets go of the idle buffers, so that a program between runs keeps none.
    void clear() { idle_.clear(); }

    int lent() const { return lent_; }
    int idle() const { return int(idle_.size()); }

private:
    void giveBack(QByteArray bytes);

    int capacity_;
    int lent_ = 0;
    std::vector<QByteArray> idle_;
};

}  // namespace zafrel
