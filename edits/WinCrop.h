#pragma once
// The crop dialog: a frame of the job's source fitted into a preview with a rubber band
// over it and four margin boxes; "Ok" stores the margins in preview and in source pixels.
#include <QDialog>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "edits/CropRules.h"
#include "edits/JobRecord.h"
#include "engine/FrameBitmap.h"
#include "player/FFPlay.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class QToolButton;
class TCustomRectTracker;
class TPreviewPanel;
class TRectTracker;

// The preview image: paints the last picture fitted into itself over its background colour.
class TCropImage : public QWidget {
public:
    explicit TCropImage(QWidget* parent = nullptr);
    void SetPicture(const TFrameBitmap& picture);
    const TFrameBitmap& Picture() const { return FPicture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TFrameBitmap FPicture;
};

class TfrmCrop : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCrop(QWidget* parent = nullptr);
    ~TfrmCrop() override;

    // Shows the dialog modally on job; true when "Ok" wrote it. A source that cannot be
    // played is refused with a message and the job is left as it was.
    bool Execute(TlvFilesRecord& job);
    // The picture's automatic steps the preview takes, as the job's conversion will
    // (the Preferences' switches); before Execute.
    void SetPictureSwitches(const TSourcePictureSwitches& s) { FPlayer.SetPictureSwitches(s); }

    // The steps of Execute for callers that run the dialog themselves.
    bool Start(TlvFilesRecord& job, QString& error);
    bool Written() const { return FWritten; }

    TFFPlayer& Player() { return FPlayer; }
    const TCropSelection& Selection() const { return FSelection; }
    TRectTracker* Tracker() const { return RectTracker1; }
    TCropImage* Image() const { return imgPreview; }

    // Reactions.
    void btnResetClick();
    void btnOkClick();
    void btnPlayClick();
    void btnPauseClick();
    // The 100 ms timer: the last hooked frame into the preview.
    void tmrPreviewTimer();

protected:
    void done(int result) override;

private:
    bool OpenSource();
    void PlaceTracker();
    void ShowMargins();
    void TrackerMouseDown();
    void TrackerMouseMove();
    void SpinChanged(QSpinBox* box, int value);
    void FileOpen(std::int64_t duration);
    void PlayerState(TPlayState state);
    void Hook(TFrameBitmap& frame);
    void trcPreviewChange(int value);
    void StopPreview();

    TFFPlayer FPlayer;
    TlvFilesRecord* FJob = nullptr;
    TlvFilesRecord FPreviewJob;  // what the preview draws: the job as it was handed over
    std::string FSource;
    TCropSelection FSelection;
    bool FHasVideo = false;
    int FVideoWidth = 0, FVideoHeight = 0;
    bool FMoving = false;
    bool FSpinning = false;  // the dialog sets a box itself
    bool FSeeking = false;
    std::atomic<bool> FPaused{true}, FStopped{true};
    std::int64_t FDuration = 0;
    bool FWritten = false;
    std::mutex FCacheLock;
    TFrameBitmap FCache;  // the last hooked frame
    bool FCacheNew = false;

    QWidget* pnlPicture = nullptr;
    TCropImage* imgPreview = nullptr;
    TRectTracker* RectTracker1 = nullptr;
    TPreviewPanel* pnlPlayer = nullptr;  // hidden: the picture reaches the dialog through the hook
    QSpinBox* spedtUp = nullptr;
    QSpinBox* spedtDown = nullptr;
    QSpinBox* spedtLeft = nullptr;
    QSpinBox* spedtRight = nullptr;
    QComboBox* cmbZoom = nullptr;
    QLabel* lblSourceName = nullptr;
    QLabel* lblLength = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblDuration = nullptr;
    QSlider* trcPreview = nullptr;
    QToolButton* btnPlay = nullptr;
    QToolButton* btnPause = nullptr;
    QPushButton* btnReset = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QTimer* tmrPreview = nullptr;
};
