#pragma once
#include <QCoro/QCoroTask>

#include <coroutine>
#include <deque>

namespace zafrel {

// A counting semaphore for coroutines on the main thread: a task waiting for a permit holds no
// thread. Used only from the main thread, so its state needs no lock.
//
// Waiters are served first in, first out. signal() hands its permits straight to the first waiter
// once it has all it asked for (count stays as it is), so no other task can take them before the
// waiter runs, and a waiter that asks for several permits is never overtaken by later ones asking
// for fewer; the waiter is resumed through a posted call, never inside signal(), so the signalling
// code runs to its next suspension first. Waiting cannot be cancelled and has no time limit: only
// a signal() releases a waiter. Every wait(n) that returned must be matched by signal(n), and
// nobody may ask for more permits than the semaphore was created with.
class AsyncSemaphore {
public:
    explicit AsyncSemaphore(int count);
    AsyncSemaphore(const AsyncSemaphore&) = delete;
    AsyncSemaphore& operator=(const AsyncSemaphore&) = delete;

    QCoro::Task<void> wait(int permits = 1);
    void signal(int permits = 1);

    int count() const { return count_; }                   // free permits
    int capacity() const { return capacity_; }             // permits it was created with
    int waiting() const { return int(waiters_.size()); }   // suspended waiters

private:
    struct Waiter {
        std::coroutine_handle<> handle;
        int permits;
    };
    struct Suspend {
        AsyncSemaphore* semaphore;
        int permits;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) { semaphore->waiters_.push_back({waiter, permits}); }
        void await_resume() const noexcept {}
    };

    const int capacity_;
    int count_;
    std::deque<Waiter> waiters_;
};

// Gives permits back whichever way the holder ends. At once, while the holder's frame is being
// destroyed and the semaphore certainly still exists: signal() only posts the waiters' wake-ups,
// so the holder never waits for the hand-over, and nothing is left to run after the run that owns
// the semaphore may have ended.
class PermitRelease {
public:
    PermitRelease(AsyncSemaphore& sem, int permits) : sem_(&sem), permits_(permits) {}
    PermitRelease(const PermitRelease&) = delete;
    PermitRelease& operator=(const PermitRelease&) = delete;
    ~PermitRelease();

private:
    AsyncSemaphore* sem_;
    int permits_;
};

}  // namespace zafrel
