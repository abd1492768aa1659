#pragma once
#include "client/records.h"
#include "client/zafrel_api.h"

#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

#include <exception>
#include <optional>

namespace zafrel {

// Who is signed in to the desktop program. Created once by the application; every screen reads
// it. At creation it checks whether the service still accepts the stored session cookie; the
// login screen signs in through it and shows its error text.
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

    // Asks the service who the stored cookie belongs to. Never throws; a failed check only
    // leaves nobody signed in, without a message.
    QCoro::Task<void> restore();

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
    void errorChanged();

private:
    void setUser(std::optional<User> user);
    void setChecking(bool checking);
    void setError(std::optional<QString> error);

    ZafrelAPI& api_;
    std::optional<User> user_;
    bool checking_ = true;
    std::optional<QString> error_;
    QString errorDetail_;
};

// The message the login screen shows for a failed sign-in.
QString signInFailureMessage(std::exception_ptr failure);

}  // namespace zafrel
