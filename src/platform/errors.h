#pragma once
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

namespace zafrel {

// Every error that can reach a person carries its message, UTF-8, in what(): items, the login
// screen and the command line show exactly that text.

// The current task was cancelled (a stop token fired). Transfers turn it into a paused item.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelado"; }
};

// A request that got no HTTP response at all: refused, unreachable, timed out, TLS failure.
// what() says in a few Spanish words what failed and with which host; detail() keeps the
// transport's own technical wording for the report and tooltips, never for the message itself.
// `transient()` tells a failure that may pass by itself (refused, reset, timed out, name not
// resolved: a restart, a Wi-Fi handover) from one that will not (an invalid address, a bad
// certificate).
class TransportError : public std::runtime_error {
public:
    explicit TransportError(const std::string& summary, std::string detail = {}, bool transient = false)
        : std::runtime_error(summary), detail_(std::move(detail)), transient_(transient)
    {
    }
    const std::string& detail() const { return detail_; }
    bool transient() const { return transient_; }

private:
    std::string detail_;
    bool transient_;
};

// An answer whose body passed the bound its request allowed; the transfer was cut off there.
class ResponseTooLarge : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A local file could not be opened, read or written.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when `error` holds an E (or something derived from it).
template<class E>
bool holds(const std::exception_ptr& error)
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

// True when `error` holds an E (or something derived from it) for which `test` answers true.
template<class E, class Test>
bool holds(const std::exception_ptr& error, Test test)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const E& e) {
        return test(e);
    } catch (...) {
        return false;
    }
}

// what() of the exception in `error`; `fallback` when there is none or it is not a std::exception.
inline std::string messageOf(const std::exception_ptr& error, std::string fallback)
{
    if (!error)
        return fallback;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return fallback;
    }
}

// The technical detail of a TransportError in `error`, or empty text for anything else.
inline std::string technicalDetailOf(const std::exception_ptr& error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& e) {
        return e.detail();
    } catch (...) {
        return {};
    }
}

}  // namespace zafrel
