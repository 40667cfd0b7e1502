#pragma once
// The trim dialog: plays one job's source with its edits drawn and lets the user mark the
// start and the end of the part that is converted.
#include <QDialog>

#include <atomic>
#include <cstdint>
#include <string>

#include "edits/JobRecord.h"
#include "player/FFPlay.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TPreviewPanel;
class TSelectionSlider;

class TfrmTrim : public QDialog {
    Q_OBJECT
public:
    explicit TfrmTrim(QWidget* parent = nullptr);
    ~TfrmTrim() override;

    // Shows the dialog modally on job. True when "Ok" wrote the job; trimmedLength then
    // receives the "Trimmed Length" column's new text when the column changes (else it is
    // left as it was). A source that cannot be played is refused with a message and the job
    // is left as it was.
    bool Execute(TlvFilesRecord& job, QString* trimmedLength = nullptr);
    // The picture's automatic steps the preview takes, as the job's conversion will
    // (the Preferences' switches); before Execute.
    void SetPictureSwitches(const TSourcePictureSwitches& s) { FPlayer.SetPictureSwitches(s); }

    // The steps of Execute, for callers that run the dialog themselves: Start opens the
    // preview (false with the reason, the job untouched); after "Ok" Written() tells whether
    // the job was written and ColumnText() gives the column's text (null when untouched).
    bool Start(TlvFilesRecord& job, QString& error);
    bool Written() const { return FWritten; }
    const QString& ColumnText() const { return FColumnText; }

    TFFPlayer& Player() { return FPlayer; }
    std::int64_t Duration() const { return FDuration; }
    std::int64_t SelectionStart() const { return FStart; }
    std::int64_t SelectionEnd() const { return FEnd; }

    // Button reactions.
    void btnOk1Click();
    void btnOk2Click();
    void btnResetClick();
    void imgbtnPlayClick();
    void imgbtnpauseClick();
    void btnOkClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void FileOpen(std::int64_t duration, int& screenWidth, int& screenHeight);
    void PlayerPosition(std::int64_t pts);
    void PlayerState(TPlayState state);
    void Hook(TFrameBitmap& frame);
    void RestoreJob();
    void StopPreview();

    TFFPlayer FPlayer;
    TlvFilesRecord* FJob = nullptr;
    TlvFilesRecord FPreviewJob;  // what the preview draws: the job as it was handed over
    std::int64_t FStart = 0, FEnd = 0;
    std::int64_t FDuration = 0;      // for the selection
    std::int64_t FSeekDuration = 0;  // for seeking
    std::atomic<bool> FEnded{false};
    bool FSeeking = false;
    bool FWritten = false;
    QString FColumnText;

    QLineEdit* edtStart = nullptr;
    QLineEdit* edtEnd = nullptr;
    QLineEdit* edtTrimLength = nullptr;
    QPushButton* btnOk1 = nullptr;
    QPushButton* btnOk2 = nullptr;
    QPushButton* btnReset = nullptr;
    QLabel* lblSourceName = nullptr;
    QLabel* lblPTS = nullptr;
    QLabel* lblLength = nullptr;
    TPreviewPanel* imgPreview = nullptr;
    TSelectionSlider* trcPreview = nullptr;
    QToolButton* imgbtnPlay = nullptr;
    QToolButton* imgbtnpause = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};
