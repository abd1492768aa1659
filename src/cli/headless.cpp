#include "cli/headless.h"

#include "cli/headless_upload.h"
#include "cli/options.h"
#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/zafrel_api.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/settings.h"

#include <optional>

namespace zafrel {

namespace {

// Makes sure a session exists (the stored cookie, else the "--login" credentials), then uploads.
QCoro::Task<void> signInAndUpload(Options options)
{
    ZafrelAPI& api = ZafrelAPI::shared();
    std::optional<User> user;
    try {
        user = co_await api.me();
    } catch (...) {
        // Whatever failed (no cookie, expired, unreachable), the credentials decide what follows.
    }
    if (!user) {
        const auto credentials = options.credentials();
        if (!credentials) {
            exitWithOutput("sin sesión: usa --login email pass\n", 2);
            co_return;
        }
        std::string failure;
        try {
            user = co_await api.login(credentials->first.toStdString(), credentials->second.toStdString());
        } catch (const APIError& e) {
            failure = e.diagnostic();
        } catch (const TransportError& e) {
            // The command line is read by whoever looks into the failure: libcurl's words too.
            failure = e.detail().empty() ? std::string(e.what()) : std::string(e.what()) + " (" + e.detail() + ")";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (!user) {
            exitWithOutput("login: " + QString::fromStdString(failure) + "\n", 2);
            co_return;
        }
    }
    co_await uploadAndReport(options, *user);
}

}  // namespace

bool Headless::runIfRequested(const QStringList& arguments)
{
    Options options(arguments);
    if (!options.uploadRequested())
        return false;
    // Before anything is sent: this run, later runs and the window all use it.
    if (const auto server = options.server())
        settings::setValue(QStringLiteral("serverURL"), *server);
    spawn([options]() -> QCoro::Task<void> {
        try {
            co_await signInAndUpload(options);
        } catch (const std::exception& e) {
            // Nothing is expected to escape; should it, the process must still end, and not as a success.
            exitWithOutput("ERROR " + QString::fromUtf8(e.what()) + "\n", 1);
        }
    });
    return true;
}

}  // namespace zafrel
