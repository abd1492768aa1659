#include "cli/headless.h"

#include "cli/destination_check.h"
#include "cli/headless_upload.h"
#include "cli/json_report.h"
#include "cli/leftovers.h"
#include "cli/options.h"
#include "cli/password_source.h"
#include "cli/process_exit.h"
#include "client/api_error.h"
#include "client/server_origin.h"
#include "client/zafrel_api.h"
#include "engine/queue/queue_owners.h"
#include "engine/upload_manager.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/printable.h"
#include "platform/settings.h"
#include "platform/write_failures.h"
#include "present/run_text.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

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

// The "--login" of this run and its password, read at most once however often the run signs in
// (a second time only after the service refused one typed at the terminal): from the command
// line, else ZAFREL_PASSWORD, else the terminal's prompt.
struct Credentials {
    std::optional<Options::Login> login;
    std::optional<QString> server;   // "--server", stored once a sign-in there worked
    std::optional<QString> password;
    bool typed = false;              // the password came from the terminal's prompt
    bool warned = false;
};

// Why no password is at hand: the line that says so, or nothing when it is.
QCoro::Task<std::optional<QString>> askPassword(std::shared_ptr<Credentials> credentials)
{
    if (credentials->password)
        co_return std::nullopt;
    credentials->password = credentials->login->password;
    if (!credentials->password)
        credentials->password = passwordFromEnvironment();
    if (credentials->password)
        co_return std::nullopt;
    if (!terminalAvailable())
        co_return QStringLiteral("No hay contraseña: define ZAFREL_PASSWORD o ejecuta en una terminal");
    // The prompt waits for a person: on the pool, so that the event loop goes on meanwhile.
    auto ask = [] { return passwordFromTerminal(); };
    credentials->password = co_await runInPool(std::move(ask));
    credentials->typed = true;
    if (!credentials->password)
        co_return QStringLiteral("No se escribió ninguna contraseña: no se ha enviado nada.");
    co_return std::nullopt;
}

QString noSessionText()
{
    return QStringLiteral("No hay sesión: entra con --login EMAIL (la contraseña se pide en la terminal o se toma de "
                          "ZAFREL_PASSWORD); no se ha enviado nada.");
}

QString unreachableText(const std::string& what)
{
    return QStringLiteral("No se pudo conectar con el servidor %1 (%2). Comprueba la conexión y la dirección de "
                          "--server; no se ha enviado nada, la misma orden vale más tarde.")
        .arg(printable(describeServerOrigin().host), printable(QString::fromStdString(what)));
}

// A refusal of the e-mail and password themselves, which a person can mend by typing again.
bool refusedCredentials(const std::exception_ptr& error)
{
    return holds<APIError>(error, [](const APIError& e) {
        return e.kind() == APIError::Kind::Auth || (e.kind() == APIError::Kind::Http && e.code() == 401);
    });
}

// The line for a sign-in that did not work, from what it threw.
QString signInFailureText(const std::exception_ptr& error, const QString& email)
{
    if (refusedCredentials(error))
        return QStringLiteral("El servicio no aceptó el correo %1 con esa contraseña: revisa los dos.").arg(printable(email));
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& e) {
        return unreachableText(e.what());
    } catch (const APIError& e) {
        return QStringLiteral("El servicio no dejó entrar: %1").arg(printable(QString::fromUtf8(e.what())));
    } catch (const std::exception& e) {
        return QStringLiteral("No se pudo entrar: %1").arg(printable(QString::fromUtf8(e.what())));
    } catch (...) {
        return QStringLiteral("No se pudo entrar.");
    }
}

// The named service is kept for later runs and the window only once it has let this run in.
void rememberServer(const Credentials& credentials)
{
    if (credentials.server)
        settings::setValue(QStringLiteral("serverURL"), *credentials.server);
}

// Signs in with "--login": a password typed at the terminal that the service refuses is asked
// once more. Answers the user, or the line that says why there is none.
QCoro::Task<std::variant<User, QString>> logIn(std::shared_ptr<Credentials> credentials)
{
    for (int attempt = 0;; ++attempt) {
        const std::optional<QString> missing = co_await askPassword(credentials);
        if (missing)
            co_return *missing;
        if (!std::exchange(credentials->warned, true))
            warnIfUnencrypted();
        // Prepared before the co_await: g++ 12 miscompiles temporaries inside a co_await expression.
        const std::string email = credentials->login->email.toStdString();
        const std::string password = credentials->password->toStdString();
        std::exception_ptr error;
        try {
            User user = co_await ZafrelAPI::shared().login(email, password);
            rememberServer(*credentials);
            co_return user;
        } catch (...) {
            error = std::current_exception();
        }
        const QString failure = signInFailureText(error, credentials->login->email);
        if (!credentials->typed || attempt > 0 || !refusedCredentials(error))
            co_return failure;
        printNotice(failure + QStringLiteral(" Vuelve a escribir la contraseña."));
        credentials->password.reset();
    }
}

// When the service ends the session in the middle of the run: signs in again with "--login".
QCoro::Task<bool> signInAgain(std::shared_ptr<Credentials> credentials)
{
    const std::variant<User, QString> signedIn = co_await logIn(credentials);
    if (const QString* failure = std::get_if<QString>(&signedIn))
        printNotice(*failure);
    co_return std::holds_alternative<User>(signedIn);
}

// Makes sure a session exists: the stored cookie, else the "--login" credentials. Without one the
// process is ending (exit 2, its line written) and the answer is nothing.
QCoro::Task<std::optional<User>> signIn(std::shared_ptr<Credentials> credentials)
{
    if (!std::exchange(credentials->warned, true))
        warnIfUnencrypted();
    std::optional<User> user;
    std::optional<std::string> unreachable;
    try {
        user = co_await ZafrelAPI::shared().me();
    } catch (const TransportError& e) {
        // A session may well be stored: the service could not say.
        unreachable = e.what();
    } catch (...) {
        // No cookie or an expired one: the credentials decide what follows.
    }
    // The stored session of another account than "--login" names is not this run's: its files
    // would go to that account's storage.
    if (user && credentials->login
        && QString::fromStdString(user->email).compare(credentials->login->email, Qt::CaseInsensitive) != 0)
        user.reset();
    if (user) {
        rememberServer(*credentials);
        co_return user;
    }
    if (unreachable) {
        exitWithFailure(unreachableText(*unreachable), 2);
        co_return std::nullopt;
    }
    if (!credentials->login) {
        exitWithFailure(noSessionText(), 2);
        co_return std::nullopt;
    }
    std::variant<User, QString> signedIn = co_await logIn(credentials);
    if (const QString* failure = std::get_if<QString>(&signedIn)) {
        exitWithFailure(*failure, 2);
        co_return std::nullopt;
    }
    user = std::get<User>(std::move(signedIn));
    co_return user;
}

std::shared_ptr<Credentials> credentialsOf(const Options& options)
{
    auto credentials = std::make_shared<Credentials>();
    credentials->login = options.login();
    credentials->server = options.server();
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
    const int others = manager.otherAccountsWaiting();
    if (others > 0)
        text += otherAccountsText(others) + QStringLiteral("; no se tocan.\n");
    const int code = forgotten.kept > 0 ? 1 : 0;
    if (jsonOutput())
        exitWithOutput(QString::fromStdString(jsonForgotten(forgotten.items, forgotten.abortedUploads, forgotten.kept,
                                                            forgotten.failure, code))
                           + u'\n',
                       code);
    else
        exitWithOutput(text, code);
}

QCoro::Task<void> listLeftovers()
{
    UploadManager manager;
    if (jsonOutput())
        exitWithOutput(QString::fromStdString(jsonLeftovers(manager.items())) + u'\n', 0);
    else
        exitWithOutput(leftoverListing(manager.items()), 0);
    co_return;
}

// "--simular" and "--comprobar": only listings are asked for, so the queue is not touched.
QCoro::Task<void> signInAndCheck(Options options)
{
    const auto credentials = credentialsOf(options);
    const std::optional<User> user = co_await signIn(credentials);
    if (!user)
        co_return;
    const DestinationCheck mode =
        options.given(QStringLiteral("--simular")) ? DestinationCheck::Simulate : DestinationCheck::Verify;
    co_await checkDestination(options, *user, mode);
}

QCoro::Task<void> runCommand(Options options, UploadManager* engine)
{
    if (options.given(QStringLiteral("--pendientes")))
        co_await listLeftovers();
    else if (options.given(QStringLiteral("--olvidar")))
        co_await forgetLeftovers(options);
    else if (options.checkRequested())
        co_await signInAndCheck(options);
    else
        co_await signInAndUpload(options, engine);
}

}  // namespace

void Headless::prepare(const Options& options)
{
    QObject::connect(&WriteFailures::instance(), &WriteFailures::failed, [](const QString& message) { printNotice(message); });
    // Before anything is sent: this run and the window beside it use it, also when the settings
    // cannot store it; later runs only once a sign-in there worked.
    if (const auto server = options.server())
        setOriginForThisRun(*server);
}

void Headless::start(const Options& options, UploadManager* engine)
{
    spawn([options, engine]() -> QCoro::Task<void> {
        try {
            co_await runCommand(options, engine);
        } catch (const std::exception& e) {
            // Nothing is expected to escape; should it, the process must still end, and not as a success.
            exitWithFailure("ERROR " + printable(QString::fromUtf8(e.what())), 1);
        }
    });
}

}  // namespace zafrel
