#include "platform/deadline_stop.h"

namespace zafrel {

DeadlineStop::DeadlineStop(std::chrono::milliseconds duration)
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { source_.request_stop(); });
    timer_.start(duration);
}

}  // namespace zafrel
