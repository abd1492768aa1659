#include "cli/headless.h"

#include "cli/headless_upload.h"
#include "cli/leftovers.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/server_origin.h"
#include "client/zafrel_api.h"
#include "engine/upload_manager.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/printable.h"
#include "platform/settings.h"

#include <functional>
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

// Makes sure a session exists: the stored cookie, else the "--login" credentials. Without one the
// process is ending (exit 2, its line printed) and the answer is nothing.
QCoro::Task<std::optional<User>> signIn(Options options)
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
            co_return std::nullopt;
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
        if (!user)
            exitWithOutput("login: " + printable(QString::fromStdString(failure)) + "\n", 2);
    }
    co_return user;
}

QCoro::Task<void> signInAndUpload(Options options)
{
    const std::optional<User> user = co_await signIn(options);
    if (user)
        co_await uploadAndReport(options, *user);
}

// "--olvidar": the service is asked only when some leftover has an open upload to abort.
QCoro::Task<void> forgetLeftovers(Options options)
{
    UploadManager manager;
    int open = 0;
    for (const ItemPtr& item : manager.items())
        open += isLeftover(*item) && item->uploadId;
    if (open > 0) {
        const std::optional<User> user = co_await signIn(options);
        if (!user)
            co_return;
    }
    const UploadManager::Forgotten forgotten = co_await manager.forgetLeftovers();
    exitWithOutput(forgottenText(forgotten.items, forgotten.abortedUploads, forgotten.kept, forgotten.failure),
                   forgotten.kept > 0 ? 1 : 0);
}

// Runs `task` for the command line; whatever it lets escape still ends the process, not as a success.
void runCommand(std::function<QCoro::Task<void>()> task)
{
    spawn([task = std::move(task)]() -> QCoro::Task<void> {
        try {
            co_await task();
        } catch (const std::exception& e) {
            exitWithOutput("ERROR " + printable(QString::fromUtf8(e.what())) + "\n", 1);
        }
    });
}

}  // namespace

bool Headless::runIfRequested(const QStringList& arguments)
{
    Options options(arguments);
    if (options.given(QStringLiteral("--pendientes"))) {
        runCommand([]() -> QCoro::Task<void> {
            UploadManager manager;
            exitWithOutput(leftoverListing(manager.items()), 0);
            co_return;
        });
        return true;
    }
    const bool forget = options.given(QStringLiteral("--olvidar"));
    if (!options.uploadRequested() && !forget)
        return false;
    // Before anything is sent: this run, later runs and the window all use it.
    if (const auto server = options.server())
        settings::setValue(QStringLiteral("serverURL"), *server);
    if (forget)
        runCommand([options] { return forgetLeftovers(options); });
    else
        runCommand([options] { return signInAndUpload(options); });
    return true;
}

}  // namespace zafrel
