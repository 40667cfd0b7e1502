#include "edits/WinWaterMark.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "edits/DialogPreview.h"
#include "edits/FrameEdits.h"
#include "edits/JobEdits.h"
#include "edits/TrimRules.h"
#include "platform/qt/FileNames.h"
#include "player/ui/PreviewPanel.h"

namespace {

QString PlayTime(std::int64_t us) { return QString::fromStdString(FormatPlayTime(us)); }

// The colour list's entries: the sixteen basic colours, as 0xRRGGBB.
const struct {
    const char* Name;
    std::uint32_t Color;
} Colors[] = {{"Black", 0x000000}, {"Maroon", 0x800000}, {"Green", 0x008000}, {"Olive", 0x808000},
              {"Navy", 0x000080},  {"Purple", 0x800080}, {"Teal", 0x008080},  {"Gray", 0x808080},
              {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},   {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
              {"Blue", 0x0000FF},  {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF}, {"White", 0xFFFFFF}};

QIcon Swatch(std::uint32_t color) {
    QPixmap p(14, 14);
    p.fill(QColor(QRgb(color)));
    return QIcon(p);
}

// A slider with the read-only box that shows its value (and a unit after it).
QSlider* SliderRow(QGridLayout* grid, int row, const char* caption, const char* name, const char* boxName,
                   QLineEdit*& box, int min, int max, const char* unit) {
    grid->addWidget(new QLabel(caption), row, 0);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(name);
    slider->setRange(min, max);
    grid->addWidget(slider, row, 1);
    box = new QLineEdit("0");
    box->setObjectName(boxName);
    box->setReadOnly(true);
    box->setFixedWidth(40);
    grid->addWidget(box, row, 2);
    if (*unit) grid->addWidget(new QLabel(unit), row, 3);
    QObject::connect(slider, &QSlider::valueChanged, box, [box](int v) { box->setText(QString::number(v)); });
    return slider;
}

}  // namespace

TfrmWaterMark::TfrmWaterMark(QWidget* parent) : QDialog(parent) {
    setObjectName("frmWaterMark");
    setWindowTitle("Water Mark  ");
    setModal(true);
    resize(760, 470);

    auto* root = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    root->addLayout(top, 1);

    suiPageControl1 = new QTabWidget;
    suiPageControl1->setObjectName("suiPageControl1");
    auto* textPage = new QWidget;
    textPage->setObjectName("suiTabSheet1");
    auto* imagePage = new QWidget;
    imagePage->setObjectName("suiTabSheet2");
    auto* effectPage = new QWidget;
    effectPage->setObjectName("suiTabSheet3");
    BuildTextPage(textPage);
    BuildImagePage(imagePage);
    BuildEffectPage(effectPage);
    // All three pages can be used: the text and the effects are set nowhere else.
    suiPageControl1->addTab(textPage, "Add Text");
    suiPageControl1->addTab(imagePage, "Add Image");
    suiPageControl1->addTab(effectPage, "Effect");
    suiPageControl1->setCurrentWidget(imagePage);
    suiPageControl1->setFixedWidth(360);
    top->addWidget(suiPageControl1);

    auto* group = new QGroupBox("Source Preview");
    group->setObjectName("grpSourcePreview");
    auto* v = new QVBoxLayout(group);
    imgPreview = new TPreviewPanel;
    imgPreview->setObjectName("imgPreview");
    imgPreview->setFixedSize(352, 264);
    v->addWidget(imgPreview, 0, Qt::AlignHCenter);
    trcPreview = new TSelectionSlider;
    trcPreview->setObjectName("trcPreview");
    trcPreview->installEventFilter(this);
    v->addWidget(trcPreview);
    auto* controls = new QHBoxLayout;
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const char* hint) {
        return AddPreviewButton(*controls, name, icon, hint);
    };
    spdBtnPlay = button("spdBtnPlay", QStyle::SP_MediaPlay, "play");
    spdBtnPause = button("spdBtnPause", QStyle::SP_MediaPause, "pause");
    lblPTS = new QLabel;
    lblPTS->setObjectName("lblPTS");
    controls->addWidget(lblPTS, 1);
    lblLength = new QLabel;
    lblLength->setObjectName("lblLength");
    controls->addWidget(lblLength, 1);
    v->addLayout(controls);
    v->addStretch(1);
    top->addWidget(group, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnCancel = new QPushButton("&Cancel");
    btnCancel->setObjectName("btnCancel");
    bottom->addWidget(btnOk);
    bottom->addWidget(btnCancel);
    root->addLayout(bottom);

    connect(btnOk, &QPushButton::clicked, this, &TfrmWaterMark::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(spdBtnPlay, &QToolButton::clicked, this, &TfrmWaterMark::spdBtnPlayClick);
    connect(spdBtnPause, &QToolButton::clicked, this, &TfrmWaterMark::spdBtnPauseClick);

    FPlayer.OnFileOpen = [this](TFFPlayer*, std::int64_t d, int w, int h, int& sw, int& sh) { FileOpen(d, w, h, sw, sh); };
    FPlayer.OnPosition = [this](TFFPlayer*, std::int64_t pts) {
        lblPTS->setText("Time:    " + PlayTime(pts));
        // The seek bar follows the playback, except while the user holds it.
        if (FSeeking || trcPreview->isSliderDown()) return;
        FSeeking = true;
        trcPreview->setValue(SelectionPosition(pts, FDuration, trcPreview->maximum()));
        FSeeking = false;
    };
    FPlayer.OnState = [this](TFFPlayer*, TPlayState state) { PlayerState(state); };
    FPlayer.OnHook = [this](TFFPlayer*, TFrameBitmap& frame, std::int64_t) { Hook(frame); };
}

TfrmWaterMark::~TfrmWaterMark() {
    FPlayer.Stop(true);
    FPlayer.OnFileOpen = nullptr;
    FPlayer.OnPosition = nullptr;
    FPlayer.OnState = nullptr;
    FPlayer.OnHook = nullptr;
}

void TfrmWaterMark::BuildTextPage(QWidget* page) {
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel("Font:"), 0, 0);
    suiFontCmb = new QFontComboBox;
    suiFontCmb->setObjectName("suiFontCmb");
    grid->addWidget(suiFontCmb, 0, 1, 1, 3);
    grid->addWidget(new QLabel("Font Size:"), 1, 0);
    suiFontSizeCmb = new QComboBox;
    suiFontSizeCmb->setObjectName("suiFontSizeCmb");
    grid->addWidget(suiFontSizeCmb, 1, 1);
    grid->addWidget(new QLabel("Font Color:"), 2, 0);
    suiColorBoxcmb = new QComboBox;
    suiColorBoxcmb->setObjectName("suiColorBoxcmb");
    for (const auto& c : Colors) suiColorBoxcmb->addItem(Swatch(c.Color), c.Name, QVariant::fromValue(uint(c.Color)));
    grid->addWidget(suiColorBoxcmb, 2, 1, 1, 3);
    grid->addWidget(new QLabel("Font Style:"), 3, 0);
    auto* styles = new QGridLayout;
    int styleCount = 0;
    auto check = [&](const char* name, const char* caption) {
        auto* c = new QCheckBox(caption);
        c->setObjectName(name);
        styles->addWidget(c, styleCount / 2, styleCount % 2);
        ++styleCount;
        connect(c, &QCheckBox::toggled, this, [this] {
            ApplyTextFont();
            UpdateWork();
        });
        return c;
    };
    chkBold = check("chkBold", "Bold");
    chkItalic = check("chkItalic", "Italic");
    chkUnderline = check("chkUnderline", "Underline");
    chkStrikeOut = check("chkStrikeOut", "StrikeOut");
    grid->addLayout(styles, 3, 1, 1, 3);
    edtFont = new QLineEdit;
    edtFont->setObjectName("edtFont");
    edtFont->setMinimumHeight(48);
    grid->addWidget(edtFont, 4, 0, 1, 4);
    trcTextHoriz = SliderRow(grid, 5, "Horizontal Position:", "trcTextHoriz", "edtTextHoriz", edtTextHoriz, 0, 100, "%");
    trcTextVert = SliderRow(grid, 6, "Vertical Position:", "trcTextVert", "edtTextVert", edtTextVert, 0, 100, "%");
    btnClearText = new QPushButton("Clear Text");
    btnClearText->setObjectName("btnClearText");
    grid->addWidget(btnClearText, 7, 0);
    grid->setRowStretch(8, 1);

    auto fontChanged = [this] {
        if (FFilling) return;
        ApplyTextFont();
        UpdateWork();
    };
    connect(suiFontCmb, &QFontComboBox::currentFontChanged, this, fontChanged);
    connect(suiFontSizeCmb, &QComboBox::currentIndexChanged, this, fontChanged);
    connect(suiColorBoxcmb, &QComboBox::currentIndexChanged, this, fontChanged);
    connect(edtFont, &QLineEdit::textChanged, this, &TfrmWaterMark::edtFontChange);
    connect(trcTextHoriz, &QSlider::valueChanged, this, &TfrmWaterMark::UpdateWork);
    connect(trcTextVert, &QSlider::valueChanged, this, &TfrmWaterMark::UpdateWork);
    connect(btnClearText, &QPushButton::clicked, this, &TfrmWaterMark::btnClearTextClick);
}

void TfrmWaterMark::BuildImagePage(QWidget* page) {
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel("Image:"), 0, 0);
    edtAddImage = new QLineEdit;
    edtAddImage->setObjectName("edtAddImage");
    edtAddImage->setReadOnly(true);
    grid->addWidget(edtAddImage, 0, 1, 1, 2);
    btnBrows = new QPushButton("&Brows");
    btnBrows->setObjectName("btnBrows");
    grid->addWidget(btnBrows, 0, 3);
    trcImageHoriz = SliderRow(grid, 1, "Horizontal Position:", "trcImageHoriz", "edtImageHoriz", edtImageHoriz, 0, 100, "%");
    trcImageVert = SliderRow(grid, 2, "Vertical Position:", "trcImageVert", "edtImageVert", edtImageVert, 0, 100, "%");
    trcImageAlpha = SliderRow(grid, 3, "Transparency:", "trcImageAlpha", "edtImageAlpha", edtImageAlpha, 0, 255, "");
    rbStyle1 = new QRadioButton("Transparent style 1");
    rbStyle1->setObjectName("rbStyle1");
    rbStyle2 = new QRadioButton("Transparent style 2");
    rbStyle2->setObjectName("rbStyle2");
    rbStyle1->setChecked(true);
    grid->addWidget(rbStyle1, 4, 0, 1, 2);
    grid->addWidget(rbStyle2, 5, 0, 1, 2);
    btnClearImage = new QPushButton("Clear Image");
    btnClearImage->setObjectName("btnClearImage");
    grid->addWidget(btnClearImage, 6, 0);
    grid->setRowStretch(7, 1);

    connect(btnBrows, &QPushButton::clicked, this, &TfrmWaterMark::btnBrowsClick);
    connect(edtAddImage, &QLineEdit::textChanged, this, &TfrmWaterMark::edtAddImageChange);
    for (QSlider* s : {trcImageHoriz, trcImageVert, trcImageAlpha})
        connect(s, &QSlider::valueChanged, this, &TfrmWaterMark::UpdateWork);
    connect(rbStyle1, &QRadioButton::toggled, this, &TfrmWaterMark::UpdateWork);
    connect(btnClearImage, &QPushButton::clicked, this, &TfrmWaterMark::btnClearImageClick);
}

void TfrmWaterMark::BuildEffectPage(QWidget* page) {
    auto* grid = new QGridLayout(page);
    auto row = [&](int r, const char* caption, const char* name, const char* spinName, int min, int max,
                   QSpinBox*& spin) {
        grid->addWidget(new QLabel(caption), r, 0);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(name);
        slider->setRange(min, max);
        grid->addWidget(slider, r, 1);
        spin = new TArrowSpinBox;
        spin->setObjectName(spinName);
        spin->setRange(min, max);
        spin->setFixedWidth(64);
        grid->addWidget(spin, r, 2);
        connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
        connect(slider, &QSlider::valueChanged, this, &TfrmWaterMark::UpdateWork);
        return slider;
    };
    trcBrightness = row(0, "Brightness:", "trcBrightness", "spedtBrightness", BrightnessMin, BrightnessMax, spedtBrightness);
    trcContrast = row(1, "Contrast:", "trcContrast", "spedtContrast", ContrastMin, ContrastMax, spedtContrast);
    trcSaturation = row(2, "Saturation:", "trcSaturation", "spedtSaturation", SaturationMin, SaturationMax, spedtSaturation);
    trcExposure = row(3, "Exposure:", "trcExposure", "spedtExposure", ExposureMin, ExposureMax, spedtExposure);
    chkProcessText = new QCheckBox("Process  Added Text");
    chkProcessText->setObjectName("chkProcessText");
    chkProcessImage = new QCheckBox("Process  Added Image");
    chkProcessImage->setObjectName("chkProcessImage");
    grid->addWidget(chkProcessText, 4, 0, 1, 3);
    grid->addWidget(chkProcessImage, 5, 0, 1, 3);
    btnReset = new QPushButton("Reset");
    btnReset->setObjectName("btnReset");
    grid->addWidget(btnReset, 6, 0);
    grid->setRowStretch(7, 1);
    connect(chkProcessText, &QCheckBox::toggled, this, &TfrmWaterMark::UpdateWork);
    connect(chkProcessImage, &QCheckBox::toggled, this, &TfrmWaterMark::UpdateWork);
    connect(btnReset, &QPushButton::clicked, this, &TfrmWaterMark::btnResetClick);
}

bool TfrmWaterMark::Execute(TlvFilesRecord& job) {
    QString error;
    if (!Start(job, error)) {
        ShowEditWarning(parentWidget(), "Water Mark", error);
        return false;
    }
    exec();
    return FWritten;
}

bool TfrmWaterMark::Start(TlvFilesRecord& job, QString& error) {
    FJob = nullptr;
    FWritten = false;
    FPlayer.Stop(true);
    error = PreviewProblem(FPlayer, job.SourceFile);
    if (!error.isEmpty()) return false;

    lblPTS->clear();
    lblLength->clear();
    FFrameWidth = FFrameHeight = 0;
    {
        std::lock_guard lock(FWorkLock);
        FWork = job;
    }
    FillFromJob(job);
    setWindowTitle("Water Mark  " + ShortSourceName(job.SourceFile, 56, 50));
    show();
    if (!FPlayer.Open(job.SourceFile, imgPreview, false)) {
        hide();
        error = QStringLiteral("\"%1\" cannot be played: %2")
                    .arg(QString::fromStdString(job.SourceFile), QString::fromStdString(FPlayer.LastError()));
        return false;
    }
    FJob = &job;
    spdBtnPlay->setEnabled(false);
    spdBtnPause->setEnabled(true);
    trcPreview->setEnabled(true);
    return true;
}

void TfrmWaterMark::FillFromJob(const TlvFilesRecord& job) {
    FFilling = true;
    auto percent = [](int v) { return v <= 0 ? 0 : v; };
    trcTextHoriz->setValue(percent(job.TextSliderX));
    trcTextVert->setValue(percent(job.TextSliderY));
    trcImageHoriz->setValue(percent(job.ImageSliderX));
    trcImageVert->setValue(percent(job.ImageSliderY));
    trcImageAlpha->setValue(percent(job.ImageAlpha));
    for (QLineEdit* box : {edtTextHoriz, edtTextVert, edtImageHoriz, edtImageVert, edtImageAlpha})
        box->setText("0");
    edtTextHoriz->setText(QString::number(trcTextHoriz->value()));
    edtTextVert->setText(QString::number(trcTextVert->value()));
    edtImageHoriz->setText(QString::number(trcImageHoriz->value()));
    edtImageVert->setText(QString::number(trcImageVert->value()));
    edtImageAlpha->setText(QString::number(trcImageAlpha->value()));
    (job.TransparentStyle == 1 ? rbStyle1 : rbStyle2)->setChecked(true);
    suiFontSizeCmb->clear();
    for (int size = 7; size <= 70; ++size) suiFontSizeCmb->addItem(QString::number(size));
    trcBrightness->setValue(job.Brightness);
    trcContrast->setValue(job.Contrast);
    trcSaturation->setValue(job.Saturation);
    trcExposure->setValue(job.Exposure);
    chkProcessText->setChecked(job.ProcessText);
    chkProcessImage->setChecked(job.ProcessImage);
    if (!job.WatermarkText.empty()) {
        const TJobFont& f = job.WatermarkFont;
        suiFontCmb->setCurrentFont(QFont(QString::fromStdString(f.Name)));
        int index = suiFontSizeCmb->findText(QString::number(f.Size));
        if (index < 0) {
            suiFontSizeCmb->addItem(QString::number(f.Size));
            index = suiFontSizeCmb->count() - 1;
        }
        suiFontSizeCmb->setCurrentIndex(index);
        SelectColor(f.Color);
        chkBold->setChecked(f.Bold);
        chkItalic->setChecked(f.Italic);
        chkUnderline->setChecked(f.Underline);
        chkStrikeOut->setChecked(f.StrikeOut);
    } else {
        suiFontCmb->setCurrentIndex(0);
        suiFontSizeCmb->setCurrentIndex(0);
        suiColorBoxcmb->setCurrentIndex(0);
        for (QCheckBox* c : {chkBold, chkItalic, chkUnderline, chkStrikeOut}) c->setChecked(false);
    }
    // The change reactions run even when the texts stay as they were.
    edtFont->blockSignals(true);
    edtFont->setText(QString::fromStdString(job.WatermarkText));
    edtFont->blockSignals(false);
    edtAddImage->blockSignals(true);
    edtAddImage->setText(DisplayPath(job.WatermarkImage));
    edtAddImage->blockSignals(false);
    FFilling = false;
    edtFontChange();
    edtAddImageChange();
    UpdateWork();
}

void TfrmWaterMark::SelectColor(std::uint32_t color) {
    int index = suiColorBoxcmb->findData(QVariant::fromValue(uint(color)));
    if (index < 0) {
        // A colour of the job's own that the list lacks.
        suiColorBoxcmb->addItem(Swatch(color), QString("#%1").arg(color, 6, 16, QChar('0')).toUpper(),
                                QVariant::fromValue(uint(color)));
        index = suiColorBoxcmb->count() - 1;
    }
    suiColorBoxcmb->setCurrentIndex(index);
}

std::uint32_t TfrmWaterMark::SelectedColor() const {
    return suiColorBoxcmb->currentIndex() < 0 ? 0 : suiColorBoxcmb->currentData().toUInt();
}

TJobFont TfrmWaterMark::ControlFont() const {
    TJobFont f;
    f.Name = suiFontCmb->currentFont().family().toStdString();
    bool ok = false;
    const int size = suiFontSizeCmb->currentText().toInt(&ok);
    f.Size = ok && size > 0 ? size : 7;
    f.Color = SelectedColor();
    f.Bold = chkBold->isChecked();
    f.Italic = chkItalic->isChecked();
    f.Underline = chkUnderline->isChecked();
    f.StrikeOut = chkStrikeOut->isChecked();
    return f;
}

void TfrmWaterMark::ApplyTextFont() {
    // The text box shows its text in the font that will be drawn.
    if (edtFont->text().isEmpty()) return;
    const TJobFont f = ControlFont();
    QFont font(QString::fromStdString(f.Name));
    font.setPointSize(f.Size);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setUnderline(f.Underline);
    font.setStrikeOut(f.StrikeOut);
    edtFont->setFont(font);
    QPalette pal = edtFont->palette();
    pal.setColor(QPalette::Text, QColor(QRgb(f.Color)));
    edtFont->setPalette(pal);
}

void TfrmWaterMark::edtFontChange() {
    const bool any = !edtFont->text().isEmpty();
    trcTextHoriz->setEnabled(any);
    trcTextVert->setEnabled(any);
    ApplyTextFont();
    UpdateWork();
}

void TfrmWaterMark::edtAddImageChange() {
    const bool any = !edtAddImage->text().isEmpty();
    for (QSlider* s : {trcImageHoriz, trcImageVert, trcImageAlpha}) s->setEnabled(any);
    UpdateWork();
}

void TfrmWaterMark::UpdateWork() {
    if (FFilling) return;
    std::lock_guard lock(FWorkLock);
    FWork.WatermarkText = edtFont->text().toStdString();
    FWork.WatermarkFont = ControlFont();
    FWork.TextSliderX = trcTextHoriz->value();
    FWork.TextSliderY = trcTextVert->value();
    // The box shows the path's characters; its bytes stay as they were unless it changed.
    if (const QString image = edtAddImage->text(); DisplayPath(FWork.WatermarkImage) != image)
        FWork.WatermarkImage = PathBytes(image);
    FWork.ImageSliderX = trcImageHoriz->value();
    FWork.ImageSliderY = trcImageVert->value();
    FWork.ImageAlpha = trcImageAlpha->value();
    FWork.TransparentStyle = rbStyle1->isChecked() ? 1 : 2;
    FWork.Brightness = trcBrightness->value();
    FWork.Contrast = trcContrast->value();
    FWork.Saturation = trcSaturation->value();
    FWork.Exposure = trcExposure->value();
    FWork.ProcessText = chkProcessText->isChecked();
    FWork.ProcessImage = chkProcessImage->isChecked();
    // Pixel positions on the preview's frames; before the first frame on the size the
    // video's frames will have.
    const int w = FFrameWidth, h = FFrameHeight;
    FWork.TextLeft = FWork.WatermarkText.empty() ? 0 : PercentToPixels(w, FWork.TextSliderX);
    FWork.TextTop = FWork.WatermarkText.empty() ? 0 : PercentToPixels(h, FWork.TextSliderY);
    FWork.ImageLeft = FWork.WatermarkImage.empty() ? 0 : PercentToPixels(w, FWork.ImageSliderX);
    FWork.ImageTop = FWork.WatermarkImage.empty() ? 0 : PercentToPixels(h, FWork.ImageSliderY);
}

TlvFilesRecord TfrmWaterMark::WorkingCopy() const {
    std::lock_guard lock(FWorkLock);
    return FWork;
}

void TfrmWaterMark::FileOpen(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                             int& screenHeight) {
    screenWidth = imgPreview->width();
    screenHeight = imgPreview->height();
    // The preview's frames have the video's size rounded down to even numbers.
    FFrameWidth = frameWidth & ~1;
    FFrameHeight = frameHeight & ~1;
    UpdateWork();
    FPlayer.SetHook(true);
    FDuration = duration;
    lblLength->setText("Duration:    " + PlayTime(duration));
    lblPTS->setText("0.0");
    FSeeking = true;
    trcPreview->setSingleStep(1);
    trcPreview->setMaximum(std::max(1, trcPreview->width()));
    trcPreview->ClearSelection();
    trcPreview->setStyleSheet(duration > 0 ? QString() : QStringLiteral("QSlider::handle { background: transparent; }"));
    trcPreview->setValue(0);
    FSeeking = false;
}

void TfrmWaterMark::Hook(TFrameBitmap& frame) {
    // The decoding thread: the controls are read through the working copy only.
    TlvFilesRecord job = WorkingCopy();
    const int w = frame.Width(), h = frame.Height();
    if (w != FFrameWidth || h != FFrameHeight) {
        FFrameWidth = w;
        FFrameHeight = h;
    }
    if (!job.WatermarkText.empty()) {
        job.TextLeft = PercentToPixels(w, job.TextSliderX);
        job.TextTop = PercentToPixels(h, job.TextSliderY);
    }
    if (!job.WatermarkImage.empty()) {
        job.ImageLeft = PercentToPixels(w, job.ImageSliderX);
        job.ImageTop = PercentToPixels(h, job.ImageSliderY);
    }
    DrawFrameEdits(frame, job);
    OutlineCrop(frame, job, 1, 2);
}

void TfrmWaterMark::PlayerState(TPlayState state) {
    if (state != psEnd) return;
    FSeeking = true;
    trcPreview->setValue(0);
    FSeeking = false;
    FPlayer.Seek(SeekAny, false, 0);
    FPlayer.Pause();
    spdBtnPlay->setEnabled(true);
    spdBtnPause->setEnabled(false);
    trcPreview->ClearSelection();
    trcPreview->setEnabled(false);
}

void TfrmWaterMark::btnClearTextClick() {
    edtFont->clear();
    trcTextHoriz->setValue(0);
    trcTextVert->setValue(0);
    edtTextHoriz->setText("0");
    edtTextVert->setText("0");
    UpdateWork();
}

void TfrmWaterMark::btnClearImageClick() {
    edtAddImage->clear();
    trcImageHoriz->setValue(0);
    trcImageVert->setValue(0);
    trcImageAlpha->setValue(125);
    UpdateWork();
}

void TfrmWaterMark::btnResetClick() {
    trcBrightness->setValue(255);
    trcContrast->setValue(0);
    trcSaturation->setValue(255);
    trcExposure->setValue(0);
    chkProcessText->setChecked(false);
    chkProcessImage->setChecked(false);
    UpdateWork();
}

void TfrmWaterMark::btnBrowsClick() {
    QFileDialog dialog(this, "Open", QString(), "Bitmap files (*.bmp)");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edtAddImage->setText(dialog.selectedFiles().first());
}

void TfrmWaterMark::spdBtnPlayClick() {
    FPlayer.Resume();
    spdBtnPlay->setEnabled(false);
    spdBtnPause->setEnabled(true);
    trcPreview->setEnabled(true);
}

void TfrmWaterMark::spdBtnPauseClick() {
    FPlayer.Pause();
    spdBtnPause->setEnabled(false);
    spdBtnPlay->setEnabled(true);
}

void TfrmWaterMark::btnOkClick() {
    if (FJob) {
        UpdateWork();
        const TlvFilesRecord w = WorkingCopy();
        TlvFilesRecord& job = *FJob;
        job.WatermarkText = w.WatermarkText;
        job.WatermarkFont = w.WatermarkFont;
        job.WatermarkImage = w.WatermarkImage;
        job.TextSliderX = w.TextSliderX;
        job.TextSliderY = w.TextSliderY;
        job.ImageSliderX = w.ImageSliderX;
        job.ImageSliderY = w.ImageSliderY;
        job.TextLeft = w.TextLeft;
        job.TextTop = w.TextTop;
        job.ImageLeft = w.ImageLeft;
        job.ImageTop = w.ImageTop;
        job.ImageAlpha = w.ImageAlpha;
        job.TransparentStyle = w.TransparentStyle;
        job.Brightness = w.Brightness;
        job.Contrast = w.Contrast;
        job.Saturation = w.Saturation;
        job.Exposure = w.Exposure;
        job.ProcessText = w.ProcessText;
        job.ProcessImage = w.ProcessImage;
        FWritten = true;
    }
    accept();
}

bool TfrmWaterMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trcPreview) SeekOnRelease(*event, *trcPreview, FPlayer, FDuration, FSeeking);
    return QDialog::eventFilter(watched, event);
}

void TfrmWaterMark::StopPreview() {
    FPlayer.SetHook(false);
    FPlayer.Stop(true);
}

void TfrmWaterMark::done(int result) {
    StopPreview();
    QDialog::done(result);
}
