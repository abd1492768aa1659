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
}

DBusDesktopServices::~DBusDesktopServices()
{
    release();
}

void DBusDesktopServices::notify(const QString& title, const QString& body)
{
    if (!session_.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zafrel"));
    call << QStringLiteral("Zafrel") << uint(0) << QStringLiteral("zafrel") << title << body << QStringList() << hints
         << int(-1);
    session_.asyncCall(call);
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
