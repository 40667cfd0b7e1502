#include "engine/SourcePicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"

TSourceOrientation OrientationOfMatrix(const int32_t matrix[9]) {
    TSourceOrientation o;
    // A negative determinant is a mirror. With the first column negated what is left is a
    // plain rotation, applied before the mirror.
    const double det = double(matrix[0]) * matrix[4] - double(matrix[1]) * matrix[3];
    int32_t rotation[9];
    for (int i = 0; i < 9; ++i) rotation[i] = matrix[i];
    if (det < 0) {
        o.Mirror = true;
        rotation[0] = -rotation[0];
        rotation[3] = -rotation[3];
        rotation[6] = -rotation[6];
    }
    const double angle = avutil().av_display_rotation_get(rotation);
    if (std::isnan(angle)) return TSourceOrientation{};
    // The libraries give the counter-clockwise angle of the matrix; the picture is turned
    // the other way to be upright.
    int clockwise = int(std::lround(-angle / 90.0)) * 90 % 360;
    if (clockwise < 0) clockwise += 360;
    o.Rotation = clockwise;
    // A half turn and a mirror are one vertical flip; keep the pair, the filters say so.
    return o;
}

TSourceOrientation StreamOrientation(const AVStream& stream) {
    size_t size = 0;
    const uint8_t* data =
        avformat().av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t)) return {};
    int32_t matrix[9];
    std::memcpy(matrix, data, sizeof matrix);
    return OrientationOfMatrix(matrix);
}

bool IsHdrTransfer(int colorTransfer) {
    return colorTransfer == AVCOL_TRC_SMPTE2084 || colorTransfer == AVCOL_TRC_ARIB_STD_B67;
}

bool IsInterlacedFieldOrder(int fieldOrder) {
    return fieldOrder == AV_FIELD_TT || fieldOrder == AV_FIELD_BB || fieldOrder == AV_FIELD_TB ||
           fieldOrder == AV_FIELD_BT;
}

namespace {
// The largest sample of a little-endian format whose components each fill a 16-bit word
// of their own plane with 9 to 15 bits; 0 for every other format.
int HighDepthPlanarMax(int format) {
    const AVPixFmtDescriptor* d = avutil().av_pix_fmt_desc_get(AVPixelFormat(format));
    constexpr uint64_t other = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                               AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    if (!d || d->nb_components == 0 || (d->flags & other)) return 0;
    if (d->nb_components > 1 && !(d->flags & AV_PIX_FMT_FLAG_PLANAR)) return 0;
    const int depth = d->comp[0].depth;
    for (int c = 0; c < d->nb_components; ++c) {
        const AVComponentDescriptor& k = d->comp[c];
        if (k.step != 2 || k.shift != 0 || k.offset != 0 || k.depth != depth) return 0;
    }
    return depth > 8 && depth < 16 ? (1 << depth) - 1 : 0;
}

// Calls f(row, samples) for every row of every plane of the frame.
template <class F>
void ForEachRow(const AVFrame& frame, F f) {
    const AVPixFmtDescriptor* d = avutil().av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool subsampled = !(d->flags & AV_PIX_FMT_FLAG_RGB);
    for (int c = 0; c < d->nb_components; ++c) {
        const bool chroma = subsampled && (c == 1 || c == 2);
        const int w = chroma ? -((-frame.width) >> d->log2_chroma_w) : frame.width;
        const int h = chroma ? -((-frame.height) >> d->log2_chroma_h) : frame.height;
        uint8_t* plane = frame.data[d->comp[c].plane];
        for (int y = 0; y < h; ++y) f(reinterpret_cast<uint16_t*>(plane + ptrdiff_t(y) * frame.linesize[d->comp[c].plane]), w);
    }
}
}  // namespace

bool LimitSamplesToDepth(AVFrame& frame) {
    const int max = HighDepthPlanarMax(frame.format);
    if (max == 0 || !frame.data[0]) return true;
    bool beyond = false;
    ForEachRow(frame, [&](const uint16_t* row, int n) {
        uint16_t most = 0;
        for (int x = 0; x < n; ++x) most = std::max(most, row[x]);
        beyond = beyond || most > max;
    });
    if (!beyond) return true;
    if (avutil().av_frame_make_writable(&frame) < 0) return false;
    ForEachRow(frame, [&](uint16_t* row, int n) {
        for (int x = 0; x < n; ++x) row[x] = std::min<uint16_t>(row[x], uint16_t(max));
    });
    return true;
}

bool OutputCarriesHdr(AVCodecID codec, AVPixelFormat format) {
    if (codec != AV_CODEC_ID_HEVC && codec != AV_CODEC_ID_AV1 && codec != AV_CODEC_ID_VP9) return false;
    const AVPixFmtDescriptor* d = avutil().av_pix_fmt_desc_get(format);
    // RGB pictures have no matrix to tag them with; they are tone-mapped like 8-bit ones.
    return d && d->nb_components > 0 && !(d->flags & AV_PIX_FMT_FLAG_RGB) && d->comp[0].depth >= 10;
}

bool OutputKeepsFields(AVCodecID codec, const char* muxerName) {
    if (codec != AV_CODEC_ID_MPEG2VIDEO || !muxerName) return false;
    const std::string name = muxerName;
    return name == "dvd" || name == "svcd" || name == "vob";
}

TSourcePicturePlan PlanSourcePicture(const AVStream& stream, const TSourcePictureSwitches& switches,
                                     bool outputCarriesHdr, bool outputKeepsFields) {
    TSourcePicturePlan plan;
    if (switches.Rotate) plan.Orientation = StreamOrientation(stream);
    plan.DeinterlaceAllowed = switches.Deinterlace && !outputKeepsFields;
    plan.ColorTransfer = stream.codecpar->color_trc;
    plan.ToneMap = switches.ToneMap && !outputCarriesHdr && IsHdrTransfer(plan.ColorTransfer);
    return plan;
}

namespace {
const char* ZimgTransfer(int trc) { return trc == AVCOL_TRC_ARIB_STD_B67 ? "arib-std-b67" : "smpte2084"; }
const char* ZimgPrimaries(int pri) {
    switch (pri) {
        case AVCOL_PRI_BT709: return "709";
        case AVCOL_PRI_SMPTE432: return "smpte432";
        case AVCOL_PRI_SMPTE431: return "smpte431";
        default: return "2020";  // what HDR sources are made in
    }
}
const char* ZimgMatrix(int spc) {
    switch (spc) {
        case AVCOL_SPC_BT709: return "709";
        case AVCOL_SPC_BT2020_CL: return "2020_cl";
        default: return "2020_ncl";
    }
}
}  // namespace

std::string SourcePictureFilters(const TSourcePicturePlan& plan, bool deinterlace, int transfer, int primaries,
                                 int matrix, int range, int fitWidth, int fitHeight, int width, int height) {
    std::string chain;
    auto add = [&](const std::string& f) {
        if (!chain.empty()) chain += ',';
        chain += f;
    };
    // Fields first, while the rows are still those of the coded picture.
    if (deinterlace) add("bwdif=mode=send_frame:parity=auto:deint=interlaced");
    if (plan.ToneMap && fitWidth > 0 && fitHeight > 0 && width > 0 && height > 0 &&
        (width > fitWidth || height > fitHeight)) {
        const double f = std::min(double(fitWidth) / width, double(fitHeight) / height);
        add(Format("scale=%d:%d", std::max(2, int(width * f) & ~1), std::max(2, int(height * f) & ~1)));
    }
    if (plan.ToneMap) {
        const int trc = IsHdrTransfer(transfer) ? transfer : plan.ColorTransfer;
        // Light made linear (100 cd/m2 as 1.0), BT.709 primaries, the highlights brought
        // into range by the curve, then BT.709's transfer and matrix in TV range.
        add(Format("zscale=tin=%s:pin=%s:min=%s:rin=%s:t=linear:npl=100", ZimgTransfer(trc), ZimgPrimaries(primaries),
                   ZimgMatrix(matrix), range == AVCOL_RANGE_JPEG ? "full" : "limited"));
        add("format=gbrpf32le");
        add("zscale=p=709");
        add("tonemap=tonemap=hable:desat=0");
        add("zscale=t=709:m=709:r=limited");
        add("format=yuv420p");
    }
    const TSourceOrientation& o = plan.Orientation;
    if (o.Rotation == 90) add("transpose=clock");
    if (o.Rotation == 270) add("transpose=cclock");
    if (o.Rotation == 180 && !o.Mirror) add("hflip,vflip");
    if (o.Rotation == 180 && o.Mirror) add("vflip");
    if (o.Rotation != 180 && o.Mirror) add("hflip");
    return chain;
}

TPictureShape SourcePictureShape(const TSourcePicturePlan& plan, TPictureShape coded) {
    TPictureShape s = coded;
    if (plan.Orientation.SwapsSides()) {
        std::swap(s.Width, s.Height);
        if (s.SampleAspect.num > 0 && s.SampleAspect.den > 0) s.SampleAspect = {s.SampleAspect.den, s.SampleAspect.num};
    }
    if (plan.ToneMap) s.Format = AV_PIX_FMT_YUV420P;
    return s;
}

void TSourcePicture::Setup(const TSourcePicturePlan& plan, AVRational timeBase) {
    FPlan = plan;
    FTimeBase = timeBase;
    Reset();
}

void TSourcePicture::Reset() {
    FGraph.reset();
    FSource = FSink = nullptr;
    FWidth = FHeight = 0;
    FFormat = -1;
    FDeinterlacing = false;
    FPassing = false;
}

void TSourcePicture::Build(const AVFrame& frame, bool deinterlace) {
    const std::string chain = SourcePictureFilters(FPlan, deinterlace, frame.color_trc, frame.color_primaries,
                                                   frame.colorspace, frame.color_range);
    FGraph.reset();
    FSource = FSink = nullptr;
    FWidth = frame.width;
    FHeight = frame.height;
    FFormat = frame.format;
    FDeinterlacing = deinterlace;
    FPassing = chain.empty();
    if (FPassing) return;

    FGraph.reset(avfilter().avfilter_graph_alloc());
    if (!FGraph) throw FFmpegException("Error opening filters!");
    FGraph->nb_threads = FThreads;
    AVRational sar = frame.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame.width,
                                    frame.height, frame.format, FTimeBase.num, FTimeBase.den, sar.num, sar.den);
    int r = avfilter().avfilter_graph_create_filter(&FSource, avfilter().avfilter_get_by_name("buffer"), "src",
                                                     args.c_str(), nullptr, FGraph.get());
    if (r >= 0)
        r = avfilter().avfilter_graph_create_filter(&FSink, avfilter().avfilter_get_by_name("buffersink"), "out",
                                                     nullptr, nullptr, FGraph.get());
    if (r < 0) throw FFmpegException("Error opening filters: " + ErrorMessage(r));
    r = LinkFilterChain(*FGraph, FSource, FSink, chain);
    if (r >= 0) r = avfilter().avfilter_graph_config(FGraph.get(), nullptr);
    if (r < 0) throw FFmpegException("Error opening filters: " + ErrorMessage(r));
}

bool TSourcePicture::Push(AVFrame* frame) {
    if (!frame) {
        if (!FGraph) return false;
        avfilter().av_buffersrc_add_frame_flags(FSource, nullptr, 0);
        return true;
    }
    if (!MayChange()) return false;
    // Deinterlacing starts with the first picture flagged interlaced and then stays, so
    // the deinterlacer sees every picture after it (it looks at the neighbours).
    const bool deinterlace = FPlan.DeinterlaceAllowed && (FDeinterlacing || frame->interlaced_frame);
    const bool rebuild = FFormat < 0 || frame->width != FWidth || frame->height != FHeight ||
                         frame->format != FFormat || deinterlace != FDeinterlacing;
    if (rebuild) {
        // A graph that still holds pictures would lose them; the size and format of a
        // stream change rarely, so the few pictures a deinterlacer keeps are let go.
        Build(*frame, deinterlace);
    }
    if (FPassing) return false;
    const int64_t saved = frame->pts;
    frame->pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    const int r = avfilter().av_buffersrc_add_frame_flags(FSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    frame->pts = saved;
    if (r < 0) throw FFmpegException("Error while filtering: " + ErrorMessage(r));
    return true;
}

bool TSourcePicture::Pull(AVFrame* out) {
    if (!FSink) return false;
    const int r = avfilter().av_buffersink_get_frame(FSink, out);
    if (r == AVERROR_EOF) {
        // Flushed: the next picture starts a graph of its own.
        Reset();
        return false;
    }
    if (r < 0) return false;
    // A deinterlacer counts in half the time base: times go back to the frames' own.
    const AVRational tb = avfilter().av_buffersink_get_time_base(FSink);
    if (out->pts != AV_NOPTS_VALUE && av_cmp_q(tb, FTimeBase) != 0)
        out->pts = avutil().av_rescale_q(out->pts, tb, FTimeBase);
    out->best_effort_timestamp = out->pts;
    return true;
}
