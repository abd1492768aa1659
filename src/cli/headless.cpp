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
#include "platform/write_failures.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace zafrel {

namespace {

// One line, before the first request, when the run talks to a server that would receive the
// password or the stored session cookie readable by anyone on the way: either one lets another
// person act as this account.
void warnIfUnencrypted()
{
    const ServerOrigin origin = describeServerOrigin();
    if (origin.unencrypted)
        printNotice("aviso: la conexión con " + printable(origin.host)
                    + " no está cifrada (http://) y la contraseña o la sesión viajarán legibles por la red; usa "
                      "una dirección https:// en --server.");
}

// The "--login" of this run and its password, read at most once however often the run signs in:
// from the command line, else ZAFREL_PASSWORD, else the terminal's prompt.
struct Credentials {
    std::optional<Options::Login> login;
    std::optional<QString> password;
    bool warned = false;
};

QCoro::Task<std::optional<QString>> passwordOf(std::shared_ptr<Credentials> credentials)
{
    if (!credentials->password && credentials->login) {
        credentials->password = credentials->login->password;
        if (!credentials->password)
            credentials->password = passwordFromEnvironment();
        if (!credentials->password) {
            // The prompt waits for a person: on the pool, so that the event loop goes on meanwhile.
            auto ask = [] { return passwordFromTerminal(); };
            credentials->password = co_await runInPool(std::move(ask));
        }
    }
    // A copy: QCoro moves from an lvalue handed to co_return (see platform/async.h).
    std::optional<QString> password = credentials->password;
    co_return password;
}

// Signs in with the credentials, whose password is known; answers the user, or nothing after
// `failure` has been told what went wrong.
QCoro::Task<std::optional<User>> logIn(std::shared_ptr<Credentials> credentials, std::string& failure)
{
    if (!std::exchange(credentials->warned, true))
        warnIfUnencrypted();
    // Prepared before the co_await: g++ 12 miscompiles temporaries inside a co_await expression.
    const std::string email = credentials->login->email.toStdString();
    const std::string password = credentials->password->toStdString();
    std::optional<User> user;
    try {
        user = co_await ZafrelAPI::shared().login(email, password);
    } catch (const APIError& e) {
        failure = e.diagnostic();
    } catch (const TransportError& e) {
        // The command line is read by whoever looks into the failure: libcurl's words too.
        failure = e.detail().empty() ? std::string(e.what()) : std::string(e.what()) + " (" + e.detail() + ")";
    } catch (const std::exception& e) {
        failure = e.what();
    }
    co_return user;
}

// When the service ends the session in the middle of the run: signs in again with "--login".
QCoro::Task<bool> signInAgain(std::shared_ptr<Credentials> credentials)
{
    const std::optional<QString> password = co_await passwordOf(credentials);
    if (!password)
        co_return false;
    std::string failure;
    const std::optional<User> user = co_await logIn(credentials, failure);
    if (!user)
        printNotice("login: " + printable(QString::fromStdString(failure)));
    co_return user.has_value();
}

// Makes sure a session exists: the stored cookie, else the "--login" credentials. Without one the
// process is ending (exit 2, its line printed) and the answer is nothing.
QCoro::Task<std::optional<User>> signIn(std::shared_ptr<Credentials> credentials)
{
    if (!std::exchange(credentials->warned, true))
        warnIfUnencrypted();
    std::optional<User> user;
    try {
        user = co_await ZafrelAPI::shared().me();
    } catch (...) {
        // Whatever failed (no cookie, expired, unreachable), the credentials decide what follows.
    }
    // The stored session of another account than "--login" names is not this run's: its files
    // would go to that account's storage.
    if (user && credentials->login
        && QString::fromStdString(user->email).compare(credentials->login->email, Qt::CaseInsensitive) != 0)
        user.reset();
    if (!user) {
        const std::optional<QString> password = co_await passwordOf(credentials);
        if (!password) {
            exitWithOutput("sin sesión: usa --login email pass\n", 2);
            co_return std::nullopt;
        }
        std::string failure;
        user = co_await logIn(credentials, failure);
        if (!user)
            exitWithOutput("login: " + printable(QString::fromStdString(failure)) + "\n", 2);
    }
    co_return user;
}

std::shared_ptr<Credentials> credentialsOf(const Options& options)
{
    auto credentials = std::make_shared<Credentials>();
    credentials->login = options.login();
    return credentials;
}

QCoro::Task<void> signInAndUpload(Options options, UploadManager* engine)
{
    const auto credentials = credentialsOf(options);
    const std::optional<User> user = co_await signIn(credentials);
    if (!user)
        co_return;
    SignInAgain again;
    if (credentials->login)
        again = [credentials] { return signInAgain(credentials); };
    if (engine) {
        co_await uploadAndReport(options, *user, *engine, std::move(again));
        co_return;
    }
    // Made only now: its creation restores the queue, which the sign-in has no business with.
    UploadManager own;
    co_await uploadAndReport(options, *user, own, std::move(again));
}

// "--olvidar": only the files of the account signed in (the stored session, or "--login") are
// forgotten, and their uploads aborted with its session; other accounts' files stay for them.
QCoro::Task<void> forgetLeftovers(Options options)
{
    const auto credentials = credentialsOf(options);
    const std::optional<User> user = co_await signIn(credentials);
    if (!user)
        co_return;
    UploadManager manager;
    manager.setAccount(*user);
    const UploadManager::Forgotten forgotten = co_await manager.forgetLeftovers();
    QString text = forgottenText(forgotten.items, forgotten.abortedUploads, forgotten.kept, forgotten.failure);
    if (const int others = manager.otherAccountsWaiting(); others > 0)
        text += otherAccountsText(others) + QStringLiteral("; no se tocan.\n");
    exitWithOutput(text, forgotten.kept > 0 ? 1 : 0);
}

QCoro::Task<void> listLeftovers()
{
    UploadManager manager;
    exitWithOutput(leftoverListing(manager.items()), 0);
    co_return;
}

QCoro::Task<void> runCommand(Options options, UploadManager* engine)
{
    if (options.given(QStringLiteral("--pendientes")))
        co_await listLeftovers();
    else if (options.given(QStringLiteral("--olvidar")))
        co_await forgetLeftovers(options);
    else
        co_await signInAndUpload(options, engine);
}

}  // namespace

void Headless::prepare(const Options& options)
{
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, [](const QString& message) { printNotice(message); });
    // Before anything is sent: this run, later runs and the window all use it, this run even
    // when it cannot be stored.
    if (const auto server = options.server())
        settings::setValue(QStringLiteral("serverURL"), *server);
}

void Headless::start(const Options& options, UploadManager* engine)
{
    spawn([options, engine]() -> QCoro::Task<void> {
        try {
            co_await runCommand(options, engine);
        } catch (const std::exception& e) {
            // Nothing is expected to escape; should it, the process must still end, and not as a success.
            exitWithOutput("ERROR " + printable(QString::fromUtf8(e.what())) + "\n", 1);
        }
    });
}

}  // namespace zafrel
