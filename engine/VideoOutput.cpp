#include "engine/VideoOutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>
#include <mutex>

#include "engine/EngineSettings.h"
#include "engine/HdrMetadata.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/SourceDamage.h"
#include "engine/SourcePicture.h"

namespace {
int Even(int v) { return v & ~1; }

// "start,end,q/start,end,q...": q >= 1 is a quantizer, q < 1 a quality factor of -q/100.
void ParseRcOverride(AVCodecContext* enc, const std::string& text) {
    if (text.empty()) return;
    std::vector<RcOverride> list;
    std::stringstream all(text);
    std::string entry;
    while (std::getline(all, entry, '/')) {
        int start = 0, end = 0, q = 0;
        if (std::sscanf(entry.c_str(), "%d,%d,%d", &start, &end, &q) != 3) throw FFmpegException("error parsing rc_override");
        RcOverride o{};
        o.start_frame = start;
        o.end_frame = end;
        if (q > 0) {
            o.qscale = q;
            o.quality_factor = 1.0f;
        } else {
            o.qscale = 0;
            o.quality_factor = -q / 100.0f;
        }
        list.push_back(o);
    }
    auto* mem = static_cast<RcOverride*>(avutil().av_mallocz(sizeof(RcOverride) * list.size()));
    if (!mem) throw FFmpegException("error parsing rc_override");
    std::memcpy(mem, list.data(), sizeof(RcOverride) * list.size());
    enc->rc_override = mem;
    enc->rc_override_count = int(list.size());
}

uint16_t* CopyMatrix(const std::array<uint16_t, 64>& m) {
    auto* p = static_cast<uint16_t*>(avutil().av_malloc(sizeof(uint16_t) * 64));
    if (p) std::memcpy(p, m.data(), sizeof(uint16_t) * 64);
    return p;
}
}  // namespace

TRaisedPicture RaiseToEncoderMinimum(const char* encoderName, int width, int height) {
    struct TMinimum {
        const char* Encoder;
        int Width, Height;
    };
    static const TMinimum minimums[] = {{"dnxhd", 256, 120}, {"libsvtav1", 64, 64}, {"libx265", 16, 16}};
    TRaisedPicture r{width, height, false};
    if (!encoderName || width <= 0 || height <= 0) return r;
    for (const TMinimum& m : minimums) {
        if (std::strcmp(m.Encoder, encoderName) != 0 || (width >= m.Width && height >= m.Height)) continue;
        auto evenUp = [](double v) { return (int(std::ceil(v - 1e-9)) + 1) & ~1; };
        const double f = std::max(double(m.Width) / width, double(m.Height) / height);
        r.Width = std::max(m.Width, evenUp(width * f));
        r.Height = std::max(m.Height, evenUp(height * f));
        if (r.Width > 4096 || r.Height > 4096)
            r = {std::max(m.Width, evenUp(width)), std::max(m.Height, evenUp(height)), true};
    }
    return r;
}

void TVideoOutput::ConfigureStage(const TStreamSetup& setup, TRunServices&) {
    const TEngineSettings& s = setup.Settings;
    AVCodecContext* enc = MakeEncoder(setup, s.VideoCodecName, AV_OPT_FLAG_VIDEO_PARAM);
    const AVCodec* codec = EncCodec;
    AVRational rate = (s.FrameRate.num > 0 && s.FrameRate.den > 0) ? s.FrameRate : AVRational{25, 1};
    if (codec->supported_framerates && !s.ForceFps)
        rate = codec->supported_framerates[avutil().av_find_nearest_q_idx(rate, codec->supported_framerates)];
    // Some encoders cannot store large time-base terms; keep the rate close instead.
    if (rate.num > 65535 || rate.den > 65535) avutil().av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
    enc->time_base = av_inv_q(rate);
    enc->framerate = rate;
    enc->width = s.FrameWidth;
    enc->height = s.FrameHeight;
    const double aspect = s.FrameAspectRatio > 0 ? s.FrameAspectRatio : setup.InputAspect;
    if (aspect > 0 && enc->width > 0 && enc->height > 0)
        enc->sample_aspect_ratio = avutil().av_d2q(aspect * enc->height / enc->width, 255);
    AVPixelFormat pix = s.FramePixFmt >= 0 ? AVPixelFormat(s.FramePixFmt) : AV_PIX_FMT_YUV420P;
    if (codec->pix_fmts) {
        bool listed = false;
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) listed |= *p == pix;
        const bool mjpegKeeps = codec->id == AV_CODEC_ID_MJPEG && enc->strict_std_compliance < 0 &&
                                (pix == AV_PIX_FMT_YUV420P || pix == AV_PIX_FMT_YUV422P);
        if (!listed && !mjpegKeeps) pix = codec->pix_fmts[0];
    }
    // MJPEG stores full-range pictures; the limited-range formats it also lists need a
    // relaxed strictness, so a caller that did not relax it gets the full-range twin.
    if (codec->id == AV_CODEC_ID_MJPEG && enc->strict_std_compliance >= 0) {
        if (pix == AV_PIX_FMT_YUV420P) pix = AV_PIX_FMT_YUVJ420P;
        if (pix == AV_PIX_FMT_YUV422P) pix = AV_PIX_FMT_YUVJ422P;
        if (pix == AV_PIX_FMT_YUV444P) pix = AV_PIX_FMT_YUVJ444P;
    }
    enc->pix_fmt = pix;
    if (s.IntraOnly) enc->gop_size = 0;
    if (s.VideoQScale > 0 || s.SameQuality) {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = int(FF_QP2LAMBDA * (s.VideoQScale > 0 ? s.VideoQScale : 1.0f));
    }
    if (s.IntraMatrix) enc->intra_matrix = CopyMatrix(*s.IntraMatrix);
    if (s.InterMatrix) enc->inter_matrix = CopyMatrix(*s.InterMatrix);
    ParseRcOverride(enc, s.VideoRcOverride);
    enc->intra_dc_precision = s.IntraDCPrecision - 8;
    if (s.DoPSNR) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (s.DoPass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (s.DoPass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    enc->thread_count = s.ThreadCount;
    PrivateOptions = Dictionary(setup.Generic.CodecPrivateOptions(AVMEDIA_TYPE_VIDEO));
    Cfg.TopBand = s.FrameTopBand;
    Cfg.BottomBand = s.FrameBottomBand;
    Cfg.LeftBand = s.FrameLeftBand;
    Cfg.RightBand = s.FrameRightBand;
    Cfg.Filters = s.VFilters;
    if (s.DoDeinterlace) Cfg.Filters = s.VFilters.empty() ? "yadif" : "yadif," + s.VFilters;
    Cfg.SyncMethod = s.VideoSyncMethod;
    Cfg.VariableFps = (setup.Output->oformat->flags & AVFMT_VARIABLE_FPS) != 0;
    Cfg.ScalerFlags = setup.Generic.ScalerFlags();
    Cfg.TopFieldFirst = s.TopFieldFirst;
    if (!s.FrameSizeGiven && s.FrameAspectRatio > 0 && !Cfg.Filters.empty())
        Cfg.AspectOfFinalSize = s.FrameAspectRatio;
    if ((s.VideoGlobalHeader & 1) || (s.VideoGlobalHeader == 0 && (setup.Output->oformat->flags & AVFMT_GLOBALHEADER)))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.VideoGlobalHeader & 2) enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
}

void TVideoOutput::BuildGraph(int width, int height, int format, AVRational sar) {
    FGraph.reset(avfilter().avfilter_graph_alloc());
    if (!FGraph) throw FFmpegException("Error opening filters!");
    FGraph->scale_sws_opts = avutil().av_strdup(Format("flags=0x%X", unsigned(Cfg.ScalerFlags)).c_str());
    FGraph->nb_threads = 1;  // the few filters here are cheap; the codecs have the cores

    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", width, height, format,
                              AV_TIME_BASE, sar.num, sar.den);
    int r = avfilter().avfilter_graph_create_filter(&FSource, avfilter().avfilter_get_by_name("buffer"), "src",
                                                     args.c_str(), nullptr, FGraph.get());
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    r = avfilter().avfilter_graph_create_filter(&FSink, avfilter().avfilter_get_by_name("buffersink"),
                                                 "ffmpeg_output", nullptr, nullptr, FGraph.get());
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));

    std::string chain;
    auto add = [&](const std::string& f) {
        if (!chain.empty()) chain += ',';
        chain += f;
    };
    const bool crop = Cfg.TopBand || Cfg.BottomBand || Cfg.LeftBand || Cfg.RightBand;
    int cw = width - Cfg.LeftBand - Cfg.RightBand;
    int ch = height - Cfg.TopBand - Cfg.BottomBand;
    if (cw <= 0 || ch <= 0) throw FFmpegException("Error opening filters: the crop bands leave no picture");
    if (crop) add(Format("crop=%d:%d:%d:%d", cw, ch, Cfg.LeftBand, Cfg.TopBand));
    int ew = Enc->width > 0 ? Enc->width : cw;
    int eh = Enc->height > 0 ? Enc->height : ch;
    if (ew != cw || eh != ch) add(Format("scale=%d:%d", ew, eh));
    if (!Cfg.Filters.empty()) add(Cfg.Filters);
    if (FRaise.Width > 0 && !Opened)
        add(FRaise.Padded ? Format("pad=%d:%d:(ow-iw)/2:(oh-ih)/2", FRaise.Width, FRaise.Height)
                          : Format("scale=%d:%d", FRaise.Width, FRaise.Height));
    // Once the encoder is open its size is fixed: whatever the chain makes is brought to
    // it (the scaler passes frames of the right size through untouched).
    if (Opened) add(Format("scale=%d:%d", Enc->width, Enc->height));
    if (Cfg.ToBt601) add("scale=out_color_matrix=bt601");
    const char* fmtName = avutil().av_get_pix_fmt_name(Enc->pix_fmt);
    add(Format("format=pix_fmts=%s", fmtName ? fmtName : "yuv420p"));

    r = LinkFilterChain(*FGraph, FSource, FSink, chain);
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    r = avfilter().avfilter_graph_config(FGraph.get(), nullptr);
    if (r < 0) throw FFmpegException("Error opening filters: " + EngineErrorMessage(r));
    FInWidth = width;
    FInHeight = height;
    FInFormat = format;
}

void TVideoOutput::Open(TInputStream& source, TRunServices& run) {
    FSourceName = Format("#%d.%d", source.FileIndex, source.StreamIndex);
    const AVCodecParameters* par = source.St->codecpar;
    if (Enc->pix_fmt == AV_PIX_FMT_NONE) throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
    // The pictures come as the source step makes them: upright, perhaps tone-mapped.
    const TSourcePicturePlan plan = source.PicturePlanOf(*this);
    const TPictureShape shape =
        SourcePictureShape(plan, {par->width, par->height, par->format, par->sample_aspect_ratio});
    if (plan.ToneMap) {
        Enc->color_primaries = AVCOL_PRI_BT709;
        Enc->color_trc = AVCOL_TRC_BT709;
        Enc->colorspace = AVCOL_SPC_BT709;
        Enc->color_range = AVCOL_RANGE_MPEG;
        if (Enc->codec_id == AV_CODEC_ID_MJPEG) {
            Cfg.ToBt601 = true;
            Enc->colorspace = AVCOL_SPC_BT470BG;
            Enc->color_range = AVCOL_RANGE_JPEG;
        }
    } else if (IsHdrTransfer(par->color_trc)) {
        // Carried as it is: the output says what it carries.
        Enc->color_primaries = par->color_primaries;
        Enc->color_trc = par->color_trc;
        Enc->colorspace = par->color_space;
        Enc->color_range = par->color_range;
    }
    // Fields kept: the encoder codes them as fields, in the source's order.
    if (!plan.DeinterlaceAllowed && IsInterlacedFieldOrder(par->field_order) &&
        OutputKeepsFields(Enc->codec_id, OutFormat() ? OutFormat()->name : nullptr)) {
        Enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        if (Cfg.TopFieldFirst < 0) Cfg.TopFieldFirst = (par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_TB) ? 1 : 0;
    }
    if (shape.Width > 0 && shape.Height > 0 && shape.Format >= 0) {
        const int askedWidth = Enc->width, askedHeight = Enc->height;
        BuildGraph(shape.Width, shape.Height, shape.Format, shape.SampleAspect);
        Enc->width = avfilter().av_buffersink_get_w(FSink);
        Enc->height = avfilter().av_buffersink_get_h(FSink);
        // DV's sampling is part of its profile, known once the final size is: 525-line DV
        // at 25 Mbit/s is 4:1:1.
        if (Enc->codec_id == AV_CODEC_ID_DVVIDEO && Enc->height == 480 && Enc->pix_fmt == AV_PIX_FMT_YUV420P) {
            Enc->pix_fmt = AV_PIX_FMT_YUV411P;
            Enc->width = askedWidth;
            Enc->height = askedHeight;
            BuildGraph(shape.Width, shape.Height, shape.Format, shape.SampleAspect);
            Enc->width = avfilter().av_buffersink_get_w(FSink);
            Enc->height = avfilter().av_buffersink_get_h(FSink);
        }
        const TRaisedPicture raised = RaiseToEncoderMinimum(EncCodec ? EncCodec->name : nullptr, Enc->width, Enc->height);
        if (raised.Width != Enc->width || raised.Height != Enc->height) {
            run.Log(llInfo, Format("Picture of %dx%d %s to %dx%d, the smallest %s takes", Enc->width, Enc->height,
                                   raised.Padded ? "padded" : "scaled up", raised.Width, raised.Height,
                                   EncCodec->name));
            FRaise = raised;
            Enc->width = askedWidth;
            Enc->height = askedHeight;
            BuildGraph(shape.Width, shape.Height, shape.Format, shape.SampleAspect);
            Enc->width = avfilter().av_buffersink_get_w(FSink);
            Enc->height = avfilter().av_buffersink_get_h(FSink);
        }
        if (Cfg.AspectOfFinalSize > 0 && Enc->width > 0 && Enc->height > 0)
            Enc->sample_aspect_ratio =
                avutil().av_d2q(Cfg.AspectOfFinalSize * Enc->height / Enc->width, 255);
    } else if (Enc->width <= 0 || Enc->height <= 0) {
        Enc->width = shape.Width;
        Enc->height = shape.Height;
    }
    if (Enc->width <= 0 || Enc->height <= 0)
        throw FFmpegException(Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                                     "parameters such as bit_rate, rate, width or height. Please check error log "
                                     "message to find out more detail information.",
                                     FileIndex, Index, EngineCodecName(Enc.get()).c_str()));
    if (Enc->rc_buffer_size > 0 && Enc->rc_initial_buffer_occupancy <= 0)
        Enc->rc_initial_buffer_occupancy = Enc->rc_buffer_size * 3 / 4;
    if (Cfg.TopFieldFirst >= 0) Enc->field_order = Cfg.TopFieldFirst ? AV_FIELD_TT : AV_FIELD_BB;
    FFiltered.reset(avutil().av_frame_alloc());
    if (Enc->framerate.num <= 0) Enc->framerate = av_inv_q(Enc->time_base);
    // An HDR picture stays HDR where the output can carry it: tags, mastering display and
    // light levels go with it.
    std::optional<THdrInfo> hdr;
    if (EncCodec && OutputCarriesHdr(Enc->codec_id, Enc->pix_fmt)) hdr = ReadHdrInfo(*source.St, source.FileName);
    if (hdr) {
        ApplyHdrToEncoder(*hdr, *Enc, *EncCodec, PrivateOptions.Address());
        run.Log(llVerbose, "HDR kept: " + std::string(avutil().av_get_pix_fmt_name(Enc->pix_fmt)));
    }
    OpenEncoder(PrivateOptions.Address(), run);
    if (hdr) AddHdrSideData(*hdr, *St);
}

void TVideoOutput::Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) {
    if (!FGraph || frame->width != FInWidth || frame->height != FInHeight || frame->format != FInFormat) {
        if (FGraph) {
            const char* name = avutil().av_get_pix_fmt_name(AVPixelFormat(frame->format));
            run.Log(llInfo, Format("Input Stream %s frame size changed to %dx%d, %s", FSourceName.c_str(), frame->width,
                                   frame->height, name ? name : "?"));
            Drain(run);
            // Bands keep their share of the picture.
            if (FInWidth > 0 && FInHeight > 0) {
                Cfg.TopBand = Even(Cfg.TopBand * frame->height / FInHeight);
                Cfg.BottomBand = Even(Cfg.BottomBand * frame->height / FInHeight);
                Cfg.LeftBand = Even(Cfg.LeftBand * frame->width / FInWidth);
                Cfg.RightBand = Even(Cfg.RightBand * frame->width / FInWidth);
            }
        }
        BuildGraph(frame->width, frame->height, frame->format, frame->sample_aspect_ratio);
    }
    const int64_t saved = frame->pts;
    frame->pts = ptsUs;
    int r = avfilter().av_buffersrc_add_frame_flags(FSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    frame->pts = saved;
    if (r < 0) throw FFmpegException("Error while filtering: " + EngineErrorMessage(r));
    Drain(run);
}

void TVideoOutput::Drain(TRunServices& run) {
    if (!FSink) return;
    const AVRational tb = avfilter().av_buffersink_get_time_base(FSink);
    for (;;) {
        int r = avfilter().av_buffersink_get_frame(FSink, FFiltered.get());
        if (r < 0) break;
        int64_t pts = FFiltered->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                                         : avutil().av_rescale_q(FFiltered->pts, tb, AV_TIME_BASE_Q);
        if (FHandoff)
            FHandoff(*FFiltered, pts);
        else
            Output(FFiltered.get(), pts, run);
        avutil().av_frame_unref(FFiltered.get());
    }
}

void TVideoOutput::Output(AVFrame* frame, int64_t ptsUs, TRunServices& run) {
    if (ptsUs != AV_NOPTS_VALUE && ptsUs >= RecordingTimeUs) return;
    double syncIpts =
        ptsUs == AV_NOPTS_VALUE ? double(SyncOpts) : double(ptsUs) / AV_TIME_BASE / av_q2d(Enc->time_base) - FJumpShift;
    // A leap of the time stamps longer than the source could be, or one forward past what
    // the packets read so far hold, is damage: it is neither filled with copies of one
    // picture nor left as a gap; the pictures go on from here.
    const double ahead = syncIpts - double(SyncOpts);
    if ((JumpLimit > 0 && std::fabs(ahead) > JumpLimit) ||
        (ahead > 1.1 && syncIpts * av_q2d(Enc->time_base) > ContentLimitSeconds(run.ReadContentUs))) {
        const double leap = ahead;
        run.Log(llWarning, Format("Output stream #%d.%d: the pictures' time stamps leap %.1f s: taken as damage, "
                                  "the pictures go on without a gap",
                                  FileIndex, Index, leap * av_q2d(Enc->time_base)));
        FJumpShift += leap;
        syncIpts -= leap;
    }
    int64_t count = 1;
    if (Cfg.SyncMethod != 0) {
        const double delta = syncIpts - double(SyncOpts);
        if (delta < -1.1) {
            count = 0;
        } else if (Cfg.SyncMethod == 2 || (Cfg.SyncMethod == -1 && Cfg.VariableFps)) {
            if (delta <= -0.6)
                count = 0;
            else if (delta > 0.6)
                SyncOpts = std::llrint(syncIpts);
        } else if (delta > 1.1) {
            count = std::llrint(delta);
        }
        if (count == 0) {
            ++run.DropCount;
            run.DupDropChanged = true;
            if (run.Verbose() > 2) run.Log(llInfo, "*** drop!");
        } else if (count > 1) {
            run.DupCount += count - 1;
            run.DupDropChanged = true;
            if (run.Verbose() > 2) run.Log(llInfo, Format("*** %d dup!", int(count - 1)));
        }
    } else {
        SyncOpts = std::llrint(syncIpts);
    }
    if (MaxFrames - FrameCount < count) count = MaxFrames - FrameCount;
    if (PictureBudget - FrameCount < count) {
        count = std::max<int64_t>(PictureBudget - FrameCount, 0);
        if (!FBudgetSpent)
            run.Log(llWarning, Format("Output stream #%d.%d: %lld pictures are as many as the source's length allows; "
                                      "the rest is dropped",
                                      FileIndex, Index, (long long)PictureBudget));
        FBudgetSpent = true;
    }
    for (int64_t i = 0; i < count; ++i) {
        if (run.StopRequested()) break;
        frame->pts = SyncOpts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (Enc->flags & AV_CODEC_FLAG_QSCALE) frame->quality = Enc->global_quality;
        if (Cfg.TopFieldFirst >= 0) {
            frame->top_field_first = Cfg.TopFieldFirst;
        }
        run.VideoFrameToEncode(*frame, ptsUs);
        Encode(frame, run);
        ++SyncOpts;
        ++FrameCount;
    }
}

void TVideoOutput::Flush(TRunServices& run) {
    if (FFlushed || !Enc || !Opened) return;
    FlushFilters(run);
    FlushEncoder(run);
}

bool TVideoOutput::FiltersChangeThePicture() const {
    const bool crop = Cfg.TopBand || Cfg.BottomBand || Cfg.LeftBand || Cfg.RightBand;
    return !FGraph || crop || !Cfg.Filters.empty() || FInWidth != Enc->width || FInHeight != Enc->height ||
           FInFormat != Enc->pix_fmt;
}

void TVideoOutput::FlushFilters(TRunServices& run) {
    if (!FSource || !Opened) return;
    avfilter().av_buffersrc_add_frame_flags(FSource, nullptr, 0);
    Drain(run);
}

void TVideoOutput::FlushEncoder(TRunServices& run) {
    if (FFlushed || !Enc || !Opened) return;
    FFlushed = true;
    Encode(nullptr, run);
}
