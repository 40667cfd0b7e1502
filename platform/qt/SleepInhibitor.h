#pragma once
// Keeps the computer awake while something long runs: a sleep-and-idle inhibitor lock from
// logind. The lock is a file descriptor; closing it releases the lock, so a program that dies
// never leaves the machine unable to sleep.
#include <QDBusConnection>
#include <QObject>
#include <QString>

class TSleepInhibitor : public QObject {
    Q_OBJECT
public:
    // The system bus by default; tests hand in a private bus with a stand-in logind.
    explicit TSleepInhibitor(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
    ~TSleepInhibitor() override;

    // Asks for the lock without waiting for the answer; asking again while it is held or
    // asked for does nothing.
    void Acquire(const QString& who, const QString& why);
    // Gives the lock up, also one whose answer has not arrived yet.
    void Release();
    bool Held() const { return FDescriptor >= 0; }

signals:
    void Acquired();
    // logind could not be reached or refused; the caller goes on without the lock.
    void Failed(const QString& reason);

private:
    void Close();

    QDBusConnection FBus;
    int FDescriptor = -1;
    bool FWanted = false;   // the caller wants the lock now
    bool FAsking = false;   // an answer is on its way
};
