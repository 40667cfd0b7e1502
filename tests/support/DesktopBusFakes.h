#pragma once
// Stand-ins for the login manager and the desktop's notification service, offered on a
// private message bus that a test starts for itself.
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace testsupport {

// Stands in for logind: each lock is the write end of a pipe whose read end the test keeps,
// so the test sees the lock released when the read end reaches its end.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Lock {
        QString What, Who, Why, Mode;
        int ReadEnd = -1;
    };
    std::vector<Lock> Locks;
    ~FakeLogind() override {
        for (const Lock& l : Locks) ::close(l.ReadEnd);
    }
    // True when every holder of lock i has closed it.
    bool Released(size_t i) const {
        pollfd p{Locks.at(i).ReadEnd, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1) return false;
        char c;
        return ::read(Locks.at(i).ReadEnd, &c, 1) == 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
        int fds[2];
        if (::pipe(fds) != 0) return {};
        Locks.push_back({what, who, why, mode, fds[0]});
        QDBusUnixFileDescriptor lock(fds[1]);  // a copy; ours is closed at once
        ::close(fds[1]);
        return lock;
    }
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString App, Summary, Body;
        QStringList Actions;
    };
    std::vector<Notice> Notices;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        Notices.push_back({app, summary, body, actions});
        return uint(Notices.size()) + 40;
    }
};

// Listens for the launcher-entry signal as a dock does: from any sender, on any path.
class FakeDock : public QObject {
    Q_OBJECT
public:
    struct Update {
        QString App;
        QVariantMap Properties;
    };
    std::vector<Update> Updates;
    // The bus takes the match rule in its own time: this returns once a signal sent from
    // sender has come through (those warm-up signals are not kept).
    bool Listen(QDBusConnection& bus, QDBusConnection& sender) {
        if (!bus.connect(QString(), QString(), Interface, "Update", this, SLOT(Updated(QString, QVariantMap)))) return false;
        QElapsedTimer clock;
        clock.start();
        while (!FHeard && clock.elapsed() < 5000) {
            QDBusMessage ping = QDBusMessage::createSignal("/", Interface, "Update");
            ping << QString(WarmUp) << QVariantMap();
            sender.send(ping);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
        return FHeard;
    }

public slots:
    void Updated(const QString& app, const QVariantMap& properties) {
        if (app == WarmUp) FHeard = true;
        else Updates.push_back({app, properties});
    }

private:
    static constexpr const char* Interface = "com.canonical.Unity.LauncherEntry";
    static constexpr const char* WarmUp = "application://warm-up";
    bool FHeard = false;
};

// A message bus of the test's own (dbus-daemon), with one connection that offers services
// and one for the code under test.
class TPrivateBus {
public:
    TPrivateBus();
    ~TPrivateBus();
    bool Started() const { return FService && FService->isConnected() && FClient && FClient->isConnected(); }
    QDBusConnection& Service() { return *FService; }
    QDBusConnection& Client() { return *FClient; }
    // Offers object under the well-known name at path; false when the bus refused.
    bool Offer(const QString& name, const QString& path, QObject* object);

private:
    QProcess FDaemon;
    std::unique_ptr<QDBusConnection> FService, FClient;
};

}  // namespace testsupport
