#pragma once
// The progress window of a conversion run: a promotional message, the frame being encoded,
// the current task's time, length, size, place in the run and file, its speed and the time
// it has left, a progress bar, what to do after the run, a snapshot button and Pause,
// Resume and Cancel. Shown modally for the whole run; closing it stops the run.
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>

#include <cstdint>
#include <string>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;
class QToolButton;
class TfrmMain;
struct TProgressInfo;

// The share done in whole percent, truncated; -1 when the total is not known.
int64_t ProgressPercent(int64_t current, int64_t total);
// A source path as the "File:" value shows it: whole below 51 characters, else its first 44
// characters, ".." and its extension with the dot.
QString ShortFileCaption(const QString& path);
// Whole seconds, hours and two-digit minutes and seconds: "0:01:05".
QString ClockText(double seconds);
// What is left of a task that has done current of total microseconds in elapsed seconds;
// negative when it cannot be told yet.
double TimeLeftSeconds(double elapsed, int64_t current, int64_t total);
// Where a picture of size picture lands in area: as large as fits with its shape kept,
// centred, the margins rounded to the nearest pixel (halves to even).
QRect FitPicture(const QRect& area, const QSize& picture);

// The picture area: the fill colour with the latest frame fitted into it.
class TPreviewArea : public QWidget {
public:
    static constexpr QRgb FillColour = 0xA6CAF0;
    explicit TPreviewArea(QWidget* parent = nullptr);
    void SetPicture(const QImage& picture);
    void Clear();
    const QImage& Picture() const { return FPicture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FPicture;
};

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    static constexpr int FormWidth = 450;
    static constexpr int FormHeight = 490;
    static constexpr int PreviewWidth = 389;
    static constexpr int PreviewHeight = 210;
    static constexpr int FileValueWidth = 283;
    static constexpr int PreviewInterval = 100;   // ms
    static constexpr int MessageInterval = 10000;  // ms

    explicit TfrmProgress(TfrmMain& owner);

    // A progress report of the run's task P.TaskIndex, whose row shows source.
    void ShowProgress(const TProgressInfo& info, const QString& source, int taskCount);
    // A task has finished: the bar shows 100.
    void ShowTaskFinished();
    // The clock of a task starts (the time left is measured from here).
    void TaskStarted(int taskIndex);
    double TaskElapsedSeconds() const;

    bool ShutDownAfterRun() const;
    bool OpenFolderAfterRun() const;
    // Pause enabled and Resume disabled when not paused, the other way round when paused.
    void ShowPaused(bool paused);

    // Shows the message of that index in the owner's list (empty text when there is none).
    void ShowMessage(int index);
    int MessageIndex() const { return FMessageIndex; }

    // The snapshot button: writes the pictures the settings ask for.
    void btnSnapshotClick();
    // What the picture area shows now, at its own size.
    QImage AreaPicture() const;
    TPreviewArea* PreviewArea() const { return imgPreview; }

    // Closing for any reason stops the run, waiting for the running task.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tmrPreviewTimer();
    void tmrMessageTimer();
    void mmoMessageClick();
    void btnPauseClick();
    void btnResumeClick();

    TfrmMain& FOwner;
    int FMessageIndex = -1;
    int FClockTask = -1;
    QElapsedTimer FTaskClock;
    bool FClosing = false;

    QTextEdit* mmoMessage = nullptr;
    TPreviewArea* imgPreview = nullptr;
    QLabel* lblCurrentTime = nullptr;
    QLabel* lblLength = nullptr;
    QLabel* lblFileSize = nullptr;
    QLabel* lblProgress = nullptr;
    QLabel* lblFile = nullptr;
    QLabel* lblSpeed = nullptr;
    QLabel* lblTimeLeft = nullptr;
    QProgressBar* pbProgress = nullptr;
    QCheckBox* ckShutDown = nullptr;
    QCheckBox* ckOpenFolder = nullptr;
    QToolButton* btnSnapshot = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;
    QPushButton* btnCancel = nullptr;
    QTimer* tmrPreview = nullptr;
    QTimer* tmrMessage = nullptr;
};
