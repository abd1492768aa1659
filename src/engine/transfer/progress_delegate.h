#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace zafrel {

// Carries the transport's body-progress events of one request from the HTTP I/O thread to the
// main thread, where `onProgress` is called with `Delta`s. Events that come while one is still on
// its way are folded into it: at most one wake-up of the main loop is pending per request, however
// often libcurl reports, and the increments still add up to the bytes sent.
class ProgressDelegate {
public:
    struct Delta {
        int64_t increment = 0;   // body bytes sent since the previous Delta of the same request
        int64_t total = 0;       // body bytes sent so far by this request
    };

    explicit ProgressDelegate(std::function<void(Delta)> onProgress);

    // I/O thread: the transport's event, bytes sent now and the request's running total.
    void operator()(int64_t increment, int64_t total) const;

    // A copy of the delegate in the form HttpRequest::onUploadProgress takes.
    std::function<void(int64_t, int64_t)> callback() const;

private:
    struct Pending {
        std::function<void(Delta)> onProgress;   // main thread only
        std::atomic<int64_t> increment{0};
        std::atomic<int64_t> total{0};
        std::atomic<bool> posted{false};
    };
    static void deliver(const std::shared_ptr<Pending>& pending);

    std::shared_ptr<Pending> pending_;
};

}  // namespace zafrel
