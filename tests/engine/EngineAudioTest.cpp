// Audio sample handling: volume, resampling and drift handling.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/EngineTestSupport.h"

using namespace enginetest;

namespace {
// The 16-bit samples of a canonical PCM WAV file.
std::vector<int16_t> WavSamples(const std::string& path) {
    std::string data = testsupport::ReadFile(path);
    std::vector<int16_t> samples;
    size_t pos = 12;
    while (pos + 8 <= data.size()) {
        uint32_t size;
        std::memcpy(&size, data.data() + pos + 4, 4);
        if (data.compare(pos, 4, "data") == 0) {
            size = std::min<uint32_t>(size, uint32_t(data.size() - pos - 8));
            samples.resize(size / 2);
            std::memcpy(samples.data(), data.data() + pos + 8, samples.size() * 2);
            break;
        }
        pos += 8 + size + (size & 1);
    }
    return samples;
}
}  // namespace

TEST(Volume, DoublesSamplesAndClipsAtTheSixteenBitLimits) {
    std::string loud = Scratch().file("loud.wav");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "aevalsrc=0.6*sin(2*PI*440*t):s=44100", "-t", "0.5", "-c:a", "pcm_s16le", loud});
    Job job{{loud}, {}, Scratch().file("louder.wav"), {{"vol", "512"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    auto in = WavSamples(loud);
    auto out = WavSamples(job.output);
    ASSERT_EQ(in.size(), out.size());
    ASSERT_GT(in.size(), 1000u);
    int clipped = 0, doubled = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const int expect = std::clamp((in[i] * 512 + 128) >> 8, -32768, 32767);
        EXPECT_EQ(out[i], expect) << "sample " << i;
        if (expect == 32767 || expect == -32768) ++clipped;
        if (expect == in[i] * 2) ++doubled;
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(clipped, 100);
    EXPECT_GT(doubled, 100);
}

TEST(AudioSync, SilenceFillsALateAudioStart) {
    // Audio that starts 0.5 s after the picture; with audio sync the output audio begins
    // with silence at 0 instead of being shifted.
    std::string late = Scratch().file("late.mkv");
    testsupport::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25",
                      "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "1", "-af", "adelay=500:all=1",
                      "-c:v", "mpeg4", "-c:a", "pcm_s16le", late});
    Job job{{late}, {}, Scratch().file("late_out.wav"), {{"async", "1"}}};
    Outcome r = Convert(job);
    ASSERT_TRUE(r.ok) << r.error;
    auto out = WavSamples(job.output);
    ASSERT_GT(out.size(), 40000u);
    int loudEarly = 0;
    for (size_t i = 0; i < 20000; ++i) loudEarly += std::abs(out[i]) > 100;
    EXPECT_EQ(loudEarly, 0);
    int loudLate = 0;
    for (size_t i = 24000; i < std::min<size_t>(out.size(), 40000); ++i) loudLate += std::abs(out[i]) > 100;
    EXPECT_GT(loudLate, 1000);
}
