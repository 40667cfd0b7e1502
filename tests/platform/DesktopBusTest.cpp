// The sleep lock and the desktop notice against stand-in services on a private message bus.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QVariantMap>

#include <vector>

#include "platform/qt/DesktopNotifier.h"
#include "platform/qt/LauncherEntry.h"
#include "platform/qt/Shell.h"
#include "platform/qt/SleepInhibitor.h"
#include "tests/support/DesktopBusFakes.h"

using testsupport::FakeLogind;
using testsupport::FakeNotifications;

namespace {

class DesktopBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_platform";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
    void SetUp() override { ASSERT_TRUE(Bus.Started()) << "dbus-daemon is needed for these tests"; }
    void Offer(const QString& name, const QString& path, QObject* object) { ASSERT_TRUE(Bus.Offer(name, path, object)); }

    testsupport::TPrivateBus Bus;
};

}  // namespace

TEST_F(DesktopBus, TheSleepLockIsHeldUntilReleasedAndAskedForOnlyOnce) {
    FakeLogind logind;
    Offer("org.freedesktop.login1", "/org/freedesktop/login1", &logind);
    TSleepInhibitor inhibitor(Bus.Client());
    QSignalSpy acquired(&inhibitor, &TSleepInhibitor::Acquired);
    inhibitor.Acquire("ReelShift", "Converting videos");
    inhibitor.Acquire("ReelShift", "Converting videos");  // already asked for
    ASSERT_TRUE(acquired.wait(5000));
    ASSERT_EQ(logind.Locks.size(), 1u);
    EXPECT_EQ(logind.Locks[0].What, "sleep:idle");
    EXPECT_EQ(logind.Locks[0].Who, "ReelShift");
    EXPECT_EQ(logind.Locks[0].Why, "Converting videos");
    EXPECT_EQ(logind.Locks[0].Mode, "block");
    EXPECT_TRUE(inhibitor.Held());
    QTest::qWait(50);
    EXPECT_FALSE(logind.Released(0));

    inhibitor.Release();
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Released(0); }, 5000));

    // A second run takes a new lock.
    inhibitor.Acquire("ReelShift", "Converting videos");
    ASSERT_TRUE(acquired.wait(5000));
    EXPECT_EQ(logind.Locks.size(), 2u);
}

TEST_F(DesktopBus, ALockReleasedBeforeItsAnswerArrivesIsGivenUpAtOnce) {
    FakeLogind logind;
    Offer("org.freedesktop.login1", "/org/freedesktop/login1", &logind);
    TSleepInhibitor inhibitor(Bus.Client());
    QSignalSpy acquired(&inhibitor, &TSleepInhibitor::Acquired);
    inhibitor.Acquire("ReelShift", "Converting videos");
    inhibitor.Release();  // the run was cancelled at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return logind.Locks.size() == 1; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Released(0); }, 5000));
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_EQ(acquired.count(), 0);
}

TEST_F(DesktopBus, WithoutLogindTheLockFailsWithAReasonAndNothingIsHeld) {
    TSleepInhibitor inhibitor(Bus.Client());
    QSignalSpy failed(&inhibitor, &TSleepInhibitor::Failed);
    inhibitor.Acquire("ReelShift", "Converting videos");
    ASSERT_TRUE(failed.wait(5000));
    EXPECT_FALSE(failed.at(0).at(0).toString().isEmpty());
    EXPECT_FALSE(inhibitor.Held());
}

TEST_F(DesktopBus, TheNoticeCarriesItsTextsAndAClickOpensItsFolder) {
    FakeNotifications service;
    Offer("org.freedesktop.Notifications", "/org/freedesktop/Notifications", &service);
    std::vector<QUrl> opened;
    shell::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QTemporaryDir folder;
    TDesktopNotifier notifier(Bus.Client());
    QSignalSpy shown(&notifier, &TDesktopNotifier::Shown);
    notifier.Notify("Conversion finished", "2 files converted, 1 failed.", folder.path());
    ASSERT_TRUE(shown.wait(5000));
    ASSERT_EQ(service.Notices.size(), 1u);
    EXPECT_EQ(service.Notices[0].App, "ReelShift");
    EXPECT_EQ(service.Notices[0].Summary, "Conversion finished");
    EXPECT_EQ(service.Notices[0].Body, "2 files converted, 1 failed.");
    EXPECT_TRUE(service.Notices[0].Actions.contains("default"));
    const uint id = shown.at(0).at(0).toUInt();

    // Another notice's click, and another action, open nothing.
    QSignalSpy folderOpened(&notifier, &TDesktopNotifier::FolderOpened);
    for (const auto& [which, action] : {std::pair{id + 1, QString("default")}, std::pair{id, QString("other")},
                                        std::pair{id, QString("default")}}) {
        QDBusMessage click =
            QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        click << which << action;
        ASSERT_TRUE(Bus.Service().send(click));
    }
    ASSERT_TRUE(folderOpened.wait(5000));
    QTest::qWait(100);  // the two other clicks, had they opened anything
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), folder.path());
    shell::SetUrlOpener({});
}


TEST_F(DesktopBus, TheDockShowsTheShareOfTheRunDoneAndTheFilesLeftUntilTheRunEnds) {
    testsupport::FakeDock dock;
    ASSERT_TRUE(dock.Listen(Bus.Service(), Bus.Client()));
    TLauncherEntry entry(Bus.Client(), "application://reelshift-test.desktop");
    entry.RunStarted(4);
    entry.TaskProgress(0.5);
    entry.TaskProgress(0.5001);  // nothing new to show: not sent
    entry.TaskEnded();           // the first of four files
    entry.TaskProgress(3.0);     // a report past the end counts as the whole file
    entry.RunEnded();
    entry.RunEnded();  // already cleared: not sent
    ASSERT_TRUE(QTest::qWaitFor([&] { return dock.Updates.size() >= 5; }, 5000)) << dock.Updates.size();
    QTest::qWait(100);
    ASSERT_EQ(dock.Updates.size(), 5u);
    const struct {
        double progress;
        qlonglong count;
        bool visible;
    } expected[] = {{0.0, 4, true}, {0.125, 4, true}, {0.25, 3, true}, {0.5, 3, true}, {0.0, 0, false}};
    for (size_t i = 0; i < 5; ++i) {
        const auto& u = dock.Updates[i];
        EXPECT_EQ(u.App, "application://reelshift-test.desktop");
        // The types docks read: a double, a 64-bit count and two booleans.
        EXPECT_EQ(u.Properties.value("progress").typeId(), QMetaType::Double) << i;
        EXPECT_EQ(u.Properties.value("count").typeId(), QMetaType::LongLong) << i;
        EXPECT_EQ(u.Properties.value("progress-visible").typeId(), QMetaType::Bool) << i;
        if (expected[i].visible) {
            EXPECT_DOUBLE_EQ(u.Properties.value("progress").toDouble(), expected[i].progress) << i;
            EXPECT_EQ(u.Properties.value("count").toLongLong(), expected[i].count) << i;
        }
        EXPECT_EQ(u.Properties.value("progress-visible").toBool(), expected[i].visible) << i;
        EXPECT_EQ(u.Properties.value("count-visible").toBool(), expected[i].visible) << i;
    }
}
