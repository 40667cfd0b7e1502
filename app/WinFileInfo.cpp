#include "app/WinFileInfo.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/FFmpegLoader.h"
#include "platform/ProgramFolder.h"
#include "player/AVProbe.h"

std::string ShortFileName(const std::string& path) {
    const QString text = QString::fromStdString(path);
    if (text.size() < 46) return path;
    // The extension as the file name carries it: from the last dot after the last folder.
    const int dot = int(text.lastIndexOf('.'));
    const int slash = int(text.lastIndexOf('/'));
    const QString extension = dot > slash ? text.mid(dot) : QString();
    return (text.left(40) + ".." + extension + "  ").toStdString();
}

std::string FileDurationText(int64_t microseconds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d.%.3d", int(microseconds / 1000000), int((microseconds / 1000) % 1000));
    return std::string(buf) + " Second";
}

std::string AudioFormatFromReport(const std::string& report) {
    const auto p = report.find("Audio:");
    if (p == std::string::npos) return "";
    const auto start = p + 7;
    if (start > report.size()) return "";
    // The libraries now follow the codec name with its profile and tag in brackets
    // ("aac (LC) (mp4a / 0x6134706D)"); the name ends where they begin, as it does at the
    // first comma or, with nothing after the codec, at the end of the line.
    const auto end = std::min({report.find(',', p), report.find(" (", start), report.find('\n', start)});
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string FrameRateText(int num, int den) {
    if (num <= 0 || den <= 0) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", double(num) / den);
    std::string text = buf;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::string TotalFrameText(int64_t durationMicroseconds, int num, int den) {
    if (durationMicroseconds <= 0 || num <= 0 || den <= 0) return "";
    return std::to_string(std::llround(double(durationMicroseconds) * num / den / 1e6));
}

std::string ResolutionText(const TVideoStreamInfo& info) {
    std::string text = std::to_string(info.UprightWidth()) + "x" + std::to_string(info.UprightHeight());
    if (info.Rotation) text += ", rotated " + std::to_string(info.Rotation) + "\xC2\xB0";
    if (info.Mirrored) text += ", mirrored";
    if (info.Interlaced) text += ", interlaced";
    if (info.Hdr) text += info.ColorTransfer == AVCOL_TRC_ARIB_STD_B67 ? ", HDR (HLG)" : ", HDR (PQ)";
    return text;
}

namespace {

QLineEdit* Box(const char* name) {
    auto* box = new QLineEdit;
    box->setObjectName(name);
    box->setReadOnly(true);
    return box;
}

}  // namespace

TfrmFileInfo::TfrmFileInfo(QWidget* parent) : QDialog(parent) {
    setObjectName("frmFileInfo");
    setWindowTitle("File infomation");
    setFixedSize(DefaultWidth, DefaultHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);

    auto* file = new QFormLayout;
    file->setHorizontalSpacing(10);
    lblFileName = new QLabel;
    lblFileName->setObjectName("lblFileName");
    lblFileName->setMaximumWidth(NameWidth);
    lblFileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFileName->setTextFormat(Qt::PlainText);  // a file name, never markup
    lblDuration = new QLabel;
    lblDuration->setObjectName("lblDuration");
    file->addRow("File Name:", lblFileName);
    file->addRow("Duration:", lblDuration);
    layout->addLayout(file);

    auto* video = new QGroupBox("Video ");
    video->setObjectName("grpVideo");
    auto* v = new QFormLayout(video);
    edtVideoFormat = Box("edtVideoFormat");
    edtResolution = Box("edtResolution");
    edtVideoBitRate = Box("edtVideoBitRate");
    edtFrameRate = Box("edtFrameRate");
    edtTotalFrame = Box("edtTotalFrame");
    v->addRow("Format:", edtVideoFormat);
    v->addRow("Resloution:", edtResolution);
    v->addRow("Bit Rate:", edtVideoBitRate);
    v->addRow("Frame Rate:", edtFrameRate);
    v->addRow("Total Frame:", edtTotalFrame);
    layout->addWidget(video);

    auto* audio = new QGroupBox("Audio");
    audio->setObjectName("grpAudio");
    auto* a = new QFormLayout(audio);
    edtAudioFormat = Box("edtAudioFormat");
    edtSampleRate = Box("edtSampleRate");
    edtChannel = Box("edtChannel");
    edtAudioBitRate = Box("edtAudioBitRate");
    a->addRow("Format:", edtAudioFormat);
    a->addRow("Sample Rate:", edtSampleRate);
    a->addRow("Channel:", edtChannel);
    a->addRow("Bit Rate:", edtAudioBitRate);
    layout->addWidget(audio);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOk = new QPushButton("&Ok");
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnOk->setFocus();
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(btnOk);
    layout->addLayout(buttons);
}

TfrmFileInfo::~TfrmFileInfo() { ClearEngine(); }

void TfrmFileInfo::ShowFileInfo(const std::string& source) {
    LoadInfo(source);
    exec();
}

void TfrmFileInfo::LoadInfo(const std::string& source) {
    lblFileName->clear();
    lblDuration->clear();
    if (source.empty()) return;

    ClearEngine();
    if (!FFLoader().LibrarySetLoaded(EngineLibraries)) {
        const std::string folder =
            FFLoader().LibraryFolder().empty() ? ProgramFolder() + "/LibAV" : FFLoader().LibraryFolder();
        if (!FFVCL.LoadLibraries(folder)) return;
    }
    TInputOptions options;
    options.FileName = source;
    const int task = FFVCL.AddTask(source, &options);
    if (task < 0) return;
    TAVProbe& probe = FFVCL.Probe();
    if (!probe.LoadFile(source)) return;
    if (probe.VideoStreamCount() <= 0) return;

    const QString name = QString::fromStdString(ShortFileName(source));
    if (name.toStdString() != source) lblFileName->setFixedWidth(NameWidth);
    lblFileName->setText(name);
    const TFileStreamInfo whole = probe.FileStreamInfo();
    lblDuration->setText(QString::fromStdString(FileDurationText(whole.Duration)));
    edtVideoFormat->setText(QString::fromStdString(probe.InputFormatName()));

    TAVProbe* input = FFVCL.InputProbe(task, 0);
    const int videoIndex = probe.FirstVideoStreamIndex();
    if (input && videoIndex >= 0 && probe.IsVideoStream(videoIndex)) {
        const TVideoStreamInfo info = input->VideoStreamInfo(videoIndex);
        edtResolution->setText(QString::fromStdString(ResolutionText(info)));
        edtVideoBitRate->setText(QString::number(info.BitRate));
        edtFrameRate->setText(QString::fromStdString(FrameRateText(info.FrameRateNum, info.FrameRateDen)));
        const int64_t length = info.DurationUs > 0 ? info.DurationUs : whole.Duration;
        edtTotalFrame->setText(
            QString::fromStdString(TotalFrameText(length, info.FrameRateNum, info.FrameRateDen)));
    } else {
        ClearVideoBoxes();
    }

    const int audioIndex = probe.FirstAudioStreamIndex();
    if (!input || audioIndex < 0 || !probe.IsAudioStream(audioIndex)) {
        ClearAudioBoxes();
        return;
    }
    const TAudioStreamInfo info = input->AudioStreamInfo(audioIndex);
    edtAudioBitRate->setText(QString::number(info.BitRate));
    edtSampleRate->setText(QString::number(info.SampleRate));
    edtChannel->setText(QString::number(info.Channels));
    edtAudioFormat->setText(QString::fromStdString(AudioFormatFromReport(probe.FileInfoText())));
}

void TfrmFileInfo::hideEvent(QHideEvent* event) {
    ClearEngine();
    QDialog::hideEvent(event);
}

void TfrmFileInfo::ClearEngine() {
    // The window holds its task and the open file only while it is open.
    FFVCL.ClearTasks();
    FFVCL.Probe().CloseFile();
}

void TfrmFileInfo::ClearVideoBoxes() {
    for (QLineEdit* box : {edtResolution, edtVideoBitRate, edtFrameRate, edtTotalFrame}) box->clear();
}

void TfrmFileInfo::ClearAudioBoxes() {
    for (QLineEdit* box : {edtAudioFormat, edtSampleRate, edtChannel, edtAudioBitRate}) box->clear();
}
