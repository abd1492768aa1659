// One object-store upload request and its retry schedule, shared by single-request and
// multipart transfers.
#include "engine/transfer/put_request.h"

#include "engine/transfer/progress_delegate.h"
#include "engine/transfer/upload_error.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/http.h"
#include "platform/retry_schedule.h"
#include "platform/utf8.h"

#include <QCoreApplication>

#include <algorithm>

namespace zafrel {

namespace {

// The store's answer to a pre-signed URL that expired, or that it no longer accepts.
bool isRefused(const std::exception_ptr& failure)
{
    return holds<UploadError>(failure,
                              [](const UploadError& e) { return e.kind() == UploadError::Kind::Http && e.code() == 403; });
}

// The store no longer has the multipart upload the part was sent to.
bool isUploadGone(const std::exception_ptr& failure)
{
    return holds<UploadError>(failure, [](const UploadError& e) { return e.uploadGone(); });
}

// The start of an error answer for the item's message: the first 200 bytes when they are text.
// A markup answer (the store's XML error document) is taken up to 4 KiB, so that its code and
// message are read whole.
std::string errorBodyStart(const QByteArray& body)
{
    const QByteArray start = body.left(body.trimmed().startsWith('<') ? 4096 : 200);
    return isValidUtf8(std::string_view(start.constData(), size_t(start.size()))) ? start.toStdString() : std::string();
}

// Ends the item's retry wait when the wait ends, also by a stop.
struct RetryWaitClear {
    ItemPtr item;
    ~RetryWaitClear() { item->setRetryWait(std::nullopt); }
};

// One attempt, counted on the item as attempt `token` of `part`.
QCoro::Task<std::string> putOnce(TransferContext& ctx, std::string url, QByteArray data, std::string contentType,
                                 ItemPtr it, int64_t part, uint64_t token, std::stop_token stop)
{
    HttpRequest request;
    request.method = "PUT";
    request.url = std::move(url);
    request.timeout = std::chrono::seconds(300);
    request.maxResponseBytes = 1024 * 1024;   // the store answers a PUT with nothing or a short XML error
    request.maxErrorBodyBytes = 64 * 1024;    // read for its code and message only
    if (!contentType.empty())
        request.headers.emplace_back("Content-Type", contentType);
    request.body = std::move(data);

    // Progress is applied on the main thread, where the run and the item may already be gone: the
    // item is held weakly, and recordSent copied.
    std::weak_ptr<UploadItem> weakItem = it;
    request.onUploadProgress = ProgressDelegate([recordSent = ctx.recordSent, weakItem, part, token](ProgressDelegate::Delta delta) {
        if (const ItemPtr item = weakItem.lock())
            item->attemptSent(part, token, delta.total);
        recordSent(delta.increment);
    }).callback();

    HttpResponse response;
    try {
        response = co_await ctx.session.send(std::move(request), stop);
    } catch (const TransportError&) {
        throw UploadError::network();
    }
    if (response.status < 200 || response.status > 299)
        throw UploadError::http(response.status, errorBodyStart(response.body));
    co_return response.header("ETag").value_or(std::string());
}

}  // namespace

QCoro::Task<std::string> putWithRetries(TransferContext& ctx, PutTarget target, QByteArray data, ItemPtr it,
                                        int64_t part, std::stop_token stop, RenewTarget renew)
{
    for (int attempt = 0;; ++attempt) {
        std::exception_ptr failure;
        const uint64_t token = it->beginAttempt(part, attempt + 1, retry::maxAttempts);
        try {
            std::string etag = co_await putOnce(ctx, target.url, data, target.contentType, it, part, token, stop);
            // A part buffer goes back to its pool unshared, so the next part can reuse it.
            data = QByteArray();
            co_return etag;
        } catch (...) {
            failure = std::current_exception();
        }
        // What the store did not acknowledge is not counted as sent: the next attempt sends it again.
        it->dropAttempt(part, token);
        // A user cancel ends the transfer now, and so does the last attempt, with this failure; an
        // upload the store no longer has would refuse every attempt alike.
        if (it->status() == Status::Cancelled || attempt + 1 >= retry::maxAttempts || isUploadGone(failure))
            std::rethrow_exception(failure);
        // A failure that would have been retried but for a stopped run is an interruption, not
        // the file's fault: the item is to be continued later, like one stopped during the wait.
        if (stop.stop_requested())
            throw Cancelled();
        {
            // The row tells which attempt comes next and when, until the wait ends however it ends.
            const auto wait = retry::waitAfter(attempt);
            it->setRetryWait(RetryWait{attempt + 2, retry::maxAttempts, std::chrono::steady_clock::now() + wait, part});
            const RetryWaitClear clearWait{it};
            co_await sleepFor(wait, stop);   // throws Cancelled when stopped
        }
        // The store refuses a pre-signed URL once it has expired (a slow link, a part that waited
        // long for its turn): the same URL would be refused every time, so the next attempt gets
        // a fresh one. Asked for after the wait, so that it is as fresh as it can be.
        if (renew && isRefused(failure))
            target = co_await renew();
    }
}

}  // namespace zafrel
