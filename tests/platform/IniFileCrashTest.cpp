// A settings write killed at any moment must leave the file either as it was before that
// write or as it is after it: never torn, never empty.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// A settings file of some 90 KB: the counter and a big section that every write carries.
std::string Version(int counter) {
    std::string text = "[settings]\ncounter=" + std::to_string(counter) + "\n[formatInfo0]\n";
    for (int k = 0; k < 1500; ++k)
        text += "para" + std::to_string(k) + "=" + std::string(50, char('a' + k % 26)) + "\n";
    return text;
}

}  // namespace

// Run only as the child of the test below: writes counter 1, 2, 3, ... until killed, each
// one a read-modify-write of the whole file as the program makes them.
TEST(IniFileCrashChild, DISABLED_WritesUntilKilled) {
    const char* path = std::getenv("REELSHIFT_CRASH_FILE");
    ASSERT_NE(path, nullptr);
    IniFile ini(path);
    for (int counter = ini.ReadInteger("settings", "counter", 0) + 1;; ++counter)
        ini.WriteInteger("settings", "counter", counter);
}

TEST(IniFile, AWriteKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    TempDir dir;
    const std::string path = dir.file("zantomp4aviconverter.ini");
    testsupport::WriteFile(path, Version(0));
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayMs(5, 60);
    int last = 0, advanced = 0;
    // Under load the child may be killed before it writes at all; such rounds prove nothing,
    // so go on until enough rounds killed a writer that had been writing.
    for (int round = 0; round < 400 && (round < 40 || advanced <= 10); ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::setenv("REELSHIFT_CRASH_FILE", path.c_str(), 1);
            ::execl("/proc/self/exe", "test_platform", "--gtest_also_run_disabled_tests",
                    "--gtest_filter=IniFileCrashChild.*", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;

        IniFile ini(path);
        const int counter = ini.ReadInteger("settings", "counter", -1);
        ASSERT_GE(counter, last) << "round " << round;
        ASSERT_EQ(ReadFile(path), Version(counter)) << "round " << round << ": the file is not a whole version";
        if (counter > last) ++advanced;
        last = counter;
    }
    EXPECT_GT(advanced, 10) << "the writer hardly ever got to write";
}
