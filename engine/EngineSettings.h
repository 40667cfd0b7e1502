#pragma once
// The settings of one engine task: everything the options write and the input, output
// and loop stages read. TEngineSettings holds the plain values, in three records by what
// they apply to (the next input, the next output streams, the whole run); TGenericOptions holds the
// library-side templates (codec, format and scaler contexts) that generic options are set
// on, to be copied onto the real contexts when they are made.
#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/LibAVApi.h"

// Table sizes of a task.
constexpr int MAX_FILES = 20;        // inputs, outputs
constexpr int MAX_STREAMS = 20;      // per input, for timestamp scaling
constexpr int MAX_STREAM_MAPS = 400;
constexpr int MAX_META_DATA_MAPS = 20;
constexpr int MAX_STREAM_IDS = 20;

// Number of media types that carry a generic codec context: video, audio, data, subtitle,
// attachment (the AVMediaType values 0..4).
constexpr int GENERIC_CODEC_TYPES = 5;

// "map": input file and stream, and the stream it is synchronised with.
struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

// "map_meta_data": copy the metadata of an input file into an output file.
struct TMetaDataMap {
    int OutFile = 0;
    int InFile = 0;
};

// "absf", "vbsf", "sbsf": a bitstream filter by name; Args is the text after "=" (may be empty).
struct TBitstreamFilterSpec {
    std::string Name;
    std::string Args;
};

// Video hook modules ("vhook"). The picture layout matches the one the module interface
// was written for: four plane pointers and four line sizes.
struct TVideoHookPicture {
    uint8_t* data[4];
    int linesize[4];
};
using THookConfigureFunc = int (*)(void** ctxp, int argc, char* argv[]);
using THookProcessFunc = void (*)(void* ctx, TVideoHookPicture* pict, int pix_fmt, int width, int height,
                                  int64_t pts);
using THookReleaseFunc = void (*)(void* ctx);

// One configured use of a hook module. The module itself stays loaded for the life of the
// process; the configured context is released with this object.
class TVideoHook {
public:
    TVideoHook(std::string path, THookProcessFunc process, THookReleaseFunc release, void* context)
        : Path(std::move(path)), Process(process), Release(release), Context(context) {}
    ~TVideoHook() {
        if (Release) Release(Context);
    }
    TVideoHook(const TVideoHook&) = delete;
    TVideoHook& operator=(const TVideoHook&) = delete;

    // Runs the module on one picture.
    void Run(TVideoHookPicture* pict, int pixFmt, int width, int height, int64_t pts) const {
        Process(Context, pict, pixFmt, width, height, pts);
    }

    const std::string Path;
    const THookProcessFunc Process;
    const THookReleaseFunc Release;
    void* const Context;
};

// What applies to the next input file. OpenInput reads it; ConsumeInput (below) resets
// what an input uses up. The time offset, time scales, loop and discard choice stay for
// the inputs that follow, as they always have.
struct TInputSettings {
    std::string ForcedFormat;            // "f": format of the next input or output
    bool PgmYuvCompatibility = false;    // "f=pgmyuv" was given (read as image2 with the PGMYUV decoder)
    bool LoopInput = false;              // "loop_input"
    int ProgramId = -1;                  // "programid": -1 = none requested
    int64_t StartTime = 0;               // "ss", microseconds
    int64_t InputTsOffset = 0;           // "itsoffset", microseconds
    // "itsscale": per input (by the index it will get) and stream; 1.0 = unchanged.
    std::array<std::array<double, MAX_STREAMS>, MAX_FILES> InputTsScale = []() {
        std::array<std::array<double, MAX_STREAMS>, MAX_FILES> a{};
        for (auto& row : a) row.fill(1.0);
        return a;
    }();
    int VideoDiscard = 0;                // "vdt": AVDiscard for the input's video streams
    int VideoChannel = 0;                // "vc": capture channel of a device input
    std::string VideoStandard;           // "tvstd": TV standard of a device input
};

// What applies to the next output stream(s). The stream stages read it; opening an input
// overwrites the geometry and sound layout with the source's, and each new stream resets
// its own codec choice. The codec names double as forced decoders for the next input.
struct TOutputStreamSettings {
    // "streamid": output stream index -> stream id; 0 = not given for that index.
    std::array<int, MAX_STREAM_IDS> StreamIdMap{};
    int StreamIdMapSize = 0;             // highest index given + 1

    // ---- video
    int FrameWidth = 0;                  // "s"
    int FrameHeight = 0;
    bool FrameSizeGiven = false;         // "s" was given (not just taken from the source)
    AVRational FrameRate{0, 0};          // "r": 0/0 = not set
    double FrameAspectRatio = 0.0;       // "aspect": 0 = not set
    int FramePixFmt = -1;                // "pix_fmt": AVPixelFormat, -1 = not set
    int FrameTopBand = 0;                // "croptop" .. "cropright"
    int FrameBottomBand = 0;
    int FrameLeftBand = 0;
    int FrameRightBand = 0;
    float VideoQScale = 0.0f;            // "qscale": 0 = not set
    bool IntraOnly = false;              // "intra"
    bool VideoDisable = false;           // "vn"
    std::string VideoCodecName;          // "vcodec" (empty = guessed from the format)
    bool VideoStreamCopy = false;        // "vcodec=copy"
    std::string VideoCodecTag;           // "vtag": four characters or empty
    std::string VideoLanguage;           // "vlang"
    std::optional<std::array<uint16_t, 64>> IntraMatrix;  // "intra_matrix"
    std::optional<std::array<uint16_t, 64>> InterMatrix;  // "inter_matrix"
    int DoPass = 0;                      // "pass": 0, 1 or 2
    std::string PassLogFileName;         // "passlogfile": empty = "ffmpeg2pass"
    bool DoDeinterlace = false;          // "deinterlace"
    // The picture made to look like the source before anything else (each can be turned off):
    bool AutoRotate = true;              // "autorotate": upright by the display matrix
    bool AutoDeinterlace = true;         // "autodeinterlace": interlaced frames into a progressive output
    bool AutoToneMap = true;             // "autotonemap": HDR to BT.709 for an output that cannot carry it
    bool DoPSNR = false;                 // "psnr"
    bool QpHist = false;                 // "qphist"
    bool SameQuality = false;            // "sameq"
    bool ForceFps = false;               // "force_fps"
    std::string VStatsFilename;          // "vstats", "vstats_file"
    int TopFieldFirst = -1;              // "top": -1 = from the source
    int IntraDCPrecision = 8;            // "dc"
    std::string VFilters;                // "vfilters", "vf"
    std::string VideoRcOverride;         // "rc_override"
    int MeThreshold = 0;                 // "me_threshold"
    std::vector<std::shared_ptr<TVideoHook>> VideoHooks;  // "vhook", run in order

    // ---- audio
    int AudioSampleRate = 44100;         // "ar"
    int AudioChannels = 2;               // "ac"
    int AudioSampleFmt = -1;             // "sample_fmt": AVSampleFormat, -1 = not set
    float AudioQScale = -99999.0f;       // "aq": -99999 = not set
    int AudioVolume = 256;               // "vol": 256 = unchanged
    std::string AudioCodecName;          // "acodec"
    bool AudioStreamCopy = false;
    std::string AudioCodecTag;           // "atag"
    std::string AudioLanguage;           // "alang"
    bool AudioDisable = false;           // "an"

    // ---- subtitle
    std::string SubtitleCodecName;       // "scodec"
    bool SubtitleStreamCopy = false;
    std::string SubtitleCodecTag;        // "stag"
    std::string SubtitleLanguage;        // "slang"
    bool SubtitleDisable = false;        // "sn"
};

// What applies to the whole run: stream maps, metadata, limits, muxing and the loop. Never
// reset between files.
struct TRunSettings {
    int LoopOutput = -1;                 // "loop_output": -1 = the format's default (no loop)
    std::vector<TStreamMap> StreamMaps;  // at most MAX_STREAM_MAPS
    std::vector<TMetaDataMap> MetaDataMaps;  // at most MAX_META_DATA_MAPS
    std::vector<std::pair<std::string, std::string>> MetaData;  // "metadata" key=value
    int64_t RecordingTimestamp = 0;      // "timestamp": seconds since 1970, 0 = none
    int64_t RecordingTime = INT64_MAX;   // "t", microseconds: INT64_MAX = no limit
    int64_t LimitFileSize = 0;           // "fs": bytes, 0 = none

    // ---- muxing and the loop
    float MuxMaxDelay = 0.7f;            // "muxdelay": seconds
    float MuxPreload = 0.5f;             // "muxpreload": seconds
    float DtsDeltaThreshold = 10.0f;     // "dts_delta_threshold": seconds
    bool CopyTs = false;                 // "copyts"
    bool OptShortest = false;            // "shortest"
    bool InputSync = false;              // "isync"
    bool CopyInitialNonKeyframes = false;  // "copyinkf"
    int VideoGlobalHeader = 0;           // "vglobal": bit 0 global, bit 1 local headers
    int VideoSyncMethod = -1;            // "vsync": -1 = auto
    float AudioDriftThreshold = 0.1f;    // "adrift_threshold": seconds
    int AudioSyncMethod = 0;             // "async": samples per second, 0 = off
    // "vframes", "aframes", "dframes": indexed by AVMediaType (video, audio, data, subtitle).
    std::array<int, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    // "vbsf", "absf", "sbsf": indexed by AVMediaType.
    std::array<std::vector<TBitstreamFilterSpec>, GENERIC_CODEC_TYPES> BitstreamFilters;
    bool DoPktDump = false;              // "dump"
    bool DoHexDump = false;              // "hex"
    bool RateEmu = false;                // "re": read inputs at their native rate
    bool ExitOnError = false;            // "xerror"

    // ---- task
    int Verbose = 1;                     // "v"
    // Codec threads for decoders and encoders. There is no option for it; 0 lets the
    // library choose from the processor count.
    int ThreadCount = 0;
    // Decoding, each encoded output and the muxer overlap on threads of their own; false
    // runs the whole task on its one thread, as the reference for speed and output.
    // REELSHIFT_PIPELINE=0 in the environment has the same effect.
    bool Pipeline = true;
};

// The settings of a task: the three records side by side, so every field keeps its one
// name (s.FrameWidth, s.StartTime, s.Verbose).
struct TEngineSettings : TInputSettings, TOutputStreamSettings, TRunSettings {
    // An input was opened: forget what applied to it alone. The codec names were its forced
    // decoders; an output that follows chooses its encoders anew. The forced format, the
    // program id and the start time are taken already by the steps that use them, so an
    // open that fails after those steps has used them up as well.
    void ConsumeInput();
    // Opening an input failed: the codec names are dropped all the same, the rest stays.
    void ForgetCodecNames();
    // An output's streams exist: the disable flags were for them.
    void ConsumeStreamChoice();
    // An output was opened: its stream ids are given.
    void ConsumeOutput();
};

// The generic option store: options set by name land on template contexts (one codec
// context per media type, a format context and a scaler) and are copied from there onto
// the real contexts. Encoder-private options (those of a particular encoder, such as
// x264's) cannot live on a template; they are kept per media type in a dictionary that is
// handed to the encoder when it opens.
class TGenericOptions {
public:
    TGenericOptions() = default;
    TGenericOptions(const TGenericOptions&) = delete;
    TGenericOptions& operator=(const TGenericOptions&) = delete;

    // Frees everything and creates fresh templates (needs the engine libraries bound).
    void Reset();
    // Frees everything (templates, names, dictionaries).
    void Clear();
    bool Ready() const { return bool(FFormat); }

    // The template of a media type (AVMEDIA_TYPE_VIDEO .. AVMEDIA_TYPE_ATTACHMENT); null
    // for other types or before Reset.
    const AVCodecContext* Template(AVMediaType type) const;
    AVCodecContext* MutableTemplate(AVMediaType type);
    const AVFormatContext* FormatTemplate() const { return FFormat.get(); }
    AVFormatContext* MutableFormatTemplate() { return FFormat.get(); }
    const SwsContext* ScalerTemplate() const { return FScaler.get(); }
    SwsContext* MutableScalerTemplate() { return FScaler.get(); }

    // Every name accepted by the store, in the order set (as the caller gave it).
    const std::vector<std::string>& SetNames() const { return FNames; }
    void AddSetName(const std::string& name);

    // Records that `option` (the library's name) was set on a template, so that it is copied.
    void MarkCodecOption(AVMediaType type, const std::string& option);
    void MarkFormatOption(const std::string& option);
    void MarkScalerOption(const std::string& option);

    // Encoder-private options of a media type.
    void SetPrivateOption(AVMediaType type, const std::string& name, const std::string& value);
    void RemovePrivateOption(AVMediaType type, const std::string& name);
    std::string PrivateOption(AVMediaType type, const std::string& name) const;  // "" when absent
    const AVDictionary* PrivateOptions(AVMediaType type) const;

    // A copy of the encoder-private options of a type; the caller owns it (may be null when
    // there are none). Pass it to avcodec_open2 and free it afterwards.
    AVDictionary* CodecPrivateOptions(AVMediaType type) const;

    // Copies the value of every option set on the type's template onto target. flags, when
    // not 0, restricts the copy to options carrying all of them (for example
    // AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM).
    void ApplyToCodecContext(AVMediaType type, AVCodecContext* target, int flags = 0) const;
    // The same for the format template (flags: AV_OPT_FLAG_DECODING_PARAM or ..._ENCODING_PARAM).
    void ApplyToFormatContext(AVFormatContext* target, int flags = 0) const;
    void ApplyToScaler(SwsContext* target) const;

    // The scaler flags set through "sws_flags" (the template's value; SWS_BICUBIC by default).
    int64_t ScalerFlags() const;

    // Muxer-private options (for example "muxrate" of the MPEG program stream muxers).
    void SetFormatPrivateOption(const std::string& name, const std::string& value);
    std::string FormatPrivateOption(const std::string& name) const;  // "" when absent
    // A copy the caller owns (may be null); pass it to avformat_write_header.
    AVDictionary* FormatPrivateOptions() const;

private:
    std::array<CodecContextPtr, GENERIC_CODEC_TYPES> FCodec;
    FormatContextPtr FFormat;
    SwsPtr FScaler;
    std::vector<std::string> FNames;
    std::array<std::vector<std::string>, GENERIC_CODEC_TYPES> FCodecSet;
    std::vector<std::string> FFormatSet;
    std::vector<std::string> FScalerSet;
    std::array<DictPtr, GENERIC_CODEC_TYPES> FPrivate;
    DictPtr FFormatPrivate;
};

// Copies one option by name from source to target (both AVOption-enabled objects), keeping
// its type. Returns false when either side lacks it or the target refuses the value.
bool CopyOptionValue(void* source, void* target, const std::string& name, int flags = 0);
