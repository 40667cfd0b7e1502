#include "engine/HdrMetadata.h"

#include <cstring>

#include "engine/AVHandles.h"
#include "engine/FFUtils.h"
#include "engine/LibAVApi.h"
#include "engine/SourcePicture.h"

namespace {

// x265 counts chromaticities in 1/50000 and luminance in 1/10000 cd/m².
long Scaled(AVRational r, long scale) { return r.den ? long((int64_t(r.num) * scale + r.den / 2) / r.den) : 0; }

void FromSideData(THdrInfo& hdr, const uint8_t* mastering, size_t masteringSize, const uint8_t* light,
                  size_t lightSize) {
    if (mastering && masteringSize >= sizeof(AVMasteringDisplayMetadata)) {
        AVMasteringDisplayMetadata m;
        std::memcpy(&m, mastering, sizeof m);
        if (m.has_primaries || m.has_luminance) hdr.Mastering = m;
    }
    if (light && lightSize >= sizeof(AVContentLightMetadata)) {
        AVContentLightMetadata l;
        std::memcpy(&l, light, sizeof l);
        hdr.Light = l;
    }
}

// Decodes the first picture of the stream from a reading of the file of its own, for the
// metadata that only the pictures carry.
void ReadFromFirstPicture(THdrInfo& hdr, int streamIndex, const std::string& fileName) {
    AVFormatContext* raw = nullptr;
    if (avformat().avformat_open_input(&raw, fileName.c_str(), nullptr, nullptr) < 0) return;
    InputContextPtr in(raw);
    if (avformat().avformat_find_stream_info(in.get(), nullptr) < 0 || streamIndex >= int(in->nb_streams)) return;
    const AVCodecParameters* par = in->streams[streamIndex]->codecpar;
    const AVCodec* codec = avcodec().avcodec_find_decoder(par->codec_id);
    if (!codec) return;
    CodecContextPtr dec(avcodec().avcodec_alloc_context3(codec));
    if (!dec || avcodec().avcodec_parameters_to_context(dec.get(), par) < 0 ||
        avcodec().avcodec_open2(dec.get(), codec, nullptr) < 0)
        return;
    PacketPtr pkt(avcodec().av_packet_alloc());
    FramePtr frame(avutil().av_frame_alloc());
    for (int packets = 0; packets < 500 && avformat().av_read_frame(in.get(), pkt.get()) >= 0; ++packets) {
        const bool ours = pkt->stream_index == streamIndex;
        const int sent = ours ? avcodec().avcodec_send_packet(dec.get(), pkt.get()) : 0;
        avcodec().av_packet_unref(pkt.get());
        if (!ours || sent < 0) continue;
        if (avcodec().avcodec_receive_frame(dec.get(), frame.get()) < 0) continue;
        const AVFrameSideData* m = avutil().av_frame_get_side_data(frame.get(), AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
        const AVFrameSideData* l = avutil().av_frame_get_side_data(frame.get(), AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
        FromSideData(hdr, m ? m->data : nullptr, m ? m->size : 0, l ? l->data : nullptr, l ? l->size : 0);
        return;
    }
}

}  // namespace

std::optional<THdrInfo> ReadHdrInfo(const AVStream& source, const std::string& fileName) {
    const AVCodecParameters* par = source.codecpar;
    if (!IsHdrTransfer(par->color_trc)) return std::nullopt;
    THdrInfo hdr;
    hdr.Primaries = par->color_primaries;
    hdr.Transfer = par->color_trc;
    hdr.Space = par->color_space;
    hdr.Range = par->color_range;
    size_t masteringSize = 0, lightSize = 0;
    AVStream* st = const_cast<AVStream*>(&source);
    const uint8_t* mastering = avformat().av_stream_get_side_data(st, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &masteringSize);
    const uint8_t* light = avformat().av_stream_get_side_data(st, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &lightSize);
    FromSideData(hdr, mastering, masteringSize, light, lightSize);
    if (!hdr.Mastering && !hdr.Light) ReadFromFirstPicture(hdr, source.index, fileName);
    return hdr;
}

std::string X265MasterDisplay(const AVMasteringDisplayMetadata& m) {
    // x265 wants green, blue, red, then the white point; the libraries keep red, green, blue.
    return Format("G(%ld,%ld)B(%ld,%ld)R(%ld,%ld)WP(%ld,%ld)L(%ld,%ld)", Scaled(m.display_primaries[1][0], 50000),
                  Scaled(m.display_primaries[1][1], 50000), Scaled(m.display_primaries[2][0], 50000),
                  Scaled(m.display_primaries[2][1], 50000), Scaled(m.display_primaries[0][0], 50000),
                  Scaled(m.display_primaries[0][1], 50000), Scaled(m.white_point[0], 50000),
                  Scaled(m.white_point[1], 50000), Scaled(m.max_luminance, 10000), Scaled(m.min_luminance, 10000));
}

std::string SvtAv1MasteringDisplay(const AVMasteringDisplayMetadata& m) {
    auto q = [](AVRational r) { return r.den ? double(r.num) / r.den : 0.0; };
    return Format("G(%.4f,%.4f)B(%.4f,%.4f)R(%.4f,%.4f)WP(%.4f,%.4f)L(%.4f,%.4f)", q(m.display_primaries[1][0]),
                  q(m.display_primaries[1][1]), q(m.display_primaries[2][0]), q(m.display_primaries[2][1]),
                  q(m.display_primaries[0][0]), q(m.display_primaries[0][1]), q(m.white_point[0]), q(m.white_point[1]),
                  q(m.max_luminance), q(m.min_luminance));
}

void ApplyHdrToEncoder(const THdrInfo& hdr, AVCodecContext& enc, const AVCodec& codec, AVDictionary** privateOptions) {
    enc.color_primaries = hdr.Primaries;
    enc.color_trc = hdr.Transfer;
    enc.colorspace = hdr.Space;
    if (hdr.Range != AVCOL_RANGE_UNSPECIFIED) enc.color_range = hdr.Range;
    // The parameters a person or a definition gave come first; the light metadata joins them.
    auto join = [&](const char* key, const std::string& params) { AppendCodecParams(privateOptions, key, params); };
    const std::string name = codec.name;
    if (name == "libx265") {
        std::string params;
        auto add = [&](const std::string& p) { params += (params.empty() ? "" : ":") + p; };
        // HDR10's SEI messages belong to PQ pictures; HLG needs its transfer tag only.
        if (hdr.Transfer == AVCOL_TRC_SMPTE2084) add("hdr10=1");
        if (hdr.Mastering) add("master-display=" + X265MasterDisplay(*hdr.Mastering));
        if (hdr.Light) add(Format("max-cll=%u,%u", hdr.Light->MaxCLL, hdr.Light->MaxFALL));
        join("x265-params", params);
    } else if (name == "libsvtav1") {
        std::string params;
        if (hdr.Mastering) params = "mastering-display=" + SvtAv1MasteringDisplay(*hdr.Mastering);
        if (hdr.Light) params += Format("%scontent-light=%u,%u", params.empty() ? "" : ":", hdr.Light->MaxCLL, hdr.Light->MaxFALL);
        join("svtav1-params", params);
    }
}

void AddHdrSideData(const THdrInfo& hdr, AVStream& stream) {
    if (hdr.Mastering) {
        if (uint8_t* d = avformat().av_stream_new_side_data(&stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA,
                                                            sizeof(AVMasteringDisplayMetadata)))
            std::memcpy(d, &*hdr.Mastering, sizeof(AVMasteringDisplayMetadata));
    }
    if (hdr.Light) {
        if (uint8_t* d = avformat().av_stream_new_side_data(&stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL,
                                                            sizeof(AVContentLightMetadata)))
            std::memcpy(d, &*hdr.Light, sizeof(AVContentLightMetadata));
    }
}
