#include <gtest/gtest.h>

#include "engine/FFmpegLoader.h"
#include "engine/LibAVApi.h"

TEST(FFmpegLoader, BindsTheSystemLibrariesOfTheHeadersGeneration) {
    ASSERT_TRUE(FFLoader().LoadLibrarySet(EngineLibraries)) << FFLoader().LastError();
    EXPECT_TRUE(FFLoader().LibrarySetLoaded(EngineLibraries));
    EXPECT_EQ(int(avcodec().avcodec_version() >> 16), LIBAVCODEC_VERSION_MAJOR);
    EXPECT_NE(avcodec().avcodec_find_encoder_by_name("mpeg4"), nullptr);
}
