#include "app/WinProgress.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include <filesystem>

#include "app/WinMain.h"
#include "engine/FFmpegVCL.h"
#include "platform/IniFile.h"
#include "tests/app/AppTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct TProgressWindowTest : ::testing::Test, apptest::TMainWindowFixture {
    // A progress window shown without a run, with a 640 x 360 frame to show.
    TfrmProgress& Open(bool withFrame = true) {
        if (withFrame) GiveFrame(640, 360);
        progress = &Window().ProgressWindow();
        progress->show();
        return *progress;
    }
    void GiveFrame(int width, int height) {
        frame.Resize(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t* p = frame.Row(y) + x * 3;
                p[0] = 0x00, p[1] = 0x80, p[2] = 0x00;  // green
            }
        TPreviewInfo info;
        info.Bitmap = &frame;
        Window().CCAVCPreviewBitmap(&Window().CCAVC(), info);
    }
    template <typename T>
    T* Child(const char* name) {
        return progress->findChild<T*>(name);
    }
    QString Label(const char* name) { return Child<QLabel>(name)->text(); }
    void Click(const char* name) { QTest::mouseClick(Child<QAbstractButton>(name), Qt::LeftButton); }

    TFrameBitmap frame;
    TfrmProgress* progress = nullptr;
};

}  // namespace

TEST(ProgressTexts, PercentAndTheShortenedFileCaption) {
    EXPECT_EQ(ProgressPercent(30500000, 61000000), 50);
    EXPECT_EQ(ProgressPercent(1, 3), 33);
    EXPECT_EQ(ProgressPercent(5, 0), -1);
    EXPECT_EQ(ProgressPercent(5, -1), -1);

    const QString path = "/videos/" + QString(48, 'a') + ".mp4";
    ASSERT_EQ(path.size(), 60);
    EXPECT_EQ(ShortFileCaption(path), path.left(44) + "...mp4");
    const QString fifty = path.right(50);
    EXPECT_EQ(ShortFileCaption(fifty), fifty);
    const QString noExtension = QString(55, 'x');
    EXPECT_EQ(ShortFileCaption("/" + noExtension), ("/" + noExtension).left(44) + "..");
}

TEST(ProgressTexts, ClockAndTimeLeft) {
    EXPECT_EQ(ClockText(0), "0:00:00");
    EXPECT_EQ(ClockText(65.4), "0:01:05");
    EXPECT_EQ(ClockText(3725), "1:02:05");
    EXPECT_DOUBLE_EQ(TimeLeftSeconds(10, 25, 100), 30);
    EXPECT_LT(TimeLeftSeconds(10, 0, 100), 0);
    EXPECT_LT(TimeLeftSeconds(10, 5, -1), 0);
    EXPECT_EQ(TimeLeftSeconds(10, 120, 100), 0);
}

TEST(ProgressTexts, APictureFitsTheAreaKeepingItsShape) {
    const QRect area(0, 0, 389, 210);
    // Wider than the area's shape? Not this one: 640 x 360 fills the height.
    EXPECT_EQ(FitPicture(area, QSize(640, 360)), QRect(8, 0, 373, 210));
    EXPECT_EQ(FitPicture(area, QSize(778, 210)), QRect(0, 52, 389, 106));  // fills the width
    EXPECT_EQ(FitPicture(area, QSize(389, 210)), area);
    EXPECT_EQ(FitPicture(QRect(10, 20, 389, 210), QSize(640, 360)), QRect(18, 20, 373, 210));
    EXPECT_TRUE(FitPicture(area, QSize(0, 360)).isNull());
}

TEST_F(TProgressWindowTest, ShowingClearsTheValuesChecksOpenFolderAndKeepsShutDown) {
    TfrmProgress& p = Open();
    EXPECT_EQ(p.windowTitle(), "Progress");
    EXPECT_EQ(p.size(), QSize(450, 490));
    EXPECT_EQ(p.PreviewArea()->size(), QSize(389, 210));
    EXPECT_TRUE(Child<QCheckBox>("ckOpenFolder")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>("ckShutDown")->isChecked());
    EXPECT_EQ(Child<QToolButton>("btnSnapshot")->toolTip(), "Save snapshot picture");

    TProgressInfo info;
    info.TaskIndex = 0;
    info.CurrentDuration = 30500000;
    info.TotalDuration = 61000000;
    info.CurrentSize = 1234567;
    info.FPS = 25;
    p.TaskStarted(0);
    QTest::qWait(20);
    p.ShowProgress(info, "/films/a.mp4", 2);
    EXPECT_EQ(Label("lblCurrentTime"), "30 Second");
    EXPECT_EQ(Label("lblLength"), "61 Second");
    EXPECT_EQ(Label("lblFileSize"), "1234 kb");
    EXPECT_EQ(Label("lblProgress"), "[1/2]");
    EXPECT_EQ(Label("lblFile"), "/films/a.mp4");
    EXPECT_EQ(Label("lblSpeed"), "25 fps");
    EXPECT_TRUE(Label("lblTimeLeft").startsWith("0:00:0")) << Label("lblTimeLeft").toStdString();
    EXPECT_EQ(Child<QProgressBar>("pbProgress")->value(), 50);
    info.FPS = -1;  // sound only
    p.ShowProgress(info, "/films/a.mp4", 2);
    EXPECT_EQ(Label("lblSpeed"), "-");
    // A file name is shown as the characters it is made of, in the label and its tool tip.
    const QString markup = "<b>x<b><img src=\"y.png\">.mp4";
    p.ShowProgress(info, "/films/" + markup, 2);
    EXPECT_EQ(Label("lblFile"), "/films/" + markup);
    EXPECT_EQ(apptest::MarkupShown(p, markup), QStringList{});

    Child<QCheckBox>("ckOpenFolder")->setChecked(false);
    Child<QCheckBox>("ckShutDown")->setChecked(true);
    p.hide();
    p.show();
    EXPECT_TRUE(Child<QCheckBox>("ckOpenFolder")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>("ckShutDown")->isChecked());
    for (const char* name : {"lblCurrentTime", "lblLength", "lblFileSize", "lblProgress", "lblFile", "lblSpeed",
                             "lblTimeLeft"})
        EXPECT_EQ(Label(name), "") << name;
    EXPECT_EQ(Child<QProgressBar>("pbProgress")->value(), 0);
}

TEST_F(TProgressWindowTest, PauseAndResumeSwitchTheButtonsOfBothWindows) {
    Open();
    auto* mainPause = Window().findChild<QPushButton*>("btnPause");
    auto* mainResume = Window().findChild<QPushButton*>("btnResume");
    EXPECT_TRUE(Child<QPushButton>("btnPause")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("btnResume")->isEnabled());
    Click("btnPause");
    EXPECT_FALSE(Child<QPushButton>("btnPause")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>("btnResume")->isEnabled());
    EXPECT_FALSE(mainPause->isEnabled());
    EXPECT_TRUE(mainResume->isEnabled());
    Click("btnResume");
    EXPECT_TRUE(Child<QPushButton>("btnPause")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("btnResume")->isEnabled());
    EXPECT_TRUE(mainPause->isEnabled());
    EXPECT_FALSE(mainResume->isEnabled());
    Click("btnCancel");
    EXPECT_FALSE(progress->isVisible());
}

TEST_F(TProgressWindowTest, ThePreviewTimerDrawsTheFrameFittedOnTheFill) {
    Open();
    QImage shot;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        shot = progress->AreaPicture();
        return (shot.pixel(200, 100) & 0xFFFFFF) == 0x008000;
    }, 2000));
    EXPECT_EQ(shot.size(), QSize(389, 210));
    EXPECT_EQ(shot.pixel(3, 100) & 0xFFFFFF, TPreviewArea::FillColour);
    EXPECT_EQ(shot.pixel(385, 100) & 0xFFFFFF, TPreviewArea::FillColour);
    EXPECT_EQ(shot.pixel(9, 100) & 0xFFFFFF, 0x008000u);
    EXPECT_EQ(shot.pixel(379, 100) & 0xFFFFFF, 0x008000u);
}

TEST_F(TProgressWindowTest, ASnapshotWritesTheFilesTheSettingsAskFor) {
    const std::string snaps = dir.file("snaps");
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", snaps);
    IniFile(SettingsPath).WriteInteger("settings", "snapJpg", 0);
    Open();
    Click("btnSnapshot");
    EXPECT_TRUE(fs::exists(snaps + "/Snapshot_full.bmp"));
    EXPECT_TRUE(fs::exists(snaps + "/Snapshot_small.bmp"));
    EXPECT_FALSE(fs::exists(snaps + "/Snapshot_full.jpg"));
    EXPECT_FALSE(fs::exists(snaps + "/Snapshot_small.jpg"));
    EXPECT_EQ(QImage(QString::fromStdString(snaps + "/Snapshot_full.bmp")).size(), QSize(640, 360));
    EXPECT_EQ(QImage(QString::fromStdString(snaps + "/Snapshot_small.bmp")).size(), QSize(389, 210));

    IniFile(SettingsPath).WriteInteger("settings", "snapJpg", 1);
    IniFile(SettingsPath).WriteInteger("settings", "snapBmp", 0);
    IniFile(SettingsPath).WriteInteger("settings", "snapSmallSize", 0);
    Click("btnSnapshot");
    EXPECT_TRUE(fs::exists(snaps + "/Snapshot_full.jpg"));
    EXPECT_FALSE(fs::exists(snaps + "/Snapshot_small.jpg"));
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(TProgressWindowTest, ASnapshotThatCannotBeWrittenSaysWhyAndTheWindowGoesOn) {
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", "/proc");  // no files can be made there
    Open();
    Click("btnSnapshot");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    EXPECT_TRUE(boxes.Shown[0].Text.startsWith("Cannot write the snapshot /proc/Snapshot_full.bmp: "))
        << boxes.Shown[0].Text.toStdString();
    EXPECT_TRUE(progress->isVisible());
}

TEST_F(TProgressWindowTest, NoSnapshotBeforeTheFirstFrameAndAFolderThatCannotBeMadeFallsBack) {
    testsupport::WriteFile(dir.file("file"), "x");
    IniFile(SettingsPath).WriteString("settings", "SnapOutPutDir", dir.file("file") + "/snaps");
    Open(false);
    Click("btnSnapshot");
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_FALSE(fs::exists(home.Path() + "/reelshift/Snapshot_full.bmp"));

    GiveFrame(320, 240);
    Click("btnSnapshot");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Caption, "Warning");
    EXPECT_EQ(boxes.Shown[0].Text.toStdString(), "Cannot create output directory:" + dir.file("file") +
                                                     "/snaps.It will create default directory " + home.Path() +
                                                     "/reelshift!");
    EXPECT_EQ(IniFile(SettingsPath).ReadString("settings", "SnapOutPutDir", ""), home.Path() + "/reelshift");
    for (const char* name : {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg", "Snapshot_small.jpg"})
        EXPECT_TRUE(fs::exists(home.Path() + "/reelshift/" + name)) << name;
}

TEST_F(TProgressWindowTest, TheMessageIsBlueAndAClickOpensItsAddressWithTitleAndLatestVersion) {
    Window().SetAdList({{"First message", "https://example.com/one"}, {"No address", "mailto:someone"}});
    Window().SetLatestVersion("3.4");
    Open();
    auto* text = Child<QTextEdit>("mmoMessage");
    EXPECT_TRUE(text->toPlainText() == "First message" || text->toPlainText() == "No address");
    EXPECT_EQ(text->palette().color(QPalette::Text), QColor(0, 0, 255));

    progress->ShowMessage(0);
    EXPECT_EQ(text->toPlainText(), "First message");
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    ASSERT_EQ(urls.Opened.size(), 1u);
    const QUrl& url = urls.Opened[0];
    EXPECT_EQ(url.adjusted(QUrl::RemoveQuery).toString(), "https://example.com/one");
    EXPECT_EQ(url.query(QUrl::FullyDecoded), "Zanto MP4 to AVI Converter 3.4");

    progress->ShowMessage(1);
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    EXPECT_EQ(urls.Opened.size(), 1u);  // no web address: nothing opened

    Window().SetAdList({});
    progress->ShowMessage(0);
    EXPECT_EQ(text->toPlainText(), "");
    QTest::mouseClick(text->viewport(), Qt::LeftButton);
    EXPECT_EQ(urls.Opened.size(), 1u);
}

TEST_F(TProgressWindowTest, TheMainWindowStartsWithTheBuiltInMessages) {
    EXPECT_EQ(Window().AdList().size(), BuiltInAdInfos().size());
    EXPECT_EQ(Window().LatestVersion(), "");
}
