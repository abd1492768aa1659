#pragma once
#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

namespace zafrel {

// Part bodies of a run, handed round instead of allocated anew: a fresh 32 MiB buffer per part
// costs a page fault and the zeroing of every page, several percent of a large upload. It keeps
// idle buffers only while they and the lent ones together stay within `capacityBytes`, so with
// the part permits sized to the same budget the run's part memory stays within it, whatever the
// part size. Main thread only; a lent buffer may be filled on the pool while its lease waits on
// the main thread.
class PartBufferPool {
public:
    // A buffer on loan; back to the pool when the lease ends, whichever way its part ended.
    class Lease {
    public:
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { pool_->giveBack(std::move(bytes), accounted_); }

        QByteArray bytes;   // no one else references it when lent: safe to write in place

    private:
        friend class PartBufferPool;   // only take() lends, so that the count of lent bytes holds
        Lease(PartBufferPool& pool, QByteArray lent)
            : bytes(std::move(lent)), pool_(&pool), accounted_(bytes.capacity())
        {
        }
        PartBufferPool* pool_;
        int64_t accounted_;   // what take() counted as lent
    };

    explicit PartBufferPool(int64_t capacityBytes) : capacity_(capacityBytes) {}

    // A buffer of `size` bytes, contents undefined, that no one else references. Always lends:
    // the part permits, not the pool, decide how many parts are in memory.
    Lease take(qsizetype size);
    // Lets go of the idle buffers, so that a program between runs keeps none.
    void clear()
    {
        idle_.clear();
        idleBytes_ = 0;
    }

    int lent() const { return lent_; }
    int idle() const { return int(idle_.size()); }

private:
    Lease lend(QByteArray bytes);
    void giveBack(QByteArray bytes, int64_t accounted);
    void dropIdle(size_t index);

    int64_t capacity_;
    int lent_ = 0;
    int64_t lentBytes_ = 0;
    int64_t idleBytes_ = 0;
    std::vector<QByteArray> idle_;
};

}  // namespace zafrel
