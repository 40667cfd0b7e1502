#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/support/TestSupport.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(IniFile, MatchesSectionsAndKeysWithoutRegardToCase) {
    TempDir dir;
    IniFile ini(dir.file("a.ini"));
    ini.WriteString("settings", "SnapOutPutDir", "/tmp/x");
    EXPECT_EQ(ini.ReadString("SETTINGS", "snapoutputdir", ""), "/tmp/x");
    ini.WriteString("Settings", "snapOutPutDir", "/tmp/y");
    EXPECT_EQ(ini.ReadSectionKeys("settings").size(), 1u);
    EXPECT_EQ(ini.ReadString("settings", "SnapOutPutDir", ""), "/tmp/y");
}

TEST(IniFile, MissingOrNonNumericValuesReadAsTheDefault) {
    TempDir dir;
    IniFile ini(dir.file("missing.ini"));
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 7);
    ini.WriteString("settings", "volume", "loud");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 7);
    ini.WriteString("settings", "volume", " 12 ");
    EXPECT_EQ(ini.ReadInteger("settings", "volume", 7), 12);
    EXPECT_FALSE(ParseInteger("99999999999").has_value());
    EXPECT_EQ(ParseInteger("-5"), -5);
}

TEST(IniFile, KeepsUnknownLinesCommentsAndOrder) {
    TempDir dir;
    const std::string path = dir.file("keep.ini");
    WriteFile(path, "; made by hand\r\n[b]\r\nx=1\r\nodd line\r\n\r\n[a]\r\ny=2\r\n");
    IniFile ini(path);
    ini.WriteString("B", "z", "3");
    ini.WriteString("a", "Y", "4");
    ini.WriteString("c", "w", "5");
    EXPECT_EQ(ReadFile(path), "; made by hand\n[b]\nx=1\nodd line\nz=3\n\n[a]\nY=4\n\n[c]\nw=5\n");
}

TEST(IniFile, NeverCachesAValue) {
    TempDir dir;
    const std::string path = dir.file("live.ini");
    IniFile reader(path), writer(path);
    writer.WriteInteger("s", "k", 1);
    EXPECT_EQ(reader.ReadInteger("s", "k", 0), 1);
    WriteFile(path, "[s]\nk=2\n");
    EXPECT_EQ(reader.ReadInteger("s", "k", 0), 2);
}

TEST(IniFile, AnUnwritableFolderIsReportedNotIgnored) {
    IniFile ini("/proc/no-such-folder/x.ini");
    EXPECT_THROW(ini.WriteString("s", "k", "v"), std::runtime_error);
}

TEST(IniFile, AWriteClearsOldTemporariesOfKilledWritersOnly) {
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string path = dir.file("s.ini");
    const std::string old = path + ".tmp-AbC123", fresh = path + ".tmp-XyZ789", other = dir.file("t.ini.tmp-AbC123");
    for (const auto& f : {old, fresh, other}) WriteFile(f, "partial");
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    fs::last_write_time(other, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    IniFile(path).WriteString("s", "k", "v");
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(fresh));  // a writer may still be working on it
    EXPECT_TRUE(fs::exists(other));  // another file's
}
