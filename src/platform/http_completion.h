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
    // Any thread. Answer false when the request had already ended. When they win, they take
    // `progress` (the request's progress callback, which may hold the last reference to main-thread
    // objects) along to the main thread, so that ending a request costs one wake-up of it.
    bool succeed(HttpResponse response, HttpProgressCallback* progress = nullptr);
    bool fail(std::exception_ptr error, HttpProgressCallback* progress = nullptr);
    bool isDone() const { return done_.load(std::memory_order_acquire); }

    // Main thread.
    void setWaiter(std::coroutine_handle<> waiter) { waiter_ = waiter; }
    void forgetWaiter() { waiter_ = {}; }
    HttpResponse take();   // the response, or rethrows the failure

private:
    bool claim();
    void resumeLater(HttpProgressCallback* progress);
    void resumeNow();

    std::atomic<bool> done_{false};
    std::variant<std::monostate, HttpResponse, std::exception_ptr> outcome_;   // written once, by the winner
    std::coroutine_handle<> waiter_;   // main thread only
    HttpProgressCallback progress_;    // let go on the main thread
};

}  // namespace zafrel
