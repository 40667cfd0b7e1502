#pragma once
// Helpers shared by the tests: scratch folders, running programs, generated media.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return FPath; }
    std::string file(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

struct CommandResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs a program without a shell (arguments are passed as they are).
CommandResult Run(const std::vector<std::string>& argv);

// Folder of the built programs (reelshift, reelshift-cli and their data files).
std::string BinDir();
// The source tree's root.
std::string SourceDir();

// A synthetic clip made with the ffmpeg program: test pattern and tone.
// extraArgs go before the output name (codecs, sizes, rates...).
void MakeClip(const std::string& output, double seconds, const std::vector<std::string>& extraArgs = {});

// One value of ffprobe's flat report, e.g. Probe(file, "stream=width", "v:0") → "320".
std::string ProbeValue(const std::string& file, const std::string& entry, const std::string& streams = "");

// Writes the display matrix of a clockwise quarter, half or three-quarter turn into the
// first track header of an MP4 file (version 0), as a phone does for a clip filmed upright.
void SetMp4Rotation(const std::string& file, int clockwise);

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);

// For a test of something that could wait for ever: the program ends with what (exit code 1)
// when the scope is still running after the given seconds.
class Watchdog {
public:
    Watchdog(int seconds, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

}  // namespace testsupport
