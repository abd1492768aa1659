#include "platform/async_latch.h"

#include "platform/async.h"

#include <utility>

namespace zafrel {

void AsyncLatch::finish(std::exception_ptr error)
{
    if (finished_)
        return;
    finished_ = true;
    error_ = std::move(error);
    for (const std::coroutine_handle<> waiter : std::exchange(waiters_, {}))
        detail::postToMainThread([waiter] { waiter.resume(); });
}

QCoro::Task<void> AsyncLatch::wait()
{
    co_await Suspend{this};
    if (error_)
        std::rethrow_exception(error_);
}

}  // namespace zafrel
