#pragma once
// A notice on the desktop (the freedesktop notification service). Clicking it opens a folder
// through the shell layer.
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // The session bus by default; tests hand in a private bus with a stand-in service.
    explicit TDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Shows the notice without waiting; a click on it opens folder (when not empty).
    void Notify(const QString& summary, const QString& body, const QString& folder);

signals:
    void Shown(uint id);
    void Failed(const QString& reason);
    void FolderOpened(const QString& folder);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection FBus;
    std::map<uint, QString> FFolders;  // notices still on screen and the folder each opens
};
