// Each edit dialog refuses a source it cannot preview with a message and leaves the job.
#include "edits/WinCrop.h"
#include "edits/WinTrim.h"
#include "edits/WinWaterMark.h"
#include "tests/edits/DialogTestSupport.h"

using namespace dialogtest;

namespace {

class BadSource : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetUpDialogs(); }

    // Runs every dialog's entry point on the job; each must refuse with one message naming
    // the reason and leave the job as it was.
    void ExpectRefused(const TlvFilesRecord& job, const std::string& reason) {
        TlvFilesRecord copy = job;
        WarningCatcher warnings;
        {
            TfrmWaterMark d;
            EXPECT_FALSE(d.Execute(copy));
            EXPECT_FALSE(d.isVisible());
        }
        EXPECT_EQ(warnings.Caption, "Water Mark");
        {
            TfrmCrop d;
            EXPECT_FALSE(d.Execute(copy));
            EXPECT_FALSE(d.isVisible());
        }
        EXPECT_EQ(warnings.Caption, "Crop");
        QString length = "untouched";
        {
            TfrmTrim d;
            EXPECT_FALSE(d.Execute(copy, &length));
            EXPECT_FALSE(d.isVisible());
        }
        EXPECT_EQ(warnings.Caption, "Trim");
        EXPECT_EQ(warnings.Count, 3);
        EXPECT_NE(warnings.Text.find(reason), std::string::npos) << warnings.Text;
        EXPECT_EQ(length, "untouched");
        EXPECT_EQ(copy, job);
    }
    testsupport::TempDir Dir;
};

TEST_F(BadSource, AMissingFileIsRefused) {
    TlvFilesRecord job;
    job.SourceFile = Dir.file("gone.mp4");
    job.TrimStart = 1000;
    job.Brightness = 300;
    job.CropEditTop = 4;
    ExpectRefused(job, "does not exist");
}

TEST_F(BadSource, AJobWithoutASourceIsRefused) { ExpectRefused(TlvFilesRecord{}, "no source"); }

TEST_F(BadSource, AFileThatIsNoMediaIsRefusedWithThePlayersReason) {
    TlvFilesRecord job;
    job.SourceFile = Dir.file("notes.mp4");
    testsupport::WriteFile(job.SourceFile, "these are not pictures\n");
    ExpectRefused(job, "cannot be played");
}

}  // namespace
