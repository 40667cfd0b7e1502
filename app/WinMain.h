#pragma once
// The main window: menus, the tool bar, the job list, the preview, the parameter panel, the
// format picker and the output folder. It owns the application state object for its life.
#include <QDBusConnection>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "app/AdInfo.h"
#include "app/GlobalUnit.h"
#include "app/JobListState.h"
#include "edits/FrameEdits.h"
#include "edits/JobRecord.h"
#include "engine/FFmpegVCL.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolBar;
class QToolButton;
class TFormatListBox;
class QTimer;
class TfrmAbout;
class TDesktopNotifier;
class TLauncherEntry;
class TSleepInhibitor;
class TfrmTrim;
class TfrmFileInfo;
class TParameterPanel;
class TfrmSettings;
class TPreviewControls;
class TJobListView;
class TJobRow;
class TfrmDirectory;
class TfrmPreference;
class TfrmProgress;

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 786;
    static constexpr int DefaultHeight = 522;

    // Takes the state object of the edition: its title becomes the application title, the
    // stored skin is applied and the preview's media libraries are loaded.
    explicit TfrmMain(const TGlobalObject& global, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Null once the window has closed.
    const TGlobalObject* Global() const { return FGlobal.get(); }

    // The file a run with the stored format writes for a source (RunOutputFileName in
    // formats/OutputName.h); the folder warning is shown as a message box. alsoTaken: names
    // given out already by the run being planned.
    std::string RunOutputFile(const std::string& source,
                              const std::function<bool(const std::string&)>& alsoTaken = nullptr);
    // A line in a row's log, also written to the window's log with the row's source.
    void NoteJob(TJobRow& row, const QString& line);
    // Every row's "Destination File" computed afresh: the format, the output folder or the
    // files in it may have changed.
    void RefreshDestinations();

    const QString& CurrentFormatName() const { return FFormatName; }
    const QString& CurrentFormatCode() const { return FFormatCode; }

    // Closes without the exit question (the update check asks for this).
    void CloseForUpdate();

    TFormatListBox* FormatList() const { return lst1; }
    TParameterPanel* ParameterPanel() const { return pnlParameters; }

    const std::string& SettingsFile() const { return FSettingsFile; }

    // ---- job list
    TJobListView* JobList() const { return lvFiles; }
    // "&Add": the open-file dialog, then AddFiles with the chosen files.
    void AddWithDialog();
    // "Add &Folder...": a folder chooser, then AddFiles with the folder.
    void AddFolderWithDialog();
    // Adds files as "&Add" does: paths already in the list and files that hold no picture or
    // sound are skipped without a word. A folder adds every file below it that the edition's
    // add filter takes, in name order; its other files are named in one message at the end.
    // Returns the number of rows added. Paths are the system's bytes, whatever their encoding.
    int AddFiles(const std::vector<std::string>& paths);
    // The same for paths that came through Qt: a name Qt decoded with loss is found again
    // among its folder's entries.
    int AddFiles(const QStringList& paths);
    // The job record of a row; null for an index out of range.
    TlvFilesRecord* JobRecord(int row);
    // The record of the selected row, the one the edit dialogs work on; null without one.
    TlvFilesRecord* SelectedJobRecord();

    // ---- conversion run
    TFFmpegVCL& CCAVC() { return FCCAVC; }
    // Task index of the current run → job-list row.
    const std::vector<int>& TaskMap() const { return FTaskMap; }
    // The job record of a task of the run in progress; null outside a run.
    const TlvFilesRecord* TaskJob(int taskIndex) const;
    // From Start until the all-ended report has been handled.
    bool Running() const { return FRunning; }
    // The latest frame of the run being converted (empty before the first one).
    const QImage& PreviewBitmap() const { return FPreviewBitmap; }
    // The progress window, made on first use.
    TfrmProgress& ProgressWindow();
    // The run was cancelled (the progress window closed, Stop): its end actions are skipped.
    void CancelRun();
    // Pause and Resume of the run, the buttons of both windows following.
    void PauseRun();
    void ResumeRun();

    void btnStartClick();
    void btnStopClick();
    void btnPauseClick();
    void btnResumeClick();

    // The engine's events. Progress and preview arrive on the main thread, the end reports are
    // carried over to it; the hook runs on the worker thread.
    void CCAVCProgress(TCustomFFmpegVCL* sender, PProgressInfo info);
    void CCAVCPreviewBitmap(TCustomFFmpegVCL* sender, const TPreviewInfo& info);
    void CCAVCTerminate(TCustomFFmpegVCL* sender, const TTerminateInfo& info);
    void CCAVCCustomHook(TCustomFFmpegVCL* sender, PHookInfo info);

    // ---- promotional messages of the progress window and the latest version named by the feed
    const std::vector<TAdInfo>& AdList() const { return FAdList; }
    void SetAdList(std::vector<TAdInfo> list) { FAdList = std::move(list); }
    const std::string& LatestVersion() const { return FLatestVersion; }
    void SetLatestVersion(std::string version) { FLatestVersion = std::move(version); }

    // The file information window for a job's source file (empty: no job selected).
    void ShowFileInfo(const std::string& source);
    // To be called after a job's record was changed in place (the edit dialogs do): the
    // recovery file follows.
    void JobEdited();

    // Files named on the command line: added as by Add once the window is up (after the
    // question whether to restore the jobs of a run that did not end cleanly).
    void AddStartupFiles(const std::vector<std::string>& paths);

    // The buses of the sleep lock (login manager) and of the desktop notice; tests hand in a
    // private bus with stand-in services.
    void SetDesktopBuses(const QDBusConnection& system, const QDBusConnection& session);

    // ---- secondary windows, made on first use
    TfrmPreference& Preferences();
    TfrmDirectory& FolderChooser();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    QWidget* CreateJobList();
    QWidget* CreatePreview();
    QWidget* CreateParameterPanel();
    QWidget* CreateFormatAndFolder();
    void FirstShow();
    void ApplyStoredSkin();
    void UpdateCheck();

    // Handlers.
    void mnuSkinShow();
    void mnuSkinItemClick(int index);
    void mnuHelpClick();
    void mnuWebSiteClick();
    void mnuSupportClick();
    void mnuAboutClick();
    void edtOutputDirChange(const QString& text);
    void btnOpenClick();
    void cbOutputFormatChange(int index);
    void lst1FormatPicked(const QString& name, int code);
    void mnuSettingsClick();
    void ReloadParameters();
    void btnBrowsClick();
    void mnuPreferenceClick();

    // Job list.
    enum TCommand { cmdAdd, cmdRemove, cmdClear, cmdStart };
    void EnableCommand(TCommand command, bool enabled);
    void CreatePopupMenu();
    void btnRemoveClick();
    void btnClearClick();
    void mnuCheckAllClick();
    void mnuUncheckAllClick();
    void mnuReverseCheckClick();
    void mnuCheckClick();
    void mnuUncheckClick();
    void mnuEditShow();
    void pmnFilesShow();
    void btnEditClick();
    void lvFilesPopup(const QPoint& position);
    bool RowSelected() const;
    // The preview player stops (Remove of the last row, Clear, Start).
    void StopPreview();
    // The source the preview plays: the selected row's, selecting the first row when none is.
    std::string PreviewSource();

    // The edit dialogs and the file information of the selected job.
    void mnuCropClick();
    void mnuTrimClick();
    void mnuEffectClick();
    void mnuVideoInfoClick();
    void lvFilesDoubleClick();

    // The recovery file of the job list.
    void WatchJobList();
    void JobListChanged();
    std::vector<TSavedJob> SavedJobs() const;
    void SaveJobList();
    void OfferJobRecovery();
    void RestoreJobs(const std::vector<TSavedJob>& jobs);
    void ForgetJobList();
    void AfterFirstShow();

    // Run.
    // Stops every task, waiting for the running one, and removes the engine's handlers.
    void DetachEngine();
    void ApplyWorkerPriority();
    // What the parameter panel has typed but not yet stored is stored before a run.
    bool CommitParameterPanel();
    void ShowSkippedSources();
    TSleepInhibitor& SleepLock();
    TDesktopNotifier& Notifier();
    TLauncherEntry& Dock();  // the run's progress on the launcher's icon
    // A notice on the desktop when the window is not in front.
    void NotifyRunEnd(int converted, int failed);
    void RunEndActions();

    // The job list and the run.
    TFFmpegVCL FCCAVC;
    std::vector<int> FTaskMap;
    std::vector<const TlvFilesRecord*> FTaskJobs;  // the job of each task, read by the hook
    TRunFrameEdits FFrameEdits;  // what the hook draws, prepared once per task
    std::mutex FHookFailureLock;
    std::map<int, std::string> FHookFailures;  // task → why its edits could not be drawn
    QStringList FSkipped;  // sources that could not be opened at Start
    QStringList FFailed;   // sources whose conversion failed, with the reason
    std::string FRunFolder;  // the output folder while a run is under way (kept in the job list file)
    QStringList FEndErrors;  // end actions that failed
    bool FCancelled = false;
    int FConvertedCount = 0;
    struct TDesktopBuses {
        QDBusConnection System, Session;
    };
    std::unique_ptr<TDesktopBuses> FDesktopBuses;  // null: the machine's own buses
    TSleepInhibitor* FSleepLock = nullptr;          // made on first use
    TJobListState FJobState{TJobListState::DefaultPath()};
    QTimer* FStateTimer = nullptr;
    bool FKeepJobList = false;  // from the recovery question until a clean exit
    bool FJobStateWarned = false;
    std::vector<std::string> FStartupFiles;
    bool FStartupDone = false;
    TDesktopNotifier* FNotifier = nullptr;
    TLauncherEntry* FDock = nullptr;
    bool FRunning = false;
    bool FRefreshingDestinations = false;
    QImage FPreviewBitmap;
    QString FAddFolder;  // where the open dialog starts
    std::vector<TAdInfo> FAdList = BuiltInAdInfos();
    std::string FLatestVersion;
    QPointer<TfrmProgress> FProgress;
    QPointer<TfrmPreference> FPreference;
    QPointer<TfrmDirectory> FDirectory;

    std::unique_ptr<TGlobalObject> FGlobal;
    std::string FSettingsFile;  // kept for the closing steps after the state object is freed
    bool FShownOnce = false;
    bool FCloseForUpdate = false;
    QString FFormatName;
    QString FFormatCode;
    TfrmAbout* frmAbout = nullptr;        // made on first use
    TfrmFileInfo* frmFileInfo = nullptr;  // made on first use
    TfrmTrim* frmTrim = nullptr;          // made on first use, kept for its marks

    QMenu* mnuSkin = nullptr;
    std::array<QAction*, 7> mnuSkinItems{};

    QToolBar* tlbMain = nullptr;
    TJobListView* lvFiles = nullptr;
    QMenu* mnuEdit = nullptr;
    QMenu* pmnFiles = nullptr;
    QAction* mnuAdd = nullptr;
    QAction* mnuRemove = nullptr;
    QAction* mnuClear = nullptr;
    QAction* mnuStart = nullptr;
    QAction* btnAdd = nullptr;
    QAction* btnRemove = nullptr;
    QAction* btnClear = nullptr;
    QAction* btnEdit = nullptr;
    QAction* btnStartTool = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnResume = nullptr;
    QPlainTextEdit* mmoLog = nullptr;
    TPreviewControls* FPreview = nullptr;  // the preview group and its player
    QGroupBox* grpPreview = nullptr;
    QWidget* pan1 = nullptr;
    QToolButton* imgbtnPlay = nullptr;
    QToolButton* imgbtnPAuse = nullptr;
    QToolButton* imgbtnStop = nullptr;
    QToolButton* imgbtnSnap = nullptr;
    QSlider* trcPreview = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* lblPTS = nullptr;
    QSlider* trcVolume = nullptr;
    QCheckBox* ckMute = nullptr;
    TParameterPanel* pnlParameters = nullptr;
    TfrmSettings* frmSettings = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    TFormatListBox* lst1 = nullptr;
    QComboBox* cbOutputFormat = nullptr;
    QLineEdit* edtOutputDir = nullptr;
    QPushButton* btnBrows = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnStart = nullptr;
};
