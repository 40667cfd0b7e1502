// The file information and About windows.
#include "app/WinFileInfo.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QUrl>

#include <atomic>

#include "app/GlobalUnit.h"
#include "app/WinAbout.h"
#include "engine/FFmpegLoader.h"
#include "platform/qt/Shell.h"
#include "tests/app/AppTestSupport.h"

using testsupport::MakeClip;
using testsupport::TempDir;

namespace {

QString Text(QWidget& window, const char* name) {
    if (auto* box = window.findChild<QLineEdit*>(name)) return box->text();
    if (auto* label = window.findChild<QLabel*>(name)) return label->text();
    ADD_FAILURE() << "no control " << name;
    return {};
}

struct TFileInfoTest : ::testing::Test, apptest::TUsesApp {
    TFileInfoTest() { EXPECT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError(); }
    TempDir dir;
    TfrmFileInfo window;
};

}  // namespace

TEST(FileInfoTexts, LongPathsAreCutToFortyCharactersAndTheExtension) {
    const std::string sixty = "/home/user/videos/holiday/" + std::string(30, 'a') + ".avi";
    ASSERT_EQ(sixty.size(), 60u);
    EXPECT_EQ(ShortFileName(sixty), sixty.substr(0, 40) + "...avi  ");
    const std::string short45 = "/v/" + std::string(38, 'b') + ".mp4";
    ASSERT_EQ(short45.size(), 45u);
    EXPECT_EQ(ShortFileName(short45), short45);
    // A dot in a folder name is not an extension; characters are counted, not bytes.
    EXPECT_EQ(ShortFileName("/v.d/" + std::string(50, 'c')), "/v.d/" + std::string(35, 'c') + "..  ");
    const std::string wide = "/ü/" + std::string(40, 'd') + ".mkv";  // 46 characters, 47 bytes
    EXPECT_EQ(ShortFileName(wide), "/ü/" + std::string(37, 'd') + "...mkv  ");
}

TEST(FileInfoTexts, DurationsFrameRatesAndTheAudioCodec) {
    EXPECT_EQ(FileDurationText(83045000), "83.045 Second");
    EXPECT_EQ(FileDurationText(-1), "0.000 Second");
    EXPECT_EQ(FrameRateText(25, 1), "25");
    EXPECT_EQ(FrameRateText(30000, 1001), "29.97");
    EXPECT_EQ(FrameRateText(25, 2), "12.5");
    EXPECT_EQ(TotalFrameText(2000000, 30000, 1001), "60");
    EXPECT_EQ(AudioFormatFromReport("Input #0, avi\n  Stream #0.1: Audio: aac, 44100 Hz, stereo\n"), "aac");
    EXPECT_EQ(AudioFormatFromReport("  Stream #0.0: Video: mpeg4, 320x240\n"), "");
    EXPECT_EQ(AudioFormatFromReport("  Stream #1, 1/44100: Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz\n"), "aac");
    EXPECT_EQ(AudioFormatFromReport("  Stream #1: Audio: pcm_s16le\n  Metadata: a, b"), "pcm_s16le");
}

TEST_F(TFileInfoTest, ShowsTheProbesFiguresOfAVideoWithSound) {
    // A name that looks like markup is shown as its characters.
    const std::string clip = dir.file("<b>x<b>.avi");
    MakeClip(clip, 2, {"-c:v", "mpeg4", "-b:v", "400k", "-c:a", "mp2", "-b:a", "128k"});
    window.LoadInfo(clip);
    EXPECT_EQ(Text(window, "lblFileName").toStdString(), ShortFileName(clip));
    ASSERT_TRUE(Text(window, "lblFileName").contains("<b>x<b>"));
    EXPECT_EQ(apptest::MarkupShown(window, "<b>x<b>"), QStringList{});
    const std::string seconds = testsupport::ProbeValue(clip, "format=duration");  // "2.011000"
    EXPECT_EQ(Text(window, "lblDuration").toStdString(), seconds.substr(0, seconds.find('.') + 4) + " Second");
    EXPECT_EQ(Text(window, "edtVideoFormat"), "avi");
    EXPECT_EQ(Text(window, "edtResolution"), "320x240");
    EXPECT_EQ(Text(window, "edtFrameRate"), "25");
    EXPECT_EQ(Text(window, "edtTotalFrame"), "50");
    EXPECT_GT(Text(window, "edtVideoBitRate").toInt(), 0);
    EXPECT_EQ(Text(window, "edtAudioFormat"), "mp2");
    EXPECT_EQ(Text(window, "edtSampleRate"), "44100");
    EXPECT_EQ(Text(window, "edtChannel"), "1");
    EXPECT_EQ(Text(window, "edtAudioBitRate"), "128000");
    EXPECT_EQ(window.windowTitle(), "File infomation");
    EXPECT_EQ(window.size(), QSize(420, 460));
}

TEST_F(TFileInfoTest, ANtscRateAndAFileWithoutSoundEmptyTheirBoxes) {
    const std::string withSound = dir.file("sound.avi");
    MakeClip(withSound, 1, {"-c:v", "mpeg4", "-c:a", "mp2"});
    window.LoadInfo(withSound);
    ASSERT_EQ(Text(window, "edtAudioFormat"), "mp2");

    const std::string ntsc = dir.file("ntsc.mp4");
    MakeClip(ntsc, 2, {"-an", "-r", "30000/1001", "-c:v", "mpeg4"});
    window.LoadInfo(ntsc);
    EXPECT_EQ(Text(window, "edtFrameRate"), "29.97");
    EXPECT_EQ(Text(window, "edtTotalFrame"), "60");
    EXPECT_EQ(Text(window, "edtVideoFormat"), "mov,mp4,m4a,3gp,3g2,mj2");
    for (const char* box : {"edtAudioFormat", "edtSampleRate", "edtChannel", "edtAudioBitRate"})
        EXPECT_EQ(Text(window, box), "") << box;
}

TEST_F(TFileInfoTest, AnAudioOnlyOrMissingFileKeepsTheBoxesOfTheLastOne) {
    const std::string clip = dir.file("clip.avi");
    MakeClip(clip, 1, {"-c:v", "mpeg4", "-c:a", "mp2"});
    const std::string sound = dir.file("sound.mp2");
    MakeClip(sound, 1, {"-vn", "-c:a", "mp2", "-ar", "22050"});
    window.LoadInfo(clip);
    const QString format = Text(window, "edtVideoFormat");
    for (const std::string& next : {sound, dir.file("gone.avi"), std::string()}) {
        window.LoadInfo(next);
        EXPECT_EQ(Text(window, "lblFileName"), "") << next;
        EXPECT_EQ(Text(window, "lblDuration"), "") << next;
        EXPECT_EQ(Text(window, "edtVideoFormat"), format) << next;
        EXPECT_EQ(Text(window, "edtResolution"), "320x240") << next;
        EXPECT_EQ(Text(window, "edtSampleRate"), "44100") << next;
    }
}

TEST_F(TFileInfoTest, OpeningDuringARunLeavesTheRunsTasksAlone) {
    const std::string clip = dir.file("clip.avi");
    MakeClip(clip, 2, {"-c:v", "mpeg4", "-c:a", "mp2"});
    TFFmpegVCL run;
    const int task = run.AddTask(clip);
    ASSERT_GE(task, 0) << run.LastError();
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.AudioDisable = true;
    o.CustomHook = true;
    std::atomic<bool> ended{false}, hooked{false};
    run.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo h) {
        hooked = true;
        h->Update = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // keeps the run going meanwhile
    };
    run.OnTerminate = [&](TCustomFFmpegVCL*, const TTerminateInfo& t) {
        if (t.TaskIndex == -1) ended = true;
    };
    ASSERT_TRUE(run.SetOutputFile(task, dir.file("out.avi"), &o)) << run.LastError();
    run.StartTask(1);
    WaitServing([&] { return hooked.load(); }, 5);

    window.show();
    window.LoadInfo(clip);
    EXPECT_EQ(window.FFmpegVCL().TaskCount(), 1);
    EXPECT_EQ(Text(window, "edtResolution"), "320x240");
    window.hide();  // closing frees the window's own task
    EXPECT_EQ(window.FFmpegVCL().TaskCount(), 0);

    EXPECT_EQ(run.TaskCount(), 1);
    EXPECT_TRUE(run.Working());
    WaitServing([&] { return ended.load(); }, 5);
    EXPECT_TRUE(run.Task(0)->Finished()) << run.Task(0)->ExceptionMsg();
    run.ClearTasks();
}

TEST(AboutWindow, ShowsTheTitleWithTheVersionAndOpensTheWebSite) {
    apptest::App();
    std::vector<QUrl> opened;
    shell::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    TGlobalObject global = EditionGlobalObject();
    global.SetVersionText(" 3.300 ");
    TfrmAbout about;
    about.LoadAbout(global);
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), QSize(360, 190));
    EXPECT_EQ(Text(about, "lblName").toStdString(), global.Title() + " 3.300 ");
    auto* link = about.findChild<QLabel*>("lblWebSite");
    ASSERT_NE(link, nullptr);
    EXPECT_NE(link->text().indexOf(QString::fromStdString(global.WebSiteAddress())), -1);
    emit link->linkActivated("#");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString().toStdString(), global.WebSiteAddress());
    shell::SetUrlOpener(nullptr);
}
