#include "engine/progress_delegate.h"

#include <utility>

namespace zafrel {

ProgressDelegate::ProgressDelegate(std::function<void(Delta)> onProgress) : onProgress_(std::move(onProgress)) {}

void ProgressDelegate::operator()(int64_t increment, int64_t total) const
{
    if (onProgress_)
        onProgress_(Delta{increment, total});
}

std::function<void(int64_t, int64_t)> ProgressDelegate::callback() const
{
    return [delegate = *this](int64_t increment, int64_t total) { delegate(increment, total); };
}

}  // namespace zafrel
