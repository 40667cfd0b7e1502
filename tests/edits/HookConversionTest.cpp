// The run's hook in a real conversion through the engine component: a job without edits
// comes out exactly as without any hook, while one whose frames go through the hook's
// picture conversion does not.
#include <gtest/gtest.h>

#include <algorithm>

#include "edits/FrameEdits.h"
#include "edits/JobEdits.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegVCL.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

// One conversion of the clip, on the calling thread; the hook draws the job when given.
void Convert(const std::string& source, const std::string& output, const TlvFilesRecord* job) {
    TFFmpegVCL vcl;
    TRunFrameEdits edits;
    if (job) vcl.OnCustomHook = [&](TCustomFFmpegVCL*, PHookInfo info) { edits.Hook(*info, *job); };
    TInputOptions input;
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    out.VideoBitrate = 2000000;
    out.AudioDisable = true;
    if (job) {
        ApplyTrim(*job, input, out);
        ApplyFrameHook(out);
    }
    const int task = vcl.AddTask(source, &input);
    ASSERT_GE(task, 0) << vcl.LastError();
    ASSERT_TRUE(vcl.SetOutputFile(task, output, &out)) << vcl.LastError();
    bool finished = false;
    vcl.OnTerminate = [&](TCustomFFmpegVCL*, const TTerminateInfo& t) {
        if (t.TaskIndex == 0) finished = t.Finished;
    };
    vcl.StartTask(0);
    ASSERT_TRUE(finished);
}

// The decoded pictures' checksums, one line per frame.
std::string FrameSums(const std::string& file) {
    auto r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-map", "0:v", "-f", "framemd5", "-"});
    std::string sums;
    for (size_t at = 0; at < r.out.size();) {
        size_t end = r.out.find('\n', at);
        if (end == std::string::npos) end = r.out.size();
        const std::string line = r.out.substr(at, end - at);
        if (!line.empty() && line[0] != '#') sums += line.substr(line.rfind(',') + 1) + "\n";
        at = end + 1;
    }
    return sums;
}

}  // namespace

TEST(HookConversion, AJobWithoutEditsGivesTheFramesOfAConversionWithoutHook) {
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    TempDir dir;
    MakeClip(dir.file("clip.mp4"), 1, {"-c:v", "libx264", "-preset", "ultrafast", "-an"});
    Convert(dir.file("clip.mp4"), dir.file("bare.avi"), nullptr);
    TlvFilesRecord plain;
    Convert(dir.file("clip.mp4"), dir.file("plain.avi"), &plain);
    TlvFilesRecord neutral;  // draws, but changes no pixel of the picture it is given
    neutral.Brightness = 256;
    neutral.Saturation = 256;
    Convert(dir.file("clip.mp4"), dir.file("neutral.avi"), &neutral);

    const std::string bare = FrameSums(dir.file("bare.avi"));
    ASSERT_GT(std::count(bare.begin(), bare.end(), '\n'), 20);
    EXPECT_EQ(FrameSums(dir.file("plain.avi")), bare);
    // The way through blue-green-red and back is not free, which is why a job without edits
    // stops the hook.
    EXPECT_NE(FrameSums(dir.file("neutral.avi")), bare);
}
