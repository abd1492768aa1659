#include "session/session_model.h"

#include "client/api_error.h"
#include "client/zafrel_api.h"
#include "platform/async.h"
#include "platform/errors.h"
#include "platform/retry_schedule.h"
#include "platform/settings.h"

#include <QPointer>

namespace zafrel {

SessionModel::SessionModel(ZafrelAPI& api, QObject* parent)
    : QObject(parent), api_(api)
{
    // The check must not run inside the constructor: whoever creates the model connects to its
    // signals first, and sees checking() true until the answer is in.
    nextCheckTimer_.setSingleShot(true);
    connect(&nextCheckTimer_, &QTimer::timeout, this, &SessionModel::checkNow);
    checkNow();
}

void SessionModel::checkNow()
{
    if (asking_)
        return;
    nextCheckTimer_.stop();
    asking_ = true;
    QPointer<SessionModel> self(this);
    spawn([self]() -> QCoro::Task<void> {
        if (self)
            co_await self->restore();
    });
}

QCoro::Task<void> SessionModel::restore()
{
    QPointer<SessionModel> self(this);
    asking_ = true;
    setChecking(true);
    std::optional<User> found;
    bool unreachable = false;
    try {
        found = co_await api_.me();
    } catch (...) {
        // No valid session: simply nobody signed in, and no message.
        unreachable = serviceUnreachable(std::current_exception());
    }
    if (!self)
        co_return;
    asking_ = false;
    if (unreachable) {
        checkLater();
        setOffline(true);
        co_return;
    }
    failedChecks_ = 0;
    setOffline(false);
    setUser(std::move(found));
    setChecking(false);
}

void SessionModel::checkLater()
{
    const auto wait = sessionCheckWait(failedChecks_++);
    nextCheck_ = std::chrono::steady_clock::now() + wait;
    nextCheckTimer_.start(wait);
}

void SessionModel::setOffline(bool offline)
{
    offline_ = offline;
    emit offlineChanged();
}

QCoro::Task<void> SessionModel::login(QString email, QString password)
{
    QPointer<SessionModel> self(this);
    errorDetail_.clear();
    setError(std::nullopt);
    try {
        User user = co_await api_.login(email.toStdString(), password.toStdString());
        if (!self)
            co_return;
        setUser(std::move(user));
        settings::setValue(QStringLiteral("email"), email);
    } catch (...) {
        const QString message = signInFailureMessage(std::current_exception());
        const std::string detail = technicalDetailOf(std::current_exception());
        if (self) {
            errorDetail_ = QString::fromStdString(detail);
            setError(message);
        }
    }
}

void SessionModel::signOut()
{
    setUser(std::nullopt);
}

void SessionModel::sessionEnded()
{
    errorDetail_.clear();
    setError(QStringLiteral("La sesión ha caducado. Vuelve a entrar para continuar las subidas pendientes."));
    setUser(std::nullopt);
}

void SessionModel::setUser(std::optional<User> user)
{
    user_ = std::move(user);
    emit userChanged();
}

void SessionModel::setChecking(bool checking)
{
    checking_ = checking;
    emit checkingChanged();
}

void SessionModel::setError(std::optional<QString> error)
{
    error_ = std::move(error);
    emit errorChanged();
}

std::chrono::milliseconds sessionCheckWait(int failedChecks)
{
    return failedChecks < retry::maxAttempts - 1 ? retry::waitAfter(failedChecks) : retry::scaled(std::chrono::seconds(30));
}

bool serviceUnreachable(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const TransportError&) {
        return true;
    } catch (const APIError& e) {
        return e.kind() == APIError::Kind::Http && (e.code() == 502 || e.code() == 503 || e.code() == 504);
    } catch (...) {
    }
    return false;
}

QString signInFailureMessage(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const APIError& e) {
        if (e.kind() == APIError::Kind::Auth)
            return QStringLiteral("Email o contraseña incorrectos");
        if (e.kind() == APIError::Kind::Http && e.code() == 429)
            return QStringLiteral("Demasiados intentos. Espera unos minutos.");
        return QStringLiteral("No se pudo conectar: ") + QString::fromUtf8(e.what());
    } catch (const TransportError& e) {
        // Its text already says what failed with which host; libcurl's wording goes to errorDetail().
        return QString::fromUtf8(e.what()) + QStringLiteral(". Comprueba la conexión y vuelve a intentarlo.");
    } catch (const std::exception& e) {
        return QStringLiteral("No se pudo conectar: ") + QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("No se pudo conectar: error desconocido");
    }
}

}  // namespace zafrel
