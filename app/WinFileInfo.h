#pragma once
// The file information window: what the probe finds in a job's source file. It has an engine
// component of its own, so opening it during a conversion never touches the run's tasks.
#include <QDialog>

#include <cstdint>
#include <string>

#include "engine/FFmpegVCL.h"
#include "player/AVProbe.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The path as the window shows it: whole when shorter than 46 characters, else its first 40
// characters, "..", its extension and two blanks.
std::string ShortFileName(const std::string& path);
// "Resolution:" of the picture as it is seen (upright), with its rotation, fields and HDR
// transfer when it has any: "720x1280, rotated 90°, interlaced, HDR (PQ)".
std::string ResolutionText(const TVideoStreamInfo& info);
// "83.045 Second" for 83 045 000 microseconds; an unknown (-1) duration gives "0.000 Second".
std::string FileDurationText(int64_t microseconds);
// The codec name from the probe's report: the text after the first "Audio: " up to the next
// "," (or the bracketed profile and tag that follow the name).
std::string AudioFormatFromReport(const std::string& report);
// "25", "29.97": the rate num/den with at most two decimals; empty when not known.
std::string FrameRateText(int num, int den);
// The number of frames a stream of that length and rate holds; empty when either is unknown.
std::string TotalFrameText(int64_t durationMicroseconds, int num, int den);

class TfrmFileInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 420;
    static constexpr int DefaultHeight = 460;
    // Room for a shortened name (47 characters) in our font, which is wider than the 270
    // pixels such a name takes in the classic 8-point dialog font.
    static constexpr int NameWidth = 310;

    explicit TfrmFileInfo(QWidget* parent = nullptr);
    ~TfrmFileInfo() override;

    // Shows the information of the selected job's source, modally. An empty source stands
    // for an empty job list: the window opens with no name and no duration.
    void ShowFileInfo(const std::string& source);
    // Fills the window for one opening; ShowFileInfo calls it before waiting. A source that
    // cannot be opened or has no video stream leaves every box as the last opening left it.
    void LoadInfo(const std::string& source);

    TFFmpegVCL& FFmpegVCL() { return FFVCL; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void ClearEngine();
    void ClearVideoBoxes();
    void ClearAudioBoxes();

    TFFmpegVCL FFVCL;

    QLabel* lblFileName = nullptr;
    QLabel* lblDuration = nullptr;
    QLineEdit* edtVideoFormat = nullptr;
    QLineEdit* edtResolution = nullptr;
    QLineEdit* edtVideoBitRate = nullptr;
    QLineEdit* edtFrameRate = nullptr;
    QLineEdit* edtTotalFrame = nullptr;
    QLineEdit* edtAudioFormat = nullptr;
    QLineEdit* edtSampleRate = nullptr;
    QLineEdit* edtChannel = nullptr;
    QLineEdit* edtAudioBitRate = nullptr;
    QPushButton* btnOk = nullptr;
};
