#pragma once
// Awaiting a coroutine from a test body with a deadline. QCoro::waitFor has no deadline and never
// returns when the task throws (its loop is only quit after a successful co_await), so tests use
// awaitTask instead.
#include "support/test_env.h"

#include <QCoro/QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
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
    bool threw() const
    {
        if (!error)
            return false;
        try {
            std::rethrow_exception(error);
        } catch (const E&) {
            return true;
        } catch (...) {
            return false;
        }
    }

    // what() of the exception thrown, empty when none or not a std::exception.
    std::string message() const
    {
        if (!error)
            return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return {};
        }
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

// Runs the event loop until `task` ends or `deadline` passes. A task still running at the deadline
// keeps going on its own (its result is then dropped).
template<class T>
Awaited<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(20))
{
    auto result = std::make_shared<Awaited<T>>();
    detail::collectInto(std::move(task), result);
    if (!runUntil([&] { return result->ended; }, deadline))
        return {};
    return std::move(*result);
}

}  // namespace zafrel::test
