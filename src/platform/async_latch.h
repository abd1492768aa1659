#pragma once
#include <QCoro/QCoroTask>

#include <coroutine>
#include <exception>
#include <vector>

namespace zafrel {

// The end of one piece of work that several coroutines of the main thread wait for: each wait()
// returns once finish() was called, or throws the error it was given. Waiters are resumed through
// posted calls, never inside finish(). Main thread only; keep it in a shared_ptr that every waiter
// holds, so that it outlives their waits.
class AsyncLatch {
public:
    AsyncLatch() = default;
    AsyncLatch(const AsyncLatch&) = delete;
    AsyncLatch& operator=(const AsyncLatch&) = delete;

    bool finished() const { return finished_; }
    void finish(std::exception_ptr error = {});
    QCoro::Task<void> wait();

private:
    // Handed to co_await as a temporary (see the top of platform/async.h).
    struct Suspend {
        AsyncLatch* latch;
        bool await_ready() const noexcept { return latch->finished_; }
        void await_suspend(std::coroutine_handle<> waiter) { latch->waiters_.push_back(waiter); }
        void await_resume() const noexcept {}
    };

    bool finished_ = false;
    std::exception_ptr error_;
    std::vector<std::coroutine_handle<>> waiters_;
};

}  // namespace zafrel
