// Before the packet loop: binding output streams to input streams, opening the decoders
// and encoders, the bitstream filters and the headers. Joined inputs rebind when one ends.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpeg.h"
#include "engine/FFmpegException.h"
#include "engine/SourceDamage.h"

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
    ist.SamplesMayExceedDepth = codec->id == AV_CODEC_ID_RAWVIDEO;
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
    MakeInputStreams();
    CheckOutputsHaveStreams();
    if (!s.StreamMaps.empty() && s.StreamMaps.size() != FOutputStreams.size())
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (size_t k = 0; k < FOutputStreams.size(); ++k) {
        TOutputStream& ost = *FOutputStreams[k];
        TInputStream* source = nullptr;
        TInputStream* sync = nullptr;
        if (!s.StreamMaps.empty())
            std::tie(source, sync) = MappedSource(ost, s.StreamMaps[k]);
        else
            source = sync = BestSource(ost);
        ConnectSource(ost, *source, *sync);
    }
    CopyMappedMetadata();
}

// One record per stream of every input, in file and stream order.
void TCustomFFmpeg::MakeInputStreams() {
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
            ist->CountedTimestamps = ist->St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                                     AbsurdPictureRate(StreamPictureRate(ist->St));
            ist->FileName = file.FileName;
            FInputStreams.push_back(std::move(ist));
        }
    }
}

void TCustomFFmpeg::CheckOutputsHaveStreams() {
    for (size_t o = 0; o < FOutputs.size(); ++o) {
        if (FOutputs[o]->Ctx->nb_streams == 0) {
            const std::string text = Format("Output file #%d does not contain any stream", int(o));
            if (!FOutputs[o]->MissingAudio) throw FFmpegException(text);
            Log(llError, text);
            bool anyStream = false;
            for (const auto& file : FInputs)
                for (unsigned i = 0; i < file->Ctx->nb_streams; ++i) {
                    const AVMediaType type = file->Ctx->streams[i]->codecpar->codec_type;
                    anyStream |= type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
                }
            // A picture-only source asked for sound is one thing; a file with nothing in it another.
            throw FFmpegException(anyStream ? "The file has no audio stream to convert"
                                            : "The file has no picture or sound stream to convert");
        }
    }
}

TInputStream* TCustomFFmpeg::FindInputStream(int file, int stream) {
    if (file < 0 || file >= int(FInputs.size()) || stream < 0 || stream >= FInputs[file]->NbStreams) return nullptr;
    return FInputStreams[FInputs[file]->IstIndex + stream].get();
}

// The source and the sync stream a "map" option names for the output stream.
std::pair<TInputStream*, TInputStream*> TCustomFFmpeg::MappedSource(const TOutputStream& ost, const TStreamMap& m) {
    TInputStream* source = FindInputStream(m.FileIndex, m.StreamIndex);
    if (!source) throw FFmpegException(Format("Could not find input stream #%d.%d", m.FileIndex, m.StreamIndex));
    TInputStream* sync = FindInputStream(m.SyncFileIndex, m.SyncStreamIndex);
    if (!sync)
        throw FFmpegException(Format("Could not find sync stream #%d.%d", m.SyncFileIndex, m.SyncStreamIndex));
    if (source->St->codecpar->codec_type != ost.Type())
        throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                     source->FileIndex, source->StreamIndex,
                                     MediaName(source->St->codecpar->codec_type), ost.FileIndex, ost.Index,
                                     MediaName(ost.Type())));
    return {source, sync};
}

// Without maps: the best stream of the type not taken yet (joined inputs: of the first
// input), else any stream of the type; it is also the sync stream.
TInputStream* TCustomFFmpeg::BestSource(const TOutputStream& ost) {
    TInputStream* source = nullptr;
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
    return source;
}

void TCustomFFmpeg::ConnectSource(TOutputStream& ost, TInputStream& source, const TInputStream& sync) {
    source.Discard = false;
    ost.SourceIndex = int(std::find_if(FInputStreams.begin(), FInputStreams.end(),
                                       [&](const auto& p) { return p.get() == &source; }) -
                          FInputStreams.begin());
    ost.SyncIndex = int(std::find_if(FInputStreams.begin(), FInputStreams.end(),
                                     [&](const auto& p) { return p.get() == &sync; }) -
                        FInputStreams.begin());
    source.Outputs.push_back(&ost);
}

// "map_meta_data": an input's metadata fills what an output does not have yet.
void TCustomFFmpeg::CopyMappedMetadata() {
    for (const auto& m : FSettings.MetaDataMaps) {
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
    for (auto& ost : FOutputStreams) PrepareOutputStream(*ost);
    for (auto& ist : FInputStreams)
        if (ist->DecodingNeeded) OpenDecoder(*ist);
    PlanSourcePictures();
    OpenEncoders();
    InitBitstreamFilters();
    WriteHeaders();
    LogStreamMapping();
}

// A copy is checked against what needs decoded frames and opened; an encoded stream has
// its source decoded. The bitstream filter chain is parsed for both.
void TCustomFFmpeg::PrepareOutputStream(TOutputStream& ost) {
    auto& s = FSettings;
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

// Each decoded video stream is made to look like the source before anything else.
void TCustomFFmpeg::PlanSourcePictures() {
    for (auto& ist : FInputStreams)
        if (ist->DecodingNeeded && ist->St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) PlanPictureKinds(*ist);
}

// Each encoded output says what it needs (fields kept, HDR carried); outputs that need the
// same share one kind of picture.
void TCustomFFmpeg::PlanPictureKinds(TInputStream& ist) {
    const TSourcePictureSwitches switches{FSettings.AutoRotate, FSettings.AutoDeinterlace, FSettings.AutoToneMap};
    auto planFor = [&](const TOutputStream* ost) {
        bool carriesHdr = false, keepsFields = false;
        if (ost && ost->Enc) {
            carriesHdr = OutputCarriesHdr(ost->Enc->codec_id, ost->Enc->pix_fmt);
            keepsFields = OutputKeepsFields(ost->Enc->codec_id, FOutputs[ost->FileIndex]->Ctx->oformat->name);
        }
        return PlanSourcePicture(*ist.St, switches, carriesHdr, keepsFields);
    };
    auto kindOf = [&](const TSourcePicturePlan& plan) -> TSourcePictureKind& {
        for (auto& kind : ist.PictureKinds)
            if (kind->Picture.Plan() == plan) return *kind;
        auto& kind = *ist.PictureKinds.emplace_back(std::make_unique<TSourcePictureKind>());
        kind.Picture.Setup(plan, ist.St->time_base);
        kind.Looked.reset(avutil().av_frame_alloc());
        if (!kind.Looked) throw FFmpegException("Out of memory");
        return kind;
    };
    ist.PictureKinds.clear();
    for (TOutputStream* ost : ist.Outputs)
        if (!ost->StreamCopy && ost->Type() == AVMEDIA_TYPE_VIDEO) kindOf(planFor(ost)).Outputs.push_back(ost);
    if (ist.PictureKinds.empty()) kindOf(planFor(nullptr));
}

void TCustomFFmpeg::OpenEncoders() {
    for (auto& ostPtr : FOutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (ost.StreamCopy) continue;
        SetupPassLog(ost);
        PlanEncoderThreads(ost);
        ost.Open(*FInputStreams[ost.SourceIndex], *this);
    }
}

// Once the streams' parameters are final: each chain starts from them and the stream
// takes what the chain puts out.
void TCustomFFmpeg::InitBitstreamFilters() {
    for (auto& ostPtr : FOutputStreams) {
        for (auto& bsf : ostPtr->Bsfs) {
            avcodec().avcodec_parameters_copy(bsf->par_in, ostPtr->St->codecpar);
            bsf->time_base_in = ostPtr->St->time_base;
            if (avcodec().av_bsf_init(bsf.get()) < 0)
                throw FFmpegException(Format("Unknown bitstream filter %s", ostPtr->BsfText.c_str()));
            avcodec().avcodec_parameters_copy(ostPtr->St->codecpar, bsf->par_out);
        }
    }
}

void TCustomFFmpeg::WriteHeaders() {
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
}

void TCustomFFmpeg::LogStreamMapping() {
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

// ---------------------------------------------------------------- joined inputs

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
    // The next input's pictures are made to look like that source.
    for (int i = 0; i < nextFile.NbStreams; ++i) {
        TInputStream& ist = *FInputStreams[nextFile.IstIndex + i];
        if (ist.DecodingNeeded && ist.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) PlanPictureKinds(ist);
    }
    FJoinCurrent = next;
}
