#pragma once
// The records a run works on: input files and streams, output files and streams, and the
// services the output stages take from the run (muxing, counters, stop requests).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/FFmpegLogger.h"
#include "engine/OutputClaim.h"
#include "engine/SourcePicture.h"

struct TInputFile {
    InputContextPtr Ctx;
    std::string FileName;
    int64_t TsOffset = 0;   // microseconds added to every timestamp of the file
    int64_t SeekPos = 0;    // where reading started, microseconds
    int IstIndex = 0;       // first input stream record of the file
    int NbStreams = 0;
    bool EofReached = false;
    bool NoPacket = false;
    double TsScale[20];
    // The source's length in microseconds; a picture stream with an absurd rate does not count.
    int64_t Duration = AV_NOPTS_VALUE;
    // The length was stated or measured, not guessed from the bit rate: time stamps far past
    // it are damage, and reading clearly less of it is a shortfall.
    bool LengthTrusted = false;
    // The length its header states where the demuxer measures what is there instead (an AVI
    // cut before its index); at least Duration.
    int64_t StatedUs = AV_NOPTS_VALUE;
    // The time its packets read so far cover (the longest stream's), and how much later the
    // options move its times ("itsoffset").
    int64_t ContentUs = 0;
    int64_t ShiftUs = 0;
};

class TOutputStream;
struct TEngineSettings;
class TGenericOptions;

// The pictures of a decoded video stream as some of its encoded outputs need them. Outputs
// that agree (fields kept or not, HDR carried or not) share one, so a picture is deinterlaced
// or tone-mapped once however many outputs take it.
struct TSourcePictureKind {
    TSourcePicture Picture;
    FramePtr Looked;  // a picture as the step gave it
    std::vector<TOutputStream*> Outputs;
    int64_t NextPts = AV_NOPTS_VALUE;  // expected time of the next picture, microseconds
    int Pictures = 0;                  // given to the outputs so far
};

struct TInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* St = nullptr;
    std::string FileName;  // of its input file
    bool Discard = true;
    bool DecodingNeeded = false;
    bool IsStart = true;
    bool IsPastRecordingTime = false;
    bool Flushed = false;
    const AVCodec* ForcedDecoder = nullptr;
    CodecContextPtr Dec;
    int64_t NextPts = AV_NOPTS_VALUE;  // expected time of the next frame, microseconds
    int64_t NextDts = AV_NOPTS_VALUE;  // expected decoding time of the next packet
    int64_t Pts = 0;                   // current timestamp, microseconds
    bool SawFirstFrame = false;
    // A picture rate no source has (one picture in hours): its time stamps are useless, the
    // pictures are timed by their count at the fallback rate instead.
    bool CountedTimestamps = false;
    int64_t ReadEndUs = AV_NOPTS_VALUE;   // end of the last packet read, from the file's start
    int64_t LastGoodUs = AV_NOPTS_VALUE;  // time of the last packet not taken as damage
    int64_t PrevReadUs = AV_NOPTS_VALUE;  // time of the packet read before
    int64_t ContentUs = 0;                // the time its packets cover, no one step counting long
    int64_t DamagedPackets = 0;
    // Its pictures may hold samples beyond their bit depth: a raw source, or a decoder that
    // met damage (what it made then lives on in the pictures that refer to it).
    bool SamplesMayExceedDepth = false;
    std::vector<TOutputStream*> Outputs;
    // Decoded pictures made upright, deinterlaced and tone-mapped as the outputs need: one
    // kind for all outputs of an ordinary job, the first holds the first encoded output.
    std::vector<std::unique_ptr<TSourcePictureKind>> PictureKinds;
    // The plan of the pictures an output gets (the first kind's for one of no kind).
    TSourcePicturePlan PicturePlanOf(const TOutputStream& ost) const {
        for (const auto& kind : PictureKinds)
            for (const TOutputStream* o : kind->Outputs)
                if (o == &ost) return kind->Picture.Plan();
        return PictureKinds.empty() ? TSourcePicturePlan{} : PictureKinds.front()->Picture.Plan();
    }
};

struct TOutputFile {
    // The temporary file written in place of FileName until the run completes; freed after
    // Ctx, which closes the file.
    std::unique_ptr<TOutputClaim> Claim;
    OutputContextPtr Ctx;  // closes the file when freed (CloseAll)
    std::string FileName;
    bool FileOpened = false;
    bool HeaderWritten = false;
    // Sound was wanted but no input has any: the reason a person reads names that.
    bool MissingAudio = false;
};

// What an output stage takes from the run.
class TRunServices {
public:
    virtual ~TRunServices() = default;
    // Writes one packet of ost whose times are in tb (bitstream filters, interleaving).
    virtual void WritePacket(TOutputStream& ost, AVPacket* pkt, AVRational tb) = 0;
    // True when the run must stop; waits here while the task is paused.
    virtual bool StopRequested() = 0;
    virtual void Log(TLogLevel level, const std::string& msg) = 0;
    virtual int Verbose() const = 0;
    // After one encoded video frame (statistics file, two-pass log).
    virtual void VideoFrameEncoded(TOutputStream& ost, const AVPacket& pkt) = 0;
    // Before a video frame is encoded (preview).
    virtual void VideoFrameToEncode(const AVFrame& frame, int64_t ptsUs) = 0;
    // Counted on the stages' threads, read by the run's reports.
    std::atomic<int64_t> DupCount{0};
    std::atomic<int64_t> DropCount{0};
    std::atomic<bool> DupDropChanged{false};
    std::atomic<int64_t> VideoBytes{0};
    std::atomic<int64_t> AudioBytes{0};
    std::atomic<int64_t> ExtraBytes{0};
    // The time the packets read so far cover, written by the run's thread (-1: not known, no
    // bound). Copies of a picture or silence never take an output far past it.
    std::atomic<int64_t> ReadContentUs{-1};
};

// What a stage reads when it configures itself: the options given so far, the output it
// was added to, and what the last opened input told of its picture and sound.
struct TStreamSetup {
    const TEngineSettings& Settings;
    const TGenericOptions& Generic;
    AVFormatContext* Output;
    const AVChannelLayout& InputLayout;
    double InputAspect = 0.0;
};

class TOutputStream {
public:
    virtual ~TOutputStream();
    TOutputStream(const TOutputStream&) = delete;
    TOutputStream& operator=(const TOutputStream&) = delete;

    AVMediaType Type() const { return FType; }
    // Sets the stage up from the options, once, right after its stream was added to the
    // output: the encoder and its parameters, then the tag and the language.
    void Configure(const TStreamSetup& setup, TRunServices& run);
    // Completes the stage from its source: an encoder is opened, a copy takes the source's
    // parameters.
    virtual void Open(TInputStream& source, TRunServices& run) {}
    // One decoded frame of the source; times in microseconds of the output's clock.
    virtual void Write(AVFrame* frame, int64_t ptsUs, TRunServices& run) {}
    // One decoded subtitle; only a subtitle encoder takes it.
    virtual void WriteSubtitle(const AVSubtitle& sub, int64_t ptsUs, TRunServices& run) {}
    // Drains whatever the stage holds.
    virtual void Flush(TRunServices& run) {}

    int FileIndex = 0;
    int Index = 0;            // stream index within the output file
    AVStream* St = nullptr;
    int SourceIndex = -1;     // input stream record
    int SyncIndex = -1;
    // Written by the stream's stage, read by the run's loop and reports: atomic.
    std::atomic<int64_t> FrameCount{0};
    int64_t SyncOpts = 0;     // next output timestamp, encoder time base
    bool StreamCopy = false;
    bool Opened = false;      // the encoder is open
    bool SeenKeyFrame = false;
    CodecContextPtr Enc;
    const AVCodec* EncCodec = nullptr;
    std::vector<BsfPtr> Bsfs;
    std::string BsfText;          // the chain as the options gave it, for messages
    Dictionary PrivateOptions;    // the encoder's own options, handed to it when it opens
    FilePtr PassLog;              // first-pass statistics written by our side
    std::string PassStats;        // second-pass statistics handed to the encoder
    std::atomic<int64_t> LastDts{AV_NOPTS_VALUE};  // last written dts, stream time base
    std::atomic<int64_t> EndTimeUs{0};             // end of the last written packet, microseconds
    int64_t MaxFrames = INT64_MAX;
    // Pictures: at most as many as the source's length allows at the output rate, with a
    // margin. A time stamp leap larger than the limit (in encoder ticks: pictures, or sound
    // samples) is damage, not filled with copies or silence.
    int64_t PictureBudget = INT64_MAX;
    double JumpLimit = 0.0;
    int64_t RecordingTimeUs = INT64_MAX;  // nothing at or past it is encoded
    std::atomic<double> LastQuality{-1.0};  // quantizer of the last coded frame
    std::atomic<int> LastFrameBytes{0};
    std::atomic<uint64_t> LastErrors[4] = {};  // per-plane squared error of the last coded frame (PSNR)

protected:
    explicit TOutputStream(AVMediaType type) : FType(type) {}
    // The stage's own part of Configure.
    virtual void ConfigureStage(const TStreamSetup& setup, TRunServices& run) = 0;
    // Finds the encoder (the one named, else the output format's choice for the type),
    // makes its context and copies the generic options of the type onto it.
    AVCodecContext* MakeEncoder(const TStreamSetup& setup, const std::string& name, int typeFlag);
    const AVOutputFormat* OutFormat() const { return FOutFormat; }
    // Opens the encoder with the private options (left-over ones are logged), fills the
    // stream's parameters from it.
    void OpenEncoder(AVDictionary** privateOptions, TRunServices& run);
    // Sends one frame (null drains) to the encoder and writes what comes out.
    void Encode(AVFrame* frame, TRunServices& run);

private:
    AVMediaType FType;
    const AVOutputFormat* FOutFormat = nullptr;
};

// The stage for a stream of the type: a copy or the type's encoder.
std::unique_ptr<TOutputStream> MakeOutputStage(AVMediaType type, bool copy);

// Stream copy and the stages that have no encoder of their own.
class TCopyOutput : public TOutputStream {
public:
    explicit TCopyOutput(AVMediaType type) : TOutputStream(type) { StreamCopy = true; }
    // Takes the source's codec parameters, keeping a tag or aspect the options gave.
    void Open(TInputStream& source, TRunServices& run) override;

protected:
    void ConfigureStage(const TStreamSetup& setup, TRunServices& run) override;
};

class TSubtitleOutput : public TOutputStream {
public:
    TSubtitleOutput() : TOutputStream(AVMEDIA_TYPE_SUBTITLE) {}
    void Open(TInputStream& source, TRunServices& run) override;
    void WriteSubtitle(const AVSubtitle& sub, int64_t ptsUs, TRunServices& run) override;

protected:
    void ConfigureStage(const TStreamSetup& setup, TRunServices& run) override;
};
