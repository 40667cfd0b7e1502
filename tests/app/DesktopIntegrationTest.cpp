// The window as a desktop program: its job list survives a crash, a run keeps the machine
// awake, a run that ends behind other windows leaves a notice.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app/JobList.h"
#include "app/JobListState.h"
#include "app/WinMain.h"
#include "app/WinProgress.h"
#include "engine/OutputClaim.h"
#include "formats/ui/FormatListBox.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DesktopBusFakes.h"

namespace fs = std::filesystem;

namespace {

struct TDesktopIntegrationTest : ::testing::Test, apptest::TMainWindowFixture {
    std::string Source(const std::string& name, double seconds = 1.0) {
        const std::string path = dir.file(name);
        fs::copy_file(apptest::Clip("clip.mp4", seconds), path, fs::copy_options::overwrite_existing);
        return path;
    }
    TJobListView& List() { return *Window().JobList(); }
    std::string StateFile() const { return home.Path() + "/.local/state/reelshift/joblist.json"; }
    void Start() {
        QTest::mouseClick(Window().findChild<QPushButton*>("btnStart"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Window().Running(); }, 20000));
    }
    // The window goes away as in a crash: no exit question, no closing steps.
    void Crash() { window.reset(); }
};

}  // namespace

TEST_F(TDesktopIntegrationTest, AfterACrashTheJobsComeBackWithTheirEditsAndChecksOnceTheUserAgrees) {
    // b's name is not UTF-8 (Latin-1 "bé"): the file keeps its bytes, the row shows U+FFFD.
    const std::string a = Source("a.mp4"), b = Source("b\xe9.mp4"), gone = Source("gone.mp4");
    ASSERT_EQ(Window().AddFiles({QString::fromStdString(a), QString::fromStdString(b), QString::fromStdString(gone)}), 3);
    TlvFilesRecord& edited = *Window().JobRecord(1);
    edited.WatermarkText = "Holiday";
    edited.TrimStart = 200'000;
    edited.Brightness = 300;
    Window().JobEdited();
    List().Row(0)->SetChecked(false);
    List().Row(1)->setText(TJobRow::colTrimmed, "0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return TJobListState(StateFile()).Load().value_or(std::vector<TSavedJob>{}).size() == 3; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return TJobListState(StateFile()).Load()->at(0).Checked == false; }, 5000));
    EXPECT_EQ(TJobListState(StateFile()).Load()->at(0).Destination, "a_(new).avi");  // the name the run writes
    EXPECT_EQ(TJobListState(StateFile()).Load()->at(1).Destination, "b\xe9_(new).avi");
    Crash();
    fs::remove(gone);
    // The crash came in a run: its folder holds a file cut short, and one that another
    // program is writing now.
    const std::string runFolder = home.Path() + "/reelshift";
    fs::create_directories(runFolder);
    testsupport::WriteFile(runFolder + "/.cut_(new).avi.reelshift-part", "half a file");
    auto writing = TOutputClaim::Take(runFolder + "/busy_(new).avi", nullptr, nullptr);
    ASSERT_TRUE(writing);
    ASSERT_TRUE(TJobListState(StateFile()).Save(*TJobListState(StateFile()).Load(), runFolder));

    boxes.Answer = true;
    TfrmMain& again = Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return List().RowCount() == 2; }, 5000));
    EXPECT_FALSE(fs::exists(runFolder + "/.cut_(new).avi.reelshift-part"));
    EXPECT_TRUE(fs::exists(writing->TemporaryPath()));
    ASSERT_EQ(boxes.Asked.size(), 1u);
    EXPECT_TRUE(boxes.Asked[0].Text.contains("Restore the 2 jobs")) << boxes.Asked[0].Text.toStdString();
    EXPECT_TRUE(boxes.Asked[0].Text.contains(QString::fromStdString(gone))) << boxes.Asked[0].Text.toStdString();
    EXPECT_EQ(again.JobRecord(0)->SourceFile, a);
    EXPECT_FALSE(List().Row(0)->Checked());
    EXPECT_EQ(again.JobRecord(1)->SourceFile, b);
    EXPECT_EQ(List().Row(1)->text(TJobRow::colSource), QString::fromStdString(dir.file("b")) + QChar(0xFFFD) + ".mp4");
    EXPECT_EQ(List().Row(1)->text(TJobRow::colDestination), QString("b") + QChar(0xFFFD) + "_(new).avi");
    EXPECT_EQ(again.JobRecord(1)->WatermarkText, "Holiday");
    EXPECT_EQ(again.JobRecord(1)->TrimStart, 200'000);
    EXPECT_EQ(again.JobRecord(1)->Brightness, 300);
    EXPECT_TRUE(List().Row(1)->Checked());
    EXPECT_EQ(List().Row(1)->text(TJobRow::colTrimmed), "0");

    // A clean exit leaves nothing to offer at the next start.
    again.close();
    EXPECT_FALSE(fs::exists(StateFile()));
}

TEST_F(TDesktopIntegrationTest, ANoToTheQuestionStartsEmptyAndConvertedRowsComeBackUnchecked) {
    const std::string a = Source("a.mp4");
    TSavedJob converted;
    converted.Record.SourceFile = a;
    converted.Progress = "100%";
    ASSERT_TRUE(TJobListState(StateFile()).Save({converted}));
    boxes.Answer = true;
    Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return List().RowCount() == 1; }, 5000));
    EXPECT_FALSE(List().Row(0)->Checked());  // converted before the crash: not again unless asked
    Crash();

    boxes.Answer = false;
    Window();
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Asked.size() == 2; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(List().RowCount(), 0);
    // The refused list is not offered again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return TJobListState(StateFile()).Load().value_or(std::vector<TSavedJob>{1}).empty(); }, 5000));
}

TEST_F(TDesktopIntegrationTest, ARunHoldsOffSleepShowsItsProgressOnTheDockAndLeavesANoticeWhenTheWindowIsBehind) {
    testsupport::TPrivateBus bus;
    ASSERT_TRUE(bus.Started()) << "dbus-daemon is needed for this test";
    testsupport::FakeLogind logind;
    testsupport::FakeNotifications notices;
    ASSERT_TRUE(bus.Offer("org.freedesktop.login1", "/org/freedesktop/login1", &logind));
    ASSERT_TRUE(bus.Offer("org.freedesktop.Notifications", "/org/freedesktop/Notifications", &notices));
    testsupport::FakeDock dock;
    ASSERT_TRUE(dock.Listen(bus.Service(), bus.Client()));
    Window().SetDesktopBuses(bus.Client(), bus.Client());
    TFormatListBox* formats = Window().FormatList();
    formats->PickRow(formats->Catalogue().FindRow("AVI - Audio-Video-Interleaved(*.avi)"));
    ASSERT_EQ(Window().AddFiles({QString::fromStdString(Source("a.mp4")), QString::fromStdString(Source("b.mp4"))}), 2);

    bool heldDuringRun = false;
    auto original = Window().CCAVC().OnProgress;
    Window().CCAVC().OnProgress = [&, original](TCustomFFmpegVCL* sender, PProgressInfo info) {
        original(sender, info);
        heldDuringRun = heldDuringRun || (logind.Locks.size() == 1 && !logind.Released(0));
    };
    Start();
    EXPECT_TRUE(heldDuringRun);
    ASSERT_EQ(logind.Locks.size(), 1u);
    EXPECT_EQ(logind.Locks[0].Why, "Converting videos");
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Released(0); }, 5000));
    // The dock showed both files left, then one, the share done growing, and nothing at the end.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dock.Updates.empty() && !dock.Updates.back().Properties.value("progress-visible").toBool(); }, 5000));
    ASSERT_GE(dock.Updates.size(), 3u);
    EXPECT_EQ(dock.Updates.front().Properties.value("count").toLongLong(), 2);
    EXPECT_TRUE(dock.Updates.front().Properties.value("count-visible").toBool());
    double done = 0;
    bool oneLeft = false;
    for (size_t i = 0; i + 1 < dock.Updates.size(); ++i) {
        const QVariantMap& p = dock.Updates[i].Properties;
        EXPECT_EQ(dock.Updates[i].App, "application://com.zantosoft.ReelShift.desktop");
        EXPECT_TRUE(p.value("progress-visible").toBool()) << i;
        EXPECT_GE(p.value("progress").toDouble(), done) << i;
        done = p.value("progress").toDouble();
        oneLeft = oneLeft || p.value("count").toLongLong() == 1;
    }
    EXPECT_TRUE(oneLeft);
    EXPECT_FALSE(dock.Updates.back().Properties.value("count-visible").toBool());
    // The window was in front at the end: no notice.
    QTest::qWait(50);
    EXPECT_TRUE(notices.Notices.empty());

    // The user turns to another window during the run: the end is told on the desktop.
    QWidget other;
    Window().JobList()->Row(0)->SetChecked(true);
    Window().JobList()->Row(1)->SetChecked(true);
    Window().CCAVC().OnProgress = [&, original](TCustomFFmpegVCL* sender, PProgressInfo info) {
        original(sender, info);
        if (!other.isVisible()) {
            other.show();
            other.activateWindow();
        }
    };
    QMetaObject::invokeMethod(Window().findChild<QPushButton*>("btnStart"), "click", Qt::QueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.Notices.empty(); }, 20000));
    EXPECT_EQ(notices.Notices[0].Summary, "Conversion finished");
    EXPECT_EQ(notices.Notices[0].Body, "2 files converted, 0 failed.");
    EXPECT_EQ(logind.Locks.size(), 2u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Released(1); }, 5000));

    // A cancelled run gives its lock up too.
    other.hide();
    Window().activateWindow();
    Window().CCAVC().OnProgress = [&, original](TCustomFFmpegVCL* sender, PProgressInfo info) {
        original(sender, info);
        if (QPushButton* cancel = Window().ProgressWindow().findChild<QPushButton*>("btnCancel"))
            QTimer::singleShot(0, cancel, &QPushButton::click);
    };
    dock.Updates.clear();
    Start();
    ASSERT_EQ(logind.Locks.size(), 3u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return logind.Released(2); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dock.Updates.size() >= 2; }, 5000));
    QTest::qWait(50);
    EXPECT_FALSE(dock.Updates.back().Properties.value("progress-visible").toBool());
}
