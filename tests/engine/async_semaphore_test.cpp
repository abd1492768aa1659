#include "engine/async_semaphore.h"
#include "platform/async.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zafrel;
using zafrel::test::runUntil;

namespace {

// A task that takes a permit and notes when it got it.
QCoro::Task<void> takePermit(AsyncSemaphore& sem, std::vector<int>& order, int id, int permits = 1)
{
    co_await sem.wait(permits);
    order.push_back(id);
}

// Lets the event loop run for a short while, for checks that something does NOT happen.
void idle()
{
    runUntil([] { return false; }, std::chrono::milliseconds(100));
}

}  // namespace

TEST(AsyncSemaphore, EightPermitsReturnAtOnceTheNinthWaits)
{
    AsyncSemaphore sem(8);
    std::vector<int> order;
    std::vector<QCoro::Task<void>> tasks;
    for (int i = 0; i < 8; ++i) {
        tasks.push_back(takePermit(sem, order, i));
        EXPECT_TRUE(tasks.back().isReady()) << i;
    }
    EXPECT_EQ(sem.count(), 0);

    auto ninth = takePermit(sem, order, 8);
    EXPECT_FALSE(ninth.isReady());
    EXPECT_EQ(sem.waiting(), 1);
    idle();
    EXPECT_FALSE(ninth.isReady());

    sem.signal();
    EXPECT_TRUE(runUntil([&] { return ninth.isReady(); }));
    EXPECT_EQ(sem.count(), 0);
    EXPECT_EQ(sem.waiting(), 0);
    EXPECT_EQ(order.back(), 8);
}

TEST(AsyncSemaphore, WaitersResumeInArrivalOrderAndAFourthSignalRaisesCount)
{
    AsyncSemaphore sem(0);
    std::vector<int> order;
    auto a = takePermit(sem, order, 1);
    auto b = takePermit(sem, order, 2);
    auto c = takePermit(sem, order, 3);
    EXPECT_EQ(sem.waiting(), 3);

    sem.signal();
    sem.signal();
    sem.signal();
    EXPECT_EQ(sem.count(), 0);   // each permit went to a waiter, none to the count
    EXPECT_TRUE(runUntil([&] { return a.isReady() && b.isReady() && c.isReady(); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    sem.signal();
    EXPECT_EQ(sem.count(), 1);
}

TEST(AsyncSemaphore, AWaiterForSeveralPermitsGetsThemAllAndIsNotOvertaken)
{
    AsyncSemaphore sem(4);
    std::vector<int> order;
    auto holder = takePermit(sem, order, 1, 3);
    ASSERT_TRUE(holder.isReady());
    auto big = takePermit(sem, order, 2, 3);
    auto small = takePermit(sem, order, 3, 1);   // one permit is free, but the big waiter came first
    idle();
    EXPECT_EQ(order, std::vector<int>{1});
    EXPECT_EQ(sem.count(), 1);

    sem.signal(3);
    EXPECT_EQ(sem.count(), 0);   // three to the big waiter, the last one to the small one
    EXPECT_TRUE(runUntil([&] { return big.isReady() && small.isReady(); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(sem.capacity(), 4);
}

TEST(AsyncSemaphore, SignalWithoutWaiterIsNotCapped)
{
    AsyncSemaphore sem(2);
    sem.signal();
    EXPECT_EQ(sem.count(), 3);
    sem.signal();
    EXPECT_EQ(sem.count(), 4);
}

TEST(AsyncSemaphore, WaiterIsResumedLaterNotInsideSignal)
{
    AsyncSemaphore sem(0);
    std::vector<int> order;
    auto waiter = takePermit(sem, order, 1);
    sem.signal();
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(waiter.isReady());
    EXPECT_TRUE(runUntil([&] { return waiter.isReady(); }));
    EXPECT_EQ(order, std::vector<int>{1});
}

TEST(AsyncSemaphore, AHandedOffPermitCannotBeTakenByAThirdTask)
{
    AsyncSemaphore sem(1);
    std::vector<int> order;
    auto holder = takePermit(sem, order, 1);
    ASSERT_TRUE(holder.isReady());
    auto second = takePermit(sem, order, 2);
    ASSERT_FALSE(second.isReady());

    sem.signal();   // the permit now belongs to the second task, which has not run yet
    auto third = takePermit(sem, order, 3);
    EXPECT_FALSE(third.isReady());
    EXPECT_EQ(sem.count(), 0);

    EXPECT_TRUE(runUntil([&] { return second.isReady(); }));
    idle();
    EXPECT_FALSE(third.isReady());
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    sem.signal();
    EXPECT_TRUE(runUntil([&] { return third.isReady(); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(AsyncSemaphore, StoppingAWaitingTaskDoesNotResumeIt)
{
    AsyncSemaphore sem(0);
    std::vector<int> order;
    TaskGroup<void> group;
    group.add(takePermit(sem, order, 1));
    group.cancel();
    idle();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(sem.waiting(), 1);

    sem.signal();
    EXPECT_TRUE(runUntil([&] { return !order.empty(); }));
    std::optional<TaskGroup<void>::Outcome> outcome;
    const auto takeNext = [&]() -> QCoro::Task<void> { outcome = co_await group.next(); };
    auto taken = takeNext();
    EXPECT_TRUE(runUntil([&] { return taken.isReady(); }));
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->error);
}
