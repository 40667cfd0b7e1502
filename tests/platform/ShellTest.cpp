#include "platform/qt/Shell.h"

#include <gtest/gtest.h>

#include <QUrl>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {
// Records what would have been opened; nothing is launched.
struct TOpenRecorder {
    TOpenRecorder() {
        shell::SetUrlOpener([this](const QUrl& url) {
            Opened.push_back(url);
            return true;
        });
    }
    ~TOpenRecorder() { shell::SetUrlOpener({}); }
    std::vector<QUrl> Opened;
};
}  // namespace

TEST(Shell, OnlyHttpAndHttpsAddressesWithAHostAreWebAddresses) {
    EXPECT_TRUE(shell::IsWebAddress("http://www.example.com/a"));
    EXPECT_TRUE(shell::IsWebAddress("HTTPS://www.example.com/help.html?Zanto MP4 to AVI Converter"));
    EXPECT_FALSE(shell::IsWebAddress("file:///etc/passwd"));
    EXPECT_FALSE(shell::IsWebAddress("javascript:alert(1)"));
    EXPECT_FALSE(shell::IsWebAddress("ftp://example.com/x"));
    EXPECT_FALSE(shell::IsWebAddress("www.example.com"));
    EXPECT_FALSE(shell::IsWebAddress("http://"));
    EXPECT_FALSE(shell::IsWebAddress("; rm -rf ~"));
    EXPECT_FALSE(shell::IsWebAddress(""));
}

TEST(Shell, OpensWebAddressesAndExistingFoldersAsUrlsAndNothingElse) {
    TOpenRecorder recorder;
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("f.txt"), "x");
    EXPECT_TRUE(shell::OpenWebAddress("https://www.example.com/p?a b"));
    EXPECT_FALSE(shell::OpenWebAddress("file:///bin/sh"));
    EXPECT_TRUE(shell::OpenFolder(dir.path().string()));
    EXPECT_FALSE(shell::OpenFolder(dir.file("f.txt")));
    EXPECT_FALSE(shell::OpenFolder(dir.file("missing")));
    EXPECT_FALSE(shell::OpenFolder(""));
    ASSERT_EQ(recorder.Opened.size(), 2u);
    EXPECT_EQ(recorder.Opened[0].scheme(), "https");
    EXPECT_EQ(recorder.Opened[0].query(QUrl::FullyDecoded), "a b");
    EXPECT_TRUE(recorder.Opened[1].isLocalFile());
    EXPECT_EQ(recorder.Opened[1].toLocalFile().toStdString(), dir.path().string());
}
