#include "platform/http.h"

#include "platform/curl_transport.h"
#include "platform/paths.h"

namespace zafrel {

HttpSession::HttpSession(Config config, std::unique_ptr<HttpTransport> transport)
    : config_(std::move(config))
    , transport_(transport ? std::move(transport) : std::make_unique<CurlTransport>(config_))
{
}

HttpSession::~HttpSession() = default;

void HttpSession::setSendRate(int64_t bytesPerSecond)
{
    transport_->setSendRate(bytesPerSecond);
}

QCoro::Task<HttpResponse> HttpSession::send(HttpRequest request, std::stop_token stop)
{
    // Not a coroutine of its own: the transport's send holds nothing of the session once it has
    // suspended, so the session may be destroyed while a request waits.
    return transport_->send(std::move(request), std::move(stop));
}

HttpSession::Config HttpSession::serviceConfig()
{
    Config config;
    config.cookieFile = paths::dataDir() + "/cookies.txt";
    // A service that keeps a call alive with a byte now and then passes the idle timeout; no
    // call of the service may hold a sign-in or an upload longer than this.
    config.totalTimeout = std::chrono::seconds(120);
    config.threadName = "http-servicio";
    return config;
}

HttpSession::Config HttpSession::uploadConfig()
{
    Config config;
    config.maxConnectionsPerHost = 16;
    config.totalTimeout = std::chrono::seconds(3600);
    config.threadName = "http-almacen";
    return config;
}

}  // namespace zafrel
