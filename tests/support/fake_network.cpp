#include "support/fake_network.h"

#include "platform/async.h"
#include "platform/errors.h"
#include "platform/transport_error_text.h"

#include <chrono>

namespace zafrel::test {

FakeReply FakeReply::status(int code, std::string body, std::string contentType)
{
    FakeReply reply;
    reply.response.status = code;
    reply.response.body = QByteArray::fromStdString(body);
    if (!contentType.empty())
        reply.response.headers.emplace_back("Content-Type", std::move(contentType));
    return reply;
}

class FakeNetwork::Transport final : public HttpTransport {
public:
    explicit Transport(std::shared_ptr<FakeNetwork> network) : network_(std::move(network)) {}

    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token stop) override
    {
        // Like a real connection: nothing is answered inside the caller's own call.
        co_await sleepFor(std::chrono::milliseconds(0), stop);
        const std::shared_ptr<FakeNetwork> network = network_;
        const QUrl url(QString::fromStdString(request.url));
        SeenRequest seen{request, url.path(QUrl::FullyDecoded).toStdString(), QUrlQuery(url)};
        network->log_.push_back(seen);
        FakeReply reply = network->answer(seen);
        if (Gate* gate = reply.after) {
            // Counted while it waits, however the wait ends.
            struct Waiting { int& count; ~Waiting() { --count; } } waiting{++gate->waiting_};
            while (!gate->open_)
                co_await sleepFor(std::chrono::milliseconds(2), stop);
        }
        if (reply.failureCode != CURLE_OK)
            throw TransportError(transportErrorText(reply.failureCode, request.url),
                                 transportErrorDetail(reply.failureCode, ""), transportFailureMayPass(reply.failureCode));
        if (request.onUploadProgress && !request.body.isEmpty())
            request.onUploadProgress(request.body.size(), request.body.size());
        const bool failed = reply.response.status < 200 || reply.response.status > 299;
        if (failed && request.maxErrorBodyBytes > 0 && reply.response.body.size() > request.maxErrorBodyBytes)
            reply.response.body.truncate(request.maxErrorBodyBytes);
        else if (request.maxResponseBytes > 0 && reply.response.body.size() > request.maxResponseBytes)
            throw ResponseTooLarge(responseTooLargeText(request.url));
        co_return std::move(reply.response);
    }

    void setSendRate(int64_t bytesPerSecond) override { network_->sendRate_ = bytesPerSecond; }

private:
    std::shared_ptr<FakeNetwork> network_;
};

std::unique_ptr<HttpTransport> FakeNetwork::transport()
{
    return std::make_unique<Transport>(shared_from_this());
}

std::unique_ptr<HttpSession> FakeNetwork::session(HttpSession::Config config)
{
    return std::make_unique<HttpSession>(std::move(config), transport());
}

std::vector<SeenRequest> FakeNetwork::seen(const std::string& method, const std::string& pathPrefix) const
{
    std::vector<SeenRequest> found;
    for (const SeenRequest& s : log_)
        if (s.request.method == method && s.path.starts_with(pathPrefix))
            found.push_back(s);
    return found;
}

FakeReply FakeNetwork::answer(const SeenRequest& seen)
{
    for (auto route = routes_.rbegin(); route != routes_.rend(); ++route)
        if (route->method == seen.request.method && seen.path.starts_with(route->prefix))
            return route->handler(seen);
    return FakeReply::status(404);
}

}  // namespace zafrel::test
