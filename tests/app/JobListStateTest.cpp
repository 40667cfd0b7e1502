#include "app/JobListState.h"

#include <memory>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestSupport.h"

using testsupport::TempDir;

namespace {
// A job with every field away from its default (and within the dialogs' ranges), so that a
// field the file forgets shows.
TSavedJob EditedJob(const std::string& source) {
    TSavedJob job;
    TlvFilesRecord& r = job.Record;
    r.SourceFile = source;
    r.TrimStart = 10'000'000;
    r.TrimLength = 60'000'000'123;
    r.ZoomMode = "pan";
    int n = 1;
    for (int32_t* field : {&r.CropMarginTop, &r.CropMarginLeft, &r.CropMarginBottom, &r.CropMarginRight, &r.CropEditTop,
                           &r.CropEditLeft, &r.CropEditBottom, &r.CropEditRight, &r.TextLeft, &r.TextTop,
                           &r.TextSliderX, &r.TextSliderY, &r.ImageLeft, &r.ImageTop, &r.ImageSliderX, &r.ImageSliderY,
                           &r.ImageAlpha})
        *field = (n++) * 2;
    r.TransparentStyle = 2;
    r.Brightness = 300;
    r.Contrast = -40;
    r.Saturation = 100;
    r.Exposure = -60;
    r.WatermarkText = "Ünïcode \"text\"\nline two";
    r.WatermarkFont = {"DejaVu Sans", 23, 0xFF8000, true, true, true, true};
    r.WatermarkImage = "/pictures/logo.bmp";
    r.ProcessText = true;
    r.ProcessImage = true;
    job.Checked = false;
    job.Length = "120";
    job.TrimmedLength = "60";
    job.Destination = "clip_(new).avi";
    job.Progress = "100%";
    return job;
}
}  // namespace

TEST(JobListState, EveryFieldOfEveryRowComesBackAsItWasSaved) {
    TempDir dir;
    const TJobListState state(dir.file("state/reelshift/joblist.json"));
    // Paths are bytes: names that are not UTF-8 (Latin-1 "bé", "lögo", "résultats") come back whole.
    TSavedJob plain;
    plain.Record.SourceFile = "/videos/b\xe9.mp4";
    plain.Record.WatermarkImage = "/pictures/l\xf6go.bmp";
    plain.Destination = "b\xe9_(new).avi";
    const std::vector<TSavedJob> jobs = {EditedJob("/videos/a.mp4"), plain};
    ASSERT_TRUE(state.Save(jobs, "/out/r\xe9sultats"));
    EXPECT_EQ(state.LoadRunFolder(), "/out/r\xe9sultats");
    EXPECT_TRUE(state.Exists());
    const auto loaded = state.Load();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(*loaded, jobs);

    state.Remove();
    EXPECT_FALSE(state.Exists());
    EXPECT_FALSE(state.Load().has_value());
}

TEST(JobListState, ADamagedFileRestoresNothingAndValuesOfTheWrongKindOrOutOfRangeTakeTheirDefaults) {
    TempDir dir;
    const TJobListState state(dir.file("joblist.json"));
    testsupport::WriteFile(state.Path(), "{\"version\":1,\"jobs\":[{\"Rec");
    EXPECT_FALSE(state.Load().has_value());

    // A file written by hand (or by a faulty program): each bad value is noted and replaced.
    testsupport::WriteFile(state.Path(), R"({"version":1,"jobs":[{"Record":{"SourceFile":"/v/a.mp4","SourceFileBytes":"L3YvYi5tcDQ=",
        "TrimStart":-5,"TrimLength":1e300,"ZoomMode":7,"ImageLeft":2147483637,"ImageTop":-40,"ImageAlpha":200,
        "Brightness":"abc","Contrast":1.5,"CropMarginTop":99999,"CropMarginLeft":3,"TextSliderX":101,
        "TransparentStyle":0,"ProcessText":"yes","Font":{"Size":500,"Color":-1,"Name":12}},
        "Checked":"no","Progress":100}]})");
    const auto junk = state.Load();
    ASSERT_TRUE(junk.has_value());
    ASSERT_EQ(junk->size(), 1u);
    const TSavedJob& job = junk->front();
    TlvFilesRecord expected;
    expected.SourceFile = "/v/a.mp4";
    expected.ImageAlpha = 200;  // the one value that was fine
    EXPECT_EQ(job.Record, expected);
    EXPECT_TRUE(job.Checked);
    EXPECT_EQ(job.Progress, "");
    for (const char* name : {"TrimStart", "TrimLength", "ZoomMode", "ImageLeft", "ImageTop", "Brightness", "Contrast",
                             "CropMarginTop", "CropMarginLeft", "TextSliderX", "TransparentStyle", "ProcessText",
                             "Font Size", "Font Color", "Font Name", "Checked", "Progress", "SourceFileBytes"}) {
        bool noted = false;
        for (const std::string& line : job.Notes) noted = noted || line.rfind(std::string(name) + " ", 0) == 0;
        EXPECT_TRUE(noted) << name;
    }
    EXPECT_EQ(job.Notes.size(), 18u);
    ASSERT_TRUE(state.Save({EditedJob("/videos/a.mp4")}));
    ASSERT_TRUE(state.Load().has_value());
    EXPECT_EQ(state.Load()->size(), 1u);
}

TEST(JobListState, LivesInTheUsersStateFolder) {
    const char* old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_STATE_HOME", "/tmp/state-here", 1);
    EXPECT_EQ(TJobListState::DefaultPath(), "/tmp/state-here/reelshift/joblist.json");
    ::unsetenv("XDG_STATE_HOME");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    EXPECT_EQ(TJobListState::DefaultPath(), home + "/.local/state/reelshift/joblist.json");
    if (old) ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
}

TEST(JobListState, EachRunningWindowKeepsAListOfItsOwn) {
    TempDir dir;
    const std::string first = dir.file("state/joblist.json");
    auto window1 = std::make_unique<TJobListState>(first);
    ASSERT_TRUE(window1->Claim());
    EXPECT_EQ(window1->Path(), first);
    ASSERT_TRUE(window1->Save({EditedJob("/videos/a.mp4")}));
    // A second window must not offer (or replace) the first one's live list.
    TJobListState window2(first);
    ASSERT_TRUE(window2.Claim());
    EXPECT_EQ(window2.Path(), dir.file("state/joblist-2.json"));
    EXPECT_FALSE(window2.Exists());
    // The first window gone (crashed: its file stays), the next start takes its list.
    window1.reset();
    TJobListState window3(first);
    ASSERT_TRUE(window3.Claim());
    EXPECT_EQ(window3.Path(), first);
    ASSERT_TRUE(window3.Load().has_value());
    EXPECT_EQ(window3.Load()->size(), 1u);
}

TEST(JobListState, JobsWhoseSourceIsGoneAreSetApart) {
    TempDir dir;
    testsupport::WriteFile(dir.file("here.mp4"), "x");
    TSavedJob here, gone;
    here.Record.SourceFile = dir.file("here.mp4");
    gone.Record.SourceFile = dir.file("gone.mp4");
    const TRestorableJobs split = SplitBySourcePresence({gone, here});
    ASSERT_EQ(split.Present.size(), 1u);
    EXPECT_EQ(split.Present[0].Record.SourceFile, dir.file("here.mp4"));
    EXPECT_EQ(split.MissingSources, std::vector<std::string>{dir.file("gone.mp4")});
}
