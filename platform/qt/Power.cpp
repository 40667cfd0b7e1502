#include "platform/qt/Power.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace power {

namespace {
TPowerOffRequest& Request() {
    static TPowerOffRequest request;
    return request;
}

bool AskLogind(std::string* error) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (error) *error = "The system bus cannot be reached";
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "PowerOff");
    call << false;  // not interactive: nobody is there to type a password after a night's run
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (error) *error = reply.errorMessage().toStdString();
        return false;
    }
    return true;
}
}  // namespace

bool PowerOff(std::string* error) {
    if (Request()) return Request()(error);
    return AskLogind(error);
}

void SetPowerOffRequest(TPowerOffRequest request) { Request() = std::move(request); }

}  // namespace power
