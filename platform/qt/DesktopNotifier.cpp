#include "platform/qt/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "platform/qt/Shell.h"

namespace {
const char* const Service = "org.freedesktop.Notifications";
const char* const Path = "/org/freedesktop/Notifications";
const char* const Interface = "org.freedesktop.Notifications";
}  // namespace

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), FBus(std::move(bus)) {
    FBus.connect(Service, Path, Interface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString)));
    FBus.connect(Service, Path, Interface, "NotificationClosed", this, SLOT(NotificationClosed(uint, uint)));
}

void TDesktopNotifier::Notify(const QString& summary, const QString& body, const QString& folder) {
    if (!FBus.isConnected()) {
        emit Failed("no session bus: " + FBus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
    const QStringList actions = folder.isEmpty() ? QStringList() : QStringList{"default", "Open folder"};
    call << QString("ReelShift") << uint(0) << QString("com.zantosoft.ReelShift") << summary << body << actions
         << QVariantMap() << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            emit Failed(reply.error().name() + ": " + reply.error().message());
            return;
        }
        if (!folder.isEmpty()) FFolders[reply.value()] = folder;
        emit Shown(reply.value());
    });
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action) {
    auto it = FFolders.find(id);
    if (it == FFolders.end() || action != "default") return;
    const QString folder = it->second;
    if (shell::OpenFolder(folder.toStdString())) emit FolderOpened(folder);
}

void TDesktopNotifier::NotificationClosed(uint id, uint) { FFolders.erase(id); }
