#pragma once
// Awaiting a coroutine from a test body with a deadline. QCoro::waitFor has no deadline and never
// returns when the task throws (its loop is only quit after a successful co_await), so tests use
// awaitTask, or StartedTask to look at the outcome later.
#include "platform/errors.h"
#include "support/test_env.h"

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>

namespace zafrel::test {

template<class T>
struct Awaited {
    bool ended = false;  // false: the deadline passed first
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    std::exception_ptr error;

    // True when the task threw an exception of type E (or derived from it).
    template<class E>
    bool threw() const { return holds<E>(error); }

    // what() of the exception thrown; empty when none.
    std::string message() const { return messageOf(error, error ? "(not a std::exception)" : ""); }

    // The value; rethrows what the task threw, and throws std::runtime_error when the deadline
    // passed first.
    T get()
    {
        if (!ended)
            throw std::runtime_error("the task did not end before the deadline");
        if (error)
            std::rethrow_exception(error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*value);
    }
};

namespace detail {
template<class T>
QCoro::Task<void> collectInto(QCoro::Task<T> task, std::shared_ptr<Awaited<T>> result)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            result->value.emplace();
        } else {
            result->value.emplace(co_await task);
        }
    } catch (...) {
        result->error = std::current_exception();
    }
    result->ended = true;
}
}  // namespace detail

// Keeps a started coroutine going and records how it ends. The holder may be dropped early: the
// coroutine still ends on its own and records into the shared result.
template<class T>
class StartedTask {
public:
    explicit StartedTask(QCoro::Task<T> task)
        : result_(std::make_shared<Awaited<T>>()), driver_(detail::collectInto(std::move(task), result_)) {}
    const Awaited<T>& result() const { return *result_; }
    bool ended() const { return result_->ended; }
    // Runs the event loop until the coroutine ended; answers whether it did before the deadline.
    bool waitEnded(std::chrono::milliseconds deadline = std::chrono::seconds(30))
    {
        return runUntil([result = result_] { return result->ended; }, deadline);
    }
    // The result, moved out: only once, after waitEnded().
    Awaited<T> take() { return result_->ended ? std::move(*result_) : Awaited<T>{}; }

private:
    std::shared_ptr<Awaited<T>> result_;
    QCoro::Task<void> driver_;
};

// Runs the event loop until `task` ends or `deadline` passes. A task still running at the deadline
// keeps going on its own (its result is then dropped). `.get()` on the answer gives the value or
// rethrows.
template<class T>
Awaited<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    StartedTask<T> started(std::move(task));
    started.waitEnded(deadline);
    return started.take();
}

}  // namespace zafrel::test
