// The desktop's services over D-Bus, on a private bus of the test's own: the end-of-run notice
// reaches a notification service, and missing services (no portal, no system bus) change nothing.
#include "ui/desktop_services.h"

#include "support/test_env.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace zafrel::ui {
namespace {

// Stands in for the desktop's notification daemon.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        received << app + " | " + summary + " | " + body + " | " + actions.join(',');
        return 7;
    }
};

TEST(DesktopServices, NoticeReachesTheNotificationServiceAndMissingServicesAreNoFault)
{
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted(5000)) << "dbus-daemon is needed (scripts/setup installs it)";
    ASSERT_TRUE(test::runUntil([&] { return daemon.canReadLine(); }, std::chrono::seconds(10)));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();

    QDBusConnection desktop = QDBusConnection::connectToBus(address, "test-desktop");
    FakeNotifications notifications;
    ASSERT_TRUE(desktop.registerObject("/org/freedesktop/Notifications", &notifications, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(desktop.registerService("org.freedesktop.Notifications"));

    QDBusConnection app = QDBusConnection::connectToBus(address, "test-app");
    const QDBusConnection noSystemBus = QDBusConnection::connectToBus("unix:path=/nonexistent/zafrel-test", "test-none");
    DBusDesktopServices services(app, noSystemBus);
    int clicks = 0;
    services.notify("Subida terminada", "3 subidos y verificados · 2 MB", [&] { ++clicks; });
    ASSERT_TRUE(test::runUntil([&] { return !notifications.received.isEmpty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(notifications.received,
              QStringList{"Zafrel | Subida terminada | 3 subidos y verificados · 2 MB | default,Abrir Zafrel"});
    // A click on this notice counts; one on another program's notice, or on a closed one, does not.
    const auto invoke = [&](const char* member, uint id, const QVariant& second) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", member);
        signal << id << second;
        desktop.send(signal);
    };
    invoke("ActionInvoked", 8, QString("default"));
    invoke("ActionInvoked", 7, QString("default"));
    ASSERT_TRUE(test::runUntil([&] { return clicks > 0; }, std::chrono::seconds(10)));
    invoke("NotificationClosed", 7, 2u);
    invoke("ActionInvoked", 7, QString("default"));
    test::runUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(clicks, 1);
    services.keepAwake(true);   // no portal on this bus and no system bus: nothing to hold, and no fault
    services.keepAwake(false);
    for (const char* name : {"test-app", "test-none", "test-desktop"})
        QDBusConnection::disconnectFromBus(name);
    daemon.terminate();
    daemon.waitForFinished(5000);
}

}  // namespace
}  // namespace zafrel::ui

#include "desktop_services_test.moc"
