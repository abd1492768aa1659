#pragma once
#include "platform/http.h"

#include <memory>

namespace zafrel {

class CurlIoThread;

// The program's transport: libcurl multi on an I/O thread of its own, with the session's
// connection pool, cookie jar and deadlines. Created and destroyed on the main thread.
class CurlTransport final : public HttpTransport {
public:
    explicit CurlTransport(const HttpSession::Config& config);   // starts the I/O thread
    ~CurlTransport() override;                                    // joins it; pending requests end with Cancelled

    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token stop) override;
    void setSendRate(int64_t bytesPerSecond) override;

private:
    std::shared_ptr<CurlIoThread> io_;
};

}  // namespace zafrel
