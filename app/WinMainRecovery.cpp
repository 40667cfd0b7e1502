// The job list kept on disk while the program runs: written after every change, offered back
// after an unclean end, removed by a clean exit.
#include <QAbstractItemModel>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>

#include "app/JobList.h"
#include "app/MessageBoxes.h"
#include "app/WinMain.h"
#include "engine/OutputClaim.h"
#include "platform/qt/FileNames.h"

void TfrmMain::WatchJobList() {
    // Changes arrive in bursts (an Add of many files, a progress report per row); one write
    // when the burst is over, before the next event is handled.
    FStateTimer = new QTimer(this);
    FStateTimer->setSingleShot(true);
    FStateTimer->setInterval(0);
    connect(FStateTimer, &QTimer::timeout, this, &TfrmMain::SaveJobList);
    QAbstractItemModel* model = lvFiles->model();
    auto changed = [this] { JobListChanged(); };
    connect(model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(model, &QAbstractItemModel::dataChanged, this, changed);
    connect(model, &QAbstractItemModel::modelReset, this, changed);
}

void TfrmMain::JobListChanged() {
    if (!FKeepJobList || !FStateTimer) return;
    // During a run the rows change with every report; a list of thousands of rows is
    // written at most once a second then, not after each change.
    if (FRunning) {
        if (!FStateTimer->isActive()) FStateTimer->start(1000);
        return;
    }
    FStateTimer->start(0);
}

void TfrmMain::JobEdited() { JobListChanged(); }

std::vector<TSavedJob> TfrmMain::SavedJobs() const {
    std::vector<TSavedJob> jobs;
    for (int i = 0; i < lvFiles->RowCount(); ++i) {
        const TJobRow* row = lvFiles->Row(i);
        TSavedJob job;
        job.Record = row->Record;
        job.Checked = row->Checked();
        job.Length = row->text(TJobRow::colLength).toStdString();
        job.TrimmedLength = row->text(TJobRow::colTrimmed).toStdString();
        // The name's bytes while the column shows them, else what it shows.
        const QString destination = row->text(TJobRow::colDestination);
        job.Destination = DisplayPath(row->DestinationName) == destination ? row->DestinationName : destination.toStdString();
        job.Progress = row->text(TJobRow::colProgress).toStdString();
        jobs.push_back(std::move(job));
    }
    return jobs;
}

void TfrmMain::SaveJobList() {
    if (!FKeepJobList) return;
    if (!FJobState.Save(SavedJobs(), FRunFolder) && !FJobStateWarned) {
        FJobStateWarned = true;  // once: the list works on, it only would not survive a crash
        mmoLog->appendPlainText(QString::fromStdString("The job list cannot be kept in " + FJobState.Path()));
    }
}

void TfrmMain::OfferJobRecovery() {
    // Each running window keeps a list of its own: never offer another window's live one.
    if (!FJobState.Claim()) {
        // Either the folder cannot be written or nine other windows hold every file there.
        mmoLog->appendPlainText(QString::fromStdString("The job list cannot be kept in " + FJobState.Path()));
        return;
    }
    // A run cut short by a crash left its unfinished files under their temporary names.
    if (const std::string folder = FJobState.LoadRunFolder(); !folder.empty()) {
        if (const int removed = RemoveAbandonedOutputs(folder); removed > 0)
            mmoLog->appendPlainText(QString("%1 unfinished %2 of the last run removed from %3")
                                        .arg(removed)
                                        .arg(removed == 1 ? "file" : "files")
                                        .arg(QString::fromStdString(folder)));
    }
    const auto saved = FJobState.Exists() ? FJobState.Load() : std::nullopt;
    if (saved && !saved->empty()) {
        const TRestorableJobs split = SplitBySourcePresence(*saved);
        QString text;
        if (!split.Present.empty())
            text = QString("The program did not close properly last time. Restore the %1 %2 of its job list?")
                       .arg(split.Present.size())
                       .arg(split.Present.size() == 1 ? "job" : "jobs");
        if (!split.MissingSources.empty()) {
            if (!text.isEmpty()) text += "\n\n";
            text += "These files are gone and are left out:";
            for (const std::string& source : split.MissingSources) text += "\n" + DisplayPath(source);
        }
        if (split.Present.empty())
            MessageBoxes().Show(this, TMessageIcon::Warning, "Warning", text);
        else if (MessageBoxes().AskYesNo(this, "Warning", text))
            RestoreJobs(split.Present);
    }
    FKeepJobList = true;
    SaveJobList();  // the list as it is now replaces what was offered
}

void TfrmMain::RestoreJobs(const std::vector<TSavedJob>& jobs) {
    for (const TSavedJob& job : jobs) {
        if (lvFiles->HasSource(job.Record.SourceFile)) continue;
        auto* row = new TJobRow(job.Record);
        row->setText(TJobRow::colSource, DisplayPath(job.Record.SourceFile));
        row->setText(TJobRow::colLength, QString::fromStdString(job.Length));
        row->setText(TJobRow::colTrimmed, QString::fromStdString(job.TrimmedLength));
        row->setText(TJobRow::colDestination, QString::fromStdString(job.Destination));
        row->setText(TJobRow::colProgress, QString::fromStdString(job.Progress));
        // A file converted before the crash is not converted again unless checked anew.
        row->SetChecked(job.Checked && job.Progress != "100%");
        lvFiles->addTopLevelItem(row);
        for (const std::string& note : job.Notes) NoteJob(*row, QString::fromStdString(note));
        if (lvFiles->RowCount() == 1) lvFiles->CreateColumns();
    }
    if (lvFiles->RowCount() > 0) {
        for (TCommand command : {cmdRemove, cmdClear, cmdStart}) EnableCommand(command, true);
        // The names as the format and the folder of today give them.
        RefreshDestinations();
        lvFiles->SelectRow(0);
    }
}

void TfrmMain::NoteJob(TJobRow& row, const QString& line) {
    row.AddLog(line);
    mmoLog->appendPlainText(row.text(TJobRow::colSource) + ": " + line);
}

void TfrmMain::AddStartupFiles(const std::vector<std::string>& paths) {
    FStartupFiles = paths;
    if (FStartupDone) {  // the window is up already: add them now
        AddFiles(FStartupFiles);
        FStartupFiles.clear();
    }
}

void TfrmMain::AfterFirstShow() {
    OfferJobRecovery();
    FStartupDone = true;
    if (!FStartupFiles.empty()) AddFiles(FStartupFiles);
    FStartupFiles.clear();
    UpdateCheck();
}

void TfrmMain::ForgetJobList() {
    FKeepJobList = false;
    if (FStateTimer) FStateTimer->stop();
    FJobState.Remove();
}
