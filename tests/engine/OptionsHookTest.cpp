// Video hook modules are shared libraries; the tests build a small one with the system's
// C compiler so that loading, configuring, running and releasing are exercised for real.
#include <dlfcn.h>

#include <filesystem>

#include "OptionsTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {
const char* kModuleSource = R"(
#include <stdint.h>
#include <string.h>
typedef struct { uint8_t* data[4]; int linesize[4]; } Picture;
int ReleaseCount = 0;
static char lastArgs[256];
const char* LastArgs(void) { return lastArgs; }
int Configure(void** ctx, int argc, char* argv[]) {
    lastArgs[0] = 0;
    for (int i = 0; i < argc; ++i) { strcat(lastArgs, argv[i]); strcat(lastArgs, ";"); }
    if (argc > 1 && strcmp(argv[1], "fail") == 0) return -1;
    static int value = 0;
    value = argc;
    *ctx = &value;
    return 0;
}
void Process(void* ctx, Picture* p, int fmt, int w, int h, int64_t pts) {
    (void)fmt; (void)pts;
    for (int y = 0; y < h; ++y) for (int x = 0; x < w; ++x) p->data[0][y * p->linesize[0] + x] = (uint8_t)*(int*)ctx;
}
void Release(void* ctx) { (void)ctx; ++ReleaseCount; }
)";

class VideoHooks : public OptionsFixture {
protected:
    void SetUp() override {
        OptionsFixture::SetUp();
        std::string source = Dir.file("hook.c");
        testsupport::WriteFile(source, kModuleSource);
        Module = Dir.file("hook module.so");  // a blank in the path: "|" separates the words
        auto r = testsupport::Run({"cc", "-shared", "-fPIC", "-o", Module, source});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    testsupport::TempDir Dir;
    std::string Module;
};
}  // namespace

TEST_F(VideoHooks, ModulesAreConfiguredRunAndReleased) {
    Parser.ParseOption("vhook", Module + "|-w|3");
    ASSERT_EQ(Settings.VideoHooks.size(), 1u);
    EXPECT_EQ(Settings.VideoHooks[0]->Path, Module);

    void* handle = dlopen(Module.c_str(), RTLD_NOW | RTLD_NOLOAD);  // the one the engine loaded
    ASSERT_NE(handle, nullptr);
    auto lastArgs = reinterpret_cast<const char* (*)()>(dlsym(handle, "LastArgs"));
    auto* releaseCount = static_cast<int*>(dlsym(handle, "ReleaseCount"));
    EXPECT_EQ(std::string(lastArgs()), Module + ";-w;3;");

    uint8_t pixels[4 * 2] = {};
    TVideoHookPicture pict{{pixels, nullptr, nullptr, nullptr}, {4, 0, 0, 0}};
    Settings.VideoHooks[0]->Run(&pict, AV_PIX_FMT_GRAY8, 4, 2, 0);
    EXPECT_EQ(pixels[0], 3);  // the module saw the word count Configure stored
    EXPECT_EQ(pixels[7], 3);

    const int before = *releaseCount;
    Settings.VideoHooks.clear();
    EXPECT_EQ(*releaseCount, before + 1);
    dlclose(handle);
}

TEST_F(VideoHooks, BlankSeparatedWordsAndConfigureFailures) {
    std::string plain = Dir.file("plain.so");
    std::filesystem::copy_file(Module, plain);
    Parser.ParseOption("vhook", plain + "  a   b");
    ASSERT_EQ(Settings.VideoHooks.size(), 1u);
    void* handle = dlopen(plain.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    auto lastArgs = reinterpret_cast<const char* (*)()>(dlsym(handle, "LastArgs"));
    EXPECT_EQ(std::string(lastArgs()), plain + ";a;b;");

    EXPECT_EQ(ErrorOf("vhook", plain + " fail"), "Failed to add video hook function: " + plain + " fail");
    EXPECT_TRUE(Logged("Failed to Configure " + plain));
    EXPECT_EQ(Settings.VideoHooks.size(), 1u);
    dlclose(handle);
}
