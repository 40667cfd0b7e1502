#pragma once
// The main window's preview group: the picture panel, play / pause / stop / capture buttons,
// the seek bar, the time labels, volume and mute, and the snapshot. It owns the preview
// player; the job list tells it what to play through SelectedSource.
#include <QGroupBox>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "player/FFPlay.h"
#include "player/ui/PreviewPanel.h"

class QCheckBox;
class QImage;
class QLabel;
class QPlainTextEdit;
class QSlider;
class QToolButton;


class TPreviewControls : public QGroupBox {
    Q_OBJECT
public:
    explicit TPreviewControls(std::string settingsFile, QWidget* parent = nullptr);
    ~TPreviewControls() override;

    // The source of the job to play (the focused row's, focusing the first row when none
    // is); empty when the list is empty.
    std::function<std::string()> SelectedSource;
    // Runs the job list's Add; true when files were added, which are then played.
    std::function<bool()> RequestAdd;
    // Shows a warning box (caption, text); a QMessageBox when not set.
    std::function<void(const QString&, const QString&)> WarningBox;

    // Where file information and player errors are appended.
    void SetLogList(QPlainTextEdit* log) { mmoLog = log; }
    // The start state of the controls, with the stored volume and mute.
    void FirstShow();
    // The "stop" button's reaction, for the dialogs that play files of their own and for
    // the conversion start.
    void StopPreview() { imgbtnStopClick(); }
    // Closing the window: the player is told to stop without waiting.
    void ClosePlayer() { FPlayer.Stop(false); }

    TFFPlayer& Player() { return FPlayer; }
    bool IsPaused() const { return FPaused; }
    bool IsStopped() const { return FStopped; }
    std::int64_t Duration() const { return FDuration; }

    // Button reactions (public so the window's menus and the tests can press them).
    void imgbtnPlayClick();
    void imgbtnPAuseClick();
    void imgbtnStopClick();
    void imgbtnSnapClick();
    // Seeks to where the seek bar stands.
    void trcPreviewRelease();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OpenSource(const std::string& source);
    void AppendLog(const QString& text);
    void FFPlayerFileOpen(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth, int& screenHeight);
    void FFPlayerPosition(std::int64_t pts);
    void FFPlayerState(TPlayState state);
    void trcVolumeChange(int value);
    void ckMuteClick();
    void SetButtons(bool play, bool pause, bool stop, bool snap);
    void ResetLabels();
    std::string SnapshotFolder();

    std::string FSettingsFile;
    TFFPlayer FPlayer;
    bool FPaused = false;
    bool FStopped = true;
    bool FSeeking = false;
    std::int64_t FDuration = 0;

    QPlainTextEdit* mmoLog = nullptr;
    TPreviewPanel* pan1 = nullptr;
    QToolButton* imgbtnPlay = nullptr;
    QToolButton* imgbtnPAuse = nullptr;
    QToolButton* imgbtnStop = nullptr;
    QToolButton* imgbtnSnap = nullptr;
    QSlider* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    QSlider* trcVolume = nullptr;
    QCheckBox* ckMute = nullptr;
    std::unique_ptr<QImage> imgPreview;  // work surface of the panel-size snapshot

    friend class TfrmMain;
};

// The folder that stands in when the snapshot folder cannot be made: $HOME/reelshift.
std::string DefaultSnapshotFolder();
