// The run of a task: binding streams, opening codecs, the packet loop, flushing, reports.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "engine/AudioOutput.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"
#include "engine/Pipeline.h"
#include "engine/VideoOutput.h"

namespace {
const char* MediaName(AVMediaType t) {
    const char* n = avutil().av_get_media_type_string(t);
    return n ? n : "unknown";
}

// Higher is a better automatic source: the file's own choice first, then the bigger picture
// or the more channels.
int64_t SourceScore(AVFormatContext* ic, AVStream* st) {
    int64_t score = 0;
    const AVCodecParameters* par = st->codecpar;
    if (avformat().av_find_best_stream(ic, par->codec_type, -1, -1, nullptr, 0) == st->index) score += int64_t(1) << 40;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) score += int64_t(par->width) * par->height;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) score += par->ch_layout.nb_channels;
    return score;
}
}  // namespace

// ---------------------------------------------------------------- services

bool TCustomFFmpeg::StopRequested() { return FControl.StopRequested(); }

void TCustomFFmpeg::WritePacket(TOutputStream& ost, AVPacket* pkt, AVRational tb) {
    // The stages write from their own threads; the muxer takes one packet at a time.
    std::lock_guard lock(FMuxLock);
    TOutputFile& file = *FOutputs[ost.FileIndex];
    AVFormatContext* oc = file.Ctx.get();
    avcodec().av_packet_rescale_ts(pkt, tb, ost.St->time_base);
    pkt->stream_index = ost.St->index;

    std::vector<PacketPtr> packets;
    packets.emplace_back(avcodec().av_packet_clone(pkt));
    for (auto& bsf : ost.Bsfs) {
        std::vector<PacketPtr> out;
        for (auto& p : packets) {
            int r = avcodec().av_bsf_send_packet(bsf.get(), p.get());
            while (r >= 0) {
                PacketPtr q(avcodec().av_packet_alloc());
                r = avcodec().av_bsf_receive_packet(bsf.get(), q.get());
                if (r < 0) break;
                out.push_back(std::move(q));
            }
            if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
                std::string msg = Format("%s failed for stream %d, codec %s", bsf->filter->name, ost.St->index,
                                         ost.StreamCopy ? "copy" : EngineCodecName(ost.Enc.get()).c_str());
                msg += ": " + EngineErrorMessage(r);
                if (FSettings.ExitOnError) throw FFmpegException(msg);
                Log(llError, msg);
            }
        }
        packets = std::move(out);
    }
    const bool strict = !(oc->oformat->flags & AVFMT_TS_NONSTRICT);
    for (auto& p : packets) {
        p->stream_index = ost.St->index;
        if (!(oc->oformat->flags & AVFMT_NOTIMESTAMPS) && p->dts != AV_NOPTS_VALUE && ost.LastDts != AV_NOPTS_VALUE) {
            // Muxers refuse timestamps that go back; nudge them forward.
            const int64_t least = ost.LastDts + (strict ? 1 : 0);
            if (p->dts < least) {
                if (p->pts != AV_NOPTS_VALUE && p->pts >= p->dts) p->pts = std::max(p->pts, least);
                p->dts = least;
            }
        }
        if (p->dts != AV_NOPTS_VALUE) ost.LastDts = p->dts;
        int64_t end = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (end != AV_NOPTS_VALUE) {
            end += std::max<int64_t>(p->duration, 0);
            ost.EndTimeUs = std::max(ost.EndTimeUs.load(), avutil().av_rescale_q(end, ost.St->time_base, AV_TIME_BASE_Q));
        }
        int r = avformat().av_interleaved_write_frame(oc, p.get());
        if (r < 0) throw FFmpegException("av_interleaved_write_frame(): " + EngineErrorMessage(r));
    }
}

void TCustomFFmpeg::VideoFrameEncoded(TOutputStream& ost, const AVPacket& pkt) {
    std::lock_guard lock(FStatsLock);
    if (ost.PassLog && ost.Enc->stats_out) std::fputs(ost.Enc->stats_out, ost.PassLog.get());
    if (!FSettings.VStatsFilename.empty()) FVStats.Write(FSettings.VStatsFilename, ost, pkt, TRunServices::VideoBytes);
}

void TCustomFFmpeg::VideoFrameToEncode(const AVFrame& frame, int64_t ptsUs) {
    if (!(PreviewFlags & 3) || !OnPreviewBitmap) return;
    std::lock_guard lock(FStatsLock);
    FPreview.Offer(frame, ptsUs, FFrameNumber, OnPreviewBitmap);
}

// ---------------------------------------------------------------- preparation

void TCustomFFmpeg::OpenDecoder(TInputStream& ist) {
    if (ist.Dec) return;
    const AVCodecParameters* par = ist.St->codecpar;
    AVFormatContext* ic = FInputs[ist.FileIndex]->Ctx.get();
    const AVCodec* codec = nullptr;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && ic->video_codec) codec = ic->video_codec;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && ic->audio_codec) codec = ic->audio_codec;
    if (par->codec_type == AVMEDIA_TYPE_SUBTITLE && ic->subtitle_codec) codec = ic->subtitle_codec;
    if (!codec) codec = avcodec().avcodec_find_decoder(par->codec_id);
    if (!codec)
        throw FFmpegException(Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)", int(par->codec_id),
                                     ist.FileIndex, ist.StreamIndex, EngineCodecName(par->codec_id).c_str()));
    ist.Dec.reset(avcodec().avcodec_alloc_context3(codec));
    AVCodecContext* dec = ist.Dec.get();
    if (!dec || avcodec().avcodec_parameters_to_context(dec, par) < 0)
        throw FFmpegException(Format("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex,
                                     ist.StreamIndex, codec->name));
    const int typeFlag = par->codec_type == AVMEDIA_TYPE_VIDEO   ? AV_OPT_FLAG_VIDEO_PARAM
                         : par->codec_type == AVMEDIA_TYPE_AUDIO ? AV_OPT_FLAG_AUDIO_PARAM
                                                                 : AV_OPT_FLAG_SUBTITLE_PARAM;
    FGeneric.ApplyToCodecContext(par->codec_type, dec, AV_OPT_FLAG_DECODING_PARAM | typeFlag);
    dec->pkt_timebase = ist.St->time_base;
    dec->thread_count = CodecThreads();
    int r;
    r = avcodec().avcodec_open2(dec, codec, nullptr);
    if (r < 0)
        throw FFmpegException(Format("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex,
                                     ist.StreamIndex, codec->name));
}

void TCustomFFmpeg::SetupPassLog(TOutputStream& ost) {
    if (!ost.Enc || !(ost.Enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    const std::string prefix = FSettings.PassLogFileName.empty() ? "ffmpeg2pass" : FSettings.PassLogFileName;
    const std::string name = Format("%s-%d.log", prefix.c_str(), ost.Index);
    // x264 keeps its statistics in a file of its own; it is told the name.
    if (ost.EncCodec && std::strcmp(ost.EncCodec->name, "libx264") == 0) {
        avutil().av_dict_set(ost.PrivateOptions.Address(), "stats", name.c_str(), AV_DICT_DONT_OVERWRITE);
        return;
    }
    if (ost.Enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.PassLog.reset(std::fopen(name.c_str(), "wb"));
        if (!ost.PassLog) throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    } else {
        std::ifstream in(name, std::ios::binary);
        if (!in)
            throw FFmpegException(Format("Error reading log file \"%s\" for pass-2 encoding", name.c_str()) +
                                  ": Cannot read file: " + name);
        std::stringstream ss;
        ss << in.rdbuf();
        ost.PassStats = ss.str();
        ost.Enc->stats_in = ost.PassStats.data();
    }
}

void TCustomFFmpeg::BindStreams() {
    auto& s = FSettings;
    FInputStreams.clear();
    for (size_t f = 0; f < FInputs.size(); ++f) {
        TInputFile& file = *FInputs[f];
        file.IstIndex = int(FInputStreams.size());
        file.NbStreams = int(file.Ctx->nb_streams);
        for (unsigned i = 0; i < file.Ctx->nb_streams; ++i) {
            auto ist = std::make_unique<TInputStream>();
            ist->FileIndex = int(f);
            ist->StreamIndex = int(i);
            ist->St = file.Ctx->streams[i];
            FInputStreams.push_back(std::move(ist));
        }
    }
    for (size_t o = 0; o < FOutputs.size(); ++o) {
        if (FOutputs[o]->Ctx->nb_streams == 0) {
            const std::string text = Format("Output file #%d does not contain any stream", int(o));
            if (!FOutputs[o]->MissingAudio) throw FFmpegException(text);
            Log(llError, text);
            throw FFmpegException("The file has no audio stream to convert");
        }
    }
    auto findIst = [&](int file, int stream) -> TInputStream* {
        if (file < 0 || file >= int(FInputs.size()) || stream < 0 || stream >= FInputs[file]->NbStreams) return nullptr;
        return FInputStreams[FInputs[file]->IstIndex + stream].get();
    };
    if (!s.StreamMaps.empty() && s.StreamMaps.size() != FOutputStreams.size())
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (size_t k = 0; k < FOutputStreams.size(); ++k) {
        TOutputStream& ost = *FOutputStreams[k];
        TInputStream* source = nullptr;
        TInputStream* sync = nullptr;
        if (!s.StreamMaps.empty()) {
            const TStreamMap& m = s.StreamMaps[k];
            source = findIst(m.FileIndex, m.StreamIndex);
            if (!source) throw FFmpegException(Format("Could not find input stream #%d.%d", m.FileIndex, m.StreamIndex));
            sync = findIst(m.SyncFileIndex, m.SyncStreamIndex);
            if (!sync)
                throw FFmpegException(Format("Could not find sync stream #%d.%d", m.SyncFileIndex, m.SyncStreamIndex));
            if (source->St->codecpar->codec_type != ost.Type())
                throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                             source->FileIndex, source->StreamIndex,
                                             MediaName(source->St->codecpar->codec_type), ost.FileIndex, ost.Index,
                                             MediaName(ost.Type())));
        } else {
            int64_t bestScore = -1;
            for (auto& ist : FInputStreams) {
                if (ist->St->codecpar->codec_type != ost.Type() || !ist->Discard) continue;
                if (ist->St->discard == AVDISCARD_ALL) continue;
                if (FJoin && ist->FileIndex != 0) continue;
                int64_t score = SourceScore(FInputs[ist->FileIndex]->Ctx.get(), ist->St);
                if (score > bestScore) {
                    bestScore = score;
                    source = ist.get();
                }
            }
            if (!source && !FJoin) {
                for (auto& ist : FInputStreams)
                    if (ist->St->codecpar->codec_type == ost.Type() && ist->St->discard != AVDISCARD_ALL)
                        source = ist.get();
            }
            if (!source) {
                avformat().av_dump_format(FOutputs[ost.FileIndex]->Ctx.get(), ost.FileIndex, FOutputs[ost.FileIndex]->FileName.c_str(), 1);
                throw FFmpegException(Format("Could not find input stream matching output stream #%d.%d (%s)",
                                             ost.FileIndex, ost.Index, MediaName(ost.Type())));
            }
            sync = source;
        }
        source->Discard = false;
        ost.SourceIndex = int(std::find_if(FInputStreams.begin(), FInputStreams.end(),
                                           [&](const auto& p) { return p.get() == source; }) -
                              FInputStreams.begin());
        ost.SyncIndex = int(std::find_if(FInputStreams.begin(), FInputStreams.end(),
                                         [&](const auto& p) { return p.get() == sync; }) -
                            FInputStreams.begin());
        source->Outputs.push_back(&ost);
    }
    for (const auto& m : s.MetaDataMaps) {
        if (m.OutFile < 0 || m.OutFile >= int(FOutputs.size()))
            throw FFmpegException(
                Format("Invalid output file index %d map_meta_data(%d,%d)", m.OutFile, m.OutFile, m.InFile));
        if (m.InFile < 0 || m.InFile >= int(FInputs.size()))
            throw FFmpegException(Format("Invalid input file index %d map_meta_data(%d,%d)", m.InFile, m.OutFile, m.InFile));
        avutil().av_dict_copy(&FOutputs[m.OutFile]->Ctx->metadata, FInputs[m.InFile]->Ctx->metadata, AV_DICT_DONT_OVERWRITE);
    }
}

void TCustomFFmpeg::PrepareRun() {
    auto& s = FSettings;
    if (FOutputs.empty()) throw FFmpegException("At least one output file must be specified");
    if (FInputs.empty()) throw FFmpegException("At least one input file must be specified");
    BindStreams();
    // A start position left after the last input belongs to the output: the inputs are
    // read from their start and the output's clock begins there.
    FOutputStart = std::max<int64_t>(s.StartTime, 0);
    if (FOutputStart > 0 && FTotalDuration > 0) FTotalDuration = std::max<int64_t>(FTotalDuration - FOutputStart, 0);
    FHook.Start(bool(OnCustomHook));
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        TInputStream& ist = *FInputStreams[ost.SourceIndex];
        if (ost.StreamCopy) {
            if (ost.Type() == AVMEDIA_TYPE_VIDEO) {
                if (FHook.On()) throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
                if (!s.VideoHooks.empty())
                    throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
            }
            if (ost.Type() == AVMEDIA_TYPE_AUDIO && s.AudioVolume != 256)
                throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
            ost.Open(ist, *this);
        } else {
            if (ost.Type() != AVMEDIA_TYPE_VIDEO && ost.Type() != AVMEDIA_TYPE_AUDIO && ost.Type() != AVMEDIA_TYPE_SUBTITLE)
                throw FFmpegException("invalid codec_type of output stream");
            ost.RecordingTimeUs = s.RecordingTime;
            ist.DecodingNeeded = true;
        }
        if (!ost.BsfText.empty()) {
            AVBSFContext* chain = nullptr;
            if (avcodec().av_bsf_list_parse_str(ost.BsfText.c_str(), &chain) < 0)
                throw FFmpegException(Format("Unknown bitstream filter %s", ost.BsfText.c_str()));
            ost.Bsfs.emplace_back(chain);
        }
    }
    for (auto& ist : FInputStreams)
        if (ist->DecodingNeeded) OpenDecoder(*ist);
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (ost.StreamCopy) continue;
        SetupPassLog(ost);
        if (!FSettings.ThreadCount && ost.Enc) ost.Enc->thread_count = CodecThreads();
        ost.Open(*FInputStreams[ost.SourceIndex], *this);
    }
    for (auto& ostPtr : FOutputStreams) {
        for (auto& bsf : ostPtr->Bsfs) {
            avcodec().avcodec_parameters_copy(bsf->par_in, ostPtr->St->codecpar);
            bsf->time_base_in = ostPtr->St->time_base;
            if (avcodec().av_bsf_init(bsf.get()) < 0)
                throw FFmpegException(Format("Unknown bitstream filter %s", ostPtr->BsfText.c_str()));
            avcodec().avcodec_parameters_copy(ostPtr->St->codecpar, bsf->par_out);
        }
    }
    for (size_t o = 0; o < FOutputs.size(); ++o) {
        TOutputFile& file = *FOutputs[o];
        // The muxer's own options (the disc targets' mux rate) go with the header; what the
        // muxer did not take is logged, as for the encoders.
        Dictionary muxerOptions(FGeneric.FormatPrivateOptions());
        int r = avformat().avformat_write_header(file.Ctx.get(), muxerOptions.Address());
        for (const AVDictionaryEntry* e = nullptr;
             (e = avutil().av_dict_get(muxerOptions.Get(), "", e, AV_DICT_IGNORE_SUFFIX));)
            Log(llVerbose, Format("Option %s not used by muxer %s", e->key, file.Ctx->oformat->name));
        if (r < 0) {
            std::string msg = Format("Could not write header for output file #%d (incorrect codec parameters ?)", int(o));
            Log(llError, msg);
            throw FFmpegException(msg);
        }
        file.HeaderWritten = true;
    }
    Log(llInfo, "Stream mapping:");
    for (auto& ostPtr : FOutputStreams) {
        const TOutputStream& ost = *ostPtr;
        const TInputStream& ist = *FInputStreams[ost.SourceIndex];
        std::string codecs = ost.StreamCopy ? "copy"
                                            : EngineCodecName(ist.Dec.get()) + " -> " + EngineCodecName(ost.Enc.get());
        std::string line = Format("  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex, ist.StreamIndex, ost.FileIndex,
                                  ost.Index, codecs.c_str());
        if (ost.SyncIndex != ost.SourceIndex) {
            const TInputStream& sync = *FInputStreams[ost.SyncIndex];
            line += Format(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex, MediaName(sync.St->codecpar->codec_type));
        }
        Log(llInfo, line);
    }
}

// ---------------------------------------------------------------- the loop

int TCustomFFmpeg::CodecThreads() const {
    if (FSettings.ThreadCount) return FSettings.ThreadCount;
    const int cores = int(std::thread::hardware_concurrency());
    // A share of the machine: as many threads as cores in it; all of it: the library's choice.
    return CoreShare > 0 && CoreShare < cores ? CoreShare : 0;
}

bool TCustomFFmpeg::PipelineFits() const {
    const auto& s = FSettings;
    if (!s.Pipeline) return false;
    if (const char* e = std::getenv("REELSHIFT_PIPELINE"); e && std::strcmp(e, "0") == 0) return false;
    const int cores = int(std::thread::hardware_concurrency());
    if ((CoreShare > 0 ? CoreShare : cores) < 2) return false;
    // These decide from what the encoders have already written (the frame limits, the
    // file size, the end of a joined input, which input to read next): the stages would
    // answer late, so such runs keep to one thread.
    if (FJoin || FInputs.size() != 1 || s.LimitFileSize > 0) return false;
    for (const auto& ost : FOutputStreams)
        if (ost->MaxFrames != INT64_MAX) return false;
    return true;
}

void TCustomFFmpeg::WriteFrame(TOutputStream& ost, AVFrame* frame, int64_t ptsUs) {
    if (FPipeline && FPipeline->Handles(ost))
        FPipeline->Write(ost, *frame, ptsUs);
    else
        ost.Write(frame, ptsUs, *this);
}

bool TCustomFFmpeg::Transcode() {
    TRunServices::DupCount = TRunServices::DropCount = 0;
    TRunServices::VideoBytes = TRunServices::AudioBytes = TRunServices::ExtraBytes = 0;
    FFrameNumber = 0;
    PrepareRun();
    // A run that fails leaves through here: the stages are cancelled and joined before
    // anything they use is freed.
    struct PipelineEnd {
        std::unique_ptr<TPipeline>& Pipeline;
        ~PipelineEnd() { Pipeline.reset(); }
    } pipelineEnd{FPipeline};
    if (PipelineFits()) {
        FPipeline = std::make_unique<TPipeline>(static_cast<TRunServices&>(*this), 4);
        for (auto& ost : FOutputStreams)
            if (ost->Opened && (ost->Type() == AVMEDIA_TYPE_VIDEO || ost->Type() == AVMEDIA_TYPE_AUDIO))
                FPipeline->Add(*ost);
    }
    FDecoded.reset(avutil().av_frame_alloc());
    FReport.Start(avutil().av_gettime_relative());
    Loop();
    for (auto& ist : FInputStreams)
        if (ist->Dec && !ist->Flushed) ProcessPacket(*ist, nullptr);
    if (FPipeline) FPipeline->Finish(FControl.Stopping());
    for (auto& ost : FOutputStreams)
        if (!FPipeline || !FPipeline->Handles(*ost)) ost->Flush(*this);
    FPipeline.reset();
    for (auto& file : FOutputs)
        if (file->HeaderWritten) {
            avformat().av_write_trailer(file->Ctx.get());
            file->HeaderWritten = false;
        }
    Report(true, -1);
    ReleaseRun();
    return !FControl.Stopping();
}

void TCustomFFmpeg::Loop() {
    auto& s = FSettings;
    PacketPtr pkt(avcodec().av_packet_alloc());
    while (!StopRequested()) {
        int fileIndex = -1;
        bool limitReached = false;
        if (FJoin) {
            for (auto& ost : FOutputStreams)
                if (ost->FrameCount >= ost->MaxFrames) limitReached = true;
            if (limitReached) break;
            TInputFile& cur = *FInputs[FJoinCurrent];
            if (cur.EofReached) {
                if (FJoinCurrent + 1 >= int(FInputs.size())) break;
                FinishJoinedInput(FJoinCurrent);
                continue;
            }
            if (cur.NoPacket) {
                cur.NoPacket = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            fileIndex = FJoinCurrent;
        } else {
            double best = 1e300;
            bool anyNoPacket = false;
            for (auto& ost : FOutputStreams) {
                TInputStream& ist = *FInputStreams[ost->SourceIndex];
                TInputFile& file = *FInputs[ist.FileIndex];
                if (ist.IsPastRecordingTime) continue;
                if (file.NoPacket) {
                    anyNoPacket = true;
                    continue;
                }
                if (ost->FrameCount >= ost->MaxFrames) {
                    limitReached = true;
                    break;
                }
                if (file.EofReached) continue;
                double t = s.InputSync ? double(ist.Pts) / AV_TIME_BASE
                                       : (ost->LastDts == AV_NOPTS_VALUE ? -1e300 : double(ost->LastDts) * av_q2d(ost->St->time_base));
                if (t < best) {
                    best = t;
                    fileIndex = ist.FileIndex;
                }
            }
            if (limitReached) break;
            if (fileIndex < 0) {
                if (anyNoPacket) {
                    for (auto& f : FInputs) f->NoPacket = false;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                break;
            }
        }
        if (s.LimitFileSize > 0 && !FOutputs.empty() && FOutputs[0]->Ctx->pb &&
            avformat().avio_seek(FOutputs[0]->Ctx->pb, 0, SEEK_CUR) >= s.LimitFileSize)
            break;

        TInputFile& file = *FInputs[fileIndex];
        AVFormatContext* ic = file.Ctx.get();
        int r = avformat().av_read_frame(ic, pkt.get());
        if (r == AVERROR(EAGAIN)) {
            file.NoPacket = true;
            continue;
        }
        if (r < 0) {
            file.EofReached = true;
            if (s.OptShortest && !FJoin) break;
            continue;
        }
        for (auto& f : FInputs) f->NoPacket = false;
        if (s.DoPktDump)
            Log(llInfo, Format("stream #%d: keyframe=%d size=%d dts=%lld pts=%lld", pkt->stream_index,
                               (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0, pkt->size, (long long)pkt->dts,
                               (long long)pkt->pts));
        if (pkt->stream_index >= file.NbStreams) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        TInputStream& ist = *FInputStreams[file.IstIndex + pkt->stream_index];
        if (ist.Discard) {
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        const AVRational tb = ist.St->time_base;
        const int64_t offset = avutil().av_rescale_q(file.TsOffset, AV_TIME_BASE_Q, tb);
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
        if (pkt->stream_index < MAX_STREAMS && file.TsScale[pkt->stream_index] != 1.0) {
            const double scale = file.TsScale[pkt->stream_index];
            if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llrint(pkt->dts * scale);
            if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llrint(pkt->pts * scale);
        }
        if ((ic->iformat->flags & AVFMT_TS_DISCONT) && pkt->dts != AV_NOPTS_VALUE && ist.NextDts != AV_NOPTS_VALUE &&
            !s.CopyTs) {
            const int64_t dtsUs = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
            const int64_t delta = dtsUs - ist.NextDts;
            if (std::llabs(delta) > int64_t(s.DtsDeltaThreshold * AV_TIME_BASE) || dtsUs + 1 < ist.Pts) {
                file.TsOffset -= delta;
                const int64_t d = avutil().av_rescale_q(delta, AV_TIME_BASE_Q, tb);
                pkt->dts -= d;
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= d;
                if (s.Verbose > 2)
                    Log(llInfo, Format("timestamp discontinuity %lld, new offset= %lld", (long long)delta,
                                       (long long)file.TsOffset));
            }
        }
        if (s.RecordingTime != INT64_MAX && pkt->dts != AV_NOPTS_VALUE &&
            avutil().av_compare_ts(pkt->dts, tb, s.RecordingTime + FOutputStart, AV_TIME_BASE_Q) >= 0) {
            ist.IsPastRecordingTime = true;
            avcodec().av_packet_unref(pkt.get());
            continue;
        }
        if (s.RateEmu && pkt->dts != AV_NOPTS_VALUE) {
            const int64_t pktUs = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
            const int64_t elapsed = avutil().av_gettime_relative() - FReport.StartTime;
            if (pktUs - elapsed > 1000) std::this_thread::sleep_for(std::chrono::milliseconds((pktUs - elapsed) / 1000));
        }
        FLastFileIndex = fileIndex;
        ProcessPacket(ist, pkt.get());
        avcodec().av_packet_unref(pkt.get());
        if (FReport.Due(avutil().av_gettime_relative(), ProgressInterval)) Report(false, fileIndex);
    }
}

bool TCustomFFmpeg::ProcessPacket(TInputStream& ist, AVPacket* pkt) {
    const AVRational tb = ist.St->time_base;
    if (pkt && pkt->dts != AV_NOPTS_VALUE) {
        ist.Pts = avutil().av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
        ist.NextDts = ist.Pts + (pkt->duration > 0 ? avutil().av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q) : 0);
    }
    if (pkt)
        for (TOutputStream* ost : ist.Outputs)
            if (ost->StreamCopy) CopyPacket(ist, *ost, *pkt);
    if (!ist.DecodingNeeded || !ist.Dec) return false;
    auto decodeError = [&]() {
        std::string msg = Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                                 EngineCodecName(ist.Dec.get()).c_str());
        if (FSettings.ExitOnError) throw FFmpegException(msg);
        if (FSettings.Verbose >= 0) Log(llWarning, msg);
    };
    const AVMediaType type = ist.St->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_SUBTITLE) {
        if (!pkt) {
            ist.Flushed = true;
            return false;
        }
        AVSubtitle sub{};
        int got = 0;
        int r = avcodec().avcodec_decode_subtitle2(ist.Dec.get(), &sub, &got, pkt);
        if (r < 0) {
            decodeError();
            return false;
        }
        if (got) {
            int64_t ptsUs = sub.pts;
            if (ptsUs == AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE) ptsUs = avutil().av_rescale_q(pkt->pts, tb, AV_TIME_BASE_Q);
            if (ptsUs != AV_NOPTS_VALUE) ptsUs -= FOutputStart;
            try {
                for (TOutputStream* ost : ist.Outputs)
                    if (!ost->StreamCopy) ost->WriteSubtitle(sub, ptsUs, *this);
            } catch (...) {
                avcodec().avsubtitle_free(&sub);
                throw;
            }
            avcodec().avsubtitle_free(&sub);
        }
        return got != 0;
    }
    if (!pkt) ist.Flushed = true;
    int r = avcodec().avcodec_send_packet(ist.Dec.get(), pkt);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        decodeError();
        return false;
    }
    int frames = 0;
    for (;;) {
        r = avcodec().avcodec_receive_frame(ist.Dec.get(), FDecoded.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) {
            decodeError();
            break;
        }
        ++frames;
        if (frames == 2 && pkt && type == AVMEDIA_TYPE_VIDEO &&
            (FSettings.Verbose > 1 || (FSettings.Verbose > 0 && !FMultipleFramesWarned))) {
            FMultipleFramesWarned = true;
            Log(llVerbose, Format("Multiple frames in a packet from stream %d", ist.StreamIndex));
        }
        try {
            if (type == AVMEDIA_TYPE_VIDEO)
                DecodeVideo(ist, FDecoded.get());
            else if (type == AVMEDIA_TYPE_AUDIO)
                DecodeAudio(ist, FDecoded.get());
        } catch (...) {
            avutil().av_frame_unref(FDecoded.get());
            throw;
        }
        avutil().av_frame_unref(FDecoded.get());
        if (StopRequested()) break;
    }
    return frames > 0;
}

void TCustomFFmpeg::DecodeVideo(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.St->time_base;
    int64_t ptsUs = frame->best_effort_timestamp != AV_NOPTS_VALUE
                        ? avutil().av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q)
                        : (ist.NextPts != AV_NOPTS_VALUE ? ist.NextPts : 0);
    AVRational rate = ist.St->avg_frame_rate.num > 0 ? ist.St->avg_frame_rate : ist.St->r_frame_rate;
    int64_t duration = frame->pkt_duration > 0 ? avutil().av_rescale_q(frame->pkt_duration, tb, AV_TIME_BASE_Q)
                       : rate.num > 0          ? avutil().av_rescale(AV_TIME_BASE, rate.den, rate.num)
                                               : 40000;
    duration += duration * frame->repeat_pict / 2;
    ist.NextPts = ptsUs + duration;
    // Frames before the start position come from seeking to the previous key frame, or
    // lie before the output's start.
    ptsUs -= FOutputStart;
    if ((FInputs[ist.FileIndex]->SeekPos > 0 || FOutputStart > 0) && ptsUs < 0) return;
    ++FFrameNumber;
    if (FHook.On() && OnCustomHook)
        FHook.Run(frame, ptsUs, FFrameNumber, OnCustomHook, [this](const std::string& e) { Log(llError, e); });
    if (!FSettings.VideoHooks.empty() && avutil().av_frame_make_writable(frame) >= 0) {
        TVideoHookPicture pict{};
        for (int i = 0; i < 4; ++i) {
            pict.data[i] = frame->data[i];
            pict.linesize[i] = frame->linesize[i];
        }
        for (const auto& hook : FSettings.VideoHooks) hook->Run(&pict, frame->format, frame->width, frame->height, ptsUs);
    }
    for (TOutputStream* ost : ist.Outputs)
        if (!ost->StreamCopy) WriteFrame(*ost, frame, ptsUs);
}

void TCustomFFmpeg::DecodeAudio(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.St->time_base;
    int64_t ptsUs = frame->best_effort_timestamp != AV_NOPTS_VALUE
                        ? avutil().av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q)
                        : (ist.NextPts != AV_NOPTS_VALUE ? ist.NextPts : 0);
    const int rate = frame->sample_rate > 0 ? frame->sample_rate : 44100;
    ist.NextPts = ptsUs + avutil().av_rescale(frame->nb_samples, AV_TIME_BASE, rate);
    ptsUs -= FOutputStart;
    if ((FInputs[ist.FileIndex]->SeekPos > 0 || FOutputStart > 0) && ptsUs < 0) {
        // Keep only what lies after the start position.
        const int64_t skip = avutil().av_rescale(-ptsUs, rate, AV_TIME_BASE);
        if (skip >= frame->nb_samples) return;
        const AVSampleFormat fmt = AVSampleFormat(frame->format);
        const int bps = avutil().av_get_bytes_per_sample(fmt);
        const bool planar = avutil().av_sample_fmt_is_planar(fmt);
        const int channels = frame->ch_layout.nb_channels;
        const int planes = planar ? channels : 1;
        for (int p = 0; p < planes; ++p)
            frame->extended_data[p] += size_t(skip) * bps * (planar ? 1 : channels);
        frame->nb_samples -= int(skip);
        ptsUs = 0;
    }
    if (FSettings.AudioVolume != 256) {
        if (avutil().av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
        ApplyVolume(*frame, FSettings.AudioVolume);
    }
    for (TOutputStream* ost : ist.Outputs)
        if (!ost->StreamCopy) WriteFrame(*ost, frame, ptsUs);
}

void TCustomFFmpeg::CopyPacket(TInputStream& ist, TOutputStream& ost, const AVPacket& pkt) {
    const AVMediaType type = ist.St->codecpar->codec_type;
    if (!ost.SeenKeyFrame && type == AVMEDIA_TYPE_VIDEO && !(pkt.flags & AV_PKT_FLAG_KEY) &&
        !FSettings.CopyInitialNonKeyframes)
        return;
    if (FOutputStart > 0) {
        const int64_t t = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
        if (t != AV_NOPTS_VALUE && avutil().av_rescale_q(t, ist.St->time_base, AV_TIME_BASE_Q) < FOutputStart) return;
    }
    ost.SeenKeyFrame = true;
    if (ost.FrameCount >= ost.MaxFrames) return;
    PacketPtr copy(avcodec().av_packet_clone(&pkt));
    if (!copy) throw FFmpegException("Out of memory");
    if (FOutputStart > 0) {
        const int64_t shift = avutil().av_rescale_q(FOutputStart, AV_TIME_BASE_Q, ist.St->time_base);
        if (copy->pts != AV_NOPTS_VALUE) copy->pts -= shift;
        if (copy->dts != AV_NOPTS_VALUE) copy->dts -= shift;
    }
    if (type == AVMEDIA_TYPE_VIDEO)
        TRunServices::VideoBytes += pkt.size;
    else if (type == AVMEDIA_TYPE_AUDIO)
        TRunServices::AudioBytes += pkt.size;
    ++ost.FrameCount;
    WritePacket(ost, copy.get(), ist.St->time_base);
}

void TCustomFFmpeg::FinishJoinedInput(int fileIndex) {
    TInputFile& file = *FInputs[fileIndex];
    for (int i = 0; i < file.NbStreams; ++i) {
        TInputStream& ist = *FInputStreams[file.IstIndex + i];
        if (ist.Dec && !ist.Flushed) ProcessPacket(ist, nullptr);
        if (ist.Dec) avcodec().avcodec_flush_buffers(ist.Dec.get());
        ist.Outputs.clear();
    }
    int64_t end = 0;
    for (auto& ost : FOutputStreams) end = std::max(end, ost->EndTimeUs.load());
    const int next = fileIndex + 1;
    TInputFile& nextFile = *FInputs[next];
    nextFile.TsOffset += end;
    // The same output streams now take the next input's streams.
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        TInputStream* source = nullptr;
        int64_t bestScore = -1;
        for (int i = 0; i < nextFile.NbStreams; ++i) {
            TInputStream& ist = *FInputStreams[nextFile.IstIndex + i];
            if (ist.St->codecpar->codec_type != ost.Type() || !ist.Discard || ist.St->discard == AVDISCARD_ALL) continue;
            int64_t score = SourceScore(nextFile.Ctx.get(), ist.St);
            if (score > bestScore) {
                bestScore = score;
                source = &ist;
            }
        }
        if (!source) continue;  // this input has nothing for the stream; it stays quiet
        source->Discard = false;
        source->Outputs.push_back(&ost);
        ost.SourceIndex = ost.SyncIndex = nextFile.IstIndex + source->StreamIndex;
        if (!ost.StreamCopy) {
            source->DecodingNeeded = true;
            OpenDecoder(*source);
        }
    }
    FJoinCurrent = next;
}

// ---------------------------------------------------------------- reports

void TCustomFFmpeg::Report(bool last, int fileIndex) {
    auto& s = FSettings;
    const int64_t now = avutil().av_gettime_relative();
    FReport.LastReport = now;
    TEngineProgress info;
    info.FileIndex = last ? -1 : fileIndex;
    int64_t size = 0;
    std::unique_lock muxing(FMuxLock);  // the position moves while a stage writes
    if (!FOutputs.empty() && FOutputs[0]->Ctx && FOutputs[0]->Ctx->pb) {
        AVIOContext* pb = FOutputs[0]->Ctx->pb;
        size = avformat().avio_size(pb);
        if (size <= 0) size = avformat().avio_seek(pb, 0, SEEK_CUR);
        if (size < 0) size = 0;
    }
    muxing.unlock();
    std::string line;
    bool firstVideo = true;
    const double elapsed = double(now - FReport.StartTime) / AV_TIME_BASE;
    for (auto& ost : FOutputStreams) {
        if (ost->Type() != AVMEDIA_TYPE_VIDEO) continue;
        const double q = ost->LastQuality;
        if (firstVideo) {
            firstVideo = false;
            const int frames = int(ost->FrameCount);
            const int fps = elapsed >= 1.0 ? int(frames / elapsed + 0.5) : 0;
            info.FrameNumber = frames;
            info.FPS = fps;
            info.Quality = float(q);
            line += Format("frame=%5d fps=%3d q=%3.1f ", frames, fps, q < 0 ? -1.0 : q);
            if (last) line += "L";
            if (ost->Enc && (ost->Enc->flags & AV_CODEC_FLAG_PSNR)) {
                // Squared errors of the last frame against full-scale planes (chroma at half size).
                const double w = ost->Enc->width, h = ost->Enc->height;
                const double planes[3] = {w * h, w * h / 4, w * h / 4};
                auto psnr = [](double d) { return d > 0 ? -10.0 * std::log10(d) : 99.0; };
                double errorSum = 0, sizeSum = 0;
                line += "PSNR=";
                for (int j = 0; j < 3; ++j) {
                    const double e = double(ost->LastErrors[j]) / (planes[j] * 255.0 * 255.0);
                    errorSum += double(ost->LastErrors[j]);
                    sizeSum += planes[j];
                    line += Format("%c:%2.2f ", "YUV"[j], psnr(e));
                }
                line += Format("*:%2.2f ", psnr(errorSum / (sizeSum * 255.0 * 255.0)));
            }
        } else {
            line += Format("q=%2.1f ", q < 0 ? -1.0 : q);
        }
    }
    int64_t ti = int64_t(1e10) * AV_TIME_BASE;
    for (auto& ost : FOutputStreams)
        if (ost->EndTimeUs > 0 && ost->EndTimeUs < ti) ti = ost->EndTimeUs;
    const double seconds = std::max(double(ti) / AV_TIME_BASE, 0.01);
    const double bitrate = double(size) * 8 / seconds / 1000.0;
    line += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(size) / 1024, seconds, bitrate);
    if (TRunServices::DupCount || TRunServices::DropCount)
        line += Format(" dup=%d drop=%d", int(TRunServices::DupCount), int(TRunServices::DropCount));
    info.BitRate = float(bitrate);
    info.CurrentSize = size;
    info.CurrentDuration = std::max<int64_t>(ti, 10000);
    info.TotalDuration = FJoin ? FTotalDuration : (s.RecordingTime != INT64_MAX ? s.RecordingTime : FTotalDuration);
    FReport.LastLine = line;
    if (OnProgress) {
        if (TRunServices::DupDropChanged && s.Verbose >= 0) Log(llVerbose, line);
        OnProgress(info, line);
    } else if (s.Verbose >= 0) {
        Log(llVerbose, line);
    }
    TRunServices::DupDropChanged = false;
    if (last && s.Verbose >= 0) {
        const double sum = double(TRunServices::VideoBytes + TRunServices::AudioBytes + TRunServices::ExtraBytes);
        const double overhead = sum > 0 ? (double(size) - sum) * 100.0 / sum : 0.0;
        Log(llInfo, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%",
                           double(TRunServices::VideoBytes) / 1024, double(TRunServices::AudioBytes) / 1024,
                           double(TRunServices::ExtraBytes) / 1024, overhead));
    }
}
