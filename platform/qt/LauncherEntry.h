#pragma once
// The run's progress on the program's icon in the dock: the launcher-entry signal that GNOME's,
// KDE's and other docks read (com.canonical.Unity.LauncherEntry, "Update"), with the share of
// the run done and the number of files left, cleared when the run ends. Nobody answers a
// signal, so a desktop without such a dock costs nothing.
#include <QDBusConnection>
#include <QObject>
#include <QString>

class TLauncherEntry : public QObject {
public:
    // appUri names the launcher, "application://" + the desktop file's name.
    explicit TLauncherEntry(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QString appUri = DefaultAppUri(), QObject* parent = nullptr);
    static QString DefaultAppUri();

    void RunStarted(int files);
    void TaskProgress(double fraction);  // of the file converting now, 0..1
    void TaskEnded();                    // converted, failed or stopped: one file fewer left
    void RunEnded();                     // the icon shows nothing again

private:
    void Send(bool visible);

    QDBusConnection FBus;
    QString FAppUri;
    int FFiles = 0;
    int FEnded = 0;
    double FCurrent = 0;
    // What was sent last: a progress report that changes nothing is not sent again.
    int FSentPermille = -1;
    int FSentLeft = -1;
    bool FSentVisible = false;
};
