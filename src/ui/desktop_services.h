#pragma once
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

namespace zafrel::ui {

// What a long run asks of the desktop: a notice when it ends, and no sleep while it runs.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    // Shows a notice; `clicked` runs when the person clicks it, where the desktop tells.
    virtual void notify(const QString& title, const QString& body, std::function<void()> clicked) = 0;
    // True while a run goes on; false releases what true took.
    virtual void keepAwake(bool awake) = 0;
};

// The freedesktop services over D-Bus: notifications (org.freedesktop.Notifications on the
// session bus), and inhibitors of sleep and idle from logind (system bus) and from the desktop
// portal (session bus), whichever exist. Every call is asynchronous; where a bus or a service is
// missing, or refuses, nothing happens and nothing is said: the upload does not depend on it.
class DBusDesktopServices : public QObject, public DesktopServices {
    Q_OBJECT
public:
    DBusDesktopServices(QDBusConnection session = QDBusConnection::sessionBus(),
                        QDBusConnection system = QDBusConnection::systemBus());
    ~DBusDesktopServices() override;

    // The notice's default action is a click on it: the service answers with ActionInvoked.
    void notify(const QString& title, const QString& body, std::function<void()> clicked) override;
    void keepAwake(bool awake) override;

    // Whether an inhibitor is held now (for tests).
    bool holdsInhibitor() const { return logindLock_.isValid() || !portalRequest_.isEmpty(); }

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    void release();

    QDBusConnection session_;
    QDBusConnection system_;
    bool awake_ = false;
    // Bumped by every change, so that an answer arriving after a release is let go at once.
    quint64 generation_ = 0;
    QDBusUnixFileDescriptor logindLock_;   // logind keeps the inhibitor while this stays open
    QString portalRequest_;                // the portal keeps it until this request is closed
    // The notices shown and not closed yet, by the service's id, with what a click on each does.
    std::map<uint, std::function<void()>> clickable_;
};

}  // namespace zafrel::ui
