#include "engine/FFmpeg.h"
#include "engine/SourcePicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "engine/AudioOutput.h"
#include "engine/EngineText.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/SourceDamage.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegOptions.h"
#include "engine/Pipeline.h"
#include "engine/VideoOutput.h"

namespace fs = std::filesystem;

namespace {
// A file written directly (no temporary name) that got nothing is not left behind.
void RemoveIfEmpty(const TOutputFile& f) {
    if (f.Claim) return;
    std::error_code ec;
    if (fs::file_size(f.FileName, ec) == 0 && !ec) fs::remove(f.FileName, ec);
}
}  // namespace

TCustomFFmpeg::TCustomFFmpeg() { Reset(); }

TCustomFFmpeg::~TCustomFFmpeg() {
    try {
        CloseAll();
    } catch (...) {
    }
    if (avutil().av_channel_layout_uninit) avutil().av_channel_layout_uninit(&FInputLayout);
}

void TCustomFFmpeg::Reset() {
    ResetStarted();
    FControl.ClearStop();
}

void TCustomFFmpeg::ResetStarted() {
    if (!FFLoader().LibrarySetLoaded(EngineLibraries)) return;
    CloseAll();
    FSettings = TEngineSettings();
    FGeneric.Reset();
    FParser = std::make_unique<TOptionParser>(FSettings, FGeneric, *this);
    FTotalDuration = -1;
    FJoin = false;
}

void TCustomFFmpeg::ParseOption(const std::string& name, const std::string& value) {
    if (!FParser) throw FFmpegException("The engine libraries are not loaded");
    FParser->ParseOption(name, value);
}

int TCustomFFmpeg::OutputCount() const { return int(FOutputs.size()); }

void TCustomFFmpeg::NewStream(AVMediaType type) {
    if (FOutputs.empty()) throw FFmpegException("At least one output file must be specified");
    AVFormatContext* oc = FOutputs.back()->Ctx.get();
    if (type == AVMEDIA_TYPE_VIDEO)
        NewVideoStream(oc);
    else if (type == AVMEDIA_TYPE_AUDIO)
        NewAudioStream(oc);
    else
        NewSubtitleStream(oc);
}

std::vector<AVRational> TCustomFFmpeg::InputVideoFrameRates() const {
    std::vector<AVRational> rates;
    for (const auto& f : FInputs)
        for (unsigned i = 0; i < f->Ctx->nb_streams; ++i) {
            const AVStream* st = f->Ctx->streams[i];
            if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            AVRational r = st->r_frame_rate.num > 0 ? st->r_frame_rate : st->avg_frame_rate;
            rates.push_back(r);
        }
    return rates;
}

void TCustomFFmpeg::Log(TLogLevel level, const std::string& msg) {
    if (TPipeline::OnStageThread())
        FFLogger().Post(this, level, msg);
    else
        FFLogger().Log(this, level, msg);
}

const AVCodec* TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder) {
    const AVCodecContext* tmpl = FGeneric.Template(type);
    return FindCodecOrThrow(name, type, encoder, tmpl ? tmpl->strict_std_compliance : 0);
}

// ---------------------------------------------------------------- inputs

namespace {
// A raw input (its format forced) takes its layout from the settings.
void SetRawInputParameters(const TEngineSettings& s, AVDictionary** params) {
    if (s.AudioSampleRate > 0) avutil().av_dict_set_int(params, "sample_rate", s.AudioSampleRate, 0);
    if (s.AudioChannels > 0) avutil().av_dict_set_int(params, "channels", s.AudioChannels, 0);
    if (s.FrameRate.num > 0 && s.FrameRate.den > 0)
        avutil().av_dict_set(params, "framerate", Format("%d/%d", s.FrameRate.num, s.FrameRate.den).c_str(), 0);
    if (s.FrameWidth > 0 && s.FrameHeight > 0)
        avutil().av_dict_set(params, "video_size", Format("%dx%d", s.FrameWidth, s.FrameHeight).c_str(), 0);
    if (s.FramePixFmt >= 0)
        avutil().av_dict_set(params, "pixel_format", avutil().av_get_pix_fmt_name(AVPixelFormat(s.FramePixFmt)), 0);
    if (!s.VideoStandard.empty()) avutil().av_dict_set(params, "standard", s.VideoStandard.c_str(), 0);
    if (s.VideoChannel > 0) avutil().av_dict_set_int(params, "channel", s.VideoChannel, 0);
}
}  // namespace

bool TCustomFFmpeg::OpenInput(const std::string& fileName) {
    FErrorText.clear();
    auto& s = FSettings;
    try {
        if (FInputs.size() >= size_t(MAX_FILES)) throw FFmpegException(Format("max input files %d reached", MAX_FILES));
        std::unique_ptr<TInputFile> file = OpenInputFile(fileName, TakeInputFormat());
        AVFormatContext* ic = file->Ctx.get();
        SelectInputProgram(ic);
        ProbeInput(*file);
        const int64_t timestamp = SeekInput(*file);

        const int fileIndex = int(FInputs.size());
        for (int i = 0; i < 20; ++i) file->TsScale[i] = s.InputTsScale[fileIndex][i];
        TakeInputStreams(ic);
        file->Duration = SourceLengthUs(ic);
        file->LengthTrusted = SourceLengthTrusted(ic, file->Duration);
        file->StatedUs = StatedLengthUs(ic, file->Duration);
        file->ShiftUs = std::max<int64_t>(s.InputTsOffset, 0);
        if (file->Duration != AV_NOPTS_VALUE && file->Duration > FTotalDuration) FTotalDuration = file->Duration;
        file->TsOffset = s.CopyTs ? s.InputTsOffset : s.InputTsOffset - timestamp;
        if (s.Verbose >= 0) avformat().av_dump_format(ic, fileIndex, fileName.c_str(), 0);
        s.ConsumeInput();
        FInputs.push_back(std::move(file));
        return true;
    } catch (const FFmpegException& e) {
        FErrorText = e.what();
        s.ForgetCodecNames();
        return false;
    }
}

// The forced format is used up even when it turns out unknown.
const AVInputFormat* TCustomFFmpeg::TakeInputFormat() {
    if (FSettings.ForcedFormat.empty()) return nullptr;
    const std::string forced = std::exchange(FSettings.ForcedFormat, std::string());
    const AVInputFormat* ifmt = avformat().av_find_input_format(forced.c_str());
    if (!ifmt) throw FFmpegException(Format("Unknown input format: \"%s\"", forced.c_str()));
    return ifmt;
}

// Allocates the context with the generic and forced-decoder settings and opens the file.
std::unique_ptr<TInputFile> TCustomFFmpeg::OpenInputFile(const std::string& fileName, const AVInputFormat* ifmt) {
    const auto& s = FSettings;
    AVFormatContext* ic = avformat().avformat_alloc_context();
    if (!ic) throw FFmpegException("avformat_alloc_context failed");
    FGeneric.ApplyToFormatContext(ic, AV_OPT_FLAG_DECODING_PARAM);
    Dictionary params;
    if (ifmt) SetRawInputParameters(s, params.Address());
    try {
        if (!s.VideoCodecName.empty() && !s.VideoStreamCopy) {
            ic->video_codec = FindCodec(s.VideoCodecName, AVMEDIA_TYPE_VIDEO, false);
            ic->video_codec_id = ic->video_codec->id;
        }
        if (!s.AudioCodecName.empty() && !s.AudioStreamCopy) {
            ic->audio_codec = FindCodec(s.AudioCodecName, AVMEDIA_TYPE_AUDIO, false);
            ic->audio_codec_id = ic->audio_codec->id;
        }
        if (!s.SubtitleCodecName.empty() && !s.SubtitleStreamCopy) {
            ic->subtitle_codec = FindCodec(s.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false);
            ic->subtitle_codec_id = ic->subtitle_codec->id;
        }
    } catch (...) {
        avformat().avformat_free_context(ic);
        throw;
    }
    ic->flags |= AVFMT_FLAG_NONBLOCK;
    int r = avformat().avformat_open_input(&ic, fileName.c_str(), ifmt, params.Address());
    if (r < 0) throw FFmpegException(EngineErrorText(fileName, r));  // the library freed ic
    auto file = std::make_unique<TInputFile>();
    file->Ctx.reset(ic);
    file->FileName = fileName;
    return file;
}

// "programid": only the streams of that program are read. The id is used up once found.
void TCustomFFmpeg::SelectInputProgram(AVFormatContext* ic) {
    auto& s = FSettings;
    if (s.ProgramId < 0) return;
    bool found = false;
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
        AVProgram* prog = ic->programs[p];
        if (prog->id == s.ProgramId) {
            found = true;
            prog->discard = AVDISCARD_DEFAULT;
            for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
                ic->streams[prog->stream_index[k]]->discard = AVDISCARD_DEFAULT;
        } else {
            prog->discard = AVDISCARD_ALL;
        }
    }
    if (!found) throw FFmpegException("Specified program id not found");
    s.ProgramId = -1;
}

// The probe reads this input's own context, and the codecs it opens for that are set up
// by avcodec_open2, which serialises the set-ups that are not thread-safe itself: no lock
// of ours, so a slow probe holds up no other task.
void TCustomFFmpeg::ProbeInput(TInputFile& file) {
    int r = avformat().avformat_find_stream_info(file.Ctx.get(), nullptr);
    if (r < 0 && FSettings.Verbose >= 0) {
        std::string msg = Format("%s: could not find codec parameters", file.FileName.c_str());
        Log(llVerbose, msg);
        throw FFmpegException(msg);
    }
}

// "ss": seeks to the start time (used up here); returns the position sought, counted from
// the file's own start, in microseconds.
int64_t TCustomFFmpeg::SeekInput(TInputFile& file) {
    auto& s = FSettings;
    AVFormatContext* ic = file.Ctx.get();
    int64_t timestamp = s.StartTime;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
    if (s.StartTime != 0) {
        int r = avformat().avformat_seek_file(ic, -1, INT64_MIN, timestamp, timestamp, 0);
        if (r < 0 && s.Verbose > 0)
            Log(llWarning, Format("%s: could not seek to position %0.3f", file.FileName.c_str(),
                                  double(timestamp) / AV_TIME_BASE));
    }
    file.SeekPos = s.StartTime;
    s.StartTime = 0;
    return timestamp;
}

// The source's geometry, rate and sound layout become the defaults of the next output
// streams; disabled kinds are not read at all.
void TCustomFFmpeg::TakeInputStreams(AVFormatContext* ic) {
    auto& s = FSettings;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        AVCodecParameters* par = st->codecpar;
        switch (par->codec_type) {
            case AVMEDIA_TYPE_VIDEO: TakeInputVideoStream(int(i), st); break;
            case AVMEDIA_TYPE_AUDIO:
                avutil().av_channel_layout_uninit(&FInputLayout);
                avutil().av_channel_layout_copy(&FInputLayout, &par->ch_layout);
                if (par->ch_layout.nb_channels > 0) s.AudioChannels = par->ch_layout.nb_channels;
                if (par->sample_rate > 0) s.AudioSampleRate = par->sample_rate;
                s.AudioSampleFmt = par->format;
                if (s.AudioDisable) st->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                if (s.SubtitleDisable) st->discard = AVDISCARD_ALL;
                break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN: break;
            default: throw FFmpegException("invalid codec_type");
        }
    }
}

void TCustomFFmpeg::TakeInputVideoStream(int index, AVStream* st) {
    auto& s = FSettings;
    AVCodecParameters* par = st->codecpar;
    s.FrameWidth = std::max(par->width, 0);
    s.FrameHeight = std::max(par->height, 0);
    s.FrameSizeGiven = false;
    // The pictures are turned upright before anything else sees them: so are the defaults.
    const bool turned = s.AutoRotate && StreamOrientation(*st).SwapsSides();
    if (turned) std::swap(s.FrameWidth, s.FrameHeight);
    // The source's sampling and depth are the decoder's business: an output that asks for
    // none gets the engine's default (8-bit 4:2:0), which every device decodes, not a
    // 10-bit or 4:4:4 picture carried over.
    s.FramePixFmt = -1;
    AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    FInputAspect = (sar.num > 0 && sar.den > 0 && par->height > 0) ? av_q2d(sar) * par->width / par->height : 0.0;
    if (FInputAspect <= 0.0) FInputAspect = par->height > 0 ? double(par->width) / par->height : 4.0 / 3;
    if (turned && FInputAspect > 0.0) FInputAspect = 1.0 / FInputAspect;
    AVRational rate = StreamPictureRate(st);
    if (AbsurdPictureRate(rate)) {
        Log(llWarning, Format("Stream %d: a picture rate of %d/%d is damage: its pictures are timed at %d fps", index,
                              rate.num, rate.den, FallbackPictureRate.num));
        rate = FallbackPictureRate;
    }
    if (st->avg_frame_rate.num > 0 && av_cmp_q(st->avg_frame_rate, rate) != 0 && s.Verbose >= 0 &&
        st->avg_frame_rate.den > 0 && rate.den > 0)
        Log(llInfo, Format("Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                           "(%d/%d) -> %2.2f (%d/%d)",
                           index, av_q2d(st->avg_frame_rate), st->avg_frame_rate.num, st->avg_frame_rate.den,
                           av_q2d(rate), rate.num, rate.den));
    if (rate.num > 0 && rate.den > 0) s.FrameRate = rate;
    if (s.VideoDisable)
        st->discard = AVDISCARD_ALL;
    else if (s.VideoDiscard)
        st->discard = AVDiscard(s.VideoDiscard);
}

// ---------------------------------------------------------------- outputs

int TCustomFFmpeg::OutputFileIndex(AVFormatContext* oc) const {
    for (size_t i = 0; i < FOutputs.size(); ++i)
        if (FOutputs[i]->Ctx.get() == oc) return int(i);
    throw FFmpegException("At least one output file must be specified");
}

int TCustomFFmpeg::OpenOutput(const std::string& fileName, bool join) {
    FErrorText.clear();
    auto& s = FSettings;
    const size_t streamsBefore = FOutputStreams.size();
    const size_t filesBefore = FOutputs.size();
    try {
        if (FJoin) throw FFmpegException("Cannot join more than one output file.");
        if (FOutputs.size() >= size_t(MAX_FILES))
            throw FFmpegException(Format("max output files %d reached", MAX_FILES));
        // The forced format stays: it names the format of the outputs that follow too.
        const AVOutputFormat* ofmt = GuessOutputFormat(fileName);
        AVFormatContext* oc = nullptr;
        int r = avformat().avformat_alloc_output_context2(&oc, ofmt, nullptr, fileName.c_str());
        if (r < 0 || !oc) throw FFmpegException("avformat_alloc_context failed");
        auto file = std::make_unique<TOutputFile>();
        file->Ctx.reset(oc);
        file->FileName = fileName;
        FOutputs.push_back(std::move(file));

        AddOutputStreams(oc, join);
        s.ConsumeStreamChoice();
        SetOutputMetadata(oc);
        OpenOutputFile(oc, fileName);
        s.ConsumeOutput();

        if (join && FInputs.size() > 1) {
            FJoin = true;
            int64_t sum = 0;
            for (const auto& f : FInputs)
                if (f->Duration != AV_NOPTS_VALUE && f->Duration > 0) sum += f->Duration;
            FTotalDuration = sum == 0 ? -1 : sum;
        }
        return OutputCount();
    } catch (const TOutputSkipped& e) {
        // Not a failure: the caller hears it as such and leaves the task alone.
        FErrorText = e.what();
        DropOutputsFrom(streamsBefore, filesBefore);
        throw;
    } catch (const FFmpegException& e) {
        FErrorText = e.what();
        DropOutputsFrom(streamsBefore, filesBefore);
        return -1;
    }
}

const AVOutputFormat* TCustomFFmpeg::GuessOutputFormat(const std::string& fileName) const {
    const std::string& forced = FSettings.ForcedFormat;
    if (!forced.empty()) {
        const AVOutputFormat* ofmt = avformat().av_guess_format(forced.c_str(), nullptr, nullptr);
        if (!ofmt)
            throw FFmpegException(
                Format("Requested output format '%s' is not a suitable output format", forced.c_str()));
        return ofmt;
    }
    const AVOutputFormat* ofmt = avformat().av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!ofmt) throw FFmpegException(Format("Unable to find a suitable output format for '%s'", fileName.c_str()));
    return ofmt;
}

// One stream of each kind the format carries or the settings ask for, when the inputs
// have one (join: the first input decides) and the kind is not disabled.
void TCustomFFmpeg::AddOutputStreams(AVFormatContext* oc, bool join) {
    const auto& s = FSettings;
    const AVOutputFormat* ofmt = oc->oformat;
    // Audio formats that carry a picture only as cover art get no video stream.
    const bool coverArtOnly = !std::strcmp(ofmt->name, "mp3") || !std::strcmp(ofmt->name, "flac");
    bool useVideo = (ofmt->video_codec != AV_CODEC_ID_NONE && !coverArtOnly) || !s.VideoCodecName.empty() || s.VideoStreamCopy;
    bool useAudio = ofmt->audio_codec != AV_CODEC_ID_NONE || !s.AudioCodecName.empty() || s.AudioStreamCopy;
    bool useSubtitle =
        ofmt->subtitle_codec != AV_CODEC_ID_NONE || !s.SubtitleCodecName.empty() || s.SubtitleStreamCopy;
    if (!FInputs.empty()) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        const size_t examined = join ? 1 : FInputs.size();
        for (size_t f = 0; f < examined; ++f) {
            AVFormatContext* ic = FInputs[f]->Ctx.get();
            for (unsigned i = 0; i < ic->nb_streams; ++i) {
                switch (ic->streams[i]->codecpar->codec_type) {
                    case AVMEDIA_TYPE_VIDEO: hasVideo = true; break;
                    case AVMEDIA_TYPE_AUDIO: hasAudio = true; break;
                    case AVMEDIA_TYPE_SUBTITLE: hasSubtitle = true; break;
                    default: break;
                }
            }
        }
        FOutputs.back()->MissingAudio = useAudio && !hasAudio && !s.AudioDisable;
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    if (s.VideoDisable) useVideo = false;
    if (s.AudioDisable) useAudio = false;
    if (s.SubtitleDisable) useSubtitle = false;
    auto step = [](const char* what, auto&& fn) {
        try {
            fn();
        } catch (const FFmpegException& e) {
            throw FFmpegException(Format("%s fail: %s", what, e.what()));
        }
    };
    if (useVideo) step("new_video_stream", [&] { NewVideoStream(oc); });
    if (useAudio) step("new_audio_stream", [&] { NewAudioStream(oc); });
    if (useSubtitle) step("new_subtitle_stream", [&] { NewSubtitleStream(oc); });
}

void TCustomFFmpeg::SetOutputMetadata(AVFormatContext* oc) const {
    const auto& s = FSettings;
    if (s.RecordingTimestamp > 0) {
        time_t t = time_t(s.RecordingTimestamp);
        struct tm tmv;
        gmtime_r(&t, &tmv);
        char buf[64];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000000Z", &tmv);
        avutil().av_dict_set(&oc->metadata, "creation_time", buf, 0);
    }
    for (auto it = s.MetaData.rbegin(); it != s.MetaData.rend(); ++it)
        avutil().av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
}

// Opens the file (unless the format writes none) and sets the muxing options.
void TCustomFFmpeg::OpenOutputFile(AVFormatContext* oc, const std::string& fileName) {
    const auto& s = FSettings;
    const AVOutputFormat* ofmt = oc->oformat;
    if ((ofmt->flags & AVFMT_NEEDNUMBER) && !avformat().av_filename_number_test(fileName.c_str()))
        throw FFmpegException(EngineErrorText(fileName, -33));
    if (!(ofmt->flags & AVFMT_NOFILE)) {
        std::string target = fileName;
        if (TOutputClaim::Applies(fileName)) {
            TOutputFile& file = *FOutputs.back();
            const bool skip = OutputPolicy == TOutputPolicy::Skip;
            bool busy = false;
            std::string why;
            file.Claim = TOutputClaim::Take(fileName, &busy, &why);
            if (!file.Claim && busy) {
                const std::string text = fileName + " is being converted by another program";
                if (skip) throw TOutputSkipped(text);
                throw FFmpegException(text);
            }
            if (!file.Claim) throw FFmpegException(EngineErrorText(fileName, AVERROR(errno ? errno : EIO)));
            // Looked at only once the name is ours: a writer that finished meanwhile is seen.
            std::error_code ec;
            if (skip && fs::exists(fs::symlink_status(fileName, ec))) throw TOutputSkipped(fileName + " exists already");
            target = file.Claim->TemporaryPath();
            // Muxers that read their file back (moving the index to the front) open it by this name.
            avutil().av_freep(&oc->url);
            oc->url = avutil().av_strdup(target.c_str());
        }
        int r = avformat().avio_open(&oc->pb, target.c_str(), AVIO_FLAG_WRITE);
        if (r < 0) throw FFmpegException(EngineErrorText(fileName, r));
        FOutputs.back()->FileOpened = true;
    }
    oc->max_delay = int(std::lround(s.MuxMaxDelay * AV_TIME_BASE));
    if (oc->priv_data) {
        avutil().av_opt_set_int(oc->priv_data, "preload", std::llround(double(s.MuxPreload) * AV_TIME_BASE), 0);
        if (s.LoopOutput >= 0) avutil().av_opt_set_int(oc->priv_data, "loop", s.LoopOutput, 0);
    }
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    FGeneric.ApplyToFormatContext(oc, AV_OPT_FLAG_ENCODING_PARAM);
}

// A failed OpenOutput leaves nothing behind: its streams, its files, an empty file on disk.
void TCustomFFmpeg::DropOutputsFrom(size_t streams, size_t files) {
    FOutputStreams.resize(streams);
    while (FOutputs.size() > files) {
        auto& f = FOutputs.back();
        if (f->FileOpened) {
            avformat().avio_closep(&f->Ctx->pb);
            RemoveIfEmpty(*f);
        }
        FOutputs.pop_back();
    }
}

TOutputStream* TCustomFFmpeg::AddStream(AVFormatContext* oc, std::unique_ptr<TOutputStream> ost) {
    const int fileIndex = OutputFileIndex(oc);
    AVStream* st = avformat().avformat_new_stream(oc, nullptr);
    if (!st) throw FFmpegException("Could not alloc stream");
    const int idx = st->index;
    if (idx < FSettings.StreamIdMapSize && idx < MAX_STREAM_IDS && FSettings.StreamIdMap[idx])
        st->id = FSettings.StreamIdMap[idx];
    ost->St = st;
    ost->FileIndex = fileIndex;
    ost->Index = idx;
    ost->MaxFrames = FSettings.MaxFrames[std::min<int>(ost->Type(), 2)];
    if (ost->MaxFrames == INT_MAX) ost->MaxFrames = INT64_MAX;
    FOutputStreams.push_back(std::move(ost));
    return FOutputStreams.back().get();
}

void TCustomFFmpeg::SetupBitstreamFilters(TOutputStream& ost, AVMediaType type) {
    auto& list = FSettings.BitstreamFilters[type];
    for (const auto& filter : list) {
        if (!ost.BsfText.empty()) ost.BsfText += ",";
        ost.BsfText += filter.Name;
        if (!filter.Args.empty()) ost.BsfText += "=" + filter.Args;
    }
    list.clear();
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* oc) { NewOutputStream(oc, AVMEDIA_TYPE_VIDEO); }
void TCustomFFmpeg::NewAudioStream(AVFormatContext* oc) { NewOutputStream(oc, AVMEDIA_TYPE_AUDIO); }
void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* oc) { NewOutputStream(oc, AVMEDIA_TYPE_SUBTITLE); }

void TCustomFFmpeg::NewOutputStream(AVFormatContext* oc, AVMediaType type) {
    auto& s = FSettings;
    const bool copy = type == AVMEDIA_TYPE_VIDEO   ? s.VideoStreamCopy
                      : type == AVMEDIA_TYPE_AUDIO ? s.AudioStreamCopy
                                                   : s.SubtitleStreamCopy;
    TOutputStream* ost = AddStream(oc, MakeOutputStage(type, copy));
    ost->Configure(TStreamSetup{s, FGeneric, oc, FInputLayout, FInputAspect}, *this);
    SetupBitstreamFilters(*ost, type);
    // The stream options apply to one stream: the next starts from the defaults.
    if (type == AVMEDIA_TYPE_VIDEO) {
        s.VideoCodecName.clear();
        s.VideoStreamCopy = false;
        s.VideoDisable = false;
        s.FramePixFmt = -1;
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        s.AudioDisable = false;
        s.AudioCodecName.clear();
        s.AudioStreamCopy = false;
    } else {
        s.SubtitleDisable = false;
        s.SubtitleCodecName.clear();
        s.SubtitleStreamCopy = false;
    }
}

// ---------------------------------------------------------------- cleanup

void TCustomFFmpeg::CommitOutputs() {
    for (auto& f : FOutputs) {
        if (!f->Claim) continue;
        AVFormatContext* oc = f->Ctx.get();
        // Closed before it is named: a write that failed at the end (a full disk) shows here.
        if (oc->pb) {
            const int r = avformat().avio_closep(&oc->pb);
            if (r < 0) throw FFmpegException(EngineErrorText(f->FileName, r));
        }
        std::string why;
        if (!f->Claim->Commit(OutputPolicy == TOutputPolicy::Replace, &why))
            throw FFmpegException(Format("Cannot name the finished file %s: %s", f->FileName.c_str(), why.c_str()));
    }
}

void TCustomFFmpeg::ReleaseRun() {
    FVStats.Close();
    FHook.Release();
    FPreview.Release();
    FDecoded.reset();
}

void TCustomFFmpeg::Release() {
    CloseAll();
    FParser.reset();
    FGeneric.Clear();
    FSettings = TEngineSettings();
}

void TCustomFFmpeg::CloseAll() {
    if (!FFLoader().LibrarySetLoaded(EngineLibraries)) return;
    ReleaseRun();
    FOutputStreams.clear();
    for (auto& f : FOutputs) {
        f->Ctx.reset();  // closes the file first
        if (f->FileOpened) RemoveIfEmpty(*f);
    }
    FOutputs.clear();  // a claim not committed removes its temporary file
    FInputStreams.clear();
    FInputs.clear();
    FJoin = false;
    FJoinCurrent = 0;
}
