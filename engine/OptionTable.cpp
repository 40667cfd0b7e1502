// The option table. Names compare exactly; aliases are entries with the same target.
#include "engine/OptionTable.h"

#include <string_view>
#include <unordered_map>

#include "engine/FFmpegOptions.h"

namespace {
template <class R>
constexpr TOptionRecord RecordOf() {
    if constexpr (std::is_same_v<R, TInputSettings>) return TOptionRecord::Input;
    else if constexpr (std::is_same_v<R, TOutputStreamSettings>) return TOptionRecord::OutputStream;
    else {
        static_assert(std::is_same_v<R, TRunSettings>, "a field of one of the three records");
        return TOptionRecord::Run;
    }
}

// A field entry; the field's type decides which kinds it can take.
template <class T, class R>
TOptionEntry Field(const char* name, TOptionKind kind, T R::*field) {
    return {name, kind, RecordOf<R>(), static_cast<T TEngineSettings::*>(field)};
}
template <class R> TOptionEntry Int(const char* n, int R::*f) { return Field(n, TOptionKind::Int, f); }
template <class R> TOptionEntry Int64(const char* n, int64_t R::*f) { return Field(n, TOptionKind::Int64, f); }
template <class R> TOptionEntry Real(const char* n, float R::*f) { return Field(n, TOptionKind::Real, f); }
template <class R> TOptionEntry Bool(const char* n, bool R::*f) { return Field(n, TOptionKind::Bool, f); }
template <class R> TOptionEntry NonZero(const char* n, bool R::*f) { return Field(n, TOptionKind::NonZero, f); }
template <class R> TOptionEntry Flag(const char* n, bool R::*f) { return Field(n, TOptionKind::Flag, f); }
template <class R> TOptionEntry Duration(const char* n, int64_t R::*f) { return Field(n, TOptionKind::Duration, f); }
template <class R> TOptionEntry Text(const char* n, std::string R::*f) { return Field(n, TOptionKind::Text, f); }

TOptionEntry Call(const char* name, TOptionRecord record, TOptionHandler handler) {
    return {name, TOptionKind::Handler, record, handler};
}
TOptionEntry Nothing(const char* name) { return {name, TOptionKind::Nothing, TOptionRecord::None, {}}; }
TOptionEntry Warning(const char* name, const char* message) {
    return {name, TOptionKind::Warning, TOptionRecord::None, {}, message};
}
TOptionEntry Rejected(const char* name, const char* message) {
    return {name, TOptionKind::Rejected, TOptionRecord::None, {}, message};
}
}  // namespace

// The table's groups, in table order. A nested class of the parser: the handlers are its own.
struct TOptionParser::TTableGroups {
    using S = TEngineSettings;
    using P = TOptionParser;
    static constexpr auto In = TOptionRecord::Input, Out = TOptionRecord::OutputStream, Run = TOptionRecord::Run,
                          None = TOptionRecord::None;
    static std::vector<TOptionEntry> OldCommandLine();
    static std::vector<TOptionEntry> NextInput();
    static std::vector<TOptionEntry> NextVideoStreams();
    static std::vector<TOptionEntry> NextAudioAndSubtitleStreams();
    static std::vector<TOptionEntry> AddedStreamsAndPresets();
    static std::vector<TOptionEntry> WholeRun();
};

// Accepted for the old command line; they do nothing here.
std::vector<TOptionEntry> TOptionParser::TTableGroups::OldCommandLine() {
    return {
        Nothing("L"), Nothing("h"), Nothing("version"), Nothing("formats"), Nothing("codecs"), Nothing("bsfs"),
        Nothing("protocols"), Nothing("filters"), Nothing("i"), Nothing("y"), Nothing("benchmark"),
        Warning("timelimit", "Warning: -timelimit not implemented on Windows"),
        Rejected("threads", "TODO: option - threads"),
        Rejected("padtop", "Please use vfilters=pad"), Rejected("padbottom", "Please use vfilters=pad"),
        Rejected("padleft", "Please use vfilters=pad"), Rejected("padright", "Please use vfilters=pad"),
        Rejected("padcolor", "Please use vfilters=pad"),
        Call("loglevel", None, &P::LogLevelOption),  // the engine log, not a record
    };
}

// The next input.
std::vector<TOptionEntry> TOptionParser::TTableGroups::NextInput() {
    return {
        Call("f", In, &P::FormatOption),
        Duration("ss", &S::StartTime),
        Duration("itsoffset", &S::InputTsOffset),
        Call("itsscale", In, &P::TsScaleOption),
        Bool("loop_input", &S::LoopInput),
        Int("programid", &S::ProgramId),
        Int("vdt", &S::VideoDiscard),
        Int("vc", &S::VideoChannel),
        Text("tvstd", &S::VideoStandard),
    };
}

// The next output streams: video.
std::vector<TOptionEntry> TOptionParser::TTableGroups::NextVideoStreams() {
    return {
        Call("b", None, &P::BitrateOption),  // the generic store, warned when too low
        Call("vb", None, &P::BitrateOption),
        Call("r", Out, &P::FrameRateOption),
        Call("s", Out, &P::FrameSizeOption),
        Call("aspect", Out, &P::AspectOption),
        Call("pix_fmt", Out, &P::PixelFormatOption),
        Call("croptop", Out, &P::CropOption), Call("cropbottom", Out, &P::CropOption),
        Call("cropleft", Out, &P::CropOption), Call("cropright", Out, &P::CropOption),
        Bool("intra", &S::IntraOnly),
        Bool("vn", &S::VideoDisable),
        Call("qscale", Out, &P::QScaleOption),
        Text("rc_override", &S::VideoRcOverride),
        Call("vcodec", Out, &P::CodecOption),
        Int("me_threshold", &S::MeThreshold),
        Bool("sameq", &S::SameQuality),
        Bool("deinterlace", &S::DoDeinterlace),
        Bool("autorotate", &S::AutoRotate),
        Bool("autodeinterlace", &S::AutoDeinterlace),
        Bool("autotonemap", &S::AutoToneMap),
        Bool("psnr", &S::DoPSNR),
        Bool("qphist", &S::QpHist),
        Bool("force_fps", &S::ForceFps),
        Call("pass", Out, &P::PassOption),
        Text("passlogfile", &S::PassLogFileName),
        Call("vstats", Out, &P::VStatsOption),
        Text("vstats_file", &S::VStatsFilename),
        Call("vhook", Out, &P::VideoHookOption),
        Text("vfilters", &S::VFilters), Text("vf", &S::VFilters),
        Call("intra_matrix", Out, &P::MatrixOption), Call("inter_matrix", Out, &P::MatrixOption),
        Int("top", &S::TopFieldFirst),
        Int("dc", &S::IntraDCPrecision),
        Call("vtag", Out, &P::TagOption),
        Text("vlang", &S::VideoLanguage),
        Call("streamid", Out, &P::StreamIdOption),
    };
}

// The next output streams: audio and subtitles.
std::vector<TOptionEntry> TOptionParser::TTableGroups::NextAudioAndSubtitleStreams() {
    return {
        Call("ab", None, &P::BitrateOption),
        Real("aq", &S::AudioQScale),
        Call("ar", Out, &P::SampleRateOption),
        Call("ac", Out, &P::ChannelsOption),
        Bool("an", &S::AudioDisable),
        Call("acodec", Out, &P::CodecOption),
        Int("vol", &S::AudioVolume),
        Call("sample_fmt", Out, &P::SampleFormatOption),
        Call("atag", Out, &P::TagOption),
        Text("alang", &S::AudioLanguage),
        Bool("sn", &S::SubtitleDisable),
        Call("scodec", Out, &P::CodecOption),
        Call("stag", Out, &P::TagOption),
        Text("slang", &S::SubtitleLanguage),
    };
}

// Options that act at once: new streams, presets, targets.
std::vector<TOptionEntry> TOptionParser::TTableGroups::AddedStreamsAndPresets() {
    return {
        // The streams are added to the last output at once (through the task).
        Call("newvideo", None, &P::NewStreamOption), Call("newaudio", None, &P::NewStreamOption),
        Call("newsubtitle", None, &P::NewStreamOption),
        // Presets and targets set options of every record and the generic store.
        Call("apre", None, &P::ApplyPreset), Call("vpre", None, &P::ApplyPreset),
        Call("spre", None, &P::ApplyPreset), Call("fpre", None, &P::ApplyPreset),
        Call("target", None, &P::TargetOption),
    };
}

// The whole run.
std::vector<TOptionEntry> TOptionParser::TTableGroups::WholeRun() {
    return {
        Call("map", Run, &P::MapOption),
        Call("map_meta_data", Run, &P::MapMetaDataOption),
        Call("t", Run, &P::RecordingTimeOption),
        Int64("fs", &S::LimitFileSize),
        Call("timestamp", Run, &P::TimestampOption),
        Call("metadata", Run, &P::MetaDataOption),
        Call("vframes", Run, &P::MaxFramesOption), Call("aframes", Run, &P::MaxFramesOption),
        Call("dframes", Run, &P::MaxFramesOption),
        Bool("dump", &S::DoPktDump),
        Bool("hex", &S::DoHexDump),
        Bool("re", &S::RateEmu),
        Int("loop_output", &S::LoopOutput),
        Int("v", &S::Verbose),
        Int("vsync", &S::VideoSyncMethod),
        Int("async", &S::AudioSyncMethod),
        Real("adrift_threshold", &S::AudioDriftThreshold),
        Int("vglobal", &S::VideoGlobalHeader),
        Flag("copyts", &S::CopyTs),
        Bool("shortest", &S::OptShortest),
        Real("dts_delta_threshold", &S::DtsDeltaThreshold),
        Flag("xerror", &S::ExitOnError),
        NonZero("copyinkf", &S::CopyInitialNonKeyframes),
        Bool("isync", &S::InputSync),
        Real("muxdelay", &S::MuxMaxDelay),
        Real("muxpreload", &S::MuxPreload),
        Call("absf", Run, &P::BitstreamFilterOption), Call("vbsf", Run, &P::BitstreamFilterOption),
        Call("sbsf", Run, &P::BitstreamFilterOption),
    };
}

const std::vector<TOptionEntry>& TOptionParser::Entries() {
    static const std::vector<TOptionEntry> table = [] {
        std::vector<TOptionEntry> all;
        for (auto group : {TTableGroups::OldCommandLine, TTableGroups::NextInput, TTableGroups::NextVideoStreams,
                           TTableGroups::NextAudioAndSubtitleStreams, TTableGroups::AddedStreamsAndPresets,
                           TTableGroups::WholeRun}) {
            std::vector<TOptionEntry> entries = group();
            all.insert(all.end(), entries.begin(), entries.end());
        }
        return all;
    }();
    return table;
}

const TOptionEntry* TOptionParser::FindEntry(const std::string& name) {
    static const std::unordered_map<std::string_view, const TOptionEntry*> byName = [] {
        std::unordered_map<std::string_view, const TOptionEntry*> m;
        for (const TOptionEntry& e : Entries()) m.emplace(e.Name, &e);
        return m;
    }();
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}
