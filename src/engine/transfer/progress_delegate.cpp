#include "engine/transfer/progress_delegate.h"

#include "platform/async.h"

#include <utility>

namespace zafrel {

ProgressDelegate::ProgressDelegate(std::function<void(Delta)> onProgress) : pending_(std::make_shared<Pending>())
{
    pending_->onProgress = std::move(onProgress);
}

void ProgressDelegate::operator()(int64_t increment, int64_t total) const
{
    // The flag is taken after the counters are updated and given back before they are read (all in
    // one order for both threads): an event either finds a post still pending that will carry it,
    // or posts one itself.
    pending_->increment.fetch_add(increment);
    pending_->total.store(total);
    if (pending_->posted.exchange(true))
        return;
    detail::postToMainThread([pending = pending_] { deliver(pending); });
}

void ProgressDelegate::deliver(const std::shared_ptr<Pending>& pending)
{
    pending->posted.store(false);
    const Delta delta{pending->increment.exchange(0), pending->total.load()};
    // An event that came between the flag and the counters was carried here already.
    if (delta.increment > 0 && pending->onProgress)
        pending->onProgress(delta);
}

std::function<void(int64_t, int64_t)> ProgressDelegate::callback() const
{
    return [delegate = *this](int64_t increment, int64_t total) { delegate(increment, total); };
}

}  // namespace zafrel
