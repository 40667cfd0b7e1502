#pragma once
// The job list kept on disk while the program runs, so that the jobs survive a crash: written
// after every change, read at the next start after an unclean end, removed by a clean exit.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "edits/JobRecord.h"

// One row of the job list: its record, its check box and the texts of its columns.
struct TSavedJob {
    TlvFilesRecord Record;
    bool Checked = true;
    std::string Length;          // "Length" column
    std::string TrimmedLength;   // "Trimmed Length" column
    std::string Destination;     // "Destination File" column
    std::string Progress;        // "Progress" column; "100%" once converted
    // Read back only: one line for each value of the file that was of the wrong kind or out
    // of range and was replaced by its default.
    std::vector<std::string> Notes;

    bool operator==(const TSavedJob&) const = default;
};

class TJobListState {
public:
    explicit TJobListState(std::string path);
    // $XDG_STATE_HOME/reelshift/joblist.json (~/.local/state when the variable is unset).
    static std::string DefaultPath();

    const std::string& Path() const { return FPath; }
    // Makes the file this window's own for as long as this object lives: the first of
    // joblist.json, joblist-2.json … joblist-9.json that no other running window holds
    // (a lock file beside it, flock'ed). Path() then names it. False when all are held.
    // Two windows never read or replace each other's live list; a crash of either leaves
    // its own file for the next start to offer.
    bool Claim();
    // Replaces the file as a whole (a crash mid-write leaves the previous version); false
    // when it cannot be written.
    // runFolder: the output folder of a run under way, whose temporary files a crash leaves.
    bool Save(const std::vector<TSavedJob>& jobs, const std::string& runFolder = {}) const;
    // The saved rows; nothing when there is no file or it cannot be read. Every value is
    // checked as the dialogs would: one of the wrong kind or out of range takes its default,
    // with a line in the row's Notes.
    std::optional<std::vector<TSavedJob>> Load() const;
    // The output folder of the run that was under way when the file was written; empty
    // when none was.
    std::string LoadRunFolder() const;
    bool Exists() const;
    void Remove() const;

private:
    struct TLock;
    std::string FPath;
    std::shared_ptr<TLock> FLock;
};

// The jobs whose source still exists, and the sources of the others.
struct TRestorableJobs {
    std::vector<TSavedJob> Present;
    std::vector<std::string> MissingSources;
};
TRestorableJobs SplitBySourcePresence(const std::vector<TSavedJob>& jobs);
