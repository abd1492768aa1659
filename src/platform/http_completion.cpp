#include "platform/http_completion.h"

#include "platform/async.h"

namespace zafrel {

bool HttpCompletion::claim()
{
    return !done_.exchange(true, std::memory_order_acq_rel);
}

bool HttpCompletion::succeed(HttpResponse response, HttpProgressCallback* progress)
{
    if (!claim())
        return false;
    outcome_ = std::move(response);
    resumeLater(progress);
    return true;
}

bool HttpCompletion::fail(std::exception_ptr error, HttpProgressCallback* progress)
{
    if (!claim())
        return false;
    outcome_ = std::move(error);
    resumeLater(progress);
    return true;
}

void HttpCompletion::resumeLater(HttpProgressCallback* progress)
{
    if (progress)
        progress_ = std::move(*progress);
    // The application object lives on the main thread and outlives every session, so outcomes
    // posted while a session is being destroyed still reach their coroutines. Without an
    // application (process shutting down) nothing can be resumed any more.
    detail::postToMainThread([self = shared_from_this()] { self->resumeNow(); });
}

void HttpCompletion::resumeNow()
{
    // Cleared by the awaiter when its coroutine frame went away before the outcome arrived.
    if (auto waiter = std::exchange(waiter_, {}))
        waiter.resume();
    progress_ = nullptr;
}

HttpResponse HttpCompletion::take()
{
    if (auto* error = std::get_if<std::exception_ptr>(&outcome_))
        std::rethrow_exception(*error);
    return std::move(std::get<HttpResponse>(outcome_));
}

}  // namespace zafrel
