// Error texts and damaged inputs: a clear error or a complete best-effort output, never a
// crash or a hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;

TEST(EngineErrors, UnknownOutputExtensionAndMissingInputGiveTheirTexts) {
    Job unknown{{BasicClip()}, {}, Scratch().file("out.nosuchformat"), {}};
    Outcome r = Convert(unknown);
    EXPECT_EQ(r.error, "Unable to find a suitable output format for '" + unknown.output + "'");
    EXPECT_FALSE(std::filesystem::exists(unknown.output));

    Job forced{{BasicClip()}, {}, Scratch().file("out.mp4"), {{"f", "nosuchformat"}}};
    r = Convert(forced);
    EXPECT_EQ(r.error, "Requested output format 'nosuchformat' is not a suitable output format");

    const std::string missing = Scratch().file("missing.mp4");
    Job absent{{missing}, {}, Scratch().file("out2.mp4"), {}};
    r = Convert(absent);
    EXPECT_EQ(r.error, missing + ": No such file or directory");

    Job badCodec{{BasicClip()}, {}, Scratch().file("out3.mp4"), {{"vcodec", "nosuchcodec"}}};
    r = Convert(badCodec);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("Unknown encoder 'nosuchcodec'"), std::string::npos) << r.error;
}

TEST(EngineErrors, AFailedRunLeavesNoEmptyOutput) {
    // The encoder cannot open with an odd size for this codec: the header is never
    // written and the empty file goes away.
    Job job{{BasicClip()}, {}, Scratch().file("empty.mp4"), {{"vcodec", "mpeg4"}, {"b", "1"}, {"s", "8x2"}, {"vf", "crop=1:1"}}};
    Outcome r = Convert(job);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_FALSE(std::filesystem::exists(job.output));
}

TEST(EngineErrors, DamagedInputsEndCleanly) {
    const std::string zero = Scratch().file("zero.mp4");
    testsupport::WriteFile(zero, "");
    std::string noise(100000, '\0');
    std::mt19937 gen(7);
    for (auto& c : noise) c = char(gen());
    const std::string random = Scratch().file("random.avi");
    testsupport::WriteFile(random, noise);
    const std::string whole = testsupport::ReadFile(BasicClip());
    const std::string truncated = Scratch().file("truncated.mp4");
    testsupport::WriteFile(truncated, whole.substr(0, whole.size() / 2));

    for (const auto& in : {zero, random, truncated}) {
        Job job{{in}, {}, Scratch().file("damaged.avi"), {}};
        Outcome r = Convert(job);
        EXPECT_FALSE(r.ok) << in;
        EXPECT_EQ(r.error.rfind(in + ": ", 0), 0u) << r.error;
        EXPECT_FALSE(std::filesystem::exists(job.output));
    }

    // An AVI whose video turns to noise halfway: the run goes on and the output is whole.
    const std::string clean = Scratch().file("clean.avi");
    testsupport::MakeClip(clean, 2.0, {"-c:v", "mpeg4", "-c:a", "pcm_s16le"});
    std::string bytes = testsupport::ReadFile(clean);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 30000 && i < bytes.size(); i += 5) bytes[i] = char(gen());
    const std::string corrupt = Scratch().file("corrupt.avi");
    testsupport::WriteFile(corrupt, bytes);
    Job job{{corrupt}, {}, Scratch().file("from_corrupt.mp4"), {{"vcodec", "mpeg4"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.finished);
    ProbeReport p(job.output);
    EXPECT_EQ(p["v.codec_name"], "mpeg4");
    EXPECT_GT(CountFrames(job.output), 20);
}

TEST(EngineCommand, RunsOneTaskAndReportsErrorsOnStandardError) {
    const std::string cli = testsupport::BinDir() + "/reelshift-cli";
    const std::string out = Scratch().file("cli.avi");
    auto r = testsupport::Run({cli, "--engine", BasicClip(), "-o", out, "vcodec=mpeg4", "b=64"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Stream mapping:"), std::string::npos);
    EXPECT_NE(r.out.find("WARNING: The bitrate parameter is set too low"), std::string::npos);
    EXPECT_NE(r.out.find("frame="), std::string::npos);
    EXPECT_EQ(ProbeReport(out)["v.codec_name"], "mpeg4");

    r = testsupport::Run({cli, "--engine", "--input-option", "ss=0.5", BasicClip(), "-o", Scratch().file("cli.xyz")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Unable to find a suitable output format for '" + Scratch().file("cli.xyz") + "'\n");

    r = testsupport::Run({cli, "--engine", BasicClip(), "-o", Scratch().file("cli2.avi"), "threads=2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "TODO: option - threads\n");
}

TEST(EngineErrors, StreamCopyRefusesWorkThatNeedsDecodedFrames) {
    Job hooked{{BasicClip()}, {}, Scratch().file("copyhook.mkv"), {{"vcodec", "copy"}}};
    hooked.setup = [](TCustomFFmpeg& task) { task.OnCustomHook = [](TFrameBitmap&, bool&, bool&, int64_t, int) {}; };
    Outcome r = Convert(hooked);
    EXPECT_EQ(r.error, "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    EXPECT_FALSE(std::filesystem::exists(hooked.output));

    Job louder{{BasicClip()}, {}, Scratch().file("copyvol.mkv"), {{"acodec", "copy"}, {"vol", "512"}}};
    r = Convert(louder);
    EXPECT_EQ(r.error, "-acodec copy and -vol are incompatible (frames are not decoded)");

    Job empty{{BasicClip()}, {}, Scratch().file("nostreams.mkv"), {{"vn", "1"}, {"an", "1"}, {"sn", "1"}}};
    r = Convert(empty);
    EXPECT_EQ(r.error, "Output file #0 does not contain any stream");
}
