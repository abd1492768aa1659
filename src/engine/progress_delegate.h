#pragma once
#include <cstdint>
#include <functional>

namespace zafrel {

// Turns the transport's body-progress events of one request into `Delta`s. The events arrive on
// the HTTP I/O thread, and so does the call of `onProgress`: the receiver forwards to the main thread.
class ProgressDelegate {
public:
    struct Delta {
        int64_t increment = 0;   // body bytes sent since the previous event of the same request
        int64_t total = 0;       // body bytes sent so far by this request
    };

    explicit ProgressDelegate(std::function<void(Delta)> onProgress);

    // The transport's event: bytes sent now and the request's running total.
    void operator()(int64_t increment, int64_t total) const;

    // A copy of the delegate in the form HttpRequest::onUploadProgress takes.
    std::function<void(int64_t, int64_t)> callback() const;

private:
    std::function<void(Delta)> onProgress_;
};

}  // namespace zafrel
