// Sources people really have, through the terminal converter: mono and 5.1 sound into DV,
// a silent film into an audio format, and a cropped job into letterbox and centre modes.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/TaskOptions.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

CommandResult ConvertWithProfile(int code, const std::string& edition, const std::string& source,
                                 const std::string& outDir) {
    return Run({BinDir() + "/reelshift-cli", "--format", std::to_string(code), "--edition", edition, "--settings",
                outDir + "/untouched.ini", "--output-dir", outDir, source});
}

std::string OnlyFile(const std::string& dir, const std::string& extension) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == extension) return e.path().string();
    return {};
}

TEST(ProfileSources, DvTakesMonoAndSixChannelSoundAsStereo) {
    TempDir work;
    const std::string mono = work.file("mono.mkv"), six = work.file("six.mov");
    MakeClip(mono, 1.0, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "libopus", "-ac", "1"});
    MakeClip(six, 1.0, {"-c:v", "libx264", "-preset", "ultrafast", "-af", "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0",
                        "-c:a", "aac"});
    for (const auto& [edition, code] : {std::pair{"video", 2608}, {"video", 2609}, {"mp4avi", 108}}) {
        for (const std::string& source : {mono, six}) {
            const std::string dir = work.file(std::string(edition) + std::to_string(code) + fs::path(source).stem().string());
            auto r = ConvertWithProfile(code, edition, source, dir);
            ASSERT_EQ(r.exitCode, 0) << edition << " " << code << " " << source << ": " << r.err;
            const std::string out = OnlyFile(dir, ".dv");
            EXPECT_EQ(ProbeValue(out, "stream=channels", "a:0"), "2") << code << " " << source;
            EXPECT_EQ(ProbeValue(out, "stream=sample_rate", "a:0"), "48000") << code << " " << source;
        }
    }
}

TEST(ProfileSources, ASilentFilmIntoAnAudioFormatNamesTheMissingSound) {
    TempDir work;
    const std::string silent = work.file("silent.mp4");
    MakeClip(silent, 1.0, {"-an", "-c:v", "libx264", "-preset", "ultrafast"});
    for (const auto& [edition, code] : {std::pair{"video", 2700}, {"mp4avi", 201}}) {
        auto r = ConvertWithProfile(code, edition, silent, work.file(std::string("out") + std::to_string(code)));
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find("The file has no audio stream to convert"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("does not contain any stream"), std::string::npos) << r.err;
    }
}

// 640x360 cropped by 20 on two sides into a 320x240 frame: square pixels and the frame's
// own shape, whichever sides were cropped and whichever mode placed the picture.
TEST(ProfileGeometry, ACroppedJobInLetterboxOrCentreKeepsSquarePixels) {
    TempDir work;
    const std::string source = work.file("wide.mp4");
    MakeClip(source, 0.5, {"-s", "640x360", "-c:v", "libx264", "-preset", "ultrafast", "-an"});
    IniFile formats(work.file("formats.ini")), settings(work.file("settings.ini"));
    formats.WriteString("formatInfo0", "Format", "mp4");
    for (const auto& [k, v] : std::initializer_list<std::pair<const char*, const char*>>{
             {"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "320x240"}, {"paraVideoBitRate", "768"},
             {"paraFrameRate", "25"}, {"paraAudioEncoder", ""}})
        settings.WriteString("formatInfo0", k, v);
    TDefaultSizeAnswer answer;
    int n = 0;
    for (const char* mode : {"lbox", "center"}) {
        for (bool sides : {true, false}) {
            TJobGeometry job;
            job.ZoomMode = mode;
            if (sides) job.CropMarginLeft = job.CropMarginRight = 20;
            else job.CropMarginTop = job.CropMarginBottom = 20;
            TOutputOptions out;
            out.Reset();
            TInputOptions in;
            BuildOutputOptions(0, formats, settings, job, TSourceSummary{1, 640, 360, 0}, answer, out, in);
            const std::string file = work.file("crop" + std::to_string(n++) + ".mp4");
            std::vector<std::string> argv = {BinDir() + "/reelshift-cli", "--engine", source, "-o", file};
            for (const auto& [k, v] : ToEngineOptions(out)) argv.push_back(k + "=" + v);
            auto r = testsupport::Run(argv);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const std::string what = std::string(mode) + (sides ? " left/right" : " top/bottom");
            EXPECT_EQ(ProbeValue(file, "stream=width,height", "v:0"), "320\n240") << what;
            EXPECT_EQ(ProbeValue(file, "stream=sample_aspect_ratio", "v:0"), "1:1") << what;
            EXPECT_EQ(ProbeValue(file, "stream=display_aspect_ratio", "v:0"), "4:3") << what;
        }
    }
}

}  // namespace
