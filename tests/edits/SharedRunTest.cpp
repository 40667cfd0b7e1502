// The terminal converter and the window's run share one way from a job record to the engine:
// a job made by hand as the dialogs store it, converted through the component with the
// shared options and hook, gives the very file that reelshift-cli writes for the same edits.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "edits/FrameEdits.h"
#include "edits/JobEdits.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegVCL.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "player/AVProbe.h"
#include "edits/WinWaterMark.h"
#include "tests/edits/DialogTestSupport.h"
#include "tests/edits/EditsTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
using dialogtest::Child;

namespace {

// The job converted as the window's run converts it: the shared options, and the shared hook
// unless hooked is false (then no hook at all).
void ConvertAsTheRun(const TlvFilesRecord& job, const std::string& settingsFile, const std::string& output,
                     bool hooked = true) {
    TFFmpegVCL vcl;
    TAVProbe& probe = vcl.Probe();
    ASSERT_TRUE(probe.LoadFile(job.SourceFile)) << probe.LastError();
    TSourceSummary source;
    source.VideoStreamCount = probe.VideoStreamCount();
    source.Width = probe.VideoStreamInfo(-1).Width;
    source.Height = probe.VideoStreamInfo(-1).Height;
    source.BitRate = std::max(0, probe.VideoStreamInfo(-1).BitRate);
    probe.CloseFile();
    const IniFile formats(BinDir() + "/zantomp4aviformat.ini"), settings(settingsFile);
    TDefaultSizeAnswer answer;
    TInputOptions in;
    TOutputOptions out;
    MakeJobOptions(job, 0, formats, settings, source, answer, in, out);
    out.FileName = output;
    TRunFrameEdits edits;
    if (hooked)
        vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo info) { edits.Hook(*info, job); };
    else
        out.CustomHook = false;
    const int task = vcl.AddTask(job.SourceFile, &in);
    ASSERT_GE(task, 0) << vcl.LastError();
    ASSERT_TRUE(vcl.SetOutputFile(task, output, &out)) << vcl.LastError();
    vcl.StartTask(0);
}

}  // namespace

TEST(SharedRun, TheTerminalsEditsGiveTheFileOfTheSameJobMadeAsTheDialogsStoreIt) {
    EnsureApplication();
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    TempDir dir;
    const std::string clip = dir.file("clip.mp4");
    MakeClip(clip, 2, {"-c:v", "libx264", "-preset", "ultrafast", "-an"});
    QImage logo(30, 20, QImage::Format_RGB32);
    logo.fill(QColor(250, 200, 40));
    ASSERT_TRUE(logo.save(QString::fromStdString(dir.file("logo.bmp")), "BMP"));
    WriteFile(dir.file("settings.ini"), "[formatInfo0]\nparaVideoSize=as source\nparaFrameRate=as source\nparaAudioEncoder=\n");

    auto cli = testsupport::Run({BinDir() + "/reelshift-cli", "--format", "0", "--settings", dir.file("settings.ini"), "--output-dir",
                    dir.file("cli"), "--trim", "0.5,1.5", "--crop", "20,10,20,10", "--zoom", "full", "--text", "Hi",
                    "--text-at", "10%,20%", "--font", "DejaVu Sans,14,#00FFFF,italic", "--image", dir.file("logo.bmp"),
                    "--image-at", "25%,50%", "--image-opacity", "200", "--image-style", "2", "--brightness", "300",
                    "--contrast", "30", "--saturation", "100", "--exposure", "-20", clip});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;

    // What the trim, crop and watermark dialogs store for the same choices on a 320 x 240 clip.
    TlvFilesRecord job;
    job.SourceFile = clip;
    job.TrimStart = 500000;
    job.TrimLength = 1000000;
    job.ZoomMode = "full";
    job.CropMarginLeft = job.CropMarginRight = 20;
    job.CropMarginTop = job.CropMarginBottom = 10;
    job.WatermarkText = "Hi";
    job.WatermarkFont = {"DejaVu Sans", 14, 0x00FFFF, false, true, false, false};
    job.TextSliderX = 10, job.TextSliderY = 20, job.TextLeft = 32, job.TextTop = 48;
    job.WatermarkImage = dir.file("logo.bmp");
    job.ImageSliderX = 25, job.ImageSliderY = 50, job.ImageLeft = 80, job.ImageTop = 120;
    job.ImageAlpha = 200, job.TransparentStyle = 2;
    job.Brightness = 300, job.Contrast = 30, job.Saturation = 100, job.Exposure = -20;

    const std::string output = dir.file("run.avi");
    ConvertAsTheRun(job, dir.file("settings.ini"), output);
    const std::string fromCli = ReadFile(dir.file("cli") + "/clip_(new).avi");
    ASSERT_GT(fromCli.size(), 10000u);
    EXPECT_TRUE(ReadFile(output) == fromCli);
}

TEST(SharedRun, TheJobTheWatermarkDialogWritesGivesTheFileOfTheTerminalsSameEdits) {
    dialogtest::SetUpDialogs();
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    TempDir dir;
    const std::string clip = dir.file("clip.mp4");
    MakeClip(clip, 2, {"-c:v", "libx264", "-preset", "ultrafast", "-an"});
    QImage logo(30, 20, QImage::Format_RGB32);
    logo.fill(QColor(40, 200, 250));
    ASSERT_TRUE(logo.save(QString::fromStdString(dir.file("logo.bmp")), "BMP"));
    WriteFile(dir.file("settings.ini"), "[formatInfo0]\nparaVideoSize=as source\nparaFrameRate=as source\nparaAudioEncoder=\n");

    // The choices made in the dialog, as a person makes them.
    TlvFilesRecord job;
    job.SourceFile = clip;
    {
        TfrmWaterMark d;
        QString error;
        ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
        Child<QLineEdit>(d, "edtFont")->setText("RS");
        Child<QSlider>(d, "trcTextHoriz")->setValue(10);
        Child<QSlider>(d, "trcTextVert")->setValue(20);
        Child<QLineEdit>(d, "edtAddImage")->setText(QString::fromStdString(dir.file("logo.bmp")));
        Child<QSlider>(d, "trcImageHoriz")->setValue(25);
        Child<QSlider>(d, "trcImageVert")->setValue(50);
        Child<QSlider>(d, "trcImageAlpha")->setValue(200);
        Child<QRadioButton>(d, "rbStyle2")->setChecked(true);
        Child<QSpinBox>(d, "spedtBrightness")->setValue(300);
        Child<QSpinBox>(d, "spedtContrast")->setValue(30);
        Child<QSpinBox>(d, "spedtSaturation")->setValue(100);
        Child<QSpinBox>(d, "spedtExposure")->setValue(-20);
        ASSERT_TRUE(dialogtest::ServeUntil([&] { return !d.Player().CurrentFrame().Empty(); }, 5));
        Child<QPushButton>(d, "btnOk")->click();
        ASSERT_TRUE(d.Written());
    }

    // A new text starts in the dialog's first font and size; the terminal is told the same.
    const std::string font = job.WatermarkFont.Name + "," + std::to_string(job.WatermarkFont.Size) + ",#000000";
    auto cli = testsupport::Run({BinDir() + "/reelshift-cli", "--format", "0", "--settings", dir.file("settings.ini"),
                                 "--output-dir", dir.file("cli"), "--text", "RS", "--text-at", "10%,20%", "--font",
                                 font, "--image",
                                 dir.file("logo.bmp"), "--image-at", "25%,50%", "--image-opacity", "200",
                                 "--image-style", "2", "--brightness", "300", "--contrast", "30", "--saturation",
                                 "100", "--exposure", "-20", clip});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    const std::string output = dir.file("run.avi");
    ConvertAsTheRun(job, dir.file("settings.ini"), output);
    const std::string fromCli = ReadFile(dir.file("cli") + "/clip_(new).avi");
    ASSERT_GT(fromCli.size(), 10000u);
    EXPECT_TRUE(ReadFile(output) == fromCli);
}

TEST(SharedRun, TheTerminalWithoutEditsGivesTheFileOfAConversionWithoutHook) {
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    TempDir dir;
    const std::string clip = dir.file("clip.mp4");
    MakeClip(clip, 1, {"-c:v", "libx264", "-preset", "ultrafast", "-an"});
    WriteFile(dir.file("settings.ini"), "[formatInfo0]\nparaAudioEncoder=\n");
    auto cli = testsupport::Run({BinDir() + "/reelshift-cli", "--format", "0", "--settings", dir.file("settings.ini"),
                                 "--output-dir", dir.file("cli"), clip});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    TlvFilesRecord job;
    job.SourceFile = clip;
    ConvertAsTheRun(job, dir.file("settings.ini"), dir.file("bare.avi"), false);
    const std::string fromCli = ReadFile(dir.file("cli") + "/clip_(new).avi");
    ASSERT_GT(fromCli.size(), 10000u);
    EXPECT_TRUE(ReadFile(dir.file("bare.avi")) == fromCli);
}
