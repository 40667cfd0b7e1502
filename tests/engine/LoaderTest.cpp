// The loader's failure cases run in a child process: a failed set resets the process-wide
// entry tables, which the other tests of this executable rely on.
#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "engine/FFmpegException.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "platform/ProgramFolder.h"
#include "engine/LibAVApi.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// The child runs the test from its start and so makes a folder of its own; it removes it
// before it leaves, since _Exit runs no destructors.
fs::path gChildDir;
[[noreturn]] void ChildExit(int code) {
    std::error_code ec;
    if (!gChildDir.empty()) fs::remove_all(gChildDir, ec);
    std::_Exit(code);
}

// Reports a failed check from the child on stderr, where the death test reads it.
#define CHILD_CHECK(cond)                                                       \
    do {                                                                        \
        if (!(cond)) {                                                          \
            std::fprintf(stderr, "child check failed: %s\n", #cond);            \
            ChildExit(1);                                                       \
        }                                                                       \
    } while (0)

bool NothingLoaded(const TFFmpegLoader& loader) {
    for (int i = 0; i < LibraryCount; ++i)
        if (loader.Status(TLibraryIndex(i)).Handle || loader.Status(TLibraryIndex(i)).Bound) return false;
    return avutil().av_malloc == nullptr && avcodec().avcodec_open2 == nullptr &&
           swresample().swr_alloc == nullptr && swscale().sws_scale == nullptr;
}

// A folder holding the fake swscale under the name the loader builds.
void PlaceFakeSwScale(const TempDir& dir, const TFFmpegLoader& loader) {
    fs::copy_file(FAKE_SWSCALE_PATH, dir.path() / loader.LibraryFileName(liSWScale));
}

// Where the system keeps a library, found without loading it into this process.
std::string SystemLibraryPath(const std::string& name) {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib", "/lib/x86_64-linux-gnu",
                            "/usr/lib/aarch64-linux-gnu"}) {
        const fs::path p = fs::path(dir) / name;
        if (fs::exists(p)) return p.string();
    }
    return "";
}

int CountLoaded(const std::string& suffix, std::string* where) {
    struct Search {
        std::string suffix;
        int count = 0;
        std::string where;
    } s{suffix, 0, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.size() >= s->suffix.size() && name.compare(name.size() - s->suffix.size(), s->suffix.size(), s->suffix) == 0) {
                ++s->count;
                s->where = name;
            }
            return 0;
        },
        &s);
    if (where) *where = s.where;
    return s.count;
}

}  // namespace

TEST(FFmpegLoader, BuildsFileNamesFromTheHeadersMajorVersions) {
    TFFmpegLoader loader;
    EXPECT_EQ(loader.LibraryFileName(liAVCodec), "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(liAVUtil), "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(liSWResample), "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(loader.LibraryFileName(liSDL), "libSDL2-2.0.so.0");
    loader.SetLibraryFileName(liSWScale, "/opt/x/libswscale-custom.so");
    EXPECT_EQ(loader.LibraryFileName(liSWScale), "/opt/x/libswscale-custom.so");
}

TEST(FFmpegLoader, LooksInTheLibAVFolderBesideTheProgram) {
    EXPECT_EQ(FFLoader().LibraryFolder(), DefaultLibraryFolder());
    EXPECT_EQ(DefaultLibraryFolder(), ProgramFolder() + "/LibAV");
    EXPECT_TRUE(fs::exists(ProgramFolder() + "/test_engine"));
}

TEST(FFmpegLoader, AnEmptySetIsAProgrammingError) {
    TFFmpegLoader loader;
    EXPECT_THROW(loader.LoadLibrarySet(0), std::logic_error);
}

TEST(FFmpegLoader, HooksTheLoggerWhenAvutilIsBound) {
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    EXPECT_TRUE(FFLogger().Attached());
    EXPECT_TRUE(FFLoader().LibrarySetLoaded(LibBit(liAVUtil) | LibBit(liSWResample)));
    // A set that includes something never loaded is not loaded.
    EXPECT_FALSE(FFLoader().LibrarySetLoaded(LibBit(liAVDevice)));
}

TEST(FFmpegLoader, BindsExportedVariablesAndNamesTheMissingOne) {
    void* handle = dlopen(FAKE_SWSCALE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    void* found = nullptr;
    BindEntries(handle, "libfake.so", {}, {{"fake_swscale_variable", &found}});
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*static_cast<int*>(found), 42);

    void* missing = nullptr;
    try {
        BindEntries(handle, "libfake.so", {}, {{"no_such_variable", &missing}});
        FAIL() << "a missing variable must throw";
    } catch (const FFmpegException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Load variable no_such_variable@libfake.so error: ", 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find("no_such_variable"), std::string::npos);
    }
    dlclose(handle);
}

using FFmpegLoaderDeathTest = ::testing::Test;

TEST_F(FFmpegLoaderDeathTest, AMissingLibraryLeavesTheWholeSetUnloaded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    gChildDir = dir.path();
    EXPECT_EXIT(
        {
            TFFmpegLoader loader;
            loader.HookLog = false;
            loader.SetLibraryFolder(dir.path().string());
            // swscale is loaded third; avutil and swresample come before it and must go again.
            loader.SetLibraryFileName(liSWScale, dir.file("libswscale-gone.so.6"));
            const bool ok = loader.LoadLibrarySet(EngineLibraries);
            std::fprintf(stderr, "[%s]\n", loader.LastError().c_str());
            CHILD_CHECK(!ok);
            CHILD_CHECK(loader.LastError().rfind("Load library ", 0) == 0);
            CHILD_CHECK(!loader.LibrarySetLoaded(EngineLibraries));
            CHILD_CHECK(NothingLoaded(loader));
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0), "\\[Load library .*libswscale-gone\\.so\\.6 error: .*\\]");
}

TEST_F(FFmpegLoaderDeathTest, AFileThatIsNoLibraryIsRefusedByName) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    gChildDir = dir.path();
    testsupport::WriteFile(dir.file("libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR)), "not a library");
    EXPECT_EXIT(
        {
            TFFmpegLoader loader;
            loader.HookLog = false;
            loader.SetLibraryFolder(dir.path().string());
            const bool ok = loader.LoadLibrarySet(EngineLibraries);
            std::fprintf(stderr, "[%s]\n", loader.LastError().c_str());
            CHILD_CHECK(!ok && NothingLoaded(loader));
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0), "\\[Load library .*/libswscale\\.so\\.[0-9]+ error: .*\\]");
}

TEST_F(FFmpegLoaderDeathTest, ALibraryLackingAnEntryNamesTheEntryAndTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    gChildDir = dir.path();
    EXPECT_EXIT(
        {
            TFFmpegLoader loader;
            loader.HookLog = false;
            loader.SetLibraryFolder(dir.path().string());
            PlaceFakeSwScale(dir, loader);
            const bool ok = loader.LoadLibrarySet(EngineLibraries);
            std::fprintf(stderr, "[%s]\n", loader.LastError().c_str());
            CHILD_CHECK(!ok && NothingLoaded(loader));
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0),
        "\\[Load function sws_scale@libswscale\\.so\\.[0-9]+ error: .*undefined symbol: sws_scale\\]");
}

TEST_F(FFmpegLoaderDeathTest, ALibraryOfAnotherGenerationIsRefusedWithItsVersion) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    gChildDir = dir.path();
    EXPECT_EXIT(
        {
            ::setenv("FAKE_SWSCALE_VERSION", "0x050203", 1);  // 5.2.3
            TFFmpegLoader loader;
            loader.HookLog = false;
            loader.SetLibraryFolder(dir.path().string());
            PlaceFakeSwScale(dir, loader);
            const bool ok = loader.LoadLibrarySet(LibBit(liSWScale));
            std::fprintf(stderr, "[%s]\n", loader.LastError().c_str());
            CHILD_CHECK(!ok && NothingLoaded(loader));
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0),
        "\\[Load library libswscale\\.so\\.[0-9]+ error: version 5\\.2\\.3 found, major version [0-9]+ required\\]");
}

TEST_F(FFmpegLoaderDeathTest, APrivateFolderCopyIsTheOneEveryLibraryUses) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string avutilName = "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR);
    const std::string system = SystemLibraryPath(avutilName);
    if (system.empty()) GTEST_SKIP() << "no system " << avutilName;
    TempDir dir;
    gChildDir = dir.path();
    fs::copy_file(system, dir.path() / avutilName);
    EXPECT_EXIT(
        {
            TFFmpegLoader loader;
            loader.HookLog = false;
            loader.SetLibraryFolder(dir.path().string() + "/");
            CHILD_CHECK(loader.LoadLibrarySet(EngineLibraries));
            Dl_info info{};
            CHILD_CHECK(dladdr(reinterpret_cast<void*>(avutil().av_malloc), &info) != 0);
            std::string where;
            // avcodec and the others, loaded from the system, resolve against the copy.
            const int copies = CountLoaded(avutilName, &where);
            std::fprintf(stderr, "[%s][%s][%d]\n", info.dli_fname, where.c_str(), copies);
            CHILD_CHECK(copies == 1);
            CHILD_CHECK(where == dir.file(avutilName));
            CHILD_CHECK(std::string(info.dli_fname) == dir.file(avutilName));
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FFmpegLoaderDeathTest, AFailureKeepsWhatAnEarlierSetLoaded) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    gChildDir = dir.path();
    EXPECT_EXIT(
        {
            TFFmpegLoader loader;
            loader.HookLog = false;
            CHILD_CHECK(loader.LoadLibrarySet(LibBit(liAVUtil)));
            loader.SetLibraryFileName(liSWScale, dir.file("libswscale-gone.so.6"));
            CHILD_CHECK(!loader.LoadLibrarySet(LibBit(liAVUtil) | LibBit(liSWResample) | LibBit(liSWScale)));
            // The engine may be running on avutil: it stays; swresample, new in this call, goes.
            CHILD_CHECK(loader.LibrarySetLoaded(LibBit(liAVUtil)) && avutil().av_malloc != nullptr);
            CHILD_CHECK(!loader.Status(liSWResample).Handle && swresample().swr_alloc == nullptr);
            ChildExit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
