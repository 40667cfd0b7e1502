#include "edits/WinCrop.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

#include "edits/DialogPreview.h"
#include "edits/FrameEdits.h"
#include "edits/RectTracker.h"
#include "engine/FFUtils.h"
#include "player/PlayTime.h"
#include "player/ui/PreviewPanel.h"

namespace {
// Where the preview image lies on the picture panel, and its size.
constexpr int BoxLeft = 8, BoxTop = 8, BoxWidth = 370, BoxHeight = 253;
const QColor Background(166, 202, 240);

void CopyFrame(const TFrameBitmap& from, TFrameBitmap& to) {
    to.Resize(from.Width(), from.Height());
    for (int y = 0; y < from.Height(); ++y) std::memcpy(to.Row(y), from.Row(y), std::size_t(from.Width()) * 3);
}
}  // namespace

TCropImage::TCropImage(QWidget* parent) : QWidget(parent) {}

void TCropImage::SetPicture(const TFrameBitmap& picture) {
    CopyFrame(picture, FPicture);
    update();
}

void TCropImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Background);
    const TPictureFit fit = FitPicture(FPicture.Width(), FPicture.Height(), 0, 0, width(), height());
    if (fit.Empty) return;
    const QImage image(FPicture.Bits(), FPicture.Width(), FPicture.Height(), FPicture.Stride(), QImage::Format_BGR888);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(fit.Drawn.Left, fit.Drawn.Top, fit.Drawn.Width, fit.Drawn.Height), image);
}

TfrmCrop::TfrmCrop(QWidget* parent) : QDialog(parent) {
    setObjectName("frmCrop");
    setWindowTitle("Crop");
    setModal(true);
    resize(600, 400);

    auto* root = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    root->addLayout(top, 1);

    auto* left = new QVBoxLayout;
    pnlPicture = new QWidget;
    pnlPicture->setObjectName("pnlPicture");
    pnlPicture->setFixedSize(BoxLeft * 2 + BoxWidth, BoxTop * 2 + BoxHeight);
    imgPreview = new TCropImage(pnlPicture);
    imgPreview->setObjectName("imgPreview");
    imgPreview->setGeometry(BoxLeft, BoxTop, BoxWidth, BoxHeight);
    RectTracker1 = new TRectTracker(pnlPicture);
    RectTracker1->setObjectName("RectTracker1");
    RectTracker1->raise();
    left->addWidget(pnlPicture);
    trcPreview = new QSlider(Qt::Horizontal);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setTickPosition(QSlider::NoTicks);
    left->addWidget(trcPreview);
    auto* controls = new QHBoxLayout;
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const char* hint) {
        return AddPreviewButton(*controls, name, icon, hint);
    };
    btnPlay = button("btnPlay", QStyle::SP_MediaPlay, "play");
    btnPause = button("btnPause", QStyle::SP_MediaPause, "pause");
    lblTime = new QLabel;
    lblTime->setObjectName("lblTime");
    controls->addWidget(lblTime, 1);
    lblDuration = new QLabel;
    lblDuration->setObjectName("lblDuration");
    controls->addWidget(lblDuration);
    left->addLayout(controls);
    top->addLayout(left);
    pnlPlayer = new TPreviewPanel(this);
    pnlPlayer->setObjectName("pnlPlayer");
    pnlPlayer->setFixedSize(16, 16);
    pnlPlayer->hide();

    auto* right = new QVBoxLayout;
    auto* info = new QGroupBox("Source");
    auto* infoGrid = new QGridLayout(info);
    infoGrid->addWidget(new QLabel("Source Name:"), 0, 0);
    lblSourceName = new QLabel;
    lblSourceName->setObjectName("lblSourceName");
    lblSourceName->setWordWrap(true);
    lblSourceName->setTextFormat(Qt::PlainText);  // a file name, never markup
    lblSourceName->setMaximumWidth(290);
    infoGrid->addWidget(lblSourceName, 1, 0);
    infoGrid->addWidget(new QLabel("Length:"), 2, 0);
    lblLength = new QLabel;
    lblLength->setObjectName("lblLength");
    infoGrid->addWidget(lblLength, 3, 0);
    right->addWidget(info);
    auto* margins = new QGroupBox("Crop Margins");
    auto* grid = new QGridLayout(margins);
    auto spin = [&](int r, const char* caption, const char* name) {
        grid->addWidget(new QLabel(caption), r, 0);
        auto* s = new TArrowSpinBox;
        s->setObjectName(name);
        s->setRange(0, 9999);
        grid->addWidget(s, r, 1);
        connect(s, &QSpinBox::valueChanged, this, [this, s](int v) { SpinChanged(s, v); });
        return s;
    };
    spedtUp = spin(0, "Top:", "spedtUp");
    spedtDown = spin(1, "Bottom:", "spedtDown");
    spedtLeft = spin(2, "Left:", "spedtLeft");
    spedtRight = spin(3, "Right:", "spedtRight");
    btnReset = new QPushButton("Reset");
    btnReset->setObjectName("btnReset");
    grid->addWidget(btnReset, 4, 0, 1, 2);
    right->addWidget(margins);
    // The zoom list is kept out of sight; it only carries the job's mode through.
    cmbZoom = new QComboBox(this);
    cmbZoom->setObjectName("cmbZoom");
    cmbZoom->addItems({"Full screen", "Letterbox"});
    cmbZoom->hide();
    right->addStretch(1);
    top->addLayout(right, 1);

    const TDialogButtons buttons = AddDialogButtons(*root);
    btnDefault = buttons.Default;
    btnOk = buttons.Ok;
    btnCancel = buttons.Cancel;

    tmrPreview = new QTimer(this);
    tmrPreview->setInterval(100);
    connect(tmrPreview, &QTimer::timeout, this, &TfrmCrop::tmrPreviewTimer);

    connect(btnReset, &QPushButton::clicked, this, &TfrmCrop::btnResetClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmCrop::btnResetClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmCrop::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnPlay, &QToolButton::clicked, this, &TfrmCrop::btnPlayClick);
    connect(btnPause, &QToolButton::clicked, this, &TfrmCrop::btnPauseClick);
    connect(trcPreview, &QSlider::valueChanged, this, &TfrmCrop::trcPreviewChange);
    // A drag of the knob ends with the button up: that is when it seeks.
    connect(trcPreview, &QSlider::sliderReleased, this, [this] { trcPreviewChange(trcPreview->value()); });
    RectTracker1->OnMouseDown = [this](TCustomRectTracker*, QMouseEvent*) { TrackerMouseDown(); };
    RectTracker1->OnMouseMove = [this](TCustomRectTracker*, QMouseEvent*) { TrackerMouseMove(); };

    FPlayer.OnFileOpen = [this](TFFPlayer*, std::int64_t d, int, int, int& sw, int& sh) {
        sw = pnlPlayer->width();
        sh = pnlPlayer->height();
        FileOpen(d);
    };
    FPlayer.OnPosition = [this](TFFPlayer*, std::int64_t pts) {
        lblTime->setText(QString::fromStdString(FormatSeconds(std::llround(pts / 1000000.0))));
        // The seek bar follows the playback, except while the user holds it.
        if (FSeeking || trcPreview->isSliderDown() || FDuration <= 0) return;
        FSeeking = true;
        trcPreview->setValue(int(std::int64_t(trcPreview->maximum()) * pts / FDuration));
        FSeeking = false;
    };
    FPlayer.OnState = [this](TFFPlayer*, TPlayState state) { PlayerState(state); };
    FPlayer.OnHook = [this](TFFPlayer*, TFrameBitmap& frame, std::int64_t) { Hook(frame); };
}

TfrmCrop::~TfrmCrop() {
    FPlayer.Stop(true);
    FPlayer.OnFileOpen = nullptr;
    FPlayer.OnPosition = nullptr;
    FPlayer.OnState = nullptr;
    FPlayer.OnHook = nullptr;
}

bool TfrmCrop::Execute(TlvFilesRecord& job) {
    QString error;
    if (!Start(job, error)) {
        ShowEditWarning(parentWidget(), "Crop", error);
        return false;
    }
    exec();
    return FWritten;
}

bool TfrmCrop::OpenSource() {
    FPlayer.SetHook(true);
    if (!FPlayer.Open(FSource, pnlPlayer, false)) return false;
    FPaused = false;
    FStopped = false;
    btnPlay->setEnabled(false);
    btnPause->setEnabled(true);
    return true;
}

bool TfrmCrop::Start(TlvFilesRecord& job, QString& error) {
    FJob = nullptr;
    FWritten = false;
    FPlayer.Stop(true);
    error = PreviewProblem(FPlayer, job.SourceFile);
    if (!error.isEmpty()) return false;

    lblSourceName->clear();
    lblLength->clear();
    lblTime->clear();
    lblDuration->clear();
    FPaused = true;
    FStopped = true;
    FPreviewJob = job;
    FSource = job.SourceFile;
    cmbZoom->setCurrentIndex(ZoomListIndex(job.ZoomMode));
    {
        TFrameBitmap none;
        imgPreview->SetPicture(none);
    }
    show();
    if (!OpenSource()) {
        hide();
        error = QStringLiteral("\"%1\" cannot be played: %2")
                    .arg(QString::fromStdString(job.SourceFile), QString::fromStdString(FPlayer.LastError()));
        return false;
    }
    FJob = &job;
    TAVProbe& probe = FPlayer.Probe();
    FHasVideo = probe.VideoStreamCount() > 0;
    const bool wasSpinning = FSpinning;
    FSpinning = true;
    if (!FHasVideo) {
        FVideoWidth = FVideoHeight = 0;
        RectTracker1->hide();
        RectTracker1->setEnabled(false);
        for (QSpinBox* s : {spedtUp, spedtDown, spedtLeft, spedtRight}) {
            s->setValue(0);
            s->setEnabled(false);
        }
        FSelection.Place({}, {});
    } else {
        const TVideoStreamInfo v = probe.VideoStreamInfo(-1);
        FVideoWidth = v.Width;
        FVideoHeight = v.Height;
        imgPreview->SetPicture(FPlayer.CurrentFrame());
        const TPictureFit fit = FitPicture(FVideoWidth, FVideoHeight, BoxLeft, BoxTop, BoxWidth, BoxHeight);
        FSelection.Place(fit.Area, {job.CropEditTop, job.CropEditLeft, job.CropEditBottom, job.CropEditRight});
        PlaceTracker();
        ShowMargins();
        RectTracker1->setEnabled(true);
        RectTracker1->show();
        for (QSpinBox* s : {spedtUp, spedtDown, spedtLeft, spedtRight}) s->setEnabled(true);
    }
    FSpinning = wasSpinning;
    lblSourceName->setText(ShortSourceName(job.SourceFile, 51, 44));
    const std::int64_t us = std::max<std::int64_t>(0, probe.FileStreamInfo().Duration);
    lblLength->setText(QString::fromStdString(Format("%d.%.3d", int(us / 1000000), int(us % 1000000 / 1000))) +
                       " Second");
    RectTracker1->update();
    tmrPreview->start();
    return true;
}

void TfrmCrop::PlaceTracker() {
    const TCropRect& b = FSelection.Bounds();
    RectTracker1->setGeometry(b.Left, b.Top, b.Width, b.Height);
}

void TfrmCrop::ShowMargins() {
    const bool was = FSpinning;
    FSpinning = true;
    const TCropMargins& m = FSelection.Margins();
    spedtUp->setValue(m.Top);
    spedtDown->setValue(m.Bottom);
    spedtLeft->setValue(m.Left);
    spedtRight->setValue(m.Right);
    FSpinning = was;
}

void TfrmCrop::TrackerMouseDown() { FSelection.Pressed(); }

void TfrmCrop::TrackerMouseMove() {
    if (RectTracker1->DragMode() == TCustomRectTracker::NoDrag) return;
    FMoving = true;
    const QRect g = RectTracker1->geometry();
    FSelection.Dragged({g.x(), g.y(), g.width(), g.height()});
    PlaceTracker();
    ShowMargins();
    FMoving = false;
}

void TfrmCrop::SpinChanged(QSpinBox* box, int value) {
    if (FMoving || FSpinning || !FHasVideo) return;
    int shown = value;
    if (box == spedtUp) shown = FSelection.SetUp(value);
    else if (box == spedtDown) shown = FSelection.SetDown(value);
    else if (box == spedtLeft) shown = FSelection.SetLeft(value);
    else if (box == spedtRight) shown = FSelection.SetRight(value);
    if (shown != value) {
        FSpinning = true;
        box->setValue(shown);
        FSpinning = false;
    }
    PlaceTracker();
}

void TfrmCrop::btnResetClick() {
    if (!FHasVideo) return;
    FSelection.Reset();
    PlaceTracker();
    ShowMargins();
}

void TfrmCrop::btnOkClick() {
    if (FJob) {
        TlvFilesRecord& job = *FJob;
        const TCropMargins m = FHasVideo ? FSelection.Margins() : TCropMargins{};
        job.CropEditTop = m.Top;
        job.CropEditLeft = m.Left;
        job.CropEditBottom = m.Bottom;
        job.CropEditRight = m.Right;
        const TCropRect& a = FSelection.Area();
        const TCropMargins s =
            FHasVideo ? SourceMargins(m, FVideoWidth, FVideoHeight, a.Width, a.Height) : TCropMargins{};
        job.CropMarginTop = s.Top;
        job.CropMarginLeft = s.Left;
        job.CropMarginBottom = s.Bottom;
        job.CropMarginRight = s.Right;
        job.ZoomMode = ZoomModeAfterOk(cmbZoom->currentIndex(), job.ZoomMode);
        FWritten = true;
    }
    accept();
}

void TfrmCrop::FileOpen(std::int64_t duration) {
    FDuration = duration;
    lblDuration->setText(QString::fromStdString(FormatSeconds(std::llround(duration / 1000000.0))));
    lblTime->setText("0.0");
    FSeeking = true;
    trcPreview->setSingleStep(5);
    trcPreview->setMaximum(std::max(1, trcPreview->width()));
    trcPreview->setStyleSheet(duration > 0 ? QString() : QStringLiteral("QSlider::handle { background: transparent; }"));
    trcPreview->setValue(0);
    FSeeking = false;
}

void TfrmCrop::PlayerState(TPlayState state) {
    if (state == psPause) {
        FPaused = true;
        btnPlay->setEnabled(true);
        btnPause->setEnabled(false);
    } else if (state == psEnd) {
        btnPlay->setEnabled(true);
        btnPause->setEnabled(false);
        FStopped = true;
        FPlayer.Seek(SeekAny, false, 0);
        FPlayer.Pause();
    }
}

void TfrmCrop::Hook(TFrameBitmap& frame) {
    if (FPaused || FStopped) return;
    DrawFrameEdits(frame, FPreviewJob);
    OutlineCrop(frame, FPreviewJob, 0, 0);
    std::lock_guard lock(FCacheLock);
    CopyFrame(frame, FCache);
    FCacheNew = true;
}

void TfrmCrop::tmrPreviewTimer() {
    std::lock_guard lock(FCacheLock);
    if (!FCacheNew) return;
    FCacheNew = false;
    imgPreview->SetPicture(FCache);
}

void TfrmCrop::trcPreviewChange(int value) {
    if (FSeeking || (QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    const int max = trcPreview->maximum();
    if (max <= 0) return;
    const std::int64_t target = std::int64_t(double(value) / max * double(FDuration));
    if (target <= 0) return;
    FPlayer.Seek(0, false, target);
}

void TfrmCrop::btnPlayClick() {
    if (FPaused && !FStopped) {
        FPlayer.Resume();
        FPaused = false;
        FStopped = false;
        btnPlay->setEnabled(false);
        btnPause->setEnabled(true);
        return;
    }
    if (FStopped) {
        if (!OpenSource()) {
            btnPlay->setEnabled(false);
            btnPause->setEnabled(false);
        }
    }
}

void TfrmCrop::btnPauseClick() {
    FPaused = true;
    FPlayer.Pause();
    btnPlay->setEnabled(true);
    btnPause->setEnabled(false);
}

void TfrmCrop::StopPreview() {
    tmrPreview->stop();
    FPlayer.SetHook(false);
    FPlayer.Stop(true);
    FStopped = true;
}

void TfrmCrop::done(int result) {
    StopPreview();
    QDialog::done(result);
}
