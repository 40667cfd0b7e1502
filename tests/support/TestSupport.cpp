#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto p = std::filesystem::temp_directory_path() / ("reelshift-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            FPath = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

namespace {
std::string Drain(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    ::close(fd);
    return s;
}
}  // namespace

CommandResult Run(const std::vector<std::string>& argv) {
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, outPipe[0]);
    posix_spawn_file_actions_addclose(&fa, errPipe[0]);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    CommandResult r;
    if (rc != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        r.err = "cannot start " + argv[0];
        return r;
    }
    std::string err;
    std::thread errReader([&] { err = Drain(errPipe[0]); });
    r.out = Drain(outPipe[0]);
    errReader.join();
    r.err = std::move(err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

namespace {
// Tests run headless and silent however they are started (ctest, by hand, a debugger).
struct TestEnvironment {
    TestEnvironment() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
} gTestEnvironment;
}  // namespace

std::string BinDir() {
    const char* b = std::getenv("REELSHIFT_BIN");
    return b ? b : REELSHIFT_BIN_DIR;
}

std::string SourceDir() {
    const char* s = std::getenv("REELSHIFT_SOURCE");
    return s ? s : REELSHIFT_SOURCE_DIR;
}

void MakeClip(const std::string& output, double seconds, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25",
                                     "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                                     "-t", std::to_string(seconds)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    argv.push_back(output);
    auto r = Run(argv);
    if (r.exitCode != 0) throw std::runtime_error("ffmpeg failed to make " + output + ": " + r.err);
}

void SetMp4Rotation(const std::string& file, int clockwise) {
    std::string data = ReadFile(file);
    const auto at = data.find("tkhd");
    if (at == std::string::npos || at < 4) throw std::runtime_error("no track header in " + file);
    const size_t matrix = at - 4 + 48;
    // a b u / c d v / x y w, 16.16 fixed; the seen picture is the coded one turned clockwise.
    const int cos = clockwise == 180 ? -1 : 0, sin = clockwise == 90 ? 1 : clockwise == 270 ? -1 : 0;
    const int values[4] = {cos, sin, -sin, cos};
    const size_t offsets[4] = {0, 4, 12, 16};
    for (int i = 0; i < 4; ++i) {
        const uint32_t v = uint32_t(values[i] * 65536);
        for (int b = 0; b < 4; ++b) data[matrix + offsets[i] + b] = char((v >> (24 - 8 * b)) & 0xFF);
    }
    WriteFile(file, data);
}

std::string ProbeValue(const std::string& file, const std::string& entry, const std::string& streams) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error"};
    if (!streams.empty()) {
        argv.push_back("-select_streams");
        argv.push_back(streams);
    }
    argv.insert(argv.end(), {"-show_entries", entry, "-of", "default=noprint_wrappers=1:nokey=1", file});
    auto r = Run(argv);
    std::string v = r.out;
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Watchdog::Watchdog(int seconds, std::string what)
    : FThread([this, seconds, what = std::move(what)] {
          for (int i = 0; i < seconds * 10 && !FDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
          if (!FDone) {
              std::fprintf(stderr, "%s\n", what.c_str());
              std::_Exit(1);
          }
      }) {}

Watchdog::~Watchdog() {
    FDone = true;
    FThread.join();
}

}  // namespace testsupport
