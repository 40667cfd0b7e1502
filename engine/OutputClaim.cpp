#include "engine/OutputClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char* const TemporarySuffix = ".reelshift-part";

bool SameFile(int fd, const std::string& path) {
    struct stat byFd {}, byPath {};
    if (::fstat(fd, &byFd) != 0 || ::stat(path.c_str(), &byPath) != 0) return false;
    return byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

// Opens path and locks it without waiting; -1 when it is locked (busy) or cannot be opened.
// The lock is only good when the path still names the file locked: a writer may have
// renamed or removed it between our open and our lock.
int OpenLocked(const std::string& path, bool create, bool* busy) {
    *busy = false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ::close(fd);
            if (e == EWOULDBLOCK) *busy = true;
            errno = e;
            return -1;
        }
        if (SameFile(fd, path)) return fd;
        ::close(fd);
        if (!create) {
            errno = ENOENT;
            return -1;
        }
    }
    *busy = true;
    return -1;
}

}  // namespace

std::string TOutputClaim::TemporaryName(const std::string& finalName) {
    const fs::path p(finalName);
    return (p.parent_path() / ("." + p.filename().string() + TemporarySuffix)).string();
}

bool TOutputClaim::IsTemporaryName(const std::string& fileName) {
    const std::string name = fs::path(fileName).filename().string();
    const size_t n = std::strlen(TemporarySuffix);
    return name.size() > n + 1 && name[0] == '.' && name.compare(name.size() - n, n, TemporarySuffix) == 0;
}

bool TOutputClaim::Applies(const std::string& finalName) {
    if (finalName.empty() || finalName == "-") return false;
    // A protocol ("pipe:", "tcp:", "file:") comes before any folder.
    const size_t colon = finalName.find(':'), slash = finalName.find('/');
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return false;
    if (fs::path(finalName).filename().empty()) return false;
    struct stat st {};
    if (::stat(finalName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
    return true;
}

TOutputClaim::TOutputClaim(std::string finalName, std::string temporary, int fd)
    : FFinal(std::move(finalName)), FTemporary(std::move(temporary)), FFd(fd) {}

TOutputClaim::~TOutputClaim() {
    if (!FCommitted && SameFile(FFd, FTemporary)) ::unlink(FTemporary.c_str());
    ::close(FFd);  // releases the lock
}

std::unique_ptr<TOutputClaim> TOutputClaim::Take(const std::string& finalName, bool* busy, std::string* error) {
    const std::string temporary = TemporaryName(finalName);
    bool locked = false;
    const int fd = OpenLocked(temporary, true, &locked);
    if (busy) *busy = locked;
    if (fd < 0) {
        if (error) *error = locked ? "is being converted by another program" : std::strerror(errno);
        return nullptr;
    }
    // An abandoned file taken over starts empty, like a new one.
    if (::ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        if (error) *error = std::strerror(e);
        errno = e;
        return nullptr;
    }
    return std::unique_ptr<TOutputClaim>(new TOutputClaim(finalName, temporary, fd));
}

bool TOutputClaim::Busy(const std::string& finalName) {
    const std::string temporary = TemporaryName(finalName);
    bool busy = false;
    const int fd = OpenLocked(temporary, false, &busy);
    if (fd >= 0) ::close(fd);
    return busy;
}

bool TOutputClaim::Commit(bool replace, std::string* error) {
    if (FCommitted) return true;
    int r;
    if (replace) {
        r = ::rename(FTemporary.c_str(), FFinal.c_str());
    } else {
        r = ::renameat2(AT_FDCWD, FTemporary.c_str(), AT_FDCWD, FFinal.c_str(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a new link fails on an existing name too.
            r = ::link(FTemporary.c_str(), FFinal.c_str());
            if (r == 0) ::unlink(FTemporary.c_str());
        }
    }
    if (r != 0) {
        if (error) *error = errno == EEXIST ? std::string("the file exists already") : std::strerror(errno);
        return false;
    }
    FCommitted = true;
    return true;
}

int RemoveAbandonedOutputs(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        if (!TOutputClaim::IsTemporaryName(path)) continue;
        bool busy = false;
        const int fd = OpenLocked(path, false, &busy);
        if (fd < 0) continue;  // held by a running writer, or gone already
        if (::unlink(path.c_str()) == 0) ++removed;
        ::close(fd);
    }
    return removed;
}
