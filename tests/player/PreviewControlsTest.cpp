#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <QToolButton>
#include <QUrl>

#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "platform/qt/Shell.h"
#include "player/ui/PreviewControls.h"
#include "player/ui/PreviewPanel.h"
#include "tests/player/PlayerTestSupport.h"

namespace fs = std::filesystem;
using namespace playertest;

namespace {

QApplication* App() {
    static int argc = 1;
    static char name[] = "test_player";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

void Events() { QCoreApplication::processEvents(); }

class PreviewControlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetUpPlayerLibraries();
        App();
    }
    void SetUp() override {
        Settings = Dir.file("settings.ini");
        shell::SetUrlOpener([this](const QUrl& url) {
            Opened.push_back(url.toLocalFile().toStdString());
            return true;
        });
    }
    void TearDown() override { shell::SetUrlOpener({}); }

    std::unique_ptr<TPreviewControls> Make() {
        auto c = std::make_unique<TPreviewControls>(Settings);
        c->SetLogList(&Log);
        c->WarningBox = [this](const QString& caption, const QString& text) {
            Warnings.push_back((caption + "|" + text).toStdString());
        };
        c->show();
        Events();
        return c;
    }
    template <class T>
    static T* Child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // play, pause, stop, capture image
    static std::string Buttons(QWidget& w) {
        std::string s;
        for (const char* n : {"imgbtnPlay", "imgbtnPAuse", "imgbtnStop", "imgbtnSnap"})
            s += Child<QToolButton>(w, n)->isEnabled() ? '1' : '0';
        return s;
    }
    static bool PlayUntil(TPreviewControls& c, const std::function<bool()>& done, double timeout) {
        return ServeUntil(done, timeout, Events);
    }
    std::vector<std::string> Files(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir Dir;
    std::string Settings;
    QPlainTextEdit Log;
    std::vector<std::string> Opened;
    std::vector<std::string> Warnings;
};

}  // namespace

TEST_F(PreviewControlsTest, VolumeAndMuteComeFromTheSettingsAndGoBackThere) {
    {
        auto c = Make();
        EXPECT_EQ(Child<QSlider>(*c, "trcVolume")->value(), 0) << "absent volume";
        EXPECT_EQ(c->Player().AudioVolume(), 0);
        EXPECT_FALSE(Child<QCheckBox>(*c, "ckMute")->isChecked());
        EXPECT_EQ(Buttons(*c), "1000");
        EXPECT_FALSE(Child<QSlider>(*c, "trcPreview")->isEnabled());
    }
    IniFile(Settings).WriteInteger("settings", "volume", 200);
    IniFile(Settings).WriteInteger("settings", "mute", 1);
    auto c = Make();
    auto* volume = Child<QSlider>(*c, "trcVolume");
    EXPECT_EQ(volume->value(), 64);
    EXPECT_EQ(c->Player().AudioVolume(), 64);
    EXPECT_TRUE(Child<QCheckBox>(*c, "ckMute")->isChecked());
    EXPECT_TRUE(c->Player().Mute());

    volume->setValue(100);
    EXPECT_EQ(c->Player().AudioVolume(), 100);
    EXPECT_EQ(IniFile(Settings).ReadInteger("settings", "volume", -1), 200) << "written on release only";
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(volume, &release);
    EXPECT_EQ(IniFile(Settings).ReadInteger("settings", "volume", -1), 100);

    Child<QCheckBox>(*c, "ckMute")->click();
    EXPECT_FALSE(c->Player().Mute());
    EXPECT_EQ(IniFile(Settings).ReadInteger("settings", "mute", -1), 0);
}

TEST_F(PreviewControlsTest, PlayPauseStopAndSnapshotsFollowTheButtonTable) {
    auto c = Make();
    std::string source;
    int adds = 0;
    c->SelectedSource = [&] { return source; };
    c->RequestAdd = [&] {
        ++adds;
        source = Clip("clip.mp4");  // the user picked a file
        return true;
    };
    // An empty list runs Add and plays what it added.
    c->imgbtnPlayClick();
    EXPECT_EQ(adds, 1);
    EXPECT_EQ(Buttons(*c), "0111");
    EXPECT_TRUE(Child<QSlider>(*c, "trcPreview")->isEnabled());
    EXPECT_TRUE(Log.toPlainText().contains("duration: 3.000000, frame size: 320x240"));
    EXPECT_EQ(Child<QLabel>(*c, "lblPTS")->text(), "0:00:03");
    auto* panel = Child<TPreviewPanel>(*c, "pan1");
    ASSERT_TRUE(PlayUntil(*c, [&] { return c->Player().CurrentPosition() > 300000 && panel->HasPicture(); }, 5));
    EXPECT_TRUE(Child<QLabel>(*c, "lblTime")->text().startsWith("00:00:00."));

    c->imgbtnPAuseClick();
    EXPECT_EQ(Buttons(*c), "1011");
    EXPECT_TRUE(c->Player().Paused());
    c->imgbtnPAuseClick();  // twice: nothing changes
    EXPECT_EQ(Buttons(*c), "1011");
    EXPECT_TRUE(c->Player().Paused());
    EXPECT_TRUE(c->IsPaused());

    // Snapshots while paused: BMP only, both sizes.
    const std::string snaps = Dir.file("snaps");
    IniFile ini(Settings);
    ini.WriteString("settings", "SnapOutPutDir", snaps);
    ini.WriteInteger("settings", "snapJpg", 0);
    c->imgbtnSnapClick();
    ASSERT_TRUE(fs::is_directory(snaps));
    EXPECT_EQ(Files(snaps), (std::vector<std::string>{"Snapshot_full.bmp", "Snapshot_small.bmp"}));
    const QImage full(QString::fromStdString(snaps + "/Snapshot_full.bmp"));
    const QImage small(QString::fromStdString(snaps + "/Snapshot_small.bmp"));
    EXPECT_EQ(full.size(), QSize(320, 240));
    EXPECT_EQ(small.size(), QSize(243, 171));
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(fs::path(Opened[0]).lexically_normal(), fs::path(snaps + "/").lexically_normal());

    // All four switches off: nothing written, the folder still opened.
    fs::remove_all(snaps);
    fs::create_directory(snaps);
    for (const char* key : {"snapFullSize", "snapSmallSize", "snapBmp", "snapJpg"}) ini.WriteInteger("settings", key, 0);
    c->imgbtnSnapClick();
    EXPECT_TRUE(Files(snaps).empty());
    EXPECT_EQ(Opened.size(), 2u);

    // JPEG only, small only, at the stored quality; a folder that cannot be made falls back.
    ini.WriteInteger("settings", "snapJpg", 1);
    ini.WriteInteger("settings", "snapSmallSize", 1);
    ini.WriteString("settings", "SnapOutPutDir", "/proc/no-such-place/snaps");
    const std::string home = Dir.file("home");
    fs::create_directory(home);
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    c->imgbtnSnapClick();
    setenv("HOME", oldHome.c_str(), 1);
    const std::string fallback = home + "/reelshift";
    ASSERT_EQ(Warnings.size(), 1u);
    EXPECT_EQ(Warnings[0], "Warning|Cannot create output directory:/proc/no-such-place/snaps.It will create default "
                           "directory " + fallback + "!");
    EXPECT_EQ(ini.ReadString("settings", "SnapOutPutDir", ""), fallback);
    EXPECT_EQ(Files(fallback), (std::vector<std::string>{"Snapshot_small.jpg"}));

    // Play resumes.
    c->imgbtnPlayClick();
    EXPECT_EQ(Buttons(*c), "0111");
    EXPECT_FALSE(c->Player().Paused());

    c->imgbtnStopClick();
    EXPECT_EQ(Buttons(*c), "1000");
    EXPECT_FALSE(c->Player().Playing());
    EXPECT_EQ(Child<QLabel>(*c, "lblTime")->text(), "00:00:00");
    EXPECT_EQ(Child<QLabel>(*c, "lblPTS")->text(), "00:00:00");
    EXPECT_FALSE(Child<QSlider>(*c, "trcPreview")->isEnabled());
    c->imgbtnStopClick();  // twice: nothing changes
    EXPECT_EQ(Buttons(*c), "1000");
    ServeFor(0.05, Events);
    EXPECT_FALSE(panel->HasPicture());
    // No picture: a snapshot does nothing at all.
    c->imgbtnSnapClick();
    EXPECT_EQ(Opened.size(), 3u);
}

TEST_F(PreviewControlsTest, TheEndRewindsAndAFileThatCannotPlayLeavesTheButtons) {
    auto c = Make();
    testsupport::WriteFile(Dir.file("empty.mp4"), "");
    std::string source = Dir.file("empty.mp4");
    c->SelectedSource = [&] { return source; };
    c->imgbtnPlayClick();
    EXPECT_EQ(Buttons(*c), "1000");
    EXPECT_TRUE(Log.toPlainText().contains(QString::fromStdString(c->Player().LastError())));
    EXPECT_FALSE(c->Player().LastError().empty());

    source = Clip("tone.m4a");
    c->imgbtnPlayClick();
    EXPECT_EQ(Buttons(*c), "0111");
    // At the end: back at the start, paused, controls as when stopped.
    ASSERT_TRUE(PlayUntil(*c, [&] { return c->IsStopped(); }, 5));
    EXPECT_EQ(Buttons(*c), "1000");
    EXPECT_TRUE(c->Player().Paused());
    ServeFor(0.1, Events);
    EXPECT_LT(c->Player().CurrentPosition(), 100000);
    EXPECT_EQ(Child<QLabel>(*c, "lblTime")->text(), "00:00:00");
    // Play after the end opens the file again.
    c->imgbtnPlayClick();
    EXPECT_EQ(Buttons(*c), "0111");
    EXPECT_FALSE(c->Player().Paused());
    c->StopPreview();
    EXPECT_FALSE(c->Player().Playing());
}

TEST_F(PreviewControlsTest, ASnapshotAfterASeekWhilePausedSavesThePictureTheSeekLandedOn) {
    auto c = Make();
    const std::string source = Clip("flash.mp4");  // black, white at whole seconds
    c->SelectedSource = [&] { return source; };
    c->imgbtnPlayClick();
    ASSERT_TRUE(PlayUntil(*c, [&] { return c->Player().CurrentPosition() > 300000; }, 5));
    c->imgbtnPAuseClick();
    PlayUntil(*c, [] { return false; }, 0.3);
    const std::string snaps = Dir.file("snaps");
    IniFile ini(Settings);
    ini.WriteString("settings", "SnapOutPutDir", snaps);
    ini.WriteInteger("settings", "snapJpg", 0);
    // What the seek bar's release does, paused: the white picture at 1 s is shown and saved.
    c->Player().Seek(0, false, 1000000);
    ASSERT_TRUE(PlayUntil(*c, [&] { return c->Player().CurrentPosition() == 1000000; }, 3));
    c->imgbtnSnapClick();
    const QImage full(QString::fromStdString(snaps + "/Snapshot_full.bmp"));
    ASSERT_EQ(full.size(), QSize(160, 120));
    EXPECT_GT(qGray(full.pixel(80, 60)), 200) << "the picture at 1 s, not the black one before the seek";
    c->StopPreview();
}

// Phone and camera clips play as they are meant to be seen, and their snapshots are saved so:
// a turned clip upright (its red corner where the upright picture has it), HDR tone-mapped
// (grey as ffmpeg's own tone-map makes it), interlaced fields woven into one picture without
// combs, a 16:9 anamorphic clip with its marker where it was. With the Preferences' picture
// switches off the preview shows what a conversion then gives: the picture as coded.
TEST_F(PreviewControlsTest, SnapshotsOfPhoneAndCameraClipsShowThePictureAsItIsMeant) {
    auto make = [&](const std::string& name, const std::string& filters, std::vector<std::string> codec) {
        const std::string file = Dir.file(name);
        std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", filters, "-t", "1"};
        args.insert(args.end(), codec.begin(), codec.end());
        args.push_back(file);
        auto r = testsupport::Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return file;
    };
    const std::string marked = "color=gray:s=320x180:r=25,drawbox=x=0:y=0:w=64:h=48:color=red:t=fill";
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "ultrafast"};
    struct Case {
        std::string File;
        int Corner;  // of the red marker in the upright picture: 0 top left .. 3 bottom right
        int Width, Height;
        bool Hdr = false, Interlaced = false;
        bool Off = false;  // the three picture switches turned off
    };
    std::vector<Case> cases;
    for (int turn : {90, 180, 270}) {
        const std::string file = make("turned" + std::to_string(turn) + ".mp4", marked, h264);
        testsupport::SetMp4Rotation(file, turn);
        cases.push_back({file, turn == 90 ? 1 : turn == 180 ? 3 : 2, turn == 180 ? 320 : 180, turn == 180 ? 180 : 320});
    }
    cases.push_back({cases[0].File, 0, 320, 180, false, false, true});
    for (const auto& [name, transfer] : {std::pair{"pq.mp4", "smpte2084"}, {"hlg.mp4", "arib-std-b67"}}) {
        const std::string hdr = marked + ",format=yuv420p,setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709,"
                                         "zscale=t=linear:npl=100,format=gbrpf32le,zscale=t=" + std::string(transfer) +
                                ":p=2020:m=2020_ncl:r=limited:npl=100,format=yuv420p10le";
        cases.push_back({make(name, hdr,
                              {"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error",
                               "-color_primaries", "bt2020", "-color_trc", transfer, "-colorspace", "bt2020nc"}),
                         0, 320, 180, true});
    }
    cases.push_back({cases.back().File, -1, 320, 180, true, false, true});
    cases.push_back({make("interlaced.ts",
                          "color=black:s=720x576:r=50[b];color=white:s=48x576:r=50[w];[b][w]overlay=x='mod(n*96\\,672)':"
                          "y=0:shortest=1,tinterlace=mode=interleave_top,setfield=tff",
                          {"-c:v", "mpeg2video", "-b:v", "6M", "-flags", "+ilme+ildct", "-top", "1"}),
                     -1, 720, 576, false, true});
    cases.push_back({cases.back().File, -1, 720, 576, false, true, true});
    cases.push_back({make("anamorphic.mp4",
                          "color=gray:s=720x576:r=25,drawbox=x=0:y=0:w=96:h=96:color=red:t=fill,setsar=64/45", h264),
                     0, 720, 576});

    auto c = Make();
    std::string source;
    c->SelectedSource = [&] { return source; };
    const std::string snaps = Dir.file("looks");
    IniFile ini(Settings);
    ini.WriteString("settings", "SnapOutPutDir", snaps);
    ini.WriteInteger("settings", "snapJpg", 0);
    ini.WriteInteger("settings", "snapSmallSize", 0);
    auto* panel = Child<TPreviewPanel>(*c, "pan1");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.File + (k.Off ? " (switches off)" : ""));
        for (const char* key : {"autoRotate", "autoDeinterlace", "autoToneMap"}) ini.WriteInteger("settings", key, !k.Off);
        source = k.File;
        c->imgbtnPlayClick();
        ASSERT_TRUE(PlayUntil(*c, [&] { return c->Player().CurrentPosition() > 200000 && panel->HasPicture(); }, 5));
        c->imgbtnPAuseClick();
        c->imgbtnSnapClick();
        const QImage snap(QString::fromStdString(snaps + "/Snapshot_full.bmp"));
        c->imgbtnStopClick();
        if (k.Hdr) {
            // Tone-mapped at the panel's size at most: the costly steps see no more pixels.
            ASSERT_LE(snap.width(), k.Width);
            ASSERT_GT(snap.width(), 0);
            EXPECT_NEAR(double(snap.width()) / snap.height(), double(k.Width) / k.Height, 0.05);
        } else {
            ASSERT_EQ(snap.size(), QSize(k.Width, k.Height));
        }
        auto luma = [&](int x, int y) { return qGray(snap.pixel(x, y)); };
        if (k.Corner >= 0) {
            long long sx = 0, sy = 0, n = 0;
            for (int y = 0; y < snap.height(); ++y)
                for (int x = 0; x < snap.width(); ++x) {
                    const QRgb p = snap.pixel(x, y);
                    if (qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100) sx += x, sy += y, ++n;
                }
            ASSERT_GT(n, 100);
            EXPECT_EQ((sy / n >= snap.height() / 2 ? 2 : 0) + (sx / n >= snap.width() / 2 ? 1 : 0), k.Corner);
        }
        if (k.Hdr && k.Off) {
            // Not tone-mapped: the red corner shows as the washed-out brown of PQ code values.
            EXPECT_GT(qGreen(snap.pixel(snap.width() * 20 / 320, snap.height() * 20 / 180)), 40);
        } else if (k.Hdr) {
            // ffmpeg's own tone-map of the same picture gives the grey its brightness.
            auto ref = testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", k.File, "-frames:v", "1", "-vf",
                                         "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                                         "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=gray",
                                         "-f", "rawvideo", "-"});
            ASSERT_EQ(ref.out.size(), 320u * 180u);
            const int expected = static_cast<unsigned char>(ref.out[90 * 320 + 200]);
            EXPECT_NEAR(luma(snap.width() * 200 / 320, snap.height() / 2), expected, expected / 10 + 2);
        }
        if (k.Interlaced) {
            // Woven fields put the bar at two places on neighbouring rows.
            int combed = 0;
            for (int x = 0; x < snap.width(); ++x)
                combed += std::abs(luma(x, 288) - luma(x, 289)) > 100;
            if (k.Off)
                EXPECT_GT(combed, 40);
            else
                EXPECT_LT(combed, 8);
        }
    }
}
