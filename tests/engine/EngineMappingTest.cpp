// Stream maps, subtitles, two-pass encoding and progress values.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;

TEST(StreamMaps, PictureAndSoundComeFromTheMappedInputs) {
    std::string tone = Scratch().file("map_tone.wav");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=300:sample_rate=22050",
                      "-t", "1", "-ac", "2", tone});
    Job job{{BasicClip(), tone}, {}, Scratch().file("mapped.mkv"),
            {{"map", "0.0"}, {"map", "1.0"}, {"vcodec", "mpeg4"}, {"acodec", "libvorbis"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    ProbeReport p(job.output);
    EXPECT_EQ(p["v.codec_name"], "mpeg4");
    EXPECT_EQ(p.Int("a.channels"), 2);
    EXPECT_EQ(p.Int("a.sample_rate"), 22050);
    bool logged = false;
    for (const auto& line : r.log) logged |= line == "  Stream #1.0 -> #0.1 (pcm_s16le -> libvorbis)";
    EXPECT_TRUE(logged);

    Job mismatch{{BasicClip(), tone}, {}, Scratch().file("mismatch.mkv"), {{"map", "1.0"}, {"map", "0.1"}}};
    r = Convert(mismatch);
    EXPECT_EQ(r.error, "Codec type mismatch for mapping #1.0 (audio) -> #0.0 (video)");
    EXPECT_FALSE(std::filesystem::exists(mismatch.output));

    Job tooFew{{BasicClip()}, {}, Scratch().file("toofew.mkv"), {{"map", "0.0"}}};
    r = Convert(tooFew);
    EXPECT_EQ(r.error, "Number of stream maps must match number of output streams");

    Job missing{{BasicClip()}, {}, Scratch().file("missingmap.mkv"), {{"map", "0.0"}, {"map", "0.7"}}};
    r = Convert(missing);
    EXPECT_EQ(r.error, "Could not find input stream #0.7");
}

TEST(Subtitles, TextSubtitlesAreCarriedWithTheirTimes) {
    std::string srt = Scratch().file("lines.srt");
    testsupport::WriteFile(srt, "1\n00:00:00,200 --> 00:00:00,600\nHello\n\n2\n00:00:00,700 --> 00:00:00,900\nWorld\n");
    std::string withSubs = Scratch().file("withsubs.mkv");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", BasicClip(), "-i", srt, "-map", "0", "-map", "1",
                      "-c", "copy", "-c:s", "srt", withSubs});
    Job job{{withSubs}, {}, Scratch().file("subs_out.mkv"), {{"vcodec", "mpeg4"}, {"scodec", "subrip"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    auto text = testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", job.output, "-map", "0:s", "-f", "srt", "-"});
    EXPECT_NE(text.out.find("Hello"), std::string::npos) << text.out << text.err;
    EXPECT_NE(text.out.find("World"), std::string::npos);
}

TEST(TwoPass, TheSecondPassReadsTheFirstPassLog) {
    const std::string prefix = Scratch().file("passlog");
    Options first = {{"vcodec", "mpeg4"}, {"vb", "400000"}, {"an", "1"}, {"pass", "1"}, {"passlogfile", prefix}};
    Outcome r = Convert({{BasicClip()}, {}, Scratch().file("pass1.avi"), first});
    ASSERT_TRUE(r.ok) << r.error;
    const std::string log = testsupport::ReadFile(prefix + "-0.log");
    EXPECT_NE(log.find("in:0 out:0 type:1"), std::string::npos);
    Options second = first;
    second[3].second = "2";
    Job pass2{{BasicClip()}, {}, Scratch().file("pass2.avi"), second};
    r = Convert(pass2);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(CountFrames(pass2.output), 25);

    Job noLog{{BasicClip()}, {}, Scratch().file("pass2b.avi"),
              {{"vcodec", "mpeg4"}, {"pass", "2"}, {"passlogfile", Scratch().file("nolog")}}};
    r = Convert(noLog);
    EXPECT_EQ(r.error.rfind("Error reading log file \"" + Scratch().file("nolog") + "-0.log\" for pass-2 encoding", 0), 0u)
        << r.error;
}

TEST(Progress, ReportsCarryFramesSizesAndTimes) {
    Job job{{ClipAtRate("25", 2.0)}, {}, Scratch().file("progress.avi"), {{"vcodec", "mpeg4"}}};
    job.setup = [](TCustomFFmpeg& task) { task.ProgressInterval = 0; };
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_GE(r.reports.size(), 3u);
    const TEngineProgress& last = r.reports.back();
    EXPECT_EQ(last.FileIndex, -1);
    EXPECT_EQ(last.FrameNumber, 50);
    EXPECT_EQ(last.CurrentSize, int64_t(std::filesystem::file_size(job.output)));
    EXPECT_NEAR(double(last.CurrentDuration) / 1e6, 2.0, 0.1);
    EXPECT_NEAR(double(last.TotalDuration) / 1e6, 2.0, 0.1);
    EXPECT_GT(last.BitRate, 0.0f);
    for (size_t i = 1; i < r.reports.size(); ++i) {
        EXPECT_GE(r.reports[i].FrameNumber, r.reports[i - 1].FrameNumber);
        EXPECT_GE(r.reports[i].CurrentSize, r.reports[i - 1].CurrentSize);
    }
    EXPECT_EQ(r.reports.front().FileIndex, 0);
    bool summary = false;
    for (const auto& line : r.log) summary |= line.rfind("video:", 0) == 0 && line.find("muxing overhead") != std::string::npos;
    EXPECT_TRUE(summary);
}

TEST(Metadata, ListedAndMappedMetadataReachTheOutput) {
    std::string tagged = Scratch().file("tagged.mkv");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", BasicClip(), "-c", "copy", "-metadata",
                      "artist=Source Artist", tagged});
    Job job{{tagged}, {}, Scratch().file("tagged_out.mkv"),
            {{"vcodec", "copy"}, {"acodec", "copy"}, {"metadata", "title=Our Title"}, {"map_meta_data", "0:0"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(testsupport::ProbeValue(job.output, "format_tags=title"), "Our Title");
    EXPECT_EQ(testsupport::ProbeValue(job.output, "format_tags=artist"), "Source Artist");
}

TEST(Progress, PsnrAndTheStatisticsFileFollowEveryFrame) {
    const std::string stats = Scratch().file("vstats.log");
    Job job{{BasicClip()}, {}, Scratch().file("psnr.avi"), {{"vcodec", "mpeg4"}, {"psnr", "1"}, {"vstats_file", stats}}};
    std::string lastLine;
    job.setup = [&](TCustomFFmpeg& task) {
        task.OnProgress = [&](const TEngineProgress&, const std::string& line) { lastLine = line; };
    };
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(lastLine.find("PSNR=Y:"), std::string::npos) << lastLine;
    EXPECT_EQ(lastLine.find("Y:99.00"), std::string::npos) << lastLine;
    const std::string text = testsupport::ReadFile(stats);
    int lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 25);
    EXPECT_EQ(text.rfind("frame=     1 q= ", 0), 0u) << text.substr(0, 80);
    EXPECT_NE(text.find("type= I"), std::string::npos);
}
