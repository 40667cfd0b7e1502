// The crop dialog on a 1920x1080 clip: the picture fitted into the preview, the band moved
// by the mouse and by the margin boxes, and the source margins "Ok" stores.
#include <QComboBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QKeyEvent>
#include <QSpinBox>
#include <QWheelEvent>

#include "edits/RectTracker.h"
#include "edits/WinCrop.h"
#include "tests/edits/DialogTestSupport.h"

using namespace dialogtest;

namespace {

class CropDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetUpDialogs();
        Dir = new testsupport::TempDir;
        testsupport::MakeClip(Dir->file("hd.mp4"), 2,
                              {"-s", "1920x1080", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    static QSpinBox* Spin(TfrmCrop& d, const char* name) { return Child<QSpinBox>(d, name); }
    static std::string Margins(TfrmCrop& d) {
        std::string s;
        for (const char* n : {"spedtUp", "spedtDown", "spedtLeft", "spedtRight"})
            s += std::to_string(Spin(d, n)->value()) + " ";
        return s;
    }
    static testsupport::TempDir* Dir;
};
testsupport::TempDir* CropDialog::Dir = nullptr;

// A left-button drag on the tracker from one of its own points by (dx, dy), in steps.
void Drag(QWidget* w, QPoint from, int dx, int dy) {
    auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    // The tracker moves under the mouse: each step is relative to where the press was made.
    const QPoint origin = w->mapToParent(from);
    for (int i = 1; i <= 4; ++i) {
        const QPoint at = w->mapFromParent(origin + QPoint(dx * i / 4, dy * i / 4));
        send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
    }
    send(QEvent::MouseButtonRelease, w->mapFromParent(origin + QPoint(dx, dy)), Qt::LeftButton, Qt::NoButton);
}

TEST_F(CropDialog, ATopMarginOfTenPreviewPixelsBecomesTheEvenSourceMargin) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("hd.mp4");
    job.ZoomMode = "cent";
    TfrmCrop d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    // The picture reaches the preview through the hook and the timer.
    ASSERT_TRUE(ServeUntil(
        [&] {
            const TFrameBitmap& p = d.Image()->Picture();
            if (p.Width() != 1920) return false;
            const std::uint8_t* px = p.Row(540) + 3 * 960;
            return px[0] + px[1] + px[2] > 30;
        },
        5));
    d.btnPauseClick();
    // 1920x1080 in the 370x253 box at (8, 8): the full width, 22 pixels off top and bottom,
    // one pixel less on each side.
    EXPECT_EQ(d.Selection().Area(), (TCropRect{9, 31, 368, 207}));
    EXPECT_EQ(d.Tracker()->geometry(), QRect(9, 31, 368, 207));
    EXPECT_TRUE(Child<QComboBox>(d, "cmbZoom")->isHidden());

    Spin(d, "spedtUp")->setValue(10);
    EXPECT_EQ(d.Tracker()->geometry(), QRect(9, 41, 368, 197));
    Spin(d, "spedtLeft")->setValue(3);
    Child<QPushButton>(d, "btnOk")->click();
    EXPECT_TRUE(d.Written());
    EXPECT_EQ(job.CropEditTop, 10);
    EXPECT_EQ(job.CropEditLeft, 3);
    EXPECT_EQ(job.CropMarginTop, 52);   // 10 x 1080 / 207 = 52.2
    EXPECT_EQ(job.CropMarginLeft, 16);  // 3 x 1920 / 368 = 15.7
    EXPECT_EQ(job.CropMarginBottom, 0);
    EXPECT_EQ(job.CropMarginRight, 0);
    EXPECT_EQ(job.ZoomMode, "cent");  // a mode the hidden list cannot show is kept
}

TEST_F(CropDialog, TheBandNeverShrinksBelowTenPixelsAndDefaultPutsItBackOnThePicture) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("hd.mp4");
    job.ZoomMode = "bogus";
    job.CropEditTop = 20;
    job.CropEditRight = 30;
    TfrmCrop d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.btnPauseClick();
    // The job's preview margins place the band.
    EXPECT_EQ(Margins(d), "20 0 0 30 ");
    EXPECT_EQ(d.Tracker()->geometry(), QRect(9, 51, 338, 187));
    TRectTracker* t = d.Tracker();

    // The top edge dragged down by 10.
    Drag(t, QPoint((t->width() + 1) / 2 - 1, 2), 0, 10);
    EXPECT_EQ(Margins(d), "30 0 0 30 ");
    // The bottom edge dragged far past the top stops at 10 pixels.
    Drag(t, QPoint((t->width() + 1) / 2 - 1, t->height() - 2), 0, -400);
    EXPECT_EQ(t->height(), 10);
    const int down = Spin(d, "spedtDown")->value();
    EXPECT_EQ(down, 207 - 30 - 10);
    // Neither box can shrink it further.
    Spin(d, "spedtDown")->stepUp();
    Spin(d, "spedtUp")->stepUp();
    EXPECT_EQ(t->height(), 10);
    EXPECT_EQ(Spin(d, "spedtDown")->value(), down);
    EXPECT_EQ(Spin(d, "spedtUp")->value(), 30);
    // The right edge dragged far left stops at 10 as well.
    Drag(t, QPoint(t->width() - 2, t->height() / 2), -500, 0);
    EXPECT_EQ(t->width(), 10);
    Spin(d, "spedtLeft")->stepUp();
    EXPECT_EQ(t->width(), 10);
    // Moved past the picture's top-left corner it stays on the picture.
    Drag(t, QPoint(5, 5), -300, -300);
    EXPECT_GE(t->y(), 31);
    EXPECT_GE(t->x(), 9);

    Child<QPushButton>(d, "btnDefault")->click();
    EXPECT_EQ(Margins(d), "0 0 0 0 ");
    EXPECT_EQ(t->geometry(), QRect(9, 31, 368, 207));
    // Page keys and the wheel take many pixels at once; they stop at the minimum too.
    Spin(d, "spedtDown")->setValue(207 - 15);
    QKeyEvent pageUp(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
    QCoreApplication::sendEvent(Spin(d, "spedtUp"), &pageUp);
    EXPECT_EQ(Spin(d, "spedtUp")->value(), 5);
    EXPECT_EQ(t->height(), 10);
    Spin(d, "spedtRight")->setValue(368 - 13);
    QWheelEvent wheel(QPointF(5, 5), QPointF(Spin(d, "spedtLeft")->mapToGlobal(QPoint(5, 5))), QPoint(),
                      QPoint(0, 5 * 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Spin(d, "spedtLeft"), &wheel);
    EXPECT_EQ(Spin(d, "spedtLeft")->value(), 3);
    EXPECT_EQ(t->width(), 10);
    Spin(d, "spedtDown")->setValue(8);
    Child<QPushButton>(d, "btnReset")->click();
    EXPECT_EQ(Margins(d), "0 0 0 0 ");
    Child<QPushButton>(d, "btnOk")->click();
    EXPECT_EQ(job.CropEditTop, 0);
    EXPECT_EQ(job.CropMarginBottom, 0);
    EXPECT_EQ(job.ZoomMode, "full");  // an unknown mode becomes full screen
}

// A phone clip filmed upright (320x180 coded, turned 90 degrees): the dialog shows it upright,
// and the band drawn there crops the same part of the upright picture in the output.
TEST_F(CropDialog, ABandOnAnUprightPhoneClipCropsThatPartOfTheOutput) {
    const std::string clip = Dir->file("phone.mp4");
    testsupport::MakeClip(clip, 1,
                          {"-vf", "scale=320:180,setsar=1,drawbox=x=0:y=0:w=64:h=48:color=red:t=fill", "-c:v",
                           "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    testsupport::SetMp4Rotation(clip, 90);
    TlvFilesRecord job;
    job.SourceFile = clip;
    job.ZoomMode = "full";
    TfrmCrop d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    ASSERT_TRUE(ServeUntil([&] { return d.Image()->Picture().Width() == 180; }, 5));
    d.btnPauseClick();
    EXPECT_EQ(d.Image()->Picture().Height(), 320);
    // The right half and the top third: the red corner of the upright picture.
    Spin(d, "spedtLeft")->setValue(d.Selection().Area().Width / 2);
    Spin(d, "spedtDown")->setValue(d.Selection().Area().Height * 2 / 3);
    Child<QPushButton>(d, "btnOk")->click();
    ASSERT_TRUE(d.Written());
    EXPECT_GT(job.CropMarginLeft, 80);
    EXPECT_GT(job.CropMarginBottom, 60);

    const std::string crop = std::to_string(job.CropMarginLeft) + "," + std::to_string(job.CropMarginTop) + "," +
                             std::to_string(job.CropMarginRight) + "," + std::to_string(job.CropMarginBottom);
    testsupport::WriteFile(Dir->file("s.ini"), "[formatInfo0]\nparaFrameRate=as source\n");
    auto cli = testsupport::Run({testsupport::BinDir() + "/reelshift-cli", "--format", "0", "--settings",
                                 Dir->file("s.ini"), "--output-dir", Dir->file("out"), "--zoom", "full", "--crop", crop,
                                 clip});
    ASSERT_EQ(cli.exitCode, 0) << cli.err;
    // The ffmpeg program turns the clip upright itself: the same crop of its picture, stretched
    // to the frame, is what the output must show.
    const int keptW = 180 - job.CropMarginLeft - job.CropMarginRight, keptH = 320 - job.CropMarginTop - job.CropMarginBottom;
    auto psnr = testsupport::Run(
        {"ffmpeg", "-nostdin", "-v", "info", "-i", Dir->file("out") + "/phone_(new).avi", "-i", clip, "-filter_complex",
         "[1:v]crop=" + std::to_string(keptW) + ":" + std::to_string(keptH) + ":" + std::to_string(job.CropMarginLeft) +
             ":" + std::to_string(job.CropMarginTop) + ",scale=640:480,format=yuv420p[ref];[0:v]format=yuv420p[ours];"
             "[ours][ref]psnr",
         "-frames:v", "1", "-f", "null", "-"});
    const auto at = psnr.err.find("average:");
    ASSERT_NE(at, std::string::npos) << psnr.err;
    EXPECT_GT(std::stod(psnr.err.substr(at + 8)), 28.0) << psnr.err.substr(at);
}

TEST_F(CropDialog, CancelWritesNothing) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("hd.mp4");
    const TlvFilesRecord before = job;
    TfrmCrop d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.btnPauseClick();
    Spin(d, "spedtUp")->setValue(40);
    Child<QPushButton>(d, "btnCancel")->click();
    EXPECT_FALSE(d.Written());
    EXPECT_EQ(job, before);
}

}  // namespace

namespace {

TEST_F(CropDialog, ASourceWithoutPicturesCannotBeCroppedAndStoresNoMargins) {
    const std::string tone = Dir->file("tone.m4a");
    testsupport::MakeClip(tone, 1, {"-map", "1:a", "-c:a", "aac"});
    TlvFilesRecord job;
    job.SourceFile = tone;
    job.CropEditTop = 12;
    job.CropMarginTop = 60;
    TfrmCrop d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    EXPECT_TRUE(d.Tracker()->isHidden());
    EXPECT_FALSE(Spin(d, "spedtUp")->isEnabled());
    EXPECT_EQ(Margins(d), "0 0 0 0 ");
    Child<QPushButton>(d, "btnOk")->click();
    EXPECT_EQ(job.CropEditTop, 0);
    EXPECT_EQ(job.CropMarginTop, 0);
}

}  // namespace
