#pragma once
// An output file being written. It is written under a hidden temporary name beside its
// final name (".<name>.reelshift-part") and renamed only when it is complete, so that no
// file looks finished unless it is. While its writer lives the temporary file is locked
// (flock): the lock tells other programs that the name is being converted right now, and
// it goes with the writer, so a temporary file nobody holds was left by a crash.
#include <memory>
#include <string>

class TOutputClaim {
public:
    ~TOutputClaim();  // removes the temporary file unless committed
    TOutputClaim(const TOutputClaim&) = delete;
    TOutputClaim& operator=(const TOutputClaim&) = delete;

    // "folder/.name.reelshift-part" for "folder/name".
    static std::string TemporaryName(const std::string& finalName);
    static bool IsTemporaryName(const std::string& fileName);
    // Whether an output of this name is worth a temporary file: a local path that is not
    // an existing device, pipe or folder ("-", "pipe:1", "/dev/null" are written directly).
    static bool Applies(const std::string& finalName);

    // Creates (or takes over an abandoned) temporary file and locks it. Null when another
    // writer holds it (busy set) or when it cannot be made (error set, errno kept).
    static std::unique_ptr<TOutputClaim> Take(const std::string& finalName, bool* busy, std::string* error);
    // True while some writer, in this program or another, holds the claim on the name.
    static bool Busy(const std::string& finalName);

    const std::string& TemporaryPath() const { return FTemporary; }
    const std::string& FinalPath() const { return FFinal; }
    // Gives the complete file its final name. replace: an existing file of that name is
    // replaced in one step; otherwise an existing file stays and the commit fails.
    bool Commit(bool replace, std::string* error);

private:
    TOutputClaim(std::string finalName, std::string temporary, int fd);
    std::string FFinal;
    std::string FTemporary;
    int FFd = -1;
    bool FCommitted = false;
};

// Removes the temporary files of ours in folder that no running writer holds (left by a
// crash, a kill or a power cut). Returns how many were removed.
int RemoveAbandonedOutputs(const std::string& folder);
