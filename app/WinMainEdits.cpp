// The main window's per-job windows: the trim, crop and watermark dialogs and the file
// information, each on the selected row's job.
#include "app/JobList.h"
#include "app/WinMain.h"
#include "edits/JobEdits.h"
#include "edits/WinCrop.h"
#include "edits/WinTrim.h"
#include "edits/WinWaterMark.h"
#include "platform/IniFile.h"
#include "player/ui/PreviewControls.h"

void TfrmMain::mnuCropClick() {
    TlvFilesRecord* job = SelectedJobRecord();
    if (!job || FRunning) return;
    StopPreview();  // one playback at a time: the dialog plays the job itself
    TfrmCrop dialog(this);
    dialog.SetPictureSwitches(StoredPictureSwitches(IniFile(FSettingsFile)));
    if (dialog.Execute(*job)) JobEdited();
    activateWindow();
}

void TfrmMain::mnuTrimClick() {
    TlvFilesRecord* job = SelectedJobRecord();
    if (!job || FRunning) return;
    StopPreview();
    if (!frmTrim) frmTrim = new TfrmTrim(this);
    frmTrim->SetPictureSwitches(StoredPictureSwitches(IniFile(FSettingsFile)));
    QString trimmedLength;
    if (frmTrim->Execute(*job, &trimmedLength)) {
        if (TJobRow* row = lvFiles->Row(lvFiles->SelectedIndex()); row && !trimmedLength.isNull())
            row->setText(TJobRow::colTrimmed, trimmedLength);
        JobEdited();
    }
    activateWindow();
}

void TfrmMain::mnuEffectClick() {
    TlvFilesRecord* job = SelectedJobRecord();
    if (!job || FRunning) return;
    StopPreview();
    TfrmWaterMark dialog(this);
    dialog.SetPictureSwitches(StoredPictureSwitches(IniFile(FSettingsFile)));
    if (dialog.Execute(*job)) JobEdited();
    activateWindow();
}

void TfrmMain::mnuVideoInfoClick() {
    const TlvFilesRecord* job = SelectedJobRecord();
    ShowFileInfo(job ? job->SourceFile : std::string());
}

void TfrmMain::lvFilesDoubleClick() {
    if (!FPreview || !SelectedJobRecord()) return;
    StopPreview();
    FPreview->imgbtnPlayClick();
}
