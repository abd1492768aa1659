// The main thread's coroutine primitives: detached bodies, sleeps, the pool, groups of children.
#include "platform/async.h"
#include "platform/async_latch.h"
#include "support/async_wait.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace zafrel;
using namespace std::chrono_literals;
using test::awaitTask;

namespace {

QThread* mainThread() { return QCoreApplication::instance()->thread(); }

// Ends with `value`, or throws "fallo <-value>" for a negative one; once `latch` opened, if given.
QCoro::Task<int> child(int value, AsyncLatch* latch = nullptr)
{
    if (latch)
        co_await latch->wait();
    if (value < 0)
        throw std::runtime_error("fallo " + std::to_string(-value));
    co_return value;
}

// "7" for a value, "error: <what>" for a failure, "end" when the group has no child left.
std::string textOf(const std::optional<TaskGroup<int>::Outcome>& outcome)
{
    if (!outcome)
        return "end";
    return outcome->value ? std::to_string(*outcome->value) : "error: " + messageOf(outcome->error, "?");
}

// Notes the thread it ends on, however the sleep ends.
QCoro::Task<void> sleepNotingThread(std::chrono::milliseconds duration, std::stop_token stop, QThread*& resumedOn)
{
    const auto note = qScopeGuard([&resumedOn] { resumedOn = QThread::currentThread(); });
    co_await sleepFor(duration, stop);
}

}  // namespace

TEST(Spawn, RunsTheBodyLaterAndKeepsItsCapturesUntilItEnds)
{
    auto captured = std::make_shared<int>(42);
    std::weak_ptr<int> watch = captured;
    bool callerDone = false, suspended = false;
    int seen = 0;
    spawn([captured = std::move(captured), &callerDone, &suspended, &seen]() -> QCoro::Task<void> {
        suspended = callerDone;
        co_await sleepFor(50ms);
        seen = *captured;
    });
    EXPECT_FALSE(suspended);
    callerDone = true;
    ASSERT_TRUE(test::runUntil([&] { return suspended; }, 10s)) << "ran before the caller returned";
    EXPECT_FALSE(watch.expired()) << "captures released while the coroutine was suspended";
    EXPECT_TRUE(test::runUntil([&] { return watch.expired(); }, 10s)) << "captures kept after the end";
    EXPECT_EQ(seen, 42);
}

// Never shorter than asked; a stop from any thread, or before the start, ends it with Cancelled,
// resumed on the main thread and never inside the stop callback.
TEST(SleepFor, WaitsItsWholeTimeOrEndsWithCancelledOnTheMainThreadWhenStopped)
{
    enum Stop { never, fromTheMainThread, fromAnotherThread, before };
    for (const Stop how : {never, fromTheMainThread, fromAnotherThread, before}) {
        SCOPED_TRACE(how);
        std::stop_source stop;
        if (how == before)
            stop.request_stop();
        QThread* resumedOn = nullptr;
        QElapsedTimer clock;
        clock.start();
        auto sleeping = sleepNotingThread(how == never ? 1000ms : 60s, stop.get_token(), resumedOn);
        EXPECT_EQ(sleeping.isReady(), how == before);
        if (how == fromTheMainThread)
            QTimer::singleShot(20ms, [&] { stop.request_stop(); });
        if (how == fromAnotherThread) {
            std::thread([&] { stop.request_stop(); }).join();
            EXPECT_EQ(resumedOn, nullptr) << "resumed inside the stop callback";
        }
        auto slept = awaitTask(std::move(sleeping), 10s);
        ASSERT_TRUE(slept.ended);
        EXPECT_EQ(slept.threw<Cancelled>(), how != never) << slept.message();
        EXPECT_EQ(resumedOn, mainThread());
        if (how == never) {
            EXPECT_GE(clock.nsecsElapsed(), 1'000'000'000);
            // The stop callback is gone with the sleep: a stop now must resume nothing.
            stop.request_stop();
            test::runUntil([] { return false; }, 50ms);
        }
    }
}

TEST(RunInPool, RunsOffTheMainThreadAndHandsBackValuesAndExceptionsWithTheirTypes)
{
    QThread* resumedOn = nullptr;
    auto work = [&]() -> QCoro::Task<QThread*> {
        QThread* ranOn = co_await runInPool([] { return QThread::currentThread(); });
        resumedOn = QThread::currentThread();
        co_return ranOn;
    };
    EXPECT_NE(awaitTask(work()).get(), mainThread());
    EXPECT_EQ(resumedOn, mainThread());

    auto file = awaitTask(runInPool([] { throw FileError("No se puede leer"); }));
    EXPECT_TRUE(file.threw<FileError>());
    EXPECT_EQ(file.message(), "No se puede leer");
}

// In the order the children end, a child done inside add() included.
TEST(TaskGroup, HandsOutOutcomesInTheOrderTheChildrenEnd)
{
    AsyncLatch first, second, early;
    TaskGroup<int> group;
    const auto next = [&group] { return textOf(awaitTask(group.next(), 10s).get()); };
    group.add(child(10, &first));
    group.add(child(9, &early));
    group.add(child(-2, &second));
    group.add(child(7));
    group.add(child(-3));
    early.finish();
    EXPECT_EQ(next(), "7");
    EXPECT_EQ(next(), "error: fallo 3");
    EXPECT_EQ(next(), "9");

    test::StartedTask<std::optional<TaskGroup<int>::Outcome>> waiting(group.next());
    group.add(child(5));
    EXPECT_FALSE(waiting.ended()) << "the waiting owner ran inside add()";
    ASSERT_TRUE(waiting.waitEnded(10s));
    EXPECT_EQ(textOf(waiting.take().get()), "5");
    second.finish();
    EXPECT_EQ(next(), "error: fallo 2");
    EXPECT_EQ(group.size(), 1);
    first.finish();
    EXPECT_EQ(next(), "10");
    EXPECT_EQ(next(), "end");
    EXPECT_EQ(group.size(), 0);
}

// Stopped by cancel() or by its parent's token from another thread, every child sees the stop.
TEST(TaskGroup, AStopReachesTheTokensOfTheChildren)
{
    for (const bool byParent : {false, true}) {
        SCOPED_TRACE(byParent ? "parent" : "cancel()");
        std::stop_source parent;
        TaskGroup<void> group(parent.get_token());
        group.add(sleepFor(60s, group.token()));
        group.add(sleepFor(60s, group.token()));
        EXPECT_FALSE(group.token().stop_requested());
        if (byParent)
            std::thread([&] { parent.request_stop(); }).join();
        else
            group.cancel();
        EXPECT_TRUE(group.token().stop_requested());
        for (int i = 0; i < 2; ++i) {
            const auto next = awaitTask(group.next(), 10s).get();
            ASSERT_TRUE(next);
            EXPECT_TRUE(holds<Cancelled>(next->error));
        }
        EXPECT_FALSE(awaitTask(group.next(), 10s).get());
    }
}

// A drain waits also for a child that ignores the stop.
TEST(TaskGroup, CancelAndDrainWaitsForEveryChildAndADestroyedGroupStopsItsOwn)
{
    AsyncLatch stubborn;
    QThread* resumedOn = nullptr;
    TaskGroup<void> group;
    group.add(sleepNotingThread(60s, group.token(), resumedOn));
    group.add(stubborn.wait());
    test::StartedTask<void> draining(group.cancelAndDrain());
    ASSERT_TRUE(test::runUntil([&] { return resumedOn != nullptr; }, 10s));
    EXPECT_FALSE(draining.waitEnded(50ms)) << "drain ended with a child still running";
    stubborn.finish();
    ASSERT_TRUE(draining.waitEnded(10s));
    EXPECT_EQ(group.size(), 0);

    resumedOn = nullptr;
    {
        TaskGroup<void> leftBehind;
        leftBehind.add(sleepNotingThread(60s, leftBehind.token(), resumedOn));
    }
    EXPECT_TRUE(test::runUntil([&] { return resumedOn != nullptr; }, 10s));
}

// A worker's posts while its batch is open reach the main thread when it ends, in order, after what
// other threads posted meanwhile; a post without a batch goes at once.
TEST(MainThreadPostBatch, DeliversItsCallsTogetherInOrderWhenItEnds)
{
    std::vector<int> ran;   // main thread only
    std::promise<void> posted, close;
    std::thread worker([&] {
        {
            const detail::MainThreadPostBatch batch;
            for (int i = 1; i <= 3; ++i)
                detail::postToMainThread([&ran, i] { ran.push_back(i); });
            posted.set_value();
            close.get_future().wait();
        }
        detail::postToMainThread([&ran] { ran.push_back(4); });
    });
    posted.get_future().wait();
    bool marker = false;
    std::thread([&marker] { detail::postToMainThread([&marker] { marker = true; }); }).join();
    EXPECT_TRUE(test::runUntil([&] { return marker; }, 10s));
    EXPECT_TRUE(ran.empty());
    close.set_value();
    EXPECT_TRUE(test::runUntil([&] { return ran.size() >= 4; }, 10s));
    worker.join();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}
