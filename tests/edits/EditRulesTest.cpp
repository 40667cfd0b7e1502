// What a job's edits become: trim texts and stored values, options of the run, pixel
// positions of the watermarks.
#include <gtest/gtest.h>

#include "edits/JobEdits.h"
#include "edits/TrimRules.h"

TEST(FormatPlayTime, HoursMinutesSecondsAndMillisecondsTruncatedAndHoursNotWrapped) {
    EXPECT_EQ(FormatPlayTime(3723456789), "01:02:03.456");
    EXPECT_EQ(FormatPlayTime(0), "00:00:00.000");
    EXPECT_EQ(FormatPlayTime(999), "00:00:00.000");
    EXPECT_EQ(FormatPlayTime(60000000), "00:01:00.000");
    EXPECT_EQ(FormatPlayTime(int64_t(25) * 3600 * 1000000 + 1999), "25:00:00.001");
}

TEST(StoreTrim, AMiddlePartStoresStartAndLengthAndTheColumnItsSeconds) {
    const TTrimStore s = StoreTrim(10000000, 70000000, 120000000);
    EXPECT_EQ(s.TrimStart, 10000000);
    EXPECT_EQ(s.TrimLength, 60000000);
    EXPECT_TRUE(s.SetsColumn);
    EXPECT_EQ(s.ColumnSeconds, 60);
    EXPECT_EQ(FormatPlayTime(70000000 - 10000000), "00:01:00.000");
}

TEST(StoreTrim, TheWholeFileStoresNoLimitAndASelectionWithinAMillisecondOfNothingIsRefused) {
    const TTrimStore whole = StoreTrim(0, 120000000, 120000000);
    EXPECT_EQ(whole.TrimStart, 0);
    EXPECT_EQ(whole.TrimLength, 0);
    EXPECT_EQ(whole.ColumnSeconds, 120);
    const TTrimStore almostWhole = StoreTrim(500, 120000000, 120000000);
    EXPECT_EQ(almostWhole.TrimLength, 0);
    EXPECT_EQ(almostWhole.TrimStart, 500);

    // Stored as "no limit" it would convert from its start to the end of the file.
    const TTrimStore tiny = StoreTrim(5000000, 5000999, 120000000);
    EXPECT_TRUE(tiny.Refused);
    EXPECT_FALSE(tiny.SetsColumn);
    EXPECT_EQ(tiny.TrimStart, 0);
    EXPECT_EQ(tiny.TrimLength, 0);
    EXPECT_TRUE(StoreTrim(5000000, 5000000, 120000000).Refused);  // both marks at one place
    EXPECT_FALSE(StoreTrim(5000000, 5001000, 120000000).Refused);
    EXPECT_EQ(StoreTrim(5000000, 5001000, 120000000).TrimLength, 1000);
    EXPECT_FALSE(whole.Refused);
}

TEST(StoreTrim, ASelectionOutsideTheFileStoresTheWholeFileFromItsBeginning) {
    for (auto [start, end] : {std::pair<int64_t, int64_t>{50000000, 10000000}, {10000000, 130000000}, {-5, 1000000}}) {
        const TTrimStore s = StoreTrim(start, end, 120000000);
        EXPECT_EQ(s.TrimStart, 0) << start << " " << end;
        EXPECT_EQ(s.TrimLength, 0);
        EXPECT_TRUE(s.SetsColumn);
        EXPECT_EQ(s.ColumnSeconds, 120);
    }
    // Without a duration (the player never opened the file) nothing is kept and the column stays.
    const TTrimStore none = StoreTrim(0, 0, 0);
    EXPECT_EQ(none.TrimStart, 0);
    EXPECT_EQ(none.TrimLength, 0);
    EXPECT_FALSE(none.SetsColumn);
}

TEST(RestoreTrim, AStoredTrimReopensAsItsSelectionAndNoLengthAsTheWholeFile) {
    const TTrimSelection s = RestoreTrim(10000000, 60000000, 120000000);
    EXPECT_EQ(s.Start, 10000000);
    EXPECT_EQ(s.End, 70000000);
    EXPECT_EQ(SelectionPosition(s.Start, 120000000, 300), 25);
    EXPECT_EQ(SelectionPosition(s.End, 120000000, 300), 175);
    const TTrimSelection open = RestoreTrim(10000000, 0, 120000000);
    EXPECT_EQ(open.End, 120000000);
}

TEST(JobEdits, TrimBecomesInputStartAndRecordingTimeOnlyWhenSet) {
    TlvFilesRecord job;
    TInputOptions in;
    TOutputOptions out;
    ApplyTrim(job, in, out);
    EXPECT_EQ(in.StartTime, 0);
    EXPECT_EQ(out.RecordingTime, NoTimestamp);
    job.TrimStart = 1000000;
    job.TrimLength = 1500000;
    ApplyTrim(job, in, out);
    EXPECT_EQ(in.StartTime, 1000000);
    EXPECT_EQ(out.RecordingTime, 1500000);
    ApplyFrameHook(out);
    EXPECT_TRUE(out.CustomHook);

    job.ZoomMode = "full";
    job.CropMarginLeft = 4, job.CropMarginTop = 2, job.CropMarginRight = 6, job.CropMarginBottom = 8;
    const TJobGeometry g = JobGeometry(job);
    EXPECT_EQ(g.ZoomMode, "full");
    EXPECT_EQ(g.CropMarginLeft, 4);
    EXPECT_EQ(g.CropMarginTop, 2);
    EXPECT_EQ(g.CropMarginRight, 6);
    EXPECT_EQ(g.CropMarginBottom, 8);
}

TEST(JobEdits, PercentPositionsBecomeTruncatedPixelsOfTheFrame) {
    EXPECT_EQ(PercentToPixels(320, 50), 160);
    EXPECT_EQ(PercentToPixels(241, 33), 79);
    EXPECT_EQ(PercentToPixels(320, 100), 320);
    TlvFilesRecord job;
    job.TextSliderX = 10, job.TextSliderY = 25, job.ImageSliderX = 50, job.ImageSliderY = 99;
    PlaceWatermarks(job, 640, 360);
    EXPECT_EQ(job.TextLeft, 64);
    EXPECT_EQ(job.TextTop, 90);
    EXPECT_EQ(job.ImageLeft, 320);
    EXPECT_EQ(job.ImageTop, 356);
    EXPECT_EQ(job.ImageSliderY, 99);
    // An odd source is measured on the even preview frame.
    job.TextSliderX = 100, job.TextSliderY = 100;
    PlaceWatermarks(job, 641, 361);
    EXPECT_EQ(job.TextLeft, 640);
    EXPECT_EQ(job.TextTop, 360);
}
