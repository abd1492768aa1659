#pragma once
// Coroutine helpers of the main thread: detached tasks, cancellable sleeps, work on the thread
// pool, and groups of child coroutines.
//
// How QCoro 0.8 keeps a coroutine alive, which everything below relies on:
// - A QCoro::Task starts its coroutine at once and runs it up to the first suspension.
// - Destroying a Task whose coroutine is still suspended does NOT destroy the coroutine: the
//   frame stays alive, runs on when it is resumed, and frees itself when it reaches its end
//   (TaskPromiseBase::setDestroyHandle). Destroying the Task of a finished coroutine frees it.
//   So a frame is never freed while it is suspended, and a Task can be dropped to detach it.
// - What a detached coroutine throws is kept in its promise and then silently discarded, so every
//   coroutine that we detach catches everything itself.
// - .then() and QCoro::connect() only wrap the task in one more detached coroutine; they add
//   nothing we need, so they are not used here.
// - A finishing coroutine resumes whoever awaits it inline, inside its own final suspension. Wakeups
//   that come from elsewhere (a timer, another thread, a sibling's end) are instead posted to the
//   event loop, so that nobody's code runs inside someone else's callback or on a foreign thread.
//
// Three faults of g++ 12 that every coroutine here (and its callers) must steer around:
// - A co_await anywhere inside the condition of an `if` or `while` (`if (co_await f())`,
//   `while (!(co_await f()))`, `if ((co_await f()).empty())`) crashes once f suspends. Bind the
//   result to a variable first: `bool there = co_await f(); if (there) ...`.
// - An awaiter co_awaited as an lvalue is copied first, and the copy is the one suspended. Keep
//   an awaiter's state elsewhere and hand co_await a small awaiter that points at it.
// - An object made inside a co_await's operand, such as a capturing lambda or the temporary of a
//   conditional (`co_await f(again ? QByteArray() : data)`), may be destroyed twice. Make it a
//   named local first and pass that.
//
// And one of QCoro 0.8: `co_return x;` with a non-const lvalue `x` that outlives the coroutine (a
// member, a map entry) MOVES from it (TaskPromise::return_value(U&&) calls std::move). Return a
// copy: `co_return std::string(entry);`.

#include "platform/errors.h"

#include <QCoro/QCoroTask>

#include <chrono>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace zafrel {

// Runs `body` as a coroutine of its own, starting on a later turn of the event loop: the caller
// has returned before any of it runs. The callable is kept until the coroutine ends, so a lambda
// coroutine's captures stay valid across its suspensions. Whatever escapes `body` is a
// programming error; it is written with qCritical and dropped.
void spawn(std::function<QCoro::Task<void>()> body);

// Waits `duration`, never less (a precise timer, and what is left after an early wakeup is waited
// again). Throws Cancelled when `stop` is requested (from any thread) before the time is up, or at
// once when it already was.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, std::stop_token stop = {});

namespace detail {

// Queues `call` on the event loop of the main thread. Safe from any thread. On a thread inside a
// MainThreadPostBatch, the call waits for the batch's end.
void postToMainThread(std::function<void()> call);

// On a worker thread, for one turn of its loop: what the thread posts to the main thread while the
// batch lives goes there in one event when it ends, the calls in the order they were posted, so
// that a burst of outcomes costs the main loop one wake-up. Nothing may wait for the main thread
// while a batch is open.
class MainThreadPostBatch {
public:
    MainThreadPostBatch();
    ~MainThreadPostBatch();
    MainThreadPostBatch(const MainThreadPostBatch&) = delete;
    MainThreadPostBatch& operator=(const MainThreadPostBatch&) = delete;

private:
    friend void postToMainThread(std::function<void()> call);
    std::vector<std::function<void()>> calls_;
    MainThreadPostBatch* outer_;
};

// Writes the message of an exception that nobody can receive any more (qCritical). A Cancelled
// is only written when `includingCancelled`: after a stop it is the expected end.
void reportLostException(const char* where, std::exception_ptr error, bool includingCancelled);

template<class R>
using ValueOf = std::conditional_t<std::is_void_v<R>, std::monostate, R>;

}  // namespace detail

namespace detail {

// Runs `job` on QThreadPool::globalInstance(), then posts the resumption of `waiter` to the main
// thread: one wake-up of the main loop per job. The resumption is posted also when the pool drops
// the job without running it (the process is ending).
void runOnPoolThenResume(std::function<void()> job, std::coroutine_handle<> waiter);

// Keeps nothing but a pointer, so the copy g++ 12 makes of an awaiter is harmless.
struct PoolAwaiter {
    std::function<void()>* job;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiter) { runOnPoolThenResume(std::move(*job), waiter); }
    void await_resume() const noexcept {}
};

}  // namespace detail

// Runs `f` on QThreadPool::globalInstance() and resumes the caller on the main thread with its
// result. Any exception `f` throws is rethrown here with its own type. `f` itself, with its
// captures, stays in the caller's coroutine and is destroyed on the main thread; only the call
// happens on the pool.
template<class F>
auto runInPool(F f) -> QCoro::Task<std::invoke_result_t<F&>>
{
    using R = std::invoke_result_t<F&>;
    static_assert(!std::is_reference_v<R>, "runInPool returns values, not references");

    // The pool job writes into these locals of this coroutine frame. The frame cannot go away
    // while suspended (see the top of this file), and the job writes before the resumption is
    // posted; the event queue's lock makes the writes visible here.
    std::optional<detail::ValueOf<R>> value;
    std::exception_ptr error;
    std::function<void()> job = [&f, &value, &error] {
        try {
            if constexpr (std::is_void_v<R>) {
                f();
                value.emplace();
            } else {
                value.emplace(f());
            }
        } catch (...) {
            error = std::current_exception();
        }
    };
    co_await detail::PoolAwaiter{&job};
    if (error)
        std::rethrow_exception(error);
    if (!value)
        throw Cancelled();  // the pool dropped the job without running it
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*value);
}

// Child coroutines of one owner on the main thread, with a stop source of their own that follows
// the parent token. The owner adds already started children, takes their outcomes one by one in
// the order they ended, and can stop them all and wait until they have ended.
//
// Each child is awaited by an internal watcher coroutine that owns the child's Task, turns its end
// into an Outcome (a value or the exception) and queues it; nothing a child throws is lost. The
// queue lives in a shared state that the watchers and any waiting next() hold, so an owner that
// forgets to drain the group leaves nothing dangling.
template<class T>
class TaskGroup {
public:
    struct Outcome {
        std::optional<detail::ValueOf<T>> value;  // set when the child returned
        std::exception_ptr error;                 // set when it threw
    };

    explicit TaskGroup(std::stop_token parent = {})
        : parentLink_(std::move(parent), RequestStop{source_})
    {
    }

    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    // The owner must have consumed every child (next() until nullopt, or cancelAndDrain()).
    // If it did not, the remaining children are stopped and their failures written to the log.
    ~TaskGroup()
    {
        if (size() == 0)
            return;
        state_->abandoned = true;
        for (const Outcome& outcome : state_->ended)
            if (outcome.error)
                detail::reportLostException("TaskGroup", outcome.error, false);
        source_.request_stop();
    }

    // To be handed to the children.
    std::stop_token token() const { return source_.get_token(); }

    // `child` has already started (and may even have ended). The group owns it from here on.
    void add(QCoro::Task<T> child)
    {
        ++state_->running;
        // The watcher's own Task is dropped at once: that detaches it, and it frees itself when the
        // child has ended (possibly right here, when the child has already finished).
        watch(state_, std::move(child));
    }

    // Children not yet taken by next(): still running or ended and waiting in the queue.
    int size() const { return state_->running + int(state_->ended.size()); }

    // The outcome of the child that ended first among those not yet taken, waiting if none has
    // ended yet; nullopt when no child is left.
    QCoro::Task<std::optional<Outcome>> next() { return nextOf(state_); }

    void cancel() { source_.request_stop(); }

    // Stops every child and waits until all have ended, discarding their outcomes.
    QCoro::Task<void> cancelAndDrain()
    {
        cancel();
        return drain(state_);
    }

private:
    struct State {
        std::deque<Outcome> ended;
        int running = 0;
        std::vector<std::coroutine_handle<>> waiters;  // next() calls suspended until an end
        bool wakePosted = false;
        bool abandoned = false;
    };

    // Forwards a stop of the parent token; may run on whichever thread requested that stop.
    struct RequestStop {
        std::stop_source target;
        void operator()() { target.request_stop(); }
    };

    // Keeps nothing of its own, so the copy g++ 12 makes of an awaiter is harmless.
    struct EndAwaiter {
        State& state;
        bool await_ready() const noexcept { return !state.ended.empty() || state.running == 0; }
        void await_suspend(std::coroutine_handle<> waiter) { state.waiters.push_back(waiter); }
        void await_resume() const noexcept {}
    };

    static QCoro::Task<void> watch(std::shared_ptr<State> state, QCoro::Task<T> child)
    {
        Outcome outcome;
        try {
            if constexpr (std::is_void_v<T>) {
                co_await child;
                outcome.value.emplace();
            } else {
                outcome.value.emplace(co_await child);
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        --state->running;
        if (state->abandoned) {
            if (outcome.error)
                detail::reportLostException("TaskGroup", outcome.error, false);
            co_return;
        }
        state->ended.push_back(std::move(outcome));
        // Waiters are resumed from the event loop, never inline: this may be running inside add()
        // or inside the child's last step, where the owner must not continue.
        if (!state->waiters.empty() && !state->wakePosted) {
            state->wakePosted = true;
            detail::postToMainThread([state] {
                state->wakePosted = false;
                for (std::coroutine_handle<> waiter : std::exchange(state->waiters, {}))
                    waiter.resume();
            });
        }
    }

    static QCoro::Task<std::optional<Outcome>> nextOf(std::shared_ptr<State> state)
    {
        while (state->ended.empty()) {
            if (state->running == 0)
                co_return std::nullopt;
            co_await EndAwaiter{*state};
        }
        Outcome outcome = std::move(state->ended.front());
        state->ended.pop_front();
        co_return std::optional<Outcome>(std::move(outcome));
    }

    static QCoro::Task<void> drain(std::shared_ptr<State> state)
    {
        for (;;) {
            // Not `while (co_await ...)`: g++ 12 miscompiles a co_await inside a condition.
            std::optional<Outcome> outcome = co_await nextOf(state);
            if (!outcome)
                break;
        }
    }

    std::stop_source source_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::stop_callback<RequestStop> parentLink_;  // after source_: it copies it when built
};

}  // namespace zafrel
