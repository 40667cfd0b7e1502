#include "formats/ParameterStore.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(PendingStore, HoldsWritesUntilCommitAndThenMakesThemInOrder) {
    TempDir dir;
    const std::string path = dir.file("settings.ini");
    WriteFile(path, "[formatInfo0]\nparaVolume=256\n");
    TPendingStore store(path);
    store.Write("formatInfo0", "Description", "AVI");
    store.WriteInteger("formatInfo0", "iVolume", 3);
    store.Write("FORMATINFO0", "ParaVolume", "512");  // same key: keeps its place in the file
    store.Write("formatInfo0", "description", "AVI 2");
    EXPECT_EQ(ReadFile(path), "[formatInfo0]\nparaVolume=256\n");
    EXPECT_EQ(store.ReadString("formatInfo0", "paravolume", ""), "512");
    EXPECT_EQ(store.ReadInteger("formatInfo0", "iVolume", -5), 3);
    EXPECT_EQ(store.ReadInteger("formatInfo0", "iChannel", -5), -5);
    store.Commit();
    EXPECT_TRUE(store.Empty());
    EXPECT_EQ(ReadFile(path), "[formatInfo0]\nParaVolume=512\nDescription=AVI 2\niVolume=3\n");
}

TEST(PendingStore, DiscardedWritesNeverReachTheFile) {
    TempDir dir;
    const std::string path = dir.file("settings.ini");
    TPendingStore store(path);
    store.Write("formatInfo0", "paraZoom", "pan");
    store.Discard();
    store.Commit();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(store.ReadString("formatInfo0", "paraZoom", "none"), "none");
}

TEST(H264TuningKeys, OnlyPresentValuesThatPassTheirTestsAreCopied) {
    TempDir dir;
    IniFile formats(dir.file("formats.ini"));
    WriteFile(formats.Path(),
              "[formatInfo3]\nparaBitExact=True\nparaMaxBitrate=1\nparaBufferSize=-1\nparaLevel=x\n"
              "paraGop=0\nparaCoder=0\n\n[formatInfo4]\nparaBitExact=yes\nparaCoder=-1\nparaQscale=4\n");
    TSettingsFileStore settings(dir.file("settings.ini"));
    CopyH264TuningKeys(formats, "formatInfo3", settings);
    CopyH264TuningKeys(formats, "formatInfo4", settings);
    EXPECT_EQ(ReadFile(dir.file("settings.ini")),
              "[formatInfo3]\nparaBitExact=True\nparaMaxBitrate=1\nparaCoder=0\n\n[formatInfo4]\nparaQscale=4\n");
}
