#pragma once
#include "client/records.h"
#include "client/zafrel_api.h"

#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

#include <QTimer>

#include <chrono>
#include <exception>
#include <optional>

namespace zafrel {

// Who is signed in to the desktop program. Created once by the application; every screen reads
// it. At creation it checks whether the service still accepts the stored session cookie; the
// login screen signs in through it and shows its error text. A service that cannot be reached for
// that check (no network yet, a restart at the company) is no reason to sign anyone out: the
// check stays pending and is tried again after 1, 3, 6 and 12 s, then every 30 s.
class SessionModel : public QObject {
    Q_OBJECT
public:
    // Starts the session check on the next turn of the event loop.
    explicit SessionModel(ZafrelAPI& api = ZafrelAPI::shared(), QObject* parent = nullptr);

    const std::optional<User>& user() const { return user_; }
    bool checking() const { return checking_; }
    const std::optional<QString>& error() const { return error_; }
    // The transport's technical wording behind error(), for a tooltip; empty when there is none.
    const QString& errorDetail() const { return errorDetail_; }

    // The service client this model talks to (the process-wide one in the program).
    ZafrelAPI& api() const { return api_; }

    // Asks the service who the stored cookie belongs to. Never throws; a refused check only
    // leaves nobody signed in, without a message; an unreachable service makes the model offline.
    QCoro::Task<void> restore();

    // The check found no service: checking() stays true and the check is tried again at nextCheck().
    bool offline() const { return offline_; }
    std::chrono::steady_clock::time_point nextCheck() const { return nextCheck_; }
    // Checks again now rather than at nextCheck() (the "Reintentar ahora" button).
    void checkNow();

    // Signs in with the two strings exactly as typed. Never throws: a failure becomes error().
    // On success the e-mail as typed (not as the service spells it) is remembered under "email".
    QCoro::Task<void> login(QString email, QString password);

    // Forgets the signed-in user. The caller has already told the service (or tried to).
    void signOut();
    // The service ended the session (a 401 in the middle of a run): nobody is signed in any more,
    // and the login screen says why.
    void sessionEnded();

signals:
    void userChanged();
    void checkingChanged();
    void offlineChanged();
    void errorChanged();

private:
    void setUser(std::optional<User> user);
    void setChecking(bool checking);
    void setError(std::optional<QString> error);
    void setOffline(bool offline);
    void checkLater();

    ZafrelAPI& api_;
    std::optional<User> user_;
    bool checking_ = true;
    bool asking_ = false;
    bool offline_ = false;
    int failedChecks_ = 0;
    std::chrono::steady_clock::time_point nextCheck_;
    QTimer nextCheckTimer_;
    std::optional<QString> error_;
    QString errorDetail_;
};

// The wait before the next check after `failedChecks` checks that found no service: 1, 3, 6 and
// 12 s, then 30 s each time.
std::chrono::milliseconds sessionCheckWait(int failedChecks);

// A failure that says nothing about the session: the service could not be reached, or a proxy in
// front of it answered that it is down.
bool serviceUnreachable(std::exception_ptr failure);

// The message the login screen shows for a failed sign-in.
QString signInFailureMessage(std::exception_ptr failure);

}  // namespace zafrel
