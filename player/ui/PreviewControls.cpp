#include "player/ui/PreviewControls.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "engine/FFUtils.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/PlainText.h"
#include "platform/qt/Shell.h"
#include "player/PlayTime.h"
#include "player/ui/PreviewPanel.h"



std::string DefaultSnapshotFolder() {
    const char* home = std::getenv("HOME");
    return (std::filesystem::path(home && *home ? home : QDir::homePath().toStdString()) / "reelshift").string();
}

TPreviewControls::TPreviewControls(std::string settingsFile, QWidget* parent)
    : QGroupBox("Preview", parent), FSettingsFile(std::move(settingsFile)) {
    setObjectName("grpPreview");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(6, 4, 6, 6);
    v->setSpacing(4);

    pan1 = new TPreviewPanel;
    pan1->setObjectName("pan1");
    pan1->setFixedSize(243, 171);
    v->addWidget(pan1, 0, Qt::AlignHCenter);

    auto* seek = new QHBoxLayout;
    lblTime = new QLabel("00:00:00");
    lblTime->setObjectName("lblTime");
    trcPreview = new QSlider(Qt::Horizontal);
    trcPreview->setObjectName("trcPreview");
    trcPreview->setTickPosition(QSlider::NoTicks);
    trcPreview->installEventFilter(this);
    lblPTS = new QLabel("00:00:00");
    lblPTS->setObjectName("lblPTS");
    seek->addWidget(lblTime);
    seek->addWidget(trcPreview, 1);
    seek->addWidget(lblPTS);
    v->addLayout(seek);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    auto button = [&](const char* name, QStyle::StandardPixmap icon, const QString& hint) {
        auto* b = new QToolButton;
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(hint);
        b->setAutoRaise(true);
        buttons->addWidget(b);
        return b;
    };
    imgbtnPlay = button("imgbtnPlay", QStyle::SP_MediaPlay, "play");
    imgbtnPAuse = button("imgbtnPAuse", QStyle::SP_MediaPause, "pause");
    imgbtnStop = button("imgbtnStop", QStyle::SP_MediaStop, "stop");
    imgbtnSnap = button("imgbtnSnap", QStyle::SP_DialogSaveButton, "capture image");
    buttons->addStretch(1);
    auto* speaker = new QLabel;
    speaker->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(16, 16));
    buttons->addWidget(speaker);
    trcVolume = new QSlider(Qt::Horizontal);
    trcVolume->setObjectName("trcVolume");
    trcVolume->setRange(0, 128);
    trcVolume->setFixedWidth(72);
    trcVolume->installEventFilter(this);
    buttons->addWidget(trcVolume);
    ckMute = new QCheckBox("Mute");
    ckMute->setObjectName("ckMute");
    buttons->addWidget(ckMute);
    v->addLayout(buttons);

    connect(imgbtnPlay, &QToolButton::clicked, this, &TPreviewControls::imgbtnPlayClick);
    connect(imgbtnPAuse, &QToolButton::clicked, this, &TPreviewControls::imgbtnPAuseClick);
    connect(imgbtnStop, &QToolButton::clicked, this, &TPreviewControls::imgbtnStopClick);
    connect(imgbtnSnap, &QToolButton::clicked, this, &TPreviewControls::imgbtnSnapClick);
    connect(trcVolume, &QSlider::valueChanged, this, &TPreviewControls::trcVolumeChange);
    connect(ckMute, &QCheckBox::clicked, this, &TPreviewControls::ckMuteClick);

    FPlayer.OnFileOpen = [this](TFFPlayer*, std::int64_t d, int w, int h, int& sw, int& sh) {
        FFPlayerFileOpen(d, w, h, sw, sh);
    };
    FPlayer.OnPosition = [this](TFFPlayer*, std::int64_t pts) { FFPlayerPosition(pts); };
    FPlayer.OnState = [this](TFFPlayer*, TPlayState state) { FFPlayerState(state); };

    imgPreview = std::make_unique<QImage>();
    FirstShow();
}

TPreviewControls::~TPreviewControls() {
    // The last reports still reach the controls, which live until this body ends.
    FPlayer.Stop(true);
    FPlayer.OnFileOpen = nullptr;
    FPlayer.OnPosition = nullptr;
    FPlayer.OnState = nullptr;
}

void TPreviewControls::FirstShow() {
    SetButtons(true, false, false, false);
    trcPreview->setEnabled(false);
    FStopped = true;
    FPaused = false;
    const IniFile ini(FSettingsFile);
    int volume = ini.ReadInteger(settings_key::Section, settings_key::Volume, 0);
    if (volume < 0 || volume > 128) volume = 64;
    trcVolume->setRange(0, 128);
    trcVolume->setValue(volume);
    FPlayer.SetAudioVolume(volume);  // the slider reports only changes
    ckMute->setChecked(ini.ReadInteger(settings_key::Section, settings_key::Mute, 0) == 1);
    FPlayer.SetMute(ckMute->isChecked());
}

void TPreviewControls::SetButtons(bool play, bool pause, bool stop, bool snap) {
    imgbtnPlay->setEnabled(play);
    imgbtnPAuse->setEnabled(pause);
    imgbtnStop->setEnabled(stop);
    imgbtnSnap->setEnabled(snap);
}

void TPreviewControls::ResetLabels() {
    lblTime->setText("00:00:00");
    lblPTS->setText("00:00:00");
}

void TPreviewControls::AppendLog(const QString& text) {
    if (mmoLog) mmoLog->appendPlainText(text);
}

void TPreviewControls::imgbtnPlayClick() {
    if (FPaused) {
        FPaused = false;
        FStopped = false;
        SetButtons(false, true, imgbtnStop->isEnabled(), true);
        FPlayer.Resume();
        return;
    }
    if (!FPlayer.LibrariesLoaded() && !FPlayer.LoadLibraries(ProgramFolder() + "/LibAV")) {
        AppendLog(QString::fromStdString(FPlayer.LastError()));
        return;
    }
    std::string source = SelectedSource ? SelectedSource() : std::string();
    if (source.empty()) {
        // An empty list: add files first and play what was added.
        if (!RequestAdd || !RequestAdd()) return;
        source = SelectedSource ? SelectedSource() : std::string();
        if (source.empty()) return;
    }
    OpenSource(source);
}

void TPreviewControls::OpenSource(const std::string& source) {
    // The preview shows the picture a conversion would make: the Preferences' picture
    // switches, read at each opening.
    const IniFile ini(FSettingsFile);
    TSourcePictureSwitches switches;
    switches.Rotate = ini.ReadInteger(settings_key::Section, settings_key::AutoRotate, 1) != 0;
    switches.Deinterlace = ini.ReadInteger(settings_key::Section, settings_key::AutoDeinterlace, 1) != 0;
    switches.ToneMap = ini.ReadInteger(settings_key::Section, settings_key::AutoToneMap, 1) != 0;
    FPlayer.SetPictureSwitches(switches);
    if (!FPlayer.Open(source, pan1, false)) {
        AppendLog(QString::fromStdString(FPlayer.LastError()));
        return;
    }
    FStopped = false;
    FPaused = false;
    trcPreview->setEnabled(true);
    SetButtons(false, true, true, true);
}

void TPreviewControls::imgbtnPAuseClick() {
    if (FPaused) return;
    FPlayer.Pause();
    FPaused = true;
    FStopped = false;
    SetButtons(true, false, true, true);
}

void TPreviewControls::imgbtnStopClick() {
    if (FStopped) return;
    FPlayer.Stop(true);
    FSeeking = true;
    trcPreview->setValue(0);
    FSeeking = false;
    trcPreview->setEnabled(false);
    FStopped = true;
    FPaused = false;
    SetButtons(true, false, false, false);
    ResetLabels();
    pan1->ClearPicture();
    pan1->update();
}

void TPreviewControls::FFPlayerFileOpen(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth,
                                        int& screenHeight) {
    const std::string info = FPlayer.Probe().FileInfoText();
    if (!info.empty()) AppendLog(QString::fromStdString(info));
    AppendLog(QString::fromStdString(
        Format("duration: %f, frame size: %dx%d", duration / 1000000.0, frameWidth, frameHeight)));
    screenWidth = pan1->width();
    screenHeight = pan1->height();
    FDuration = duration;
    lblPTS->setText(QString::fromStdString(FormatSeconds(std::llround(duration / 1000000.0))));
    FSeeking = true;
    trcPreview->setSingleStep(1);
    trcPreview->setMaximum(std::max(1, trcPreview->width()));
    trcPreview->setValue(0);
    // Without a known length there is nothing to seek along.
    trcPreview->setStyleSheet(duration > 0 ? QString() : QStringLiteral("QSlider::handle { background: transparent; }"));
    FSeeking = false;
}

void TPreviewControls::FFPlayerPosition(std::int64_t pts) {
    lblTime->setText(QString::fromStdString(FormatPlayTime(pts)));
}

void TPreviewControls::FFPlayerState(TPlayState state) {
    if (state != psEnd) return;
    // The end: back to the start, paused, with the controls as when stopped.
    FSeeking = true;
    trcPreview->setValue(0);
    FSeeking = false;
    FPlayer.Seek(SeekAny, false, 0);
    FPlayer.Pause();
    FPaused = false;
    FStopped = true;
    SetButtons(true, false, false, false);
    trcPreview->setEnabled(false);
    ResetLabels();
}

void TPreviewControls::trcPreviewRelease() {
    if (FDuration <= 0 || trcPreview->maximum() <= 0) return;
    const double share = double(trcPreview->value()) / trcPreview->maximum();
    FPlayer.Seek(0, false, std::int64_t(share * double(FDuration)));
}

void TPreviewControls::trcVolumeChange(int value) { FPlayer.SetAudioVolume(value); }

void TPreviewControls::ckMuteClick() {
    FPlayer.SetMute(ckMute->isChecked());
    IniFile(FSettingsFile).WriteInteger(settings_key::Section, settings_key::Mute, ckMute->isChecked() ? 1 : 0);
}

bool TPreviewControls::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return QGroupBox::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* slider = static_cast<QSlider*>(watched);
    const bool over = slider->rect().contains(mouse->position().toPoint());
    if (watched == trcPreview && slider->isEnabled() && mouse->button() == Qt::LeftButton) {
        if (event->type() == QEvent::MouseButtonPress) {
            FSeeking = true;
            // A click puts the bar where the pointer is, not a page further.
            slider->setValue(QStyle::sliderValueFromPosition(slider->minimum(), slider->maximum(),
                                                             int(mouse->position().x()), slider->width()));
        } else if (FSeeking) {
            FSeeking = false;
            if (over) {
                QGroupBox::eventFilter(watched, event);
                trcPreviewRelease();
            }
        }
    } else if (watched == trcVolume && event->type() == QEvent::MouseButtonRelease && over) {
        IniFile(FSettingsFile).WriteInteger(settings_key::Section, settings_key::Volume, trcVolume->value());
    }
    return QGroupBox::eventFilter(watched, event);
}

std::string TPreviewControls::SnapshotFolder() {
    IniFile ini(FSettingsFile);
    std::string folder = ini.ReadString(settings_key::Section, settings_key::SnapshotFolder, DefaultSnapshotFolder());
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (!std::filesystem::is_directory(folder, ec)) {
            const std::string fallback = DefaultSnapshotFolder();
            const QString text = QString::fromStdString("Cannot create output directory:" + folder +
                                                        ".It will create default directory " + fallback + "!");
            if (WarningBox)
                WarningBox("Warning", text);
            else
                PlainWarning(this, "Warning", text);
            std::filesystem::create_directories(fallback, ec);
            ini.WriteString(settings_key::Section, settings_key::SnapshotFolder, fallback);
            folder = fallback;
        }
    }
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

void TPreviewControls::imgbtnSnapClick() {
    std::int64_t pts = -1;
    const TFrameBitmap& frame = FPlayer.CurrentFrame(&pts);
    if (frame.Width() <= 0) return;
    const QImage full =
        QImage(frame.Bits(), frame.Width(), frame.Height(), frame.Stride(), QImage::Format_BGR888).copy();
    *imgPreview = QImage(pan1->size(), QImage::Format_RGB888);
    imgPreview->fill(Qt::white);
    {
        QPainter painter(imgPreview.get());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imgPreview->rect(), full);
    }
    const QImage small = imgPreview->copy();

    // Nothing may leave this slot: a settings file or folder that cannot be written is told.
    auto warn = [this](const QString& text) {
        if (WarningBox) WarningBox("Warning", text);
        else PlainWarning(this, "Warning", text);
    };
    std::string folder;
    try {
        folder = SnapshotFolder();
    } catch (const std::exception& e) {
        warn(QString::fromStdString(e.what()));
        return;
    }
    const IniFile ini(FSettingsFile);
    const bool fullSize = ini.ReadInteger(settings_key::Section, settings_key::SnapshotFullSize, 1) == 1;
    const bool smallSize = ini.ReadInteger(settings_key::Section, settings_key::SnapshotSmallSize, 1) == 1;
    const bool bmp = ini.ReadInteger(settings_key::Section, settings_key::SnapshotBmp, 1) == 1;
    const bool jpg = ini.ReadInteger(settings_key::Section, settings_key::SnapshotJpg, 1) == 1;
    const int quality = std::clamp(ini.ReadInteger(settings_key::Section, settings_key::SnapshotJpgQuality, 30), 1, 100);
    auto save = [&](const QImage& image, const char* name, const char* format, int q) {
        const QString path = QString::fromStdString(folder + name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly) && image.save(&file, format, q) && file.flush()) return;
        const QString text = "Cannot write the snapshot " + path + ": " + file.errorString();
        AppendLog(text);
        warn(text);
    };
    if (fullSize && bmp) save(full, "Snapshot_full.bmp", "BMP", -1);
    if (smallSize && bmp) save(small, "Snapshot_small.bmp", "BMP", -1);
    if (fullSize && jpg) save(full, "Snapshot_full.jpg", "JPG", quality);
    if (smallSize && jpg) save(small, "Snapshot_small.jpg", "JPG", quality);
    shell::OpenFolder(folder);
}
