#pragma once
// The effects and watermark dialog: a text and an image laid on the picture and four colour
// effects, previewed on the job's source as they are set.
#include <QDialog>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "edits/JobRecord.h"
#include "player/FFPlay.h"

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;
class TPreviewPanel;
class TSelectionSlider;

class TfrmWaterMark : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWaterMark(QWidget* parent = nullptr);
    ~TfrmWaterMark() override;

    // Shows the dialog modally on job; true when "&Ok" wrote it. A source that cannot be
    // played is refused with a message and the job is left as it was.
    bool Execute(TlvFilesRecord& job);
    // The picture's automatic steps the preview takes, as the job's conversion will
    // (the Preferences' switches); before Execute.
    void SetPictureSwitches(const TSourcePictureSwitches& s) { FPlayer.SetPictureSwitches(s); }

    // The steps of Execute for callers that run the dialog themselves: Start fills the
    // controls from the job and opens the preview (false with the reason, the job untouched).
    bool Start(TlvFilesRecord& job, QString& error);
    bool Written() const { return FWritten; }

    TFFPlayer& Player() { return FPlayer; }
    TPreviewPanel* Panel() const { return imgPreview; }
    // The record the preview draws: the job with the controls' values.
    TlvFilesRecord WorkingCopy() const;

    // Reactions (public so that menus and tests can press them).
    void btnOkClick();
    void btnClearTextClick();
    void btnClearImageClick();
    void btnResetClick();
    void btnBrowsClick();
    void spdBtnPlayClick();
    void spdBtnPauseClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void BuildTextPage(QWidget* page);
    void BuildImagePage(QWidget* page);
    void BuildEffectPage(QWidget* page);
    void FillFromJob(const TlvFilesRecord& job);
    void SelectColor(std::uint32_t color);
    std::uint32_t SelectedColor() const;
    TJobFont ControlFont() const;
    void ApplyTextFont();
    void edtFontChange();
    void edtAddImageChange();
    void UpdateWork();
    void FileOpen(std::int64_t duration, int frameWidth, int frameHeight, int& screenWidth, int& screenHeight);
    void PlayerState(TPlayState state);
    void Hook(TFrameBitmap& frame);
    void StopPreview();

    TFFPlayer FPlayer;
    TlvFilesRecord* FJob = nullptr;
    mutable std::mutex FWorkLock;
    TlvFilesRecord FWork;  // read by the preview's decoding thread
    std::int64_t FDuration = 0;
    bool FSeeking = false;
    bool FFilling = false;  // the controls are being filled from the job
    bool FWritten = false;
    // The size of the frames the preview draws on, which the pixel positions are measured on.
    std::atomic<int> FFrameWidth{0}, FFrameHeight{0};

    QTabWidget* suiPageControl1 = nullptr;
    QFontComboBox* suiFontCmb = nullptr;
    QComboBox* suiFontSizeCmb = nullptr;
    QComboBox* suiColorBoxcmb = nullptr;
    QCheckBox* chkBold = nullptr;
    QCheckBox* chkItalic = nullptr;
    QCheckBox* chkUnderline = nullptr;
    QCheckBox* chkStrikeOut = nullptr;
    QLineEdit* edtFont = nullptr;
    QSlider* trcTextHoriz = nullptr;
    QLineEdit* edtTextHoriz = nullptr;
    QSlider* trcTextVert = nullptr;
    QLineEdit* edtTextVert = nullptr;
    QPushButton* btnClearText = nullptr;

    QLineEdit* edtAddImage = nullptr;
    QPushButton* btnBrows = nullptr;
    QSlider* trcImageHoriz = nullptr;
    QLineEdit* edtImageHoriz = nullptr;
    QSlider* trcImageVert = nullptr;
    QLineEdit* edtImageVert = nullptr;
    QSlider* trcImageAlpha = nullptr;
    QLineEdit* edtImageAlpha = nullptr;
    QRadioButton* rbStyle1 = nullptr;
    QRadioButton* rbStyle2 = nullptr;
    QPushButton* btnClearImage = nullptr;

    QSlider* trcBrightness = nullptr;
    QSlider* trcContrast = nullptr;
    QSlider* trcSaturation = nullptr;
    QSlider* trcExposure = nullptr;
    QSpinBox* spedtBrightness = nullptr;
    QSpinBox* spedtContrast = nullptr;
    QSpinBox* spedtSaturation = nullptr;
    QSpinBox* spedtExposure = nullptr;
    QCheckBox* chkProcessText = nullptr;
    QCheckBox* chkProcessImage = nullptr;
    QPushButton* btnReset = nullptr;

    TPreviewPanel* imgPreview = nullptr;
    QLabel* lblPTS = nullptr;
    QLabel* lblLength = nullptr;
    QToolButton* spdBtnPlay = nullptr;
    QToolButton* spdBtnPause = nullptr;
    TSelectionSlider* trcPreview = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};
