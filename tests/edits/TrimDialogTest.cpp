// The trim dialog on a generated clip: marks taken from where the preview plays, what "Ok"
// stores, and a trimmed job reopened.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "edits/TrimRules.h"
#include "edits/WinTrim.h"
#include "tests/edits/DialogTestSupport.h"

using namespace dialogtest;

namespace {

class TrimDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetUpDialogs();
        Dir = new testsupport::TempDir;
        // A name that is not UTF-8 (Latin-1 "clipé"): the dialog opens its bytes.
        testsupport::MakeClip(Dir->file("clip\xe9.mp4"), 4, {"-c:v", "libx264", "-preset", "ultrafast", "-g", "10", "-c:a", "aac"});
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    static std::string Text(TfrmTrim& d, const char* name) { return Child<QLineEdit>(d, name)->text().toStdString(); }
    static void Click(TfrmTrim& d, const char* name) { Child<QPushButton>(d, name)->click(); }
    // Plays to about the given time and pauses there; returns where the preview stands.
    static std::int64_t PauseNear(TfrmTrim& d, std::int64_t target) {
        d.imgbtnPlayClick();
        d.Player().Seek(0, true, target);
        EXPECT_TRUE(ServeUntil([&] { return std::llabs(d.Player().CurrentPosition() - target) < 300000; }, 5))
            << d.Player().CurrentPosition();
        d.imgbtnpauseClick();
        ServeFor(0.05);
        return d.Player().CurrentPosition();
    }
    static testsupport::TempDir* Dir;
};
testsupport::TempDir* TrimDialog::Dir = nullptr;

TEST_F(TrimDialog, MarksTakenFromThePlayingPositionAreStoredInMicrosecondsWithTheLengthText) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("clip\xe9.mp4");
    TfrmTrim d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    EXPECT_NEAR(double(d.Duration()), 4e6, 1e5);
    EXPECT_TRUE(Child<QLabel>(d, "lblSourceName")->text().endsWith(QString("clip") + QChar(0xFFFD) + ".mp4"));
    // A fresh job shows the whole file.
    EXPECT_EQ(Text(d, "edtStart"), "00:00:00.000");
    EXPECT_EQ(Text(d, "edtEnd"), FormatPlayTime(d.Duration()));

    const std::int64_t start = PauseNear(d, 1000000);
    ASSERT_GT(start, 0);
    Click(d, "btnOk1");
    EXPECT_EQ(Text(d, "edtStart"), FormatPlayTime(start));
    const std::int64_t end = PauseNear(d, 3000000);
    ASSERT_GT(end, start);
    Click(d, "btnOk2");
    EXPECT_EQ(Text(d, "edtEnd"), FormatPlayTime(end));
    // The seek bar has followed the playback.
    auto* bar = Child<QSlider>(d, "trcPreview");
    EXPECT_NEAR(bar->value(), SelectionPosition(end, d.Duration(), bar->maximum()), 10);
    EXPECT_EQ(Text(d, "edtTrimLength"), FormatPlayTime(end - start));

    Click(d, "btnOk");
    EXPECT_TRUE(d.Written());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(job.TrimStart, start);
    EXPECT_EQ(job.TrimLength, end - start);
    EXPECT_EQ(d.ColumnText().toStdString(), std::to_string((end - start) / 1000000));
}

TEST_F(TrimDialog, TheWholeFileStoresNoLengthShowsTheFullLengthAndCancelWritesNothing) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("clip\xe9.mp4");
    job.TrimStart = 500000;
    job.TrimLength = 1000000;
    TfrmTrim d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.imgbtnpauseClick();
    // "&Default": from 0 to the very end.
    Click(d, "btnDefault");
    EXPECT_EQ(Text(d, "edtStart"), "00:00:00");
    EXPECT_EQ(Text(d, "edtTrimLength"), FormatPlayTime(d.Duration()));
    Click(d, "btnOk");
    EXPECT_EQ(job.TrimStart, 0);
    EXPECT_EQ(job.TrimLength, 0);
    EXPECT_EQ(d.ColumnText().toStdString(), std::to_string(d.Duration() / 1000000));

    // The same instance shown again; "Cancel" after changing the marks leaves the job.
    const TlvFilesRecord before = job;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.imgbtnpauseClick();
    Click(d, "btnReset");
    PauseNear(d, 2000000);
    Click(d, "btnOk1");
    Click(d, "btnCancel");
    EXPECT_FALSE(d.Written());
    EXPECT_EQ(job, before);
}

TEST_F(TrimDialog, ATrimmedJobReopensWithItsMarksAndASelectionOfNoLengthIsRefused) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("clip\xe9.mp4");
    job.TrimStart = 1500000;
    job.TrimLength = 1250000;
    TfrmTrim d;
    QString error;
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    d.imgbtnpauseClick();
    EXPECT_EQ(Text(d, "edtStart"), "00:00:01.500");
    EXPECT_EQ(Text(d, "edtEnd"), "00:00:02.750");
    EXPECT_EQ(Text(d, "edtTrimLength"), "00:00:01.250");
    EXPECT_EQ(d.SelectionStart(), 1500000);
    EXPECT_EQ(d.SelectionEnd(), 2750000);
    // "Ok" without a change keeps the trim.
    Click(d, "btnOk");
    EXPECT_EQ(job.TrimStart, 1500000);
    EXPECT_EQ(job.TrimLength, 1250000);
    EXPECT_EQ(d.ColumnText().toStdString(), "1");

    // Both marks at one place: nothing to convert, so "Ok" says so and the dialog stays.
    ASSERT_TRUE(d.Start(job, error)) << error.toStdString();
    PauseNear(d, 2000000);
    Click(d, "btnOk1");
    Click(d, "btnOk2");
    ASSERT_EQ(d.SelectionStart(), d.SelectionEnd());
    WarningCatcher warnings;
    Click(d, "btnOk");
    EXPECT_EQ(warnings.Count, 1);
    EXPECT_EQ(warnings.Text, TrimTooShort);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(job.TrimStart, 1500000);
    EXPECT_EQ(job.TrimLength, 1250000);
    Click(d, "btnCancel");
}

}  // namespace

namespace {

TEST_F(TrimDialog, ExecuteRunsModallyAndHandsBackTheColumnText) {
    TlvFilesRecord job;
    job.SourceFile = Dir->file("clip\xe9.mp4");
    job.TrimStart = 2000000;
    TfrmTrim d;
    // The program's event loop serves the player's main-thread calls; here a timer does.
    QTimer serve;
    QObject::connect(&serve, &QTimer::timeout, [] { TheMainThread().ServePending(); });
    serve.start(5);
    QTimer::singleShot(300, &d, [&] {
        EXPECT_TRUE(d.isModal());
        Child<QPushButton>(d, "btnDefault")->click();
        Child<QPushButton>(d, "btnOk")->click();
    });
    QString length;
    EXPECT_TRUE(d.Execute(job, &length));
    EXPECT_EQ(job.TrimStart, 0);
    EXPECT_EQ(job.TrimLength, 0);
    EXPECT_EQ(length.toStdString(), std::to_string(d.Duration() / 1000000));
    EXPECT_FALSE(d.isVisible());
}

}  // namespace
