#pragma once
#include <QCoro/QCoroTask>

#include <coroutine>
#include <deque>

namespace zafrel {

// A counting semaphore for coroutines on the main thread: a task waiting for a permit holds no
// thread. Used only from the main thread, so its state needs no lock.
//
// Waiters are served first in, first out. signal() hands its permit straight to the first waiter
// (count stays as it is), so no other task can take that permit before the waiter runs; the
// waiter is resumed through a posted call, never inside signal(), so the signalling code runs to
// its next suspension first. Waiting cannot be cancelled and has no time limit: only a signal()
// releases a waiter. Every wait() that returned must be matched by exactly one signal().
class AsyncSemaphore {
public:
    explicit AsyncSemaphore(int count);
    AsyncSemaphore(const AsyncSemaphore&) = delete;
    AsyncSemaphore& operator=(const AsyncSemaphore&) = delete;

    QCoro::Task<void> wait();
    void signal();

    int count() const { return count_; }                   // free permits
    int waiting() const { return int(waiters_.size()); }   // suspended waiters

private:
    struct Suspend {
        AsyncSemaphore* semaphore;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) { semaphore->waiters_.push_back(waiter); }
        void await_resume() const noexcept {}
    };

    int count_;
    std::deque<std::coroutine_handle<>> waiters_;
};

}  // namespace zafrel
