#include "platform/qt/LauncherEntry.h"

#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

TLauncherEntry::TLauncherEntry(QDBusConnection bus, QString appUri, QObject* parent)
    : QObject(parent), FBus(std::move(bus)), FAppUri(std::move(appUri)) {}

QString TLauncherEntry::DefaultAppUri() { return QStringLiteral("application://" REELSHIFT_APP_ID ".desktop"); }

void TLauncherEntry::RunStarted(int files) {
    FFiles = std::max(files, 0);
    FEnded = 0;
    FCurrent = 0;
    Send(FFiles > 0);
}

void TLauncherEntry::TaskProgress(double fraction) {
    FCurrent = std::clamp(fraction, 0.0, 1.0);
    Send(FSentVisible);
}

void TLauncherEntry::TaskEnded() {
    FEnded = std::min(FEnded + 1, FFiles);
    FCurrent = 0;
    Send(FSentVisible);
}

void TLauncherEntry::RunEnded() {
    FFiles = FEnded = 0;
    FCurrent = 0;
    Send(false);
}

void TLauncherEntry::Send(bool visible) {
    const double progress = FFiles > 0 ? std::min(1.0, (FEnded + FCurrent) / FFiles) : 0.0;
    const int permille = int(std::lround(progress * 1000));
    const int left = FFiles - FEnded;
    if (visible == FSentVisible && (!visible || (permille == FSentPermille && left == FSentLeft))) return;
    FSentVisible = visible;
    FSentPermille = permille;
    FSentLeft = left;
    if (!FBus.isConnected()) return;
    QDBusMessage signal = QDBusMessage::createSignal("/com/zantosoft/ReelShift/LauncherEntry",
                                                     "com.canonical.Unity.LauncherEntry", "Update");
    const QVariantMap properties = {
        {"progress", permille / 1000.0},
        {"progress-visible", visible},
        {"count", qint64(visible ? left : 0)},
        {"count-visible", visible},
    };
    signal << FAppUri << properties;
    FBus.send(signal);
}
