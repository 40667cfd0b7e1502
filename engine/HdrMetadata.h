#pragma once
// A high-dynamic-range picture kept as it is: its colour tags, its mastering display and its
// content light levels, found in the source and handed to an encoder that can carry them.
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mastering_display_metadata.h>
}

struct THdrInfo {
    AVColorPrimaries Primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic Transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace Space = AVCOL_SPC_UNSPECIFIED;
    AVColorRange Range = AVCOL_RANGE_UNSPECIFIED;
    std::optional<AVMasteringDisplayMetadata> Mastering;
    std::optional<AVContentLightMetadata> Light;
};

// Which outputs keep HDR (and which sources are HDR) is decided once, beside the tone-map:
// OutputCarriesHdr and IsHdrTransfer in engine/SourcePicture.h.

// The source stream's colour tags and light metadata: from the container's stream side
// data, else from the first decoded picture of the file (HEVC and AV1 carry them in the
// stream itself). nullopt when the stream is not HDR.
std::optional<THdrInfo> ReadHdrInfo(const AVStream& source, const std::string& fileName);

// Before the encoder opens: the colour tags on the context and, for encoders that write the
// light metadata themselves, their own parameters (x265-params, svtav1-params).
void ApplyHdrToEncoder(const THdrInfo& hdr, AVCodecContext& enc, const AVCodec& codec, AVDictionary** privateOptions);

// After it opened: the light metadata as stream side data, which the muxers write into the
// container (Matroska, MP4).
void AddHdrSideData(const THdrInfo& hdr, AVStream& stream);

// The x265 / SVT-AV1 spelling of the light metadata ("G(x,y)B(x,y)R(x,y)WP(x,y)L(max,min)").
std::string X265MasterDisplay(const AVMasteringDisplayMetadata& m);
std::string SvtAv1MasteringDisplay(const AVMasteringDisplayMetadata& m);
