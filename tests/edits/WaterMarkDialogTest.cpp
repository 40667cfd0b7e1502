// The effects and watermark dialog on a flat grey clip: what "&Ok" writes, what "&Cancel"
// leaves, and the preview showing the edits as they are set.
#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include "edits/WinWaterMark.h"
#include "player/ui/PreviewPanel.h"
#include "tests/edits/DialogTestSupport.h"

using namespace dialogtest;

namespace {

class WaterMarkDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetUpDialogs();
        Dir = new testsupport::TempDir;
        MakeFlatClip(Dir->file("grey.mp4"), 6, "0x808080", "320x240");
        QImage blue(40, 30, QImage::Format_RGB888);
        blue.fill(QColor(0, 0, 255));
        ASSERT_TRUE(blue.save(QString::fromStdString(Dir->file("mark.bmp")), "BMP"));
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    template <class T>
    static T* C(TfrmWaterMark& d, const char* name) { return Child<T>(d, name); }
    static testsupport::TempDir* Dir;
};
testsupport::TempDir* WaterMarkDialog::Dir = nullptr;

// Pixels of a frame in a rectangle that satisfy test (b, g, r).
template <class Test>
int Count(const TFrameBitmap& f, int x0, int y0, int x1, int y1, Test test) {
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(f.Height(), y1); ++y)
        for (int x = std::max(0, x0); x < std::min(f.Width(), x1); ++x) {
            const std::uint8_t* p = f.Row(y) + 3 * x;
            n += test(p[0], p[1], p[2]) ? 1 : 0;
        }
    return n;
}

TEST_F(WaterMarkDialog, AllThreePagesCanBeUsedAndOkWritesEveryValueThePreviewShows) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("grey.mp4");
    job.CropMarginLeft = job.CropMarginTop = job.CropMarginRight = job.CropMarginBottom = 20;
    TfrmWaterMark d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    auto* pages = C<QTabWidget>(d, "suiPageControl1");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->currentWidget()->objectName(), "suiTabSheet2");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pages->widget(i)->isEnabled()) << i;
    // Without a text or an image their position sliders are off.
    EXPECT_FALSE(C<QSlider>(d, "trcTextHoriz")->isEnabled());
    EXPECT_FALSE(C<QSlider>(d, "trcImageAlpha")->isEnabled());

    // The text page.
    C<QLineEdit>(d, "edtFont")->setText("RS");
    EXPECT_TRUE(C<QSlider>(d, "trcTextHoriz")->isEnabled());
    auto* size = C<QComboBox>(d, "suiFontSizeCmb");
    EXPECT_EQ(size->count(), 64);
    size->setCurrentIndex(size->findText("40"));
    auto* color = C<QComboBox>(d, "suiColorBoxcmb");
    color->setCurrentIndex(color->findText("Red"));
    C<QCheckBox>(d, "chkBold")->setChecked(true);
    C<QSlider>(d, "trcTextHoriz")->setValue(10);
    C<QSlider>(d, "trcTextVert")->setValue(20);
    EXPECT_EQ(C<QLineEdit>(d, "edtTextVert")->text(), "20");
    EXPECT_TRUE(C<QLineEdit>(d, "edtFont")->font().bold());
    // The image page.
    C<QLineEdit>(d, "edtAddImage")->setText(QString::fromStdString(Dir->file("mark.bmp")));
    EXPECT_TRUE(C<QSlider>(d, "trcImageAlpha")->isEnabled());
    C<QSlider>(d, "trcImageHoriz")->setValue(50);
    C<QSlider>(d, "trcImageVert")->setValue(50);
    C<QSlider>(d, "trcImageAlpha")->setValue(200);
    C<QRadioButton>(d, "rbStyle2")->setChecked(true);
    // The effect page: the spin boxes move their sliders.
    C<QSpinBox>(d, "spedtBrightness")->setValue(400);
    EXPECT_EQ(C<QSlider>(d, "trcBrightness")->value(), 400);

    // The preview draws what the controls say: red text, the multiplied blue image, the
    // brightened grey and the job's crop outlined in green.
    TFrameBitmap frame;
    auto drawn = [&] {
        frame = d.Player().CurrentFrame();
        return !frame.Empty() &&
               Count(frame, 165, 125, 195, 145, [](int b, int g, int r) { return b > 100 && g < 20 && r < 20; }) > 500;
    };
    ASSERT_TRUE(ServeUntil(drawn, 5)) << "no watermark in the preview";
    d.spdBtnPauseClick();
    EXPECT_GT(Count(frame, 32, 48, 120, 110, [](int b, int g, int r) { return r > 200 && g < 60 && b < 60; }), 50);
    const std::uint8_t* grey = frame.Row(200) + 3 * 250;  // inside the crop, away from the marks
    EXPECT_GT(grey[0], 180);
    const std::uint8_t* outline = frame.Row(100) + 3 * 21;
    EXPECT_EQ(outline[1], 128);
    EXPECT_EQ(outline[0], 0);
    // The panel paints the same picture.
    const QImage shown = d.Panel()->grab().toImage();
    int bluePixels = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor c = shown.pixelColor(x, y);
            bluePixels += c.blue() > 100 && c.red() < 30 && c.green() < 30;
        }
    EXPECT_GT(bluePixels, 500);

    C<QSpinBox>(d, "spedtContrast")->setValue(20);
    C<QSlider>(d, "trcSaturation")->setValue(300);
    C<QSlider>(d, "trcExposure")->setValue(-40);
    C<QCheckBox>(d, "chkProcessText")->setChecked(true);
    C<QCheckBox>(d, "chkProcessImage")->setChecked(true);
    const std::string family = C<QFontComboBox>(d, "suiFontCmb")->currentFont().family().toStdString();
    C<QPushButton>(d, "btnOk")->click();
    EXPECT_TRUE(d.Written());
    EXPECT_FALSE(d.isVisible());

    EXPECT_EQ(job.WatermarkText, "RS");
    EXPECT_EQ(job.WatermarkFont.Name, family);
    EXPECT_EQ(job.WatermarkFont.Size, 40);
    EXPECT_EQ(job.WatermarkFont.Color, 0xFF0000u);
    EXPECT_TRUE(job.WatermarkFont.Bold);
    EXPECT_FALSE(job.WatermarkFont.Italic);
    EXPECT_EQ(job.TextSliderX, 10);
    EXPECT_EQ(job.TextSliderY, 20);
    EXPECT_EQ(job.TextLeft, 32);
    EXPECT_EQ(job.TextTop, 48);
    EXPECT_EQ(job.WatermarkImage, Dir->file("mark.bmp"));
    EXPECT_EQ(job.ImageSliderX, 50);
    EXPECT_EQ(job.ImageSliderY, 50);
    EXPECT_EQ(job.ImageLeft, 160);
    EXPECT_EQ(job.ImageTop, 120);
    EXPECT_EQ(job.ImageAlpha, 200);
    EXPECT_EQ(job.TransparentStyle, 2);
    EXPECT_EQ(job.Brightness, 400);
    EXPECT_EQ(job.Contrast, 20);
    EXPECT_EQ(job.Saturation, 300);
    EXPECT_EQ(job.Exposure, -40);
    EXPECT_TRUE(job.ProcessText);
    EXPECT_TRUE(job.ProcessImage);
    EXPECT_EQ(job.CropMarginLeft, 20);  // not the dialog's business
}

TEST_F(WaterMarkDialog, AJobReopensWithItsValuesAndCancelOrTheClearButtonsWriteNothing) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("grey.mp4");
    job.WatermarkText = "Hello";
    job.WatermarkFont.Size = 12;
    job.WatermarkFont.Color = 0x123456;  // not in the colour list
    job.WatermarkFont.Italic = true;
    job.TextSliderX = 30;
    job.WatermarkImage = Dir->file("mark.bmp");
    job.ImageSliderY = 70;
    job.ImageAlpha = 90;
    job.TransparentStyle = 2;
    job.Brightness = 300;
    job.ProcessImage = true;
    const TlvFilesRecord before = job;
    TfrmWaterMark d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.spdBtnPauseClick();
    EXPECT_EQ(C<QLineEdit>(d, "edtFont")->text(), "Hello");
    EXPECT_EQ(C<QComboBox>(d, "suiFontSizeCmb")->currentText(), "12");
    EXPECT_EQ(C<QComboBox>(d, "suiColorBoxcmb")->currentData().toUInt(), 0x123456u);
    EXPECT_TRUE(C<QCheckBox>(d, "chkItalic")->isChecked());
    EXPECT_EQ(C<QSlider>(d, "trcTextHoriz")->value(), 30);
    EXPECT_EQ(C<QLineEdit>(d, "edtTextHoriz")->text(), "30");
    EXPECT_EQ(C<QSlider>(d, "trcImageVert")->value(), 70);
    EXPECT_EQ(C<QSlider>(d, "trcImageAlpha")->value(), 90);
    EXPECT_TRUE(C<QRadioButton>(d, "rbStyle2")->isChecked());
    EXPECT_EQ(C<QSpinBox>(d, "spedtBrightness")->value(), 300);
    EXPECT_TRUE(C<QCheckBox>(d, "chkProcessImage")->isChecked());
    EXPECT_EQ(d.WorkingCopy().ImageTop, 168);  // 70 % of 240

    C<QPushButton>(d, "btnClearText")->click();
    C<QPushButton>(d, "btnClearImage")->click();
    C<QPushButton>(d, "btnReset")->click();
    const TlvFilesRecord cleared = d.WorkingCopy();
    EXPECT_TRUE(cleared.WatermarkText.empty());
    EXPECT_TRUE(cleared.WatermarkImage.empty());
    EXPECT_EQ(cleared.ImageAlpha, 125);
    EXPECT_EQ(cleared.Brightness, 255);
    EXPECT_FALSE(cleared.ProcessImage);
    EXPECT_FALSE(C<QSlider>(d, "trcTextHoriz")->isEnabled());
    C<QPushButton>(d, "btnCancel")->click();
    EXPECT_FALSE(d.Written());
    EXPECT_EQ(job, before);
    EXPECT_NE(d.Player().State(), psPlay);
}

}  // namespace
