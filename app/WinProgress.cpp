#include "app/WinProgress.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QShowEvent>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/MessageBoxes.h"
#include "app/Snapshot.h"
#include "app/WinMain.h"
#include "engine/FFmpegVCL.h"
#include "platform/IniFile.h"
#include "platform/qt/PlainText.h"
#include "platform/qt/Shell.h"

namespace {

const QColor MessageColour(0x00, 0x00, 0xFF);
const char* const Unknown = "Unknown";

QLabel* Caption(const QString& text) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* Value(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setMinimumWidth(90);
    label->setTextFormat(Qt::PlainText);  // the file's name is the user's, not markup
    return label;
}

}  // namespace

// ---------------------------------------------------------------- texts and geometry

int64_t ProgressPercent(int64_t current, int64_t total) {
    if (total <= 0) return -1;
    return current * 100 / total;
}

QString ShortFileCaption(const QString& path) {
    if (path.size() < 51) return path;
    const qsizetype slash = path.lastIndexOf('/');
    const qsizetype dot = path.lastIndexOf('.');
    const QString extension = dot > slash ? path.mid(dot) : QString();
    return path.left(44) + ".." + extension;
}

QString ClockText(double seconds) {
    const long s = seconds > 0 ? long(seconds + 0.5) : 0;
    return QString::asprintf("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
}

double TimeLeftSeconds(double elapsed, int64_t current, int64_t total) {
    if (total <= 0 || current <= 0 || elapsed <= 0) return -1.0;
    if (current >= total) return 0.0;
    return elapsed * double(total - current) / double(current);
}

QRect FitPicture(const QRect& area, const QSize& picture) {
    if (picture.width() <= 0 || picture.height() <= 0 || area.width() <= 0 || area.height() <= 0) return {};
    const double W = area.width(), H = area.height();
    const double a = picture.width() / W, b = picture.height() / H;
    if (a >= b) {
        const int c = int(std::nearbyint((H - picture.height() / a) / 2));
        return QRect(area.left(), area.top() + c, area.width(), area.height() - 2 * c);
    }
    const int c = int(std::nearbyint((W - picture.width() / b) / 2));
    return QRect(area.left() + c, area.top(), area.width() - 2 * c, area.height());
}

// ---------------------------------------------------------------- picture area

TPreviewArea::TPreviewArea(QWidget* parent) : QWidget(parent) {
    setObjectName("imgPreview");
    setFixedSize(TfrmProgress::PreviewWidth, TfrmProgress::PreviewHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewArea::SetPicture(const QImage& picture) {
    FPicture = picture;
    update();
}

void TPreviewArea::Clear() {
    FPicture = QImage();
    update();
}

void TPreviewArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(FillColour));
    if (FPicture.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitPicture(rect(), FPicture.size()), FPicture);
}

// ---------------------------------------------------------------- window

TfrmProgress::TfrmProgress(TfrmMain& owner) : QDialog(&owner), FOwner(owner) {
    setObjectName("frmProgress");
    setWindowTitle("Progress");
    setFixedSize(FormWidth, FormHeight);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(6);

    mmoMessage = new QTextEdit;
    mmoMessage->setObjectName("mmoMessage");
    mmoMessage->setReadOnly(true);
    mmoMessage->setFixedHeight(44);
    mmoMessage->setFrameShape(QFrame::StyledPanel);
    mmoMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmoMessage->setTextInteractionFlags(Qt::NoTextInteraction);
    mmoMessage->viewport()->setCursor(Qt::PointingHandCursor);
    mmoMessage->viewport()->installEventFilter(this);
    QPalette blue = mmoMessage->palette();
    blue.setColor(QPalette::Text, MessageColour);
    mmoMessage->setPalette(blue);
    layout->addWidget(mmoMessage);

    imgPreview = new TPreviewArea;
    layout->addWidget(imgPreview, 0, Qt::AlignHCenter);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    lblCurrentTime = Value("lblCurrentTime");
    lblLength = Value("lblLength");
    lblFileSize = Value("lblFileSize");
    lblProgress = Value("lblProgress");
    lblSpeed = Value("lblSpeed");
    lblTimeLeft = Value("lblTimeLeft");
    lblFile = Value("lblFile");
    lblFile->setMaximumWidth(FileValueWidth);
    grid->addWidget(Caption("Current Time:"), 0, 0);
    grid->addWidget(lblCurrentTime, 0, 1);
    grid->addWidget(Caption("Length:"), 0, 2);
    grid->addWidget(lblLength, 0, 3);
    grid->addWidget(Caption("File Size:"), 1, 0);
    grid->addWidget(lblFileSize, 1, 1);
    grid->addWidget(Caption("Progress:"), 1, 2);
    grid->addWidget(lblProgress, 1, 3);
    grid->addWidget(Caption("Speed:"), 2, 0);
    grid->addWidget(lblSpeed, 2, 1);
    grid->addWidget(Caption("Time Left:"), 2, 2);
    grid->addWidget(lblTimeLeft, 2, 3);
    grid->addWidget(Caption("File:"), 3, 0);
    grid->addWidget(lblFile, 3, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);

    pbProgress = new QProgressBar;
    pbProgress->setObjectName("pbProgress");
    pbProgress->setRange(0, 100);
    pbProgress->setTextVisible(true);
    layout->addWidget(pbProgress);

    ckShutDown = new QCheckBox("Shut down computer after conversion");
    ckShutDown->setObjectName("ckShutDown");
    ckOpenFolder = new QCheckBox("Open the output folder after conversion");
    ckOpenFolder->setObjectName("ckOpenFolder");
    layout->addWidget(ckShutDown);
    layout->addWidget(ckOpenFolder);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    btnSnapshot = new QToolButton;
    btnSnapshot->setObjectName("btnSnapshot");
    btnSnapshot->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    btnSnapshot->setToolTip("Save snapshot picture");
    btnSnapshot->setAutoRaise(true);
    buttons->addWidget(btnSnapshot);
    buttons->addStretch(1);
    btnPause = new QPushButton("Pause");
    btnPause->setObjectName("btnPause");
    btnResume = new QPushButton("Resume");
    btnResume->setObjectName("btnResume");
    btnCancel = new QPushButton("Cancel");
    btnCancel->setObjectName("btnCancel");
    for (QPushButton* b : {btnPause, btnResume, btnCancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    tmrPreview = new QTimer(this);
    tmrPreview->setObjectName("tmrPreview");
    tmrPreview->setInterval(PreviewInterval);
    tmrMessage = new QTimer(this);
    tmrMessage->setObjectName("tmrMessage");
    tmrMessage->setInterval(MessageInterval);

    connect(btnSnapshot, &QToolButton::clicked, this, &TfrmProgress::btnSnapshotClick);
    connect(btnPause, &QPushButton::clicked, this, &TfrmProgress::btnPauseClick);
    connect(btnResume, &QPushButton::clicked, this, &TfrmProgress::btnResumeClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::close);
    connect(tmrPreview, &QTimer::timeout, this, &TfrmProgress::tmrPreviewTimer);
    connect(tmrMessage, &QTimer::timeout, this, &TfrmProgress::tmrMessageTimer);
}

void TfrmProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    for (QLabel* value : {lblCurrentTime, lblLength, lblFileSize, lblProgress, lblFile, lblSpeed, lblTimeLeft})
        value->clear();
    lblFile->setToolTip({});
    ckOpenFolder->setChecked(true);
    ShowPaused(false);
    imgPreview->Clear();
    tmrPreview->start();
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    tmrMessageTimer();
    tmrMessage->start();
}

void TfrmProgress::done(int result) {
    if (!FClosing) {
        FClosing = true;
        tmrPreview->stop();
        tmrMessage->stop();
        // Closed while the run is on: a cancel, which skips the run's end actions.
        FOwner.CancelRun();
        FOwner.CCAVC().StopTask(true);
        FClosing = false;
    }
    QDialog::done(result);
}

void TfrmProgress::TaskStarted(int taskIndex) {
    FClockTask = taskIndex;
    FTaskClock.start();
}

double TfrmProgress::TaskElapsedSeconds() const {
    return FTaskClock.isValid() ? double(FTaskClock.elapsed()) / 1000.0 : 0.0;
}

void TfrmProgress::ShowProgress(const TProgressInfo& info, const QString& source, int taskCount) {
    if (info.TaskIndex != FClockTask) TaskStarted(info.TaskIndex);
    const int64_t percent = ProgressPercent(info.CurrentDuration, info.TotalDuration);
    if (percent < 0) {
        pbProgress->setRange(0, 0);  // no total: a busy bar
    } else {
        pbProgress->setRange(0, 100);
        pbProgress->setValue(int(std::clamp<int64_t>(percent, 0, 100)));
    }
    lblCurrentTime->setText(QString::number(info.CurrentDuration / 1000000) + " Second");
    lblLength->setText(info.TotalDuration > 0 ? QString::number(info.TotalDuration / 1000000) + " Second"
                                              : QString(Unknown));
    lblFileSize->setText(QString::number(info.CurrentSize / 1000) + " kb");
    lblProgress->setText(QString("[%1/%2]").arg(info.TaskIndex + 1).arg(taskCount));
    lblFile->setText(ShortFileCaption(source));
    lblFile->setToolTip(PlainToolTip(source));
    lblSpeed->setText(info.FPS >= 0 ? QString::number(info.FPS) + " fps" : QString("-"));
    if (info.TotalDuration <= 0) {
        lblTimeLeft->setText(Unknown);
    } else {
        const double left = TimeLeftSeconds(TaskElapsedSeconds(), info.CurrentDuration, info.TotalDuration);
        lblTimeLeft->setText(left < 0 ? QString("-") : ClockText(left));
    }
}

void TfrmProgress::ShowTaskFinished() {
    pbProgress->setRange(0, 100);
    pbProgress->setValue(100);
    lblTimeLeft->setText(ClockText(0));
}

bool TfrmProgress::ShutDownAfterRun() const { return ckShutDown->isChecked(); }
bool TfrmProgress::OpenFolderAfterRun() const { return ckOpenFolder->isChecked(); }

void TfrmProgress::ShowPaused(bool paused) {
    btnPause->setEnabled(!paused);
    btnResume->setEnabled(paused);
}

void TfrmProgress::btnPauseClick() { FOwner.PauseRun(); }
void TfrmProgress::btnResumeClick() { FOwner.ResumeRun(); }

void TfrmProgress::tmrPreviewTimer() {
    const QImage& frame = FOwner.PreviewBitmap();
    if (frame.width() > 0 && frame.height() > 0) imgPreview->SetPicture(frame);
}

QImage TfrmProgress::AreaPicture() const { return imgPreview->grab().toImage(); }

void TfrmProgress::btnSnapshotClick() {
    const QImage& frame = FOwner.PreviewBitmap();
    if (frame.width() <= 0 || frame.height() <= 0) return;
    const QImage full = frame.copy();
    const QImage small = AreaPicture();
    IniFile settings(FOwner.SettingsFile());
    auto warn = [this](const std::string& text) {
        MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", QString::fromStdString(text));
    };
    // Caught here: an exception must not leave a slot, and the user is to learn why.
    try {
        SaveSnapshots(settings, full, small, warn);
    } catch (const std::exception& e) {
        warn(e.what());
    }
}

void TfrmProgress::tmrMessageTimer() {
    const auto& list = FOwner.AdList();
    ShowMessage(list.empty() ? -1 : int(QRandomGenerator::global()->bounded(int(list.size()))));
}

void TfrmProgress::ShowMessage(int index) {
    const auto& list = FOwner.AdList();
    if (index < 0 || index >= int(list.size())) {
        FMessageIndex = -1;
        mmoMessage->clear();
        return;
    }
    FMessageIndex = index;
    mmoMessage->setPlainText(QString::fromStdString(list[size_t(index)].Message));
}

void TfrmProgress::mmoMessageClick() {
    const auto& list = FOwner.AdList();
    if (FMessageIndex < 0 || FMessageIndex >= int(list.size())) return;
    const std::string& address = list[size_t(FMessageIndex)].Address;
    if (address.find("http") == std::string::npos) return;
    const TGlobalObject* global = FOwner.Global();
    const std::string title = global ? global->Title() : std::string();
    shell::OpenWebAddress(address + "?" + title + " " + FOwner.LatestVersion());
}

bool TfrmProgress::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mmoMessage->viewport() && event->type() == QEvent::MouseButtonPress) {
        mmoMessageClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
