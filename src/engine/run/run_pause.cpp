// A run that stops as a whole: the service or the store out of reach past every retry, the
// session ended at the service, or the user leaving mid-run. The files then wait, paused, for
// "Continuar pendientes" or the same command again, which send only what is missing.
#include "engine/run/run_pause.h"

#include "client/api_error.h"
#include "engine/transfer/upload_error.h"
#include "engine/run/pause_cause.h"
#include "platform/errors.h"

namespace zafrel {

namespace {

// Answers of a gateway that has lost the service behind it; like no answer at all, they say
// nothing about the file. (The store's own 503 "SlowDown" is an answer about the request: after
// its retries it fails the file, as any other refusal does.)
bool meansUnavailable(int status)
{
    return status == 502 || status == 503 || status == 504;
}

}  // namespace

std::optional<PauseCause> pauseCauseOf(const std::exception_ptr& failure)
{
    if (holds<APIError>(failure, [](const APIError& e) { return e.kind() == APIError::Kind::Auth; }))
        return PauseCause::SessionEnded;
    const bool unreachable =
        holds<TransportError>(failure, [](const TransportError& e) { return e.transient(); })
        || holds<APIError>(failure,
                           [](const APIError& e) { return e.kind() == APIError::Kind::Http && meansUnavailable(e.code()); })
        || holds<UploadError>(failure, [](const UploadError& e) { return e.kind() == UploadError::Kind::Network; });
    return unreachable ? std::optional(PauseCause::NoConnection) : std::nullopt;
}

}  // namespace zafrel
