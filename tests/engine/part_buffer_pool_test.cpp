#include "engine/part_buffer_pool.h"

#include <gtest/gtest.h>

namespace zafrel {
namespace {

TEST(PartBufferPool, ReusesAReturnedBufferInPlace)
{
    PartBufferPool pool(2048);
    const char* first = nullptr;
    {
        PartBufferPool::Lease lease = pool.take(1024);
        ASSERT_EQ(lease.bytes.size(), 1024);
        first = lease.bytes.constData();
    }
    EXPECT_EQ(pool.idle(), 1);
    PartBufferPool::Lease again = pool.take(1000);   // a shorter last part fits in the same memory
    EXPECT_EQ(again.bytes.size(), 1000);
    EXPECT_EQ(again.bytes.constData(), first);
    EXPECT_EQ(pool.idle(), 0);
}

TEST(PartBufferPool, NeverLendsABufferSomeoneStillHolds)
{
    PartBufferPool pool(128);
    QByteArray heldByTransport;
    {
        PartBufferPool::Lease lease = pool.take(64);
        lease.bytes.fill('A');
        heldByTransport = lease.bytes;   // the request's body outlives the part for a moment
    }
    PartBufferPool::Lease next = pool.take(64);
    EXPECT_NE(next.bytes.constData(), heldByTransport.constData());
    next.bytes.fill('B');
    EXPECT_EQ(heldByTransport, QByteArray(64, 'A'));
}

TEST(PartBufferPool, HoldsNoMoreThanItsCapacityCountingLentBytes)
{
    PartBufferPool pool(128);
    QByteArray stillShared;
    {
        PartBufferPool::Lease a = pool.take(64);
        PartBufferPool::Lease b = pool.take(64);
        stillShared = a.bytes;
    }
    EXPECT_EQ(pool.idle(), 2);
    // Both permits busy again while one idle buffer is still shared: the free one is reused and
    // the shared one is dropped rather than kept beside a new allocation.
    PartBufferPool::Lease c = pool.take(64);
    PartBufferPool::Lease d = pool.take(64);
    EXPECT_EQ(pool.lent(), 2);
    EXPECT_EQ(pool.idle(), 0);

    // Parts larger than the budget are still lent, but only what fits is kept afterwards.
    PartBufferPool small(100);
    {
        PartBufferPool::Lease e = small.take(64);
        PartBufferPool::Lease f = small.take(64);
    }
    EXPECT_EQ(small.idle(), 1);
}

TEST(PartBufferPool, ClearLetsGoOfIdleBuffers)
{
    PartBufferPool pool(128);
    { PartBufferPool::Lease lease = pool.take(64); }
    ASSERT_EQ(pool.idle(), 1);
    pool.clear();
    EXPECT_EQ(pool.idle(), 0);
    { PartBufferPool::Lease lease = pool.take(64); }   // a later run fills it again
    EXPECT_EQ(pool.idle(), 1);
}

}  // namespace
}  // namespace zafrel
