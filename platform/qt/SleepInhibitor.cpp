#include "platform/qt/SleepInhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

TSleepInhibitor::TSleepInhibitor(QDBusConnection bus, QObject* parent) : QObject(parent), FBus(std::move(bus)) {}

TSleepInhibitor::~TSleepInhibitor() { Close(); }

void TSleepInhibitor::Acquire(const QString& who, const QString& why) {
    FWanted = true;
    if (Held() || FAsking) return;
    if (!FBus.isConnected()) {
        emit Failed("no system bus: " + FBus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "Inhibit");
    call << QString("sleep:idle") << who << why << QString("block");
    FAsking = true;
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        FAsking = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            emit Failed(reply.error().name() + ": " + reply.error().message());
            return;
        }
        // The reply's descriptor is closed with the reply; keep a copy of our own.
        const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            emit Failed("the lock's file descriptor could not be kept");
            return;
        }
        if (!FWanted) {  // released while the answer was on its way
            ::close(fd);
            return;
        }
        FDescriptor = fd;
        emit Acquired();
    });
}

void TSleepInhibitor::Release() {
    FWanted = false;
    Close();
}

void TSleepInhibitor::Close() {
    if (FDescriptor >= 0) ::close(FDescriptor);
    FDescriptor = -1;
}
