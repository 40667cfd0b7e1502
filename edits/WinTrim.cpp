#include "edits/WinTrim.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "edits/DialogPreview.h"
#include "edits/FrameEdits.h"
#include "edits/TrimRules.h"
#include "player/ui/PreviewPanel.h"

namespace {
QString PlayTime(std::int64_t us) { return QString::fromStdString(FormatPlayTime(us)); }
const char* const ZeroTime = "00:00:00";
}  // namespace

TfrmTrim::TfrmTrim(QWidget* parent) : QDialog(parent) {
    setObjectName("frmTrim");
    setWindowTitle("Trim");
    setModal(true);
    resize(615, 435);

    auto* root = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    root->addLayout(top, 1);

    // The marks.
    auto* page = new QGroupBox("Trim");
    page->setObjectName("tabTrim");
    auto* grid = new QGridLayout(page);
    auto row = [&](int r, const char* caption, const char* editName, QLineEdit*& edit, const char* buttonName,
                   QPushButton** button) {
        grid->addWidget(new QLabel(caption), r * 2, 0, 1, 3);
        edit = new QLineEdit(ZeroTime);
        edit->setObjectName(editName);
        edit->setEnabled(false);
        edit->setMinimumWidth(92);
        grid->addWidget(edit, r * 2 + 1, 0);
        grid->addWidget(new QLabel("(HH:MM:SS)"), r * 2 + 1, 1);
        if (button) {
            *button = new QPushButton("&Ok");
            (*button)->setObjectName(buttonName);
            (*button)->setFixedWidth(40);
            grid->addWidget(*button, r * 2 + 1, 2);
        }
    };
    row(0, "Set Start Time:", "edtStart", edtStart, "btnOk1", &btnOk1);
    row(1, "Set End Time:", "edtEnd", edtEnd, "btnOk2", &btnOk2);
    row(2, "Trim Length:", "edtTrimLength", edtTrimLength, nullptr, nullptr);
    {
        // Disabled, yet the length stays readable.
        QPalette pal = edtTrimLength->palette();
        pal.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
        edtTrimLength->setPalette(pal);
    }
    btnReset = new QPushButton("&Reset");
    btnReset->setObjectName("btnReset");
    grid->addWidget(btnReset, 6, 0);
    grid->setRowStretch(7, 1);
    grid->setHorizontalSpacing(4);
    page->setFixedWidth(240);
    top->addWidget(page);

    // The preview.
    auto* preview = new QVBoxLayout;
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel("Source Name:"));
    lblSourceName = new QLabel;
    lblSourceName->setObjectName("lblSourceName");
    lblSourceName->setMaximumWidth(290);
    lblSourceName->setTextFormat(Qt::PlainText);  // a file name, never markup
    nameRow->addWidget(lblSourceName, 1);
    preview->addLayout(nameRow);
    imgPreview = new TPreviewPanel;
    imgPreview->setObjectName("imgPreview");
    imgPreview->setFixedSize(320, 240);
    preview->addWidget(imgPreview, 0, Qt::AlignHCenter);
    trcPreview = new TSelectionSlider;
    trcPreview->setObjectName("trcPreview");
    trcPreview->installEventFilter(this);
    preview->addWidget(trcPreview);
    auto* controls = new QHBoxLayout;
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const char* hint) {
        return AddPreviewButton(*controls, name, icon, hint);
    };
    imgbtnPlay = button("imgbtnPlay", QStyle::SP_MediaPlay, "play");
    imgbtnpause = button("imgbtnpause", QStyle::SP_MediaPause, "pause");
    lblPTS = new QLabel;
    lblPTS->setObjectName("lblPTS");
    controls->addWidget(lblPTS, 1);
    lblLength = new QLabel;
    lblLength->setObjectName("lblLength");
    controls->addWidget(lblLength, 1);
    preview->addLayout(controls);
    top->addLayout(preview, 1);

    const TDialogButtons buttons = AddDialogButtons(*root);
    btnDefault = buttons.Default;
    btnOk = buttons.Ok;
    btnCancel = buttons.Cancel;

    connect(btnOk1, &QPushButton::clicked, this, &TfrmTrim::btnOk1Click);
    connect(btnOk2, &QPushButton::clicked, this, &TfrmTrim::btnOk2Click);
    connect(btnReset, &QPushButton::clicked, this, &TfrmTrim::btnResetClick);
    connect(btnDefault, &QPushButton::clicked, this, &TfrmTrim::btnResetClick);
    connect(imgbtnPlay, &QToolButton::clicked, this, &TfrmTrim::imgbtnPlayClick);
    connect(imgbtnpause, &QToolButton::clicked, this, &TfrmTrim::imgbtnpauseClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmTrim::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FPlayer.OnFileOpen = [this](TFFPlayer*, std::int64_t d, int, int, int& sw, int& sh) { FileOpen(d, sw, sh); };
    FPlayer.OnPosition = [this](TFFPlayer*, std::int64_t pts) { PlayerPosition(pts); };
    FPlayer.OnState = [this](TFFPlayer*, TPlayState state) { PlayerState(state); };
    FPlayer.OnHook = [this](TFFPlayer*, TFrameBitmap& frame, std::int64_t) { Hook(frame); };
}

TfrmTrim::~TfrmTrim() {
    FPlayer.Stop(true);
    FPlayer.OnFileOpen = nullptr;
    FPlayer.OnPosition = nullptr;
    FPlayer.OnState = nullptr;
    FPlayer.OnHook = nullptr;
}

bool TfrmTrim::Execute(TlvFilesRecord& job, QString* trimmedLength) {
    QString error;
    if (!Start(job, error)) {
        ShowEditWarning(parentWidget(), "Trim", error);
        return false;
    }
    exec();
    if (FWritten && trimmedLength && !FColumnText.isNull()) *trimmedLength = FColumnText;
    return FWritten;
}

bool TfrmTrim::Start(TlvFilesRecord& job, QString& error) {
    FJob = nullptr;
    FWritten = false;
    FColumnText = QString();
    FPlayer.Stop(true);  // the last showing's playback must not draw while the job changes
    lblSourceName->clear();
    lblPTS->clear();
    lblLength->clear();
    error = PreviewProblem(FPlayer, job.SourceFile);
    if (!error.isEmpty()) return false;

    FPreviewJob = job;
    FEnded = false;
    FSeeking = false;
    FPlayer.SetHook(true);
    show();  // the panel reports its real size to the player
    if (!FPlayer.Open(job.SourceFile, imgPreview, false)) {
        hide();
        error = QStringLiteral("\"%1\" cannot be played: %2")
                    .arg(QString::fromStdString(job.SourceFile), QString::fromStdString(FPlayer.LastError()));
        return false;
    }
    FJob = &job;
    lblSourceName->setText(ShortSourceName(job.SourceFile, 51, 44));
    RestoreJob();
    imgbtnPlay->setEnabled(false);
    imgbtnpause->setEnabled(true);
    trcPreview->setEnabled(true);
    return true;
}

void TfrmTrim::FileOpen(std::int64_t duration, int& screenWidth, int& screenHeight) {
    screenWidth = imgPreview->width();
    screenHeight = imgPreview->height();
    FDuration = FSeekDuration = duration;
    edtStart->setText(ZeroTime);
    edtEnd->setText(ZeroTime);
    edtTrimLength->setText(ZeroTime);
    FStart = FEnd = 0;
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

void TfrmTrim::RestoreJob() {
    const TTrimSelection s = RestoreTrim(FJob->TrimStart, FJob->TrimLength, FDuration);
    FStart = s.Start;
    FEnd = s.End;
    edtStart->setText(PlayTime(FStart));
    edtEnd->setText(PlayTime(FEnd));
    edtTrimLength->setText(PlayTime(FEnd - FStart));
    const int max = trcPreview->maximum();
    trcPreview->SetSelection(SelectionPosition(FStart, FDuration, max), SelectionPosition(FEnd, FDuration, max));
}

void TfrmTrim::PlayerPosition(std::int64_t pts) {
    lblPTS->setText("Time:    " + PlayTime(pts));
    // The seek bar follows the playback, except while the user holds it.
    if (FSeeking || trcPreview->isSliderDown()) return;
    FSeeking = true;
    trcPreview->setValue(SelectionPosition(pts, FSeekDuration, trcPreview->maximum()));
    FSeeking = false;
}

void TfrmTrim::PlayerState(TPlayState state) {
    if (state != psEnd) return;
    FSeeking = true;
    trcPreview->setValue(0);
    FSeeking = false;
    FPlayer.Seek(SeekAny, false, 0);
    FPlayer.Pause();
    FEnded = true;
    imgbtnPlay->setEnabled(true);
    imgbtnpause->setEnabled(false);
    trcPreview->ClearSelection();
    trcPreview->setEnabled(false);
    lblPTS->setText(ZeroTime);
    lblLength->setText(ZeroTime);
}

void TfrmTrim::Hook(TFrameBitmap& frame) {
    // Runs on the player's decoding thread: it reads only the job copy, which does not
    // change while a playback runs.
    if (FEnded) return;
    DrawFrameEdits(frame, FPreviewJob);
    OutlineCrop(frame, FPreviewJob, 0, 0);
}

void TfrmTrim::btnOk1Click() {
    const std::int64_t pos = FPlayer.CurrentPosition();
    if (pos <= 0) return;
    FStart = pos;
    edtStart->setText(PlayTime(FStart));
    trcPreview->SetSelection(SelectionPosition(FStart, FDuration, trcPreview->maximum()), trcPreview->SelEnd());
}

void TfrmTrim::btnOk2Click() {
    const std::int64_t pos = FPlayer.CurrentPosition();
    if (pos <= 0) return;
    FEnd = pos;
    edtEnd->setText(PlayTime(FEnd));
    if (FStart < FEnd) edtTrimLength->setText(PlayTime(FEnd - FStart));
    trcPreview->SetSelection(trcPreview->SelStart(), SelectionPosition(FEnd, FDuration, trcPreview->maximum()));
}

void TfrmTrim::btnResetClick() {
    FStart = 0;
    FEnd = FDuration;
    edtStart->setText(ZeroTime);
    edtEnd->setText(PlayTime(FDuration));
    edtTrimLength->setText(PlayTime(FDuration));
    trcPreview->SetSelection(0, trcPreview->maximum());
}

void TfrmTrim::imgbtnPlayClick() {
    FPlayer.Resume();
    FEnded = false;
    imgbtnPlay->setEnabled(false);
    imgbtnpause->setEnabled(true);
    trcPreview->setEnabled(true);
}

void TfrmTrim::imgbtnpauseClick() {
    FPlayer.Pause();
    imgbtnpause->setEnabled(false);
    imgbtnPlay->setEnabled(true);
}

void TfrmTrim::btnOkClick() {
    if (FJob) {
        const TTrimStore s = StoreTrim(FStart, FEnd, FDuration);
        if (s.Refused) {
            ShowEditWarning(this, "Trim", TrimTooShort);
            return;
        }
        FJob->TrimStart = s.TrimStart;
        FJob->TrimLength = s.TrimLength;
        if (s.SetsColumn) FColumnText = QString::number(s.ColumnSeconds);
        FWritten = true;
    }
    accept();
}

bool TfrmTrim::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trcPreview) SeekOnRelease(*event, *trcPreview, FPlayer, FSeekDuration, FSeeking);
    return QDialog::eventFilter(watched, event);
}

void TfrmTrim::StopPreview() {
    FPlayer.SetHook(false);
    FPlayer.Stop(false);
}

void TfrmTrim::done(int result) {
    StopPreview();
    QDialog::done(result);
}
