#include "cli/headless.h"

#include "cli/headless_upload.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/server_origin.h"
#include "client/zafrel_api.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/printable.h"
#include "platform/settings.h"

#include <optional>

namespace zafrel {

namespace {

// One line before the password leaves for a server that would receive it readable by anyone on
// the way.
void warnIfUnencrypted()
{
    const ServerOrigin origin = describeServerOrigin();
    if (origin.unencrypted)
        printNotice("aviso: la conexión con " + printable(origin.host)
                    + " no está cifrada (http://) y la contraseña viajará legible por la red; usa una dirección "
                      "https:// en --server.");
}

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
        const auto login = options.login();
        std::optional<QString> password = login ? login->password : std::nullopt;
        if (login && !password)
            password = passwordFromEnvironment();
        if (login && !password) {
            // The prompt waits for a person: on the pool, so that the event loop goes on meanwhile.
            auto ask = [] { return passwordFromTerminal(); };
            password = co_await runInPool(std::move(ask));
        }
        if (!password) {
            exitWithOutput("sin sesión: usa --login email pass\n", 2);
            co_return;
        }
        warnIfUnencrypted();
        std::string failure;
        try {
            user = co_await api.login(login->email.toStdString(), password->toStdString());
        } catch (const APIError& e) {
            failure = e.diagnostic();
        } catch (const TransportError& e) {
            // The command line is read by whoever looks into the failure: libcurl's words too.
            failure = e.detail().empty() ? std::string(e.what()) : std::string(e.what()) + " (" + e.detail() + ")";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (!user) {
            exitWithOutput("login: " + printable(QString::fromStdString(failure)) + "\n", 2);
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
            exitWithOutput("ERROR " + printable(QString::fromUtf8(e.what())) + "\n", 1);
        }
    });
    return true;
}

}  // namespace zafrel
