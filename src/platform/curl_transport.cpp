#include "platform/curl_transport.h"

#include "platform/curl_io_thread.h"
#include "platform/errors.h"
#include "platform/http_completion.h"
#include "platform/http_transfer.h"

#include <atomic>
#include <coroutine>
#include <functional>
#include <optional>

namespace zafrel {

namespace {

std::atomic<uint64_t> g_nextTransferId{1};

// Suspends the sending coroutine until the request's outcome is posted back to the main thread.
// A stop request ends the wait at once with Cancelled and, separately, asks the I/O thread to take
// the request out of curl.
class TransferAwaiter {
public:
    TransferAwaiter(std::unique_ptr<HttpTransfer> transfer, std::weak_ptr<CurlIoThread> io, std::stop_token stop)
        : completion_(transfer->completion().shared_from_this())
        , transfer_(std::move(transfer))
        , io_(std::move(io))
        , stop_(std::move(stop))
    {
    }
    // The coroutine machinery may move the awaiter before it suspends; nothing is registered yet then.
    TransferAwaiter(TransferAwaiter&& other) noexcept
        : completion_(std::move(other.completion_))
        , transfer_(std::move(other.transfer_))
        , io_(std::move(other.io_))
        , stop_(std::move(other.stop_))
    {
    }
    TransferAwaiter& operator=(TransferAwaiter&&) = delete;

    ~TransferAwaiter()
    {
        // If this coroutine frame goes away without having been resumed, an outcome that
        // arrives later must not resume it.
        if (completion_)
            completion_->forgetWaiter();
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        // The waiter is known before the I/O thread can end the request; the outcome is posted
        // through the event loop, so it can never resume the coroutine before this returns.
        completion_->setWaiter(waiter);
        const uint64_t id = transfer_->id();
        if (const std::shared_ptr<CurlIoThread> io = io_.lock())
            io->submit(std::move(transfer_));
        else
            completion_->fail(std::make_exception_ptr(Cancelled()));
        onStop_.emplace(stop_, [completion = completion_, io = io_, id] {
            completion->fail(std::make_exception_ptr(Cancelled()));
            if (const std::shared_ptr<CurlIoThread> thread = io.lock())
                thread->cancel(id);
        });
    }

    HttpResponse await_resume()
    {
        onStop_.reset();
        return completion_->take();
    }

private:
    std::shared_ptr<HttpCompletion> completion_;
    std::unique_ptr<HttpTransfer> transfer_;
    std::weak_ptr<CurlIoThread> io_;
    std::stop_token stop_;
    std::optional<std::stop_callback<std::function<void()>>> onStop_;
};

}  // namespace

CurlTransport::CurlTransport(const HttpSession::Config& config)
{
    CurlIoThread::Options options;
    options.cookieFile = config.cookieFile;
    options.maxConnectionsPerHost = config.maxConnectionsPerHost;
    options.totalTimeout = config.totalTimeout;
    options.threadName = config.threadName;
    io_ = std::make_shared<CurlIoThread>(std::move(options));
}

CurlTransport::~CurlTransport()
{
    // Joins the I/O thread here, on the main thread; stop callbacks that still hold a weak
    // reference find it shut down.
    io_->shutdown();
}

void CurlTransport::setSendRate(int64_t bytesPerSecond)
{
    io_->setSendRate(bytesPerSecond);
}

QCoro::Task<HttpResponse> CurlTransport::send(HttpRequest request, std::stop_token stop)
{
    if (stop.stop_requested())
        throw Cancelled();
    auto completion = std::make_shared<HttpCompletion>();
    auto transfer = std::make_unique<HttpTransfer>(g_nextTransferId++, std::move(request), std::move(completion));
    // Nothing of the transport is touched after this point: it may be destroyed while we wait.
    co_return co_await TransferAwaiter(std::move(transfer), io_, std::move(stop));
}

}  // namespace zafrel
