#include "ui/desktop_services.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <memory>

namespace zafrel::ui {

namespace {

const QString kReason = QStringLiteral("Zafrel está subiendo material");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// Runs `onReply` with the answer of `call` when it comes, unless `owner` is gone by then; errors
// are dropped.
template<class Reply, class F>
void whenAnswered(QObject* owner, const QDBusPendingCall& call, F onReply)
{
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, onReply](QDBusPendingCallWatcher*) {
        const Reply reply = *watcher;
        if (!reply.isError())
            onReply(reply);
        watcher->deleteLater();
    });
}

}  // namespace

DBusDesktopServices::DBusDesktopServices(QDBusConnection session, QDBusConnection system)
    : session_(std::move(session)), system_(std::move(system))
{
    if (!session_.isConnected())
        return;
    session_.connect(kNotifications, kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"), this,
                     SLOT(actionInvoked(uint, QString)));
    session_.connect(kNotifications, kNotificationsPath, kNotifications, QStringLiteral("NotificationClosed"), this,
                     SLOT(notificationClosed(uint, uint)));
}

DBusDesktopServices::~DBusDesktopServices()
{
    release();
}

void DBusDesktopServices::notify(const QString& title, const QString& body, std::function<void()> clicked)
{
    if (!session_.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zafrel"));
    // "default" is the click on the notice itself; its label is what services that show it as a
    // button write on it.
    call << QStringLiteral("Zafrel") << uint(0) << QStringLiteral("zafrel") << title << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Abrir Zafrel")} << hints << int(-1);
    whenAnswered<QDBusPendingReply<uint>>(this, session_.asyncCall(call),
                                          [this, clicked = std::move(clicked)](const QDBusPendingReply<uint>& reply) {
                                              if (clicked)
                                                  clickable_[reply.value()] = clicked;
                                          });
}

void DBusDesktopServices::actionInvoked(uint id, const QString& action)
{
    const auto found = clickable_.find(id);
    if (action != QLatin1String("default") || found == clickable_.end())
        return;   // another program's notice, or another of its buttons
    const std::function<void()> clicked = found->second;
    clicked();
}

void DBusDesktopServices::notificationClosed(uint id, uint)
{
    clickable_.erase(id);
}

void DBusDesktopServices::keepAwake(bool awake)
{
    if (awake == awake_)
        return;
    awake_ = awake;
    ++generation_;
    if (!awake) {
        release();
        return;
    }
    const quint64 generation = generation_;
    if (system_.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                           QStringLiteral("/org/freedesktop/login1"),
                                                           QStringLiteral("org.freedesktop.login1.Manager"),
                                                           QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QStringLiteral("Zafrel") << kReason << QStringLiteral("block");
        whenAnswered<QDBusPendingReply<QDBusUnixFileDescriptor>>(
            this, system_.asyncCall(call), [this, generation](const QDBusPendingReply<QDBusUnixFileDescriptor>& reply) {
                if (generation == generation_)
                    logindLock_ = reply.value();   // otherwise dropped, and so closed, here
            });
    }
    if (session_.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                           QStringLiteral("/org/freedesktop/portal/desktop"),
                                                           QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                           QStringLiteral("Inhibit"));
        QVariantMap options;
        options.insert(QStringLiteral("reason"), kReason);
        // 4: suspending, 8: the session going idle.
        call << QString() << uint(4 | 8) << options;
        QDBusConnection session = session_;
        whenAnswered<QDBusPendingReply<QDBusObjectPath>>(
            this, session_.asyncCall(call), [this, generation, session](const QDBusPendingReply<QDBusObjectPath>& reply) {
                const QString path = reply.value().path();
                if (generation == generation_) {
                    portalRequest_ = path;
                    return;
                }
                QDBusConnection(session).asyncCall(QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.portal.Desktop"), path,
                    QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
            });
    }
}

void DBusDesktopServices::release()
{
    logindLock_ = QDBusUnixFileDescriptor();
    if (!portalRequest_.isEmpty() && session_.isConnected())
        session_.asyncCall(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                          portalRequest_, QStringLiteral("org.freedesktop.portal.Request"),
                                                          QStringLiteral("Close")));
    portalRequest_.clear();
}

}  // namespace zafrel::ui
