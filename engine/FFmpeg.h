#pragma once
// One transcoding task: its settings, its input and output files, and the run that
// converts the inputs into the outputs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/AVHandles.h"
#include "engine/EngineSettings.h"
#include "engine/EngineStreams.h"
#include "engine/FFmpegOptions.h"
#include "engine/FrameBitmap.h"
#include "engine/RunState.h"

// The values of one progress report (the task index is the component's).
struct TEngineProgress {
    int FileIndex = 0;
    int FrameNumber = -1;
    int FPS = -1;
    float Quality = -1.0f;
    float BitRate = 0.0f;
    int64_t CurrentSize = 0;
    int64_t CurrentDuration = 0;
    int64_t TotalDuration = -1;
};

using TEngineProgressEvent = std::function<void(const TEngineProgress& Info, const std::string& Line)>;

class TPipeline;

// What a finished output does with a file of its final name.
enum class TOutputPolicy {
    Replace,  // the finished file replaces it in one step
    Keep,     // it stays; the task fails instead of overwriting it
    Skip,     // the task is skipped (TOutputSkipped) when it exists or another program converts it
};

class TCustomFFmpeg : public TOptionHost, private TRunServices {
public:
    TCustomFFmpeg();
    ~TCustomFFmpeg() override;
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // Fresh settings and option store, no stop asked for; does nothing until the engine
    // libraries are loaded.
    void Reset();
    // The same for a run that has started: a stop asked for since its start still holds.
    void ResetStarted();

    TEngineSettings& Settings() { return FSettings; }
    TGenericOptions& GenericOptions() { return FGeneric; }
    TOptionParser* Parser() { return FParser.get(); }
    // Applies one option (name, value); raises FFmpegException with the option's texts.
    void ParseOption(const std::string& name, const std::string& value);

    bool OpenInput(const std::string& fileName);
    // The number of outputs after adding, or -1 (the reason in ErrorText). Raises
    // TOutputSkipped when the output policy skips the name.
    int OpenOutput(const std::string& fileName, bool join);
    void NewVideoStream(AVFormatContext* oc);
    void NewAudioStream(AVFormatContext* oc);
    void NewSubtitleStream(AVFormatContext* oc);

    // The whole run: preparation, loop, flushing, trailers, final report. Raises on errors;
    // returns true when it ran to its end without a stop request.
    bool Transcode();
    // Closes and frees everything the task opened. An output not given its final name by a
    // completed run is deleted (its temporary file, or a zero-byte file written directly).
    void CloseAll();
    // CloseAll, and the option store and its library templates too: the task holds nothing
    // until Reset.
    void Release();

    // A stop request is seen once per packet and once per output frame.
    void RequestStop() { FControl.RequestStop(); }
    void Pause() { FControl.Pause(); }
    void Resume() { FControl.Resume(); }
    bool StopRequestedFlag() const { return FControl.Stopping(); }

    const std::string& ErrorText() const { return FErrorText; }
    int InputCount() const override { return int(FInputs.size()); }
    int OutputCount() const override;
    void NewStream(AVMediaType type) override;
    const void* LogSender() const override { return this; }
    AVFormatContext* InputContext(int i) const { return FInputs.at(i)->Ctx.get(); }
    bool JoinMode() const { return FJoin; }
    int64_t TotalDuration() const { return FTotalDuration; }
    int64_t DupCount() const { return TRunServices::DupCount; }
    int64_t DropCount() const { return TRunServices::DropCount; }
    int FrameNumber() const { return FFrameNumber; }
    const std::string& LastReportLine() const { return FReport.LastLine; }
    // After a run that ended at the end of its source: why the output is incomplete (the
    // source ended clearly short of its stated length), or empty.
    const std::string& IncompleteText() const { return FIncompleteText; }
    // Frame rates of the opened inputs' video streams, in order.
    std::vector<AVRational> InputVideoFrameRates() const override;

    int Verbose() const override { return FSettings.Verbose; }
    int64_t ProgressInterval = 500000;  // microseconds
    // Processor cores this task may keep busy (tasks running side by side share the
    // machine); 0: all of them. Decides the codecs' threads and whether stages overlap.
    int CoreShare = 0;
    TOutputPolicy OutputPolicy = TOutputPolicy::Replace;
    int PreviewFlags = 0;               // bit 0: preview window, bit 1: preview bitmap; either feeds OnPreviewBitmap
    TEngineHook OnCustomHook;
    TEnginePreview OnPreviewBitmap;
    TEngineProgressEvent OnProgress;

private:
    // TRunServices
    void WritePacket(TOutputStream& ost, AVPacket* pkt, AVRational tb) override;
    bool StopRequested() override;
    void Log(TLogLevel level, const std::string& msg) override;
    void VideoFrameEncoded(TOutputStream& ost, const AVPacket& pkt) override;
    void VideoFrameToEncode(const AVFrame& frame, int64_t ptsUs) override;

    const AVCodec* FindCodec(const std::string& name, AVMediaType type, bool encoder);
    // OpenInput's steps, in order.
    const AVInputFormat* TakeInputFormat();
    std::unique_ptr<TInputFile> OpenInputFile(const std::string& fileName, const AVInputFormat* ifmt);
    void SelectInputProgram(AVFormatContext* ic);
    void ProbeInput(TInputFile& file);
    int64_t SeekInput(TInputFile& file);
    void TakeInputStreams(AVFormatContext* ic);
    void TakeInputVideoStream(int index, AVStream* st);
    // OpenOutput's steps, in order.
    const AVOutputFormat* GuessOutputFormat(const std::string& fileName) const;
    void AddOutputStreams(AVFormatContext* oc, bool join);
    void SetOutputMetadata(AVFormatContext* oc) const;
    void OpenOutputFile(AVFormatContext* oc, const std::string& fileName);
    void DropOutputsFrom(size_t streams, size_t files);
    void CommitOutputs();  // the completed run's files take their final names
    TOutputStream* AddStream(AVFormatContext* oc, std::unique_ptr<TOutputStream> ost);
    int OutputFileIndex(AVFormatContext* oc) const;
    void SetupBitstreamFilters(TOutputStream& ost, AVMediaType type);
    void NewOutputStream(AVFormatContext* oc, AVMediaType type);

    // PrepareRun and its steps; BindStreams comes first and has steps of its own.
    void PrepareRun();
    void BindStreams();
    void MakeInputStreams();
    void CheckOutputsHaveStreams();
    TInputStream* FindInputStream(int file, int stream);  // null when there is none
    std::pair<TInputStream*, TInputStream*> MappedSource(const TOutputStream& ost, const TStreamMap& m);
    TInputStream* BestSource(const TOutputStream& ost);
    void ConnectSource(TOutputStream& ost, TInputStream& source, const TInputStream& sync);
    void CopyMappedMetadata();
    void PrepareOutputStream(TOutputStream& ost);
    void OpenDecoder(TInputStream& ist);
    void PlanSourcePictures();
    void PlanPictureKinds(TInputStream& ist);
    void OpenEncoders();
    void SetupPassLog(TOutputStream& ost);
    void InitBitstreamFilters();
    void WriteHeaders();
    void LogStreamMapping();
    void Loop();
    // The loop's steps, in order. Each tells the loop to go on with the packet, to go
    // round again, or to end.
    enum class TLoopStep { Go, Again, End };
    TLoopStep NextJoinedInput(int& fileIndex);
    TLoopStep NextInputByTime(int& fileIndex);
    bool FileSizeLimitReached() const;
    TLoopStep ReadPacket(TInputFile& file, AVPacket* pkt, TInputStream*& ist);
    void AdjustTimestamps(TInputFile& file, const TInputStream& ist, AVPacket* pkt);
    bool PastRecordingTime(TInputStream& ist, const AVPacket& pkt);
    void PaceToRealTime(const AVPacket& pkt, AVRational tb);
    // Damaged sources (SourceDamage.cpp): a packet stamped far past the stated length is
    // dropped; what was read is noted (before the file's offset is added).
    bool DamagedTimestamp(TInputFile& file, TInputStream& ist, const AVPacket& pkt);
    void NoteRead(TInputFile& file, TInputStream& ist, AVPacket& pkt);
    void PlanOutputBounds();
    void CheckPicturesWritten();  // raises when a picture output got none
    std::string Shortfall();  // empty, or why the output is incomplete
    bool UnreadStreamsReach(TInputFile& file, int64_t us);
    void LogDamageSummary();
    bool ProcessPacket(TInputStream& ist, AVPacket* pkt);  // null flushes; false: nothing decoded
    bool DecodeSubtitle(TInputStream& ist, AVPacket* pkt);
    bool DecodeFrames(TInputStream& ist, AVPacket* pkt);
    void DecodeError(const TInputStream& ist);
    void DecodeVideo(TInputStream& ist, AVFrame* frame);
    void PullSourcePictures(TInputStream& ist, TSourcePictureKind& kind);
    void DecodeVideoPicture(TInputStream& ist, TSourcePictureKind& kind, AVFrame* frame);
    void DecodeAudio(TInputStream& ist, AVFrame* frame);
    void CopyPacket(TInputStream& ist, TOutputStream& ost, const AVPacket& pkt);
    void FinishJoinedInput(int fileIndex);
    void Report(bool last, int fileIndex);
    void ReleaseRun();
    // Hands one decoded frame to an encoded output: to its stage's queue when the run's
    // stages overlap, else straight to its Write.
    void WriteFrame(TOutputStream& ost, AVFrame* frame, int64_t ptsUs);
    bool PipelineFits() const;
    int CodecThreads() const;  // thread_count for a codec this task opens
    void PlanEncoderThreads(TOutputStream& ost);  // the encoder's threads, before it opens

    TEngineSettings FSettings;
    TGenericOptions FGeneric;
    std::unique_ptr<TOptionParser> FParser;

    std::vector<std::unique_ptr<TInputFile>> FInputs;
    std::vector<std::unique_ptr<TOutputFile>> FOutputs;
    std::vector<std::unique_ptr<TOutputStream>> FOutputStreams;
    std::vector<std::unique_ptr<TInputStream>> FInputStreams;
    std::vector<const AVCodec*> FForcedDecoders;  // per stream of the input being opened
    std::string FErrorText;
    std::string FIncompleteText;
    bool FJoin = false;
    int FJoinCurrent = 0;
    int64_t FTotalDuration = -1;
    AVChannelLayout FInputLayout{};  // channel layout of the last opened input's audio
    double FInputAspect = 0.0;       // display aspect of the last opened input's video

    TRunControl FControl;

    // run state
    std::unique_ptr<TPipeline> FPipeline;  // the stages' threads, during the run
    std::mutex FMuxLock;                   // the output files: one writer at a time
    std::mutex FStatsLock;                 // statistics file, pass logs, preview state
    std::atomic<int> FFrameNumber{0};
    int64_t FOutputStart = 0;  // "ss" given for the output: what comes before it is dropped
    TRunReport FReport;
    TVStatsFile FVStats;
    FramePtr FDecoded;
    TFrameHookStage FHook;
    TPreviewStage FPreview;
    int FLastFileIndex = 0;
    bool FMultipleFramesWarned = false;
};
