#include "platform/http.h"

#include "platform/curl_io_thread.h"
#include "platform/errors.h"
#include "platform/http_completion.h"
#include "platform/http_transfer.h"
#include "platform/paths.h"

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
        : m_completion(transfer->completion().shared_from_this())
        , m_transfer(std::move(transfer))
        , m_io(std::move(io))
        , m_stop(std::move(stop))
    {
    }
    // The coroutine machinery may move the awaiter before it suspends; nothing is registered yet then.
    TransferAwaiter(TransferAwaiter&& other) noexcept
        : m_completion(std::move(other.m_completion))
        , m_transfer(std::move(other.m_transfer))
        , m_io(std::move(other.m_io))
        , m_stop(std::move(other.m_stop))
    {
    }
    TransferAwaiter& operator=(TransferAwaiter&&) = delete;

    ~TransferAwaiter()
    {
        // If this coroutine frame goes away without having been resumed, an outcome that
        // arrives later must not resume it.
        if (m_completion)
            m_completion->forgetWaiter();
    }

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> waiter)
    {
        // The waiter is known before the I/O thread can end the request; the outcome is posted
        // through the event loop, so it can never resume the coroutine before this returns.
        m_completion->setWaiter(waiter);
        const uint64_t id = m_transfer->id();
        if (const std::shared_ptr<CurlIoThread> io = m_io.lock())
            io->submit(std::move(m_transfer));
        else
            m_completion->fail(std::make_exception_ptr(Cancelled()));
        m_onStop.emplace(m_stop, [completion = m_completion, io = m_io, id] {
            completion->fail(std::make_exception_ptr(Cancelled()));
            if (const std::shared_ptr<CurlIoThread> thread = io.lock())
                thread->cancel(id);
        });
    }

    HttpResponse await_resume()
    {
        m_onStop.reset();
        return m_completion->take();
    }

private:
    std::shared_ptr<HttpCompletion> m_completion;
    std::unique_ptr<HttpTransfer> m_transfer;
    std::weak_ptr<CurlIoThread> m_io;
    std::stop_token m_stop;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};

}  // namespace

HttpSession::HttpSession(Config config)
    : m_config(std::move(config))
{
    CurlIoThread::Options options;
    options.cookieFile = m_config.cookieFile;
    options.maxConnectionsPerHost = m_config.maxConnectionsPerHost;
    options.totalTimeout = m_config.totalTimeout;
    m_io = std::make_shared<CurlIoThread>(std::move(options));
}

HttpSession::~HttpSession()
{
    // Joins the I/O thread here, on the main thread; stop callbacks that still hold a weak
    // reference find it shut down.
    m_io->shutdown();
}

QCoro::Task<HttpResponse> HttpSession::send(HttpRequest request, std::stop_token stop)
{
    if (stop.stop_requested())
        throw Cancelled();
    auto completion = std::make_shared<HttpCompletion>();
    auto transfer = std::make_unique<HttpTransfer>(g_nextTransferId++, std::move(request), std::move(completion));
    // Nothing of the session is touched after this point: it may be destroyed while we wait.
    co_return co_await TransferAwaiter(std::move(transfer), m_io, std::move(stop));
}

HttpSession::Config HttpSession::serviceConfig()
{
    Config config;
    config.cookieFile = paths::dataDir() + "/cookies.txt";
    // A service that keeps a call alive with a byte now and then passes the idle timeout; no
    // call of the service may hold a sign-in or an upload longer than this.
    config.totalTimeout = std::chrono::seconds(120);
    return config;
}

HttpSession::Config HttpSession::uploadConfig()
{
    Config config;
    config.maxConnectionsPerHost = 16;
    config.totalTimeout = std::chrono::seconds(3600);
    return config;
}

}  // namespace zafrel
