#include "formats/ParameterTables.h"

#include <gtest/gtest.h>

namespace {

using P = TParameter;

TEST(ParameterTables, EncoderEntriesBecomeEngineNamesWhateverTheirCase) {
    EXPECT_EQ(EngineValue(P::VideoEncoder, "MPEG-4"), "mpeg4");
    EXPECT_EQ(EngineValue(P::VideoEncoder, "xvid"), "libxvid");
    EXPECT_EQ(EngineValue(P::VideoEncoder, "H264"), "libx264");
    EXPECT_EQ(EngineValue(P::VideoEncoder, "theora"), std::nullopt);
    EXPECT_EQ(EngineValue(P::AudioEncoder, "AAC"), "libfaac");
    EXPECT_EQ(EngineValue(P::AudioEncoder, "ogg"), "vorbis");
    EXPECT_EQ(EngineValue(P::AudioEncoder, "wma2"), "wmav2");
    // The mu-law entry is written with a trailing blank; a trimmed one is read too.
    EXPECT_EQ(EngineValue(P::AudioEncoder, "pcm_mulaw "), "pcm_mulaw");
    EXPECT_EQ(EngineValue(P::AudioEncoder, "pcm_mulaw"), "pcm_mulaw");
    EXPECT_EQ(EngineValue(P::AudioEncoder, " mp3"), "libmp3lame");
    EXPECT_EQ(DisplayName(P::VideoEncoder, "libx264"), "h264");
    EXPECT_EQ(DisplayName(P::AudioEncoder, "ac3"), "ac-3");
}

TEST(ParameterTables, ChannelAndVolumeEntriesMapOnlyWhenListed) {
    EXPECT_EQ(EngineValue(P::Channel, "mono 1 channel"), "1");
    EXPECT_EQ(EngineValue(P::Channel, "stereo 2 channels"), "2");
    EXPECT_EQ(EngineValue(P::Channel, "as source"), "as source");
    EXPECT_EQ(EngineValue(P::Channel, "Mono 1 Channel"), std::nullopt);
    EXPECT_EQ(EngineValue(P::Channel, "5.1"), std::nullopt);
    EXPECT_EQ(EngineValue(P::Volume, "100%"), "256");
    EXPECT_EQ(EngineValue(P::Volume, "25%"), "64");
    EXPECT_EQ(EngineValue(P::Volume, "400%"), "1024");
    EXPECT_EQ(EngineValue(P::Volume, "110%"), std::nullopt);
    EXPECT_EQ(EngineValue(P::Volume, "0%"), std::nullopt);
    EXPECT_EQ(EngineValue(P::Volume, "%"), std::nullopt);
    EXPECT_EQ(DisplayName(P::Volume, "384"), "150%");
}

TEST(ParameterTables, FrameSizesAreCheckedAndMadeEven) {
    EXPECT_EQ(CheckFrameSize("320x240").Kind, TFrameSizeCheck::fsValid);
    const TFrameSizeCheck odd = CheckFrameSize("321x240");
    EXPECT_EQ(odd.Kind, TFrameSizeCheck::fsCorrected);
    EXPECT_EQ(odd.Value, "320x240");
    EXPECT_EQ(CheckFrameSize("0x0").Value, "2x2");
    EXPECT_EQ(CheckFrameSize("720x480x576").Kind, TFrameSizeCheck::fsInvalid);  // split at the last "x"
    EXPECT_EQ(CheckFrameSize("640").Kind, TFrameSizeCheck::fsInvalid);
    EXPECT_EQ(CheckFrameSize("As Source").Kind, TFrameSizeCheck::fsAsSource);
    EXPECT_EQ(EngineValue(P::VideoSize, "175x144"), "174x144");
    EXPECT_EQ(EngineValue(P::VideoSize, "as source"), "as source");
    EXPECT_EQ(EngineValue(P::VideoSize, "big"), std::nullopt);
}

TEST(ParameterTables, TypedRatesAreCheckedByKind) {
    EXPECT_TRUE(ValidVideoBitRate("768"));
    EXPECT_TRUE(ValidVideoBitRate("as source"));
    EXPECT_FALSE(ValidVideoBitRate(""));
    EXPECT_FALSE(ValidVideoBitRate("96.5"));
    EXPECT_TRUE(ValidAudioBitRate("96.5"));
    EXPECT_FALSE(ValidAudioBitRate("96k"));
    EXPECT_FALSE(ValidSampleRate("44.1"));
    EXPECT_EQ(EngineValue(P::SampleRate, "22050"), "22050");
    EXPECT_EQ(EngineValue(P::AudioBitRate, "nan"), std::nullopt);
    EXPECT_EQ(EngineValue(P::FrameRate, "29.97"), "29.97");
}

TEST(ParameterTables, ListsSplitAtEveryCommaAndNullOffersNothing) {
    EXPECT_EQ(SplitList("mp3,aac,"), (std::vector<std::string>{"mp3", "aac", ""}));
    EXPECT_EQ(SplitList("mp3"), (std::vector<std::string>{"mp3"}));
    EXPECT_FALSE(ListOffered(P::VideoSize, "null"));
    EXPECT_TRUE(ListOffered(P::VideoSize, ""));
    EXPECT_FALSE(ListOffered(P::AudioEncoder, ""));
    EXPECT_EQ(ValueKey(P::Channel), "paraChannel");
    EXPECT_EQ(IndexKey(P::Volume), "iVolume");
    EXPECT_EQ(ListKey(P::VideoBitRate), "VideoBitRate");
}

TEST(ParameterTables, OldEncoderNamesMapToTodaysEncoders) {
    EXPECT_EQ(CurrentEncoderName("libfaac"), "aac");
    EXPECT_EQ(CurrentEncoderName("vorbis"), "libvorbis");
    EXPECT_EQ(CurrentEncoderName("libflac"), "flac");
    EXPECT_EQ(CurrentEncoderName("mpeg4"), "mpeg4");
    EXPECT_EQ(CurrentEncoderName("nonsense"), "nonsense");  // still fails at the lookup
    EXPECT_FALSE(EncoderAvailable("libopencore_amrnb"));
    EXPECT_FALSE(EncoderAvailable("msmpeg4v1"));
    EXPECT_TRUE(EncoderAvailable("libmp3lame"));
}

}  // namespace
