// The main window's conversion run: checked rows become engine tasks, the progress window
// follows them, the end of the run restores the window and carries out the end actions.
#include <QApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <filesystem>
#include <set>

#include "app/JobList.h"
#include "app/MessageBoxes.h"
#include "app/WinMain.h"
#include "app/WinProgress.h"
#include "edits/JobEdits.h"
#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "formats/OutputName.h"
#include "formats/ui/ParameterPanel.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/qt/LauncherEntry.h"
#include "platform/qt/Power.h"
#include "platform/qt/SleepInhibitor.h"
#include "player/AVProbe.h"

namespace {

const char* const NoCheckedRow = "Please select a file by clicking the check box!";
const char* const SkippedIntro = "These files could not be opened and were not converted:";
const char* const FailedIntro = "These files could not be converted:";
const char* const RowFailedText = "Failed";
const char* const RowCancelledText = "Cancelled";

// The frame-size question of the options builder, as a message box.
class TSizeQuestionBox : public TSizeQuestion {
public:
    explicit TSizeQuestionBox(QWidget* parent) : FParent(parent) {}
    bool AskUseDefaultSize() override {
        return MessageBoxes().AskYesNo(FParent, SizeQuestionCaption, SizeQuestionText);
    }

private:
    QWidget* FParent;
};

TSourceSummary SourceSummary(TAVProbe& probe) {
    TSourceSummary source;
    source.VideoStreamCount = std::max(probe.VideoStreamCount(), 0);
    if (source.VideoStreamCount > 0) {
        const TVideoStreamInfo video = probe.VideoStreamInfo(-1);
        source.Width = video.Width;
        source.Height = video.Height;
        source.BitRate = std::max(video.BitRate, 0);
        source.SampleAspectNum = video.SampleAspectNum;
        source.SampleAspectDen = video.SampleAspectDen;
        source.Rotation = video.Rotation;
    }
    source.Duration = std::max<int64_t>(probe.FileStreamInfo().Duration, 0);
    return source;
}

}  // namespace

TfrmProgress& TfrmMain::ProgressWindow() {
    if (!FProgress) FProgress = new TfrmProgress(*this);
    return *FProgress;
}

bool TfrmMain::CommitParameterPanel() {
    // A frame size typed but not yet checked is checked and stored before the run reads it.
    return !pnlParameters || pnlParameters->CheckFrameSize();
}

void TfrmMain::ApplyWorkerPriority() {
    switch (IniFile(FSettingsFile).ReadInteger(settings_key::Section, settings_key::Priority, 1)) {
        case 0: FCCAVC.SetThreadPriority(tpIdle); break;
        case 1: FCCAVC.SetThreadPriority(tpNormal); break;
        case 2: FCCAVC.SetThreadPriority(tpLower); break;
        case 3: FCCAVC.SetThreadPriority(tpLowest); break;
        default: break;  // names no priority: the worker keeps the one it had
    }
}

void TfrmMain::btnStartClick() {
    if (FRunning || !FGlobal) return;
    if (!CommitParameterPanel()) return;
    ApplyWorkerPriority();

    int checked = 0;
    for (int i = 0; i < lvFiles->RowCount(); ++i)
        if (lvFiles->Row(i)->Checked()) ++checked;
    if (checked == 0) {
        MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", NoCheckedRow);
        return;
    }

    FTaskMap.clear();
    FTaskJobs.clear();
    FFrameEdits.Clear();
    {
        std::lock_guard lock(FHookFailureLock);
        FHookFailures.clear();
    }
    FSkipped.clear();
    FFailed.clear();
    FEndErrors.clear();
    FCancelled = false;
    FConvertedCount = 0;
    StopPreview();
    FCCAVC.ClearTasks();
    FPreviewBitmap = QImage();

    IniFile settings(FSettingsFile);
    const IniFile formatFile(FGlobal->FormatFile());
    const int code = settings.ReadInteger(settings_key::Section, settings_key::FormatCode, 1);
    TSizeQuestionBox sizeQuestion(this);
    TAVProbe& probe = FCCAVC.Probe();
    // Each task opens its files when its turn comes and gives them back when it ends: a
    // waiting job costs its options only, however many there are. Its output is written
    // under a temporary name and never replaces a file that appeared meanwhile.
    FCCAVC.SetOpenOnStart(true);
    FCCAVC.SetOutputPolicy(TOutputPolicy::Keep);
    // No file is written before its task runs, so the names the run gives out are kept
    // apart here: distinct from each other as well as from the files in the folder.
    std::set<std::string> planned;
    auto plannedAlready = [&planned](const std::string& path) { return planned.count(path) > 0; };

    for (int rowIndex = 0; rowIndex < lvFiles->RowCount(); ++rowIndex) {
        TJobRow* row = lvFiles->Row(rowIndex);
        if (!row->Checked()) continue;
        TlvFilesRecord& job = row->Record;
        const std::string& source = job.SourceFile;  // the bytes; the caption only shows them

        // A source gone or changed since it was added is left out; the others still run.
        if (!probe.LoadFile(source)) {
            FSkipped << QString::fromStdString(source);
            continue;
        }
        // A watermark picture that cannot be read would leave the job's frames as they are
        // and its row at 100%: the job fails instead, naming the picture, and the run goes on.
        if (!job.WatermarkImage.empty()) {
            TFrameBitmap picture;
            if (!LoadWatermarkImage(job.WatermarkImage, picture)) {
                probe.CloseFile();
                FFailed << QString::fromStdString(source + ": " + WatermarkImageError(job.WatermarkImage));
                continue;
            }
        }
        const std::string output = RunOutputFile(source, plannedAlready);
        planned.insert(output);
        job.ZoomMode = StoredZoomMode(code, settings);

        TInputOptions input;
        TOutputOptions options;
        const std::string refusal = MakeJobOptions(job, code, formatFile, settings, SourceSummary(probe), sizeQuestion, input, options,
                       [this, row](const std::string& line) { NoteJob(*row, QString::fromStdString(line)); });
        options.FileName = output;
        // Refused before anything is written; the others still run.
        if (!refusal.empty()) {
            probe.CloseFile();
            FFailed << QString::fromStdString(source + ": " + refusal);
            continue;
        }

        probe.CloseFile();
        const int task = FCCAVC.AddTask(source, &input);
        if (task < 0) {
            FSkipped << QString::fromStdString(source);
            continue;
        }
        // An output that cannot be set (a folder that cannot be written, a name too long) is
        // told with its real cause; the job is left out and the run goes on with the others.
        // One that fails only when its turn comes fails its task, and the run goes on.
        if (!FCCAVC.SetOutputFile(task, output, &options)) {
            const std::string reason = FCCAVC.LastError();
            FCCAVC.RemoveTask(task);
            FFailed << QString::fromStdString(source + ": " + output + ": " +
                                              (reason.empty() ? "the output file cannot be written" : reason));
            continue;
        }
        FTaskMap.push_back(rowIndex);
        FTaskJobs.push_back(&job);
    }

    if (FTaskMap.empty()) {
        FCCAVC.ClearTasks();
        ShowSkippedSources();
        return;
    }

    FRunning = true;
    FRunFolder = StoredOutputFolder(settings);
    SaveJobList();  // a crash from here on leaves temporary files in that folder
    SleepLock().Acquire("ReelShift", "Converting videos");
    Dock().RunStarted(int(FTaskMap.size()));
    for (TCommand command : {cmdAdd, cmdRemove, cmdClear, cmdStart}) EnableCommand(command, false);
    btnStop->setEnabled(true);
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);

    TfrmProgress& progress = ProgressWindow();
    progress.TaskStarted(0);
    FCCAVC.StartTask(1);
    progress.exec();
    activateWindow();
    ShowSkippedSources();
}

void TfrmMain::ShowSkippedSources() {
    QStringList parts;
    if (!FSkipped.isEmpty()) parts << QString(SkippedIntro) + "\n\n" + FSkipped.join('\n');
    if (!FFailed.isEmpty()) parts << QString(FailedIntro) + "\n\n" + FFailed.join('\n');
    if (!FEndErrors.isEmpty()) parts << FEndErrors.join('\n');
    FSkipped.clear();
    FFailed.clear();
    FEndErrors.clear();
    if (!parts.isEmpty()) MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", parts.join("\n\n"));
}

TSleepInhibitor& TfrmMain::SleepLock() {
    if (!FSleepLock) {
        FSleepLock = new TSleepInhibitor(FDesktopBuses ? FDesktopBuses->System : QDBusConnection::systemBus(), this);
        // A machine without a login manager converts all the same; it may only fall asleep.
        connect(FSleepLock, &TSleepInhibitor::Failed, this, [this](const QString& reason) {
            mmoLog->appendPlainText("Sleep is not held off during the run: " + reason);
        });
    }
    return *FSleepLock;
}

TDesktopNotifier& TfrmMain::Notifier() {
    if (!FNotifier)
        FNotifier = new TDesktopNotifier(FDesktopBuses ? FDesktopBuses->Session : QDBusConnection::sessionBus(), this);
    return *FNotifier;
}

TLauncherEntry& TfrmMain::Dock() {
    if (!FDock) FDock = new TLauncherEntry(FDesktopBuses ? FDesktopBuses->Session : QDBusConnection::sessionBus(),
                                           TLauncherEntry::DefaultAppUri(), this);
    return *FDock;
}

void TfrmMain::SetDesktopBuses(const QDBusConnection& system, const QDBusConnection& session) {
    FDesktopBuses = std::make_unique<TDesktopBuses>(TDesktopBuses{system, session});
    delete FSleepLock;
    delete FNotifier;
    delete FDock;
    FSleepLock = nullptr;
    FNotifier = nullptr;
    FDock = nullptr;
}

void TfrmMain::NotifyRunEnd(int converted, int failed) {
    // Someone at the window, or at its progress window, sees the end already.
    for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
        if (w == this) return;
    const QString body = QString("%1 %2 converted, %3 failed.")
                             .arg(converted)
                             .arg(converted == 1 ? "file" : "files")
                             .arg(failed);
    Notifier().Notify("Conversion finished", body, QString::fromStdString(StoredOutputFolder(IniFile(FSettingsFile))));
}

void TfrmMain::CCAVCProgress(TCustomFFmpegVCL*, PProgressInfo info) {
    if (!info || info->TaskIndex < 0 || info->TaskIndex >= int(FTaskMap.size())) return;
    TJobRow* row = lvFiles->Row(FTaskMap[size_t(info->TaskIndex)]);
    if (!row) return;
    const QString source = row->text(TJobRow::colSource);
    if (FProgress) FProgress->ShowProgress(*info, source, FCCAVC.TaskCount());
    const int64_t percent = ProgressPercent(info->CurrentDuration, info->TotalDuration);
    if (percent >= 0) Dock().TaskProgress(double(percent) / 100);
    if (percent >= 0)
        row->setText(TJobRow::colProgress, QString::number(std::clamp<int64_t>(percent, 0, 100)) + "%");
    else  // no total to measure against: how long it has been running
        row->setText(TJobRow::colProgress, ClockText(FProgress ? FProgress->TaskElapsedSeconds() : 0));
}

void TfrmMain::CCAVCPreviewBitmap(TCustomFFmpegVCL*, const TPreviewInfo& info) {
    const TFrameBitmap* bitmap = info.Bitmap;
    if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
    // The bitmap is the task's and changes as soon as we return.
    FPreviewBitmap =
        QImage(bitmap->Bits(), bitmap->Width(), bitmap->Height(), bitmap->Stride(), QImage::Format_BGR888).copy();
}

const TlvFilesRecord* TfrmMain::TaskJob(int taskIndex) const {
    if (taskIndex < 0 || taskIndex >= int(FTaskJobs.size())) return nullptr;
    return FTaskJobs[size_t(taskIndex)];
}

void TfrmMain::CCAVCCustomHook(TCustomFFmpegVCL*, PHookInfo info) {
    // On the worker thread. The task map and the jobs it names stay as they are for the
    // whole run: the list cannot change while the progress window is up. A job without edits
    // switches the hook off at its first frame, so its frames pass untouched.
    if (!info) return;
    const TlvFilesRecord* job = TaskJob(info->TaskIndex);
    if (!job) {
        info->Update = false;
        info->StopHook = true;
        return;
    }
    try {
        FFrameEdits.Hook(*info, *job);
    } catch (const std::exception& e) {
        // The picture went missing after Start: the task stops and is told as failed, rather
        // than running to its end without its edits.
        {
            std::lock_guard lock(FHookFailureLock);
            FHookFailures[info->TaskIndex] = e.what();
        }
        info->Update = false;
        info->StopHook = true;
        if (TFFmpeg* task = FCCAVC.Task(info->TaskIndex)) task->RequestStop();
    }
}

void TfrmMain::CCAVCTerminate(TCustomFFmpegVCL*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
        for (TCommand command : {cmdAdd, cmdRemove, cmdClear, cmdStart}) EnableCommand(command, true);
        btnStop->setEnabled(false);
        btnPause->setEnabled(false);
        btnResume->setEnabled(false);
        FCCAVC.ClearTasks();
        FTaskJobs.clear();
        FRunning = false;
        FRunFolder.clear();
        JobListChanged();
        // The end actions follow the run, whichever of its tasks failed; only a Cancel skips them.
        if (!FCancelled) RunEndActions();
        SleepLock().Release();
        Dock().RunEnded();
        NotifyRunEnd(FConvertedCount, int(FFailed.size()));
        RefreshDestinations();  // the names just written are taken now
        // After a Cancel the window is closed already.
        if (FProgress && FProgress->isVisible()) FProgress->close();
        return;
    }
    Dock().TaskEnded();
    std::string hookFailure;
    {
        std::lock_guard lock(FHookFailureLock);
        if (auto it = FHookFailures.find(info.TaskIndex); it != FHookFailures.end()) hookFailure = it->second;
    }
    if (!info.Finished || !hookFailure.empty()) {
        // Failed or stopped mid-file: the file was removed, and the row says so rather than
        // keep a percentage of a file that is not there. A task stopped before its turn
        // keeps what its row showed. A failure (also one of the frame hook, which stops its
        // task) is told after the run.
        TJobRow* row = info.TaskIndex < int(FTaskMap.size()) ? lvFiles->Row(FTaskMap[size_t(info.TaskIndex)]) : nullptr;
        if (row && (info.Exception || !hookFailure.empty())) {
            row->setText(TJobRow::colProgress, RowFailedText);
            FFailed << row->text(TJobRow::colSource) + ": " +
                           QString::fromStdString(hookFailure.empty() ? info.ExceptionMsg : hookFailure);
        } else if (row && info.Started) {
            row->setText(TJobRow::colProgress, RowCancelledText);
        }
        return;
    }
    ++FConvertedCount;
    if (info.TaskIndex < int(FTaskMap.size()))
        if (TJobRow* row = lvFiles->Row(FTaskMap[size_t(info.TaskIndex)])) {
            row->setText(TJobRow::colProgress, "100%");
            if (info.Incomplete) {
                // The file is written, but the source ended short of its stated length.
                const QString text = QString::fromStdString(info.IncompleteMsg);
                row->setText(TJobRow::colProgress, "Incomplete");
                row->setIcon(TJobRow::colProgress, lvFiles->style()->standardIcon(QStyle::SP_MessageBoxWarning));
                row->setToolTip(TJobRow::colProgress, text);
                mmoLog->appendPlainText(row->text(TJobRow::colSource) + ": " + text);
            }
        }
    if (FProgress) {
        FProgress->ShowTaskFinished();
        FProgress->TaskStarted(info.TaskIndex + 1);
    }
}

void TfrmMain::RunEndActions() {
    if (!FProgress) return;
    if (FProgress->OpenFolderAfterRun()) btnOpenClick();
    if (FProgress->ShutDownAfterRun()) {
        std::string error;
        if (!power::PowerOff(&error)) {
            // Told in the window after the run, not only in the log nobody sees.
            const QString text = QString::fromStdString("The computer could not be shut down: " + error);
            mmoLog->appendPlainText(text);
            FEndErrors << text;
        }
    }
}

void TfrmMain::CancelRun() {
    if (FRunning) FCancelled = true;
}

void TfrmMain::btnStopClick() {
    CancelRun();
    btnStop->setEnabled(false);
    EnableCommand(cmdRemove, false);
    EnableCommand(cmdClear, false);
    EnableCommand(cmdStart, false);
    btnPause->setEnabled(false);
    btnResume->setEnabled(false);
    EnableCommand(cmdAdd, true);
    FCCAVC.StopTask(true);
}

void TfrmMain::PauseRun() {
    btnPause->setEnabled(false);
    btnResume->setEnabled(true);
    if (FProgress) FProgress->ShowPaused(true);
    FCCAVC.PauseTask();
}

void TfrmMain::ResumeRun() {
    btnPause->setEnabled(true);
    btnResume->setEnabled(false);
    if (FProgress) FProgress->ShowPaused(false);
    FCCAVC.ResumeTask();
}

void TfrmMain::btnPauseClick() { PauseRun(); }
void TfrmMain::btnResumeClick() { ResumeRun(); }
