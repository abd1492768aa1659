#include "engine/async_semaphore.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace zafrel {

AsyncSemaphore::AsyncSemaphore(int count) : count_(count)
{
}

QCoro::Task<void> AsyncSemaphore::wait()
{
    if (count_ > 0) {
        --count_;
        co_return;
    }
    // Resumed holding the permit that signal() handed over; count_ is not touched here.
    co_await Suspend{this};
}

void AsyncSemaphore::signal()
{
    if (waiters_.empty()) {
        ++count_;
        return;
    }
    const std::coroutine_handle<> waiter = waiters_.front();
    waiters_.pop_front();
    // Posted to the application object rather than to the semaphore: the waiter owns the permit
    // from this moment on and must run even if the semaphore is gone by then.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [waiter] { waiter.resume(); }, Qt::QueuedConnection);
}

}  // namespace zafrel
