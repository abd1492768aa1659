#pragma once
#include "platform/http.h"

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <variant>

namespace zafrel {

// The hand-over of one request's outcome to the coroutine that awaits it. The I/O thread (a
// response or a transport failure) and a stop callback (cancellation, any thread) race to end the
// request; the first one wins and every later attempt is ignored. The waiting coroutine is always
// resumed from the main thread's event loop, never inline, so neither side ever runs caller code.
class HttpCompletion : public std::enable_shared_from_this<HttpCompletion> {
public:
    // Any thread. Answer false when the request had already ended.
    bool succeed(HttpResponse response);
    bool fail(std::exception_ptr error);
    bool isDone() const { return done_.load(std::memory_order_acquire); }

    // Main thread.
    void setWaiter(std::coroutine_handle<> waiter) { waiter_ = waiter; }
    void forgetWaiter() { waiter_ = {}; }
    HttpResponse take();   // the response, or rethrows the failure

private:
    bool claim();
    void resumeLater();
    void resumeNow();

    std::atomic<bool> done_{false};
    std::variant<std::monostate, HttpResponse, std::exception_ptr> outcome_;   // written once, by the winner
    std::coroutine_handle<> waiter_;   // main thread only
};

}  // namespace zafrel
