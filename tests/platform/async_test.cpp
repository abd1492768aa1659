#include "platform/async.h"
#include "platform/errors.h"
#include "support/async_wait.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace zafrel;
using namespace std::chrono_literals;
using test::awaitTask;

namespace {

QThread* mainThread() { return QCoreApplication::instance()->thread(); }

// A latch that the test opens by hand, so that children end in an order the test chooses.
// (co_await gets a small awaiter pointing here: g++ 12 copies an awaiter awaited as an lvalue.)
class Gate {
public:
    Gate() = default;
    Gate(const Gate&) = delete;

    struct Awaiter {
        Gate* gate;
        bool await_ready() const noexcept { return gate->open_; }
        void await_suspend(std::coroutine_handle<> waiter) { gate->waiter_ = waiter; }
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() { return Awaiter{this}; }

    void open()
    {
        open_ = true;
        if (auto waiter = std::exchange(waiter_, {}))
            waiter.resume();
    }

private:
    bool open_ = false;
    std::coroutine_handle<> waiter_;
};

QCoro::Task<int> valueAfter(Gate& gate, int value)
{
    co_await gate;
    co_return value;
}

QCoro::Task<int> failureAfter(Gate& gate, std::string message)
{
    co_await gate;
    throw std::runtime_error(message);
}

QCoro::Task<int> valueAtOnce(int value) { co_return value; }

QCoro::Task<int> failureAtOnce(std::string message)
{
    throw std::runtime_error(message);
    co_return 0;
}

// "7" for a value, "error: <what>" for a failure.
std::string describe(const TaskGroup<int>::Outcome& outcome)
{
    return outcome.value ? std::to_string(*outcome.value) : "error: " + messageOf(outcome.error, "?");
}

struct Consumed {
    std::vector<std::string> outcomes;
    bool finished = false;
};

QCoro::Task<void> consumeAll(TaskGroup<int>& group, Consumed& consumed)
{
    for (;;) {
        // Bound to a variable first: g++ 12 miscompiles a co_await inside a condition.
        std::optional<TaskGroup<int>::Outcome> outcome = co_await group.next();
        if (!outcome)
            break;
        consumed.outcomes.push_back(describe(*outcome));
    }
    consumed.finished = true;
}

QCoro::Task<void> sleepNotingThread(std::chrono::milliseconds duration, std::stop_token stop, QThread*& resumedOn)
{
    try {
        co_await sleepFor(duration, stop);
    } catch (...) {
        resumedOn = QThread::currentThread();
        throw;
    }
    resumedOn = QThread::currentThread();
}

// Collects qCritical output while alive.
class CriticalMessages {
public:
    CriticalMessages() { previous_ = qInstallMessageHandler(&CriticalMessages::handle); }
    ~CriticalMessages() { qInstallMessageHandler(previous_); messages().clear(); }
    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtCriticalMsg)
            messages().append(message);
    }
    QtMessageHandler previous_;
};

}  // namespace

// --- spawn -----------------------------------------------------------------------------------

TEST(Spawn, RunsTheBodyOnlyAfterTheCallerHasReturned)
{
    bool callerDone = false;
    bool ran = false;
    bool ranAfterCaller = false;
    spawn([&]() -> QCoro::Task<void> {
        ranAfterCaller = callerDone;
        ran = true;
        co_return;
    });
    EXPECT_FALSE(ran);
    callerDone = true;
    ASSERT_TRUE(test::runUntil([&] { return ran; }, 10s));
    EXPECT_TRUE(ranAfterCaller);
}

TEST(Spawn, KeepsTheBodyAndItsCapturesUntilTheCoroutineEnds)
{
    auto captured = std::make_shared<int>(42);
    std::weak_ptr<int> watch = captured;
    bool suspended = false;
    int seen = 0;
    spawn([captured = std::move(captured), &suspended, &seen]() -> QCoro::Task<void> {
        suspended = true;
        co_await sleepFor(50ms);
        seen = *captured;
    });
    ASSERT_TRUE(test::runUntil([&] { return suspended; }, 10s));
    EXPECT_FALSE(watch.expired()) << "captures released while the coroutine was suspended";
    ASSERT_TRUE(test::runUntil([&] { return seen != 0; }, 10s));
    EXPECT_EQ(seen, 42);
    EXPECT_TRUE(test::runUntil([&] { return watch.expired(); }, 10s)) << "captures kept after the end";
}

TEST(Spawn, WritesAnEscapingExceptionAndCarriesOn)
{
    CriticalMessages critical;
    spawn([]() -> QCoro::Task<void> {
        co_await sleepFor(1ms);
        throw std::runtime_error("fallo interno");
    });
    ASSERT_TRUE(test::runUntil([&] { return !CriticalMessages::messages().isEmpty(); }, 10s));
    EXPECT_TRUE(CriticalMessages::messages().first().contains("fallo interno"));

    bool later = false;
    spawn([&]() -> QCoro::Task<void> {
        later = true;
        co_return;
    });
    EXPECT_TRUE(test::runUntil([&] { return later; }, 10s));
}

// --- sleepFor --------------------------------------------------------------------------------

// Never shorter than asked: a retry wait of 3 s that ends after 2.85 s is a wait cut short.
TEST(SleepFor, EndsAfterItsWholeTimeAndIgnoresALaterStop)
{
    std::stop_source stop;
    QElapsedTimer clock;
    clock.start();
    auto slept = awaitTask(sleepFor(1000ms, stop.get_token()), 10s);
    ASSERT_TRUE(slept.ended);
    EXPECT_FALSE(slept.error);
    EXPECT_GE(clock.nsecsElapsed(), 1'000'000'000);

    // The stop callback is gone with the sleep: a stop now must resume nothing.
    stop.request_stop();
    test::runUntil([] { return false; }, 50ms);
}

TEST(SleepFor, ThrowsCancelledPromptlyWhenStoppedOnTheMainThread)
{
    std::stop_source stop;
    QTimer::singleShot(20ms, [&] { stop.request_stop(); });
    auto slept = awaitTask(sleepFor(60s, stop.get_token()), 10s);
    ASSERT_TRUE(slept.ended);
    EXPECT_TRUE(slept.threw<Cancelled>());
}

TEST(SleepFor, ThrowsCancelledOnTheMainThreadWhenStoppedFromAnotherThread)
{
    std::stop_source stop;
    QThread* resumedOn = nullptr;
    auto sleeping = sleepNotingThread(60s, stop.get_token(), resumedOn);  // suspended by now
    std::thread other([&] { stop.request_stop(); });
    other.join();
    EXPECT_EQ(resumedOn, nullptr) << "resumed inside the stop callback";
    auto slept = awaitTask(std::move(sleeping), 10s);
    ASSERT_TRUE(slept.ended);
    EXPECT_TRUE(slept.threw<Cancelled>());
    EXPECT_EQ(resumedOn, mainThread());
}

TEST(SleepFor, ThrowsAtOnceWhenAlreadyStopped)
{
    std::stop_source stop;
    stop.request_stop();
    auto sleeping = sleepFor(60s, stop.get_token());
    EXPECT_TRUE(sleeping.isReady());
    auto slept = awaitTask(std::move(sleeping), 10s);
    ASSERT_TRUE(slept.ended);
    EXPECT_TRUE(slept.threw<Cancelled>());
}

// --- runInPool -------------------------------------------------------------------------------

TEST(RunInPool, RunsOffTheMainThreadAndResumesOnIt)
{
    QThread* resumedOn = nullptr;
    auto work = [&]() -> QCoro::Task<QThread*> {
        QThread* ranOn = co_await runInPool([] { return QThread::currentThread(); });
        resumedOn = QThread::currentThread();
        co_return ranOn;
    };
    auto ran = awaitTask(work(), 10s);
    ASSERT_TRUE(ran.ended);
    ASSERT_TRUE(ran.value);
    EXPECT_NE(*ran.value, mainThread());
    EXPECT_EQ(resumedOn, mainThread());
}

TEST(RunInPool, RethrowsWhatTheFunctionThrowsWithItsType)
{
    auto plain = awaitTask(runInPool([]() -> int { throw std::runtime_error("disco lleno"); }), 10s);
    ASSERT_TRUE(plain.ended);
    EXPECT_TRUE(plain.threw<std::runtime_error>());
    EXPECT_EQ(plain.message(), "disco lleno");

    auto file = awaitTask(runInPool([] { throw FileError("No se puede leer"); }), 10s);
    ASSERT_TRUE(file.ended);
    EXPECT_TRUE(file.threw<FileError>());
    EXPECT_EQ(file.message(), "No se puede leer");
}

TEST(RunInPool, HandsBackMoveOnlyResultsAndVoid)
{
    auto boxed = awaitTask(runInPool([] { return std::make_unique<int>(7); }), 10s);
    ASSERT_TRUE(boxed.ended);
    ASSERT_TRUE(boxed.value && *boxed.value);
    EXPECT_EQ(**boxed.value, 7);

    std::atomic<bool> called = false;
    auto nothing = awaitTask(runInPool([&] { called = true; }), 10s);
    ASSERT_TRUE(nothing.ended);
    EXPECT_FALSE(nothing.error);
    EXPECT_TRUE(called);
}

// --- TaskGroup -------------------------------------------------------------------------------

TEST(TaskGroup, HandsOutOutcomesInTheOrderTheChildrenEnd)
{
    Gate first, second, third;
    TaskGroup<int> group;
    group.add(valueAfter(first, 10));
    group.add(failureAfter(second, "parte 2"));
    group.add(valueAfter(third, 30));
    EXPECT_EQ(group.size(), 3);

    Consumed consumed;
    auto consumer = consumeAll(group, consumed);
    test::runUntil([] { return false; }, 20ms);
    EXPECT_TRUE(consumed.outcomes.empty());

    // A child that is done inside add() reaches a next() that is already waiting.
    group.add(valueAtOnce(5));
    EXPECT_TRUE(consumed.outcomes.empty()) << "the waiting owner ran inside add()";
    ASSERT_TRUE(test::runUntil([&] { return consumed.outcomes.size() == 1; }, 10s));

    third.open();
    ASSERT_TRUE(test::runUntil([&] { return consumed.outcomes.size() == 2; }, 10s));
    second.open();
    ASSERT_TRUE(test::runUntil([&] { return consumed.outcomes.size() == 3; }, 10s));
    EXPECT_FALSE(consumed.finished);
    EXPECT_EQ(group.size(), 1);
    first.open();
    ASSERT_TRUE(test::runUntil([&] { return consumed.finished; }, 10s));

    EXPECT_EQ(consumed.outcomes, (std::vector<std::string>{"5", "30", "error: parte 2", "10"}));
    EXPECT_EQ(group.size(), 0);
}

TEST(TaskGroup, KeepsOutcomesOfChildrenThatEndedBeforeNext)
{
    Gate gate;
    TaskGroup<int> group;
    group.add(valueAfter(gate, 9));
    group.add(valueAtOnce(7));
    group.add(failureAtOnce("sin permiso"));
    gate.open();
    EXPECT_EQ(group.size(), 3);

    Consumed consumed;
    auto consumer = consumeAll(group, consumed);
    ASSERT_TRUE(test::runUntil([&] { return consumed.finished; }, 10s));
    EXPECT_EQ(consumed.outcomes, (std::vector<std::string>{"7", "error: sin permiso", "9"}));
}

TEST(TaskGroup, NextOnAnEmptyGroupAnswersNothing)
{
    TaskGroup<void> group;
    auto next = awaitTask(group.next(), 10s);
    ASSERT_TRUE(next.ended);
    ASSERT_TRUE(next.value);
    EXPECT_FALSE(*next.value);
}

TEST(TaskGroup, CancelReachesTheTokensOfTheChildren)
{
    TaskGroup<void> group;
    group.add(sleepFor(60s, group.token()));
    group.add(sleepFor(60s, group.token()));
    EXPECT_FALSE(group.token().stop_requested());
    group.cancel();
    EXPECT_TRUE(group.token().stop_requested());

    for (int i = 0; i < 2; ++i) {
        auto next = awaitTask(group.next(), 10s);
        ASSERT_TRUE(next.ended);
        ASSERT_TRUE(next.value && *next.value);
        EXPECT_TRUE(holds<Cancelled>((*next.value)->error));
    }
    auto last = awaitTask(group.next(), 10s);
    ASSERT_TRUE(last.ended && last.value);
    EXPECT_FALSE(*last.value);
}

TEST(TaskGroup, FollowsAStopOfItsParentFromAnyThread)
{
    std::stop_source parent;
    TaskGroup<void> group(parent.get_token());
    group.add(sleepFor(60s, group.token()));
    std::thread other([&] { parent.request_stop(); });
    other.join();
    EXPECT_TRUE(group.token().stop_requested());
    auto next = awaitTask(group.next(), 10s);
    ASSERT_TRUE(next.ended);
    ASSERT_TRUE(next.value && *next.value);
    EXPECT_TRUE(holds<Cancelled>((*next.value)->error));

    std::stop_source stopped;
    stopped.request_stop();
    TaskGroup<void> late(stopped.get_token());
    EXPECT_TRUE(late.token().stop_requested());
}

namespace {

QCoro::Task<void> cleansUpAfterStop(std::stop_token stop, bool& cleanedUp)
{
    try {
        co_await sleepFor(60s, stop);
    } catch (const Cancelled&) {
    }
    co_await sleepFor(20ms);
    cleanedUp = true;
}

QCoro::Task<void> ignoresStop(Gate& gate) { co_await gate; }

QCoro::Task<void> drainNoting(TaskGroup<void>& group, bool& drained)
{
    co_await group.cancelAndDrain();
    drained = true;
}

}  // namespace

TEST(TaskGroup, CancelAndDrainWaitsForEveryChild)
{
    Gate stubborn;
    bool cleanedUp = false;
    bool drained = false;
    TaskGroup<void> group;
    group.add(cleansUpAfterStop(group.token(), cleanedUp));
    group.add(ignoresStop(stubborn));

    auto draining = drainNoting(group, drained);
    ASSERT_TRUE(test::runUntil([&] { return cleanedUp; }, 10s));
    EXPECT_FALSE(test::runUntil([&] { return drained; }, 50ms)) << "drain ended with a child still running";

    stubborn.open();
    ASSERT_TRUE(test::runUntil([&] { return drained; }, 10s));
    EXPECT_EQ(group.size(), 0);
}

TEST(TaskGroup, StopsChildrenLeftBehindWhenDestroyed)
{
    CriticalMessages critical;
    QThread* resumedOn = nullptr;
    {
        TaskGroup<void> group;
        group.add(sleepNotingThread(60s, group.token(), resumedOn));
    }
    EXPECT_TRUE(test::runUntil([&] { return resumedOn != nullptr; }, 10s));
    EXPECT_TRUE(CriticalMessages::messages().isEmpty()) << "a stopped child's Cancelled is no loss";
}
