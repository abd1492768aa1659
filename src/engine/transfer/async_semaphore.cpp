#include "engine/transfer/async_semaphore.h"

#include "platform/async.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace zafrel {

AsyncSemaphore::AsyncSemaphore(int count) : capacity_(count), count_(count)
{
}

QCoro::Task<void> AsyncSemaphore::wait(int permits)
{
    if (waiters_.empty() && count_ >= permits) {
        count_ -= permits;
        co_return;
    }
    // Resumed holding the permits that signal() handed over; count_ is not touched here.
    co_await Suspend{this, permits};
}

void AsyncSemaphore::signal(int permits)
{
    count_ += permits;
    while (!waiters_.empty() && waiters_.front().permits <= count_) {
        const Waiter waiter = waiters_.front();
        waiters_.pop_front();
        count_ -= waiter.permits;
        // Posted to the application object rather than to the semaphore: the waiter owns the
        // permits from this moment on and must run even if the semaphore is gone by then.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handle = waiter.handle] { handle.resume(); }, Qt::QueuedConnection);
    }
}

PermitRelease::~PermitRelease()
{
    sem_->signal(permits_);
}

}  // namespace zafrel
