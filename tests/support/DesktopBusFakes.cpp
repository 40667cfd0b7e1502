#include "tests/support/DesktopBusFakes.h"

namespace testsupport {

TPrivateBus::TPrivateBus() {
    FDaemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!FDaemon.waitForStarted(5000) || !FDaemon.waitForReadyRead(5000)) return;
    const QString address = QString::fromUtf8(FDaemon.readLine()).trimmed();
    FService = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "service"));
    FClient = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "client"));
}

TPrivateBus::~TPrivateBus() {
    FService.reset();
    FClient.reset();
    QDBusConnection::disconnectFromBus("service");
    QDBusConnection::disconnectFromBus("client");
    FDaemon.kill();
    FDaemon.waitForFinished(5000);
}

bool TPrivateBus::Offer(const QString& name, const QString& path, QObject* object) {
    return FService->registerService(name) && FService->registerObject(path, object, QDBusConnection::ExportAllSlots);
}

}  // namespace testsupport
