#include "player/PlaybackCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/FFUtils.h"

namespace {

// Reading pauses while the queues hold this much together, or enough for every stream.
constexpr std::int64_t MaxQueueBytes = 15 * 1024 * 1024;
constexpr std::int64_t MinAudioQueueBytes = 20 * 16 * 1024;
constexpr int MinFrames = 5;
// Reads that fail one after the other, 100 ms apart, before the input counts as ended.
constexpr int MaxReadFailures = 10;

}  // namespace

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double StreamTimeBase(const TPlaybackContext& ctx, int stream) { return av_q2d(ctx.Input->streams[stream]->time_base); }

void TPlaybackContext::CountShown(double avOffset, bool withSound) {
    std::lock_guard lock(FStatsMutex);
    FStats.PicturesShown++;
    if (withSound) FStats.MaxAVOffset = std::max(FStats.MaxAVOffset, avOffset);
}

void TPlaybackContext::CountDropped() {
    std::lock_guard lock(FStatsMutex);
    FStats.PicturesDropped++;
}

TPlaybackStatistics TPlaybackContext::Statistics() const {
    std::lock_guard lock(FStatsMutex);
    return FStats;
}

// ---- life ----

TPlayback::TPlayback(TPlaybackHost& host, TPlaybackOptions options, VideoSink* sink)
    : SeekDone(FCtx.Seek.Done), PictureReady(FCtx.Seek.PictureReady), FOptions(std::move(options)), FSink(sink),
      FCtx(host, this) {
    if (FOptions.DisableDisplay) FOptions.DisableVideo = true;
    FCtx.FileName = FOptions.FileName;
    FCtx.StartPaused = FOptions.StartPaused;
    FCtx.PictureSwitches = FOptions.PictureSwitches;
    FCtx.Paused = FOptions.StartPaused;
}

TPlayback::~TPlayback() { Close(); }

void TPlayback::Start() { FReadThread = std::thread([this] { ReadThread(); }); }

void TPlayback::Fail(const std::string& message) {
    FError = message;
    FOpenState = osFailed;
}

int TPlayback::InterruptCallback(void* opaque) { return static_cast<TPlayback*>(opaque)->FCtx.Abort.load() ? 1 : 0; }

int TPlayback::CodedWidth() const {
    return FVideo.Stream() >= 0 ? FInput->streams[FVideo.Stream()]->codecpar->width : -1;
}

int TPlayback::CodedHeight() const {
    return FVideo.Stream() >= 0 ? FInput->streams[FVideo.Stream()]->codecpar->height : -1;
}

void TPlayback::Close() {
    std::call_once(FClosed, [this] {
        FCtx.Abort = true;
        // The read thread waits for the abort flag and then closes the streams, which stops
        // the decoders and the sound.
        if (FReadThread.joinable()) FReadThread.join();
        if (FRefreshThread.joinable()) FRefreshThread.join();
        FVideo.Pictures().Clear();
        {
            std::lock_guard lock(FShownMutex);
            FShown.reset();
        }
        FInput.reset();
        FCtx.Input = nullptr;
        FClosedFlag = true;
    });
}

// ---- read thread ----

bool TPlayback::OpenInput() {
    AVFormatContext* ic = avformat().avformat_alloc_context();
    if (!ic) {
        Fail(ErrorText(FOptions.FileName, AVERROR(ENOMEM)));
        return false;
    }
    ic->interrupt_callback.callback = &TPlayback::InterruptCallback;
    ic->interrupt_callback.opaque = this;
    Dictionary options;
    if (FOptions.FrameWidth > 0 && FOptions.FrameHeight > 0)
        avutil().av_dict_set(options.Address(), "video_size",
                             Format("%dx%d", FOptions.FrameWidth, FOptions.FrameHeight).c_str(), 0);
    avutil().av_dict_set(options.Address(), "framerate", "25", 0);
    FInBlockingRead = true;
    int err = avformat().avformat_open_input(&ic, FOptions.FileName.c_str(), nullptr, options.Address());
    FInBlockingRead = false;
    if (err < 0) {  // the library freed the context
        Fail(ErrorText(FOptions.FileName, err));
        return false;
    }
    FInput.reset(ic);
    FCtx.Input = ic;
    err = avformat().avformat_find_stream_info(ic, nullptr);
    if (err < 0) {
        Fail(Format("%s: could not find codec parameters", FOptions.FileName.c_str()));
        return false;
    }
    if (ic->pb) ic->pb->eof_reached = 0;
    const char* name = ic->iformat->name ? ic->iformat->name : "";
    FImageSequence = std::strcmp(name, "image2") == 0;
    FCtx.CaptureDevice = std::strcmp(name, "video4linux2,v4l2") == 0;
    FCtx.StartTime = ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
    FDuration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;

    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    // The stream of each kind with the most frames seen while probing.
    int video = -1, audio = -1, subtitle = -1;
    if (!FOptions.DisableVideo) video = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (!FOptions.DisableAudio)
        audio = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    if (!FOptions.DisableVideo)
        subtitle = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1, audio >= 0 ? audio : video,
                                                  nullptr, 0);
    if (audio >= 0) OpenStream(audio);
    if (video >= 0) OpenStream(video);
    if (subtitle >= 0) OpenStream(subtitle);
    if (FAudio.Stream() < 0 && FVideo.Stream() < 0) {
        Fail(Format("%s: could not open codecs, no stream to play.", FOptions.FileName.c_str()));
        return false;
    }
    return true;
}

bool TPlayback::OpenStream(int index) {
    AVStream* st = FInput->streams[index];
    const AVCodec* codec = avcodec().avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        FCtx.Log(llError, "avcodec_open() failed.");
        return false;
    }
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    if (!ctx || avcodec().avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) {
        FCtx.Log(llError, "avcodec_open() failed.");
        return false;
    }
    ctx->pkt_timebase = st->time_base;
    ctx->workaround_bugs = 1;
    ctx->err_recognition = AV_EF_CRCCHECK;
    ctx->error_concealment = 3;
    ctx->thread_count = 1;
    if (avcodec().avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        FCtx.Log(llError, "avcodec_open() failed.");
        return false;
    }
    st->discard = AVDISCARD_DEFAULT;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (FAudio.Open(index, std::move(ctx))) return true;
        break;
    case AVMEDIA_TYPE_VIDEO:
        FVideo.Start(index, std::move(ctx));
        return true;
    case AVMEDIA_TYPE_SUBTITLE:
        FSubtitles.Start(index, std::move(ctx));
        return true;
    default:
        break;
    }
    st->discard = AVDISCARD_ALL;
    return false;
}

void TPlayback::CloseStreams() {
    FAudio.Close();
    FVideo.Stop();
    FSubtitles.Stop();
    for (int stream : {FAudio.Stream(), FVideo.Stream(), FSubtitles.Stream()})
        if (stream >= 0) FInput->streams[stream]->discard = AVDISCARD_ALL;
}

void TPlayback::ReadThread() {
    if (OpenInput()) {
        FOpenState = osOpened;
        ReadLoop();
    }
    if (FOpenState == osFailed) FCtx.Abort = true;  // nobody will show anything: let the streams go at once
    while (!FCtx.Abort) SleepMs(100);
    CloseStreams();
    FReadFinished = true;
}

bool TPlayback::QueuesFull() const {
    TPacketQueue& audio = const_cast<TSoundOutput&>(FAudio).Packets();
    TPacketQueue& video = const_cast<TVideoDecoder&>(FVideo).Packets();
    TPacketQueue& subtitles = const_cast<TSubtitleDecoder&>(FSubtitles).Packets();
    if (audio.ByteSize() + video.ByteSize() + subtitles.ByteSize() > MaxQueueBytes) return true;
    const bool audioEnough = FAudio.Stream() < 0 || audio.ByteSize() > MinAudioQueueBytes;
    const bool videoEnough = FVideo.Stream() < 0 || video.Count() > MinFrames;
    const bool subEnough = FSubtitles.Stream() < 0 || subtitles.Count() > MinFrames;
    return audioEnough && videoEnough && subEnough;
}

void TPlayback::ReadLoop() {
    AVFormatContext* ic = FInput.get();
    PacketPtr packet(avcodec().av_packet_alloc());
    while (!FCtx.Abort) {
        if (FCtx.Paused != FLastPaused) {
            FLastPaused = FCtx.Paused;
            if (FLastPaused)
                avformat().av_read_pause(ic);
            else
                avformat().av_read_play(ic);
        }
        PerformSeek();
        if (QueuesFull()) {
            SleepMs(10);
            continue;
        }
        if (FCtx.EndOfInput) {
            // Let the decoder hand out the pictures it still holds.
            if (FVideo.Stream() >= 0 && FVideo.Packets().Count() == 0) FVideo.Packets().PutEmpty();
            FCtx.Seek.PictureReady.Set();
            SleepMs(10);
            if (FAudio.Packets().Count() == 0 && FVideo.Packets().Count() == 0 && FSubtitles.Packets().Count() == 0)
                FCtx.EndReached = true;
            continue;
        }
        ReadPacket(*packet);
    }
}

void TPlayback::ReadPacket(AVPacket& packet) {
    AVFormatContext* ic = FInput.get();
    FInBlockingRead = true;
    const int err = avformat().av_read_frame(ic, &packet);
    FInBlockingRead = false;
    if (err == AVERROR(EAGAIN)) {
        SleepMs(10);
        return;
    }
    if (err < 0) {
        FCtx.Seek.PictureReady.Set();
        if (!FErrorReported && !FImageSequence) {
            FErrorReported = true;
            if (err == AVERROR_EOF)
                FCtx.Log(llInfo, Format("reach end of file: %s", FOptions.FileName.c_str()));
            else
                FCtx.Log(llError, Format("error #%d while reading file: %s", err, FOptions.FileName.c_str()));
        }
        // The end, a failing device, or a demuxer that keeps failing at the same place: what
        // was read plays out and the end is reported, rather than a frozen picture that
        // still counts as playing.
        if (err == AVERROR_EOF || (ic->pb && (ic->pb->eof_reached || ic->pb->error)) ||
            ++FReadFailures >= MaxReadFailures) {
            FCtx.EndOfInput = true;
            return;
        }
        SleepMs(100);
        return;
    }
    FReadFailures = 0;
    PacketPtr owned(avcodec().av_packet_alloc());
    avcodec().av_packet_move_ref(owned.get(), &packet);
    const int index = owned->stream_index;
    if (index == FAudio.Stream())
        FAudio.Packets().Put(std::move(owned));
    else if (index == FVideo.Stream())
        FVideo.Packets().Put(std::move(owned));
    else if (index == FSubtitles.Stream())
        FSubtitles.Packets().Put(std::move(owned));
}

// ---- seeking ----

void TPlayback::PerformSeek() {
    TSeekRequest request;
    if (!FCtx.Seek.Pending(request)) return;
    AVFormatContext* ic = FInput.get();
    const std::int64_t target = request.Target, relative = request.Relative;
    const int flags = request.Flags;
    const std::int64_t minTs = relative > 0 ? target - relative + 2 : std::numeric_limits<std::int64_t>::min();
    const std::int64_t maxTs = relative < 0 ? target - relative - 2 : std::numeric_limits<std::int64_t>::max();
    int err = avformat().avformat_seek_file(ic, -1, minTs, target, maxTs, flags);
    if (err < 0) err = avformat().av_seek_frame(ic, -1, target, flags);
    if (err < 0) err = avformat().av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    if (err < 0) {
        FCtx.Log(llError, Format("%s: error while seeking", FOptions.FileName.c_str()));
        FCtx.Seek.PictureReady.Set();
    } else {
        const int serial = FCtx.Seek.Cut();
        if (FAudio.Stream() >= 0) {
            FAudio.Packets().Clear();
            FAudio.Packets().PutFlush(serial);
            // Until the sound plays on from there (not at all while paused), the clock stands
            // where the seek went.
            if (!(flags & AVSEEK_FLAG_BYTE)) FCtx.Clocks.SoundAt(target / 1000000.0);
        }
        if (FSubtitles.Stream() >= 0) {
            FSubtitles.Packets().Clear();
            FSubtitles.Packets().PutFlush(serial);
        }
        if (FVideo.Stream() >= 0) {
            FVideo.Packets().Clear();
            FVideo.Packets().PutFlush(serial);
            FVideo.Pictures().Wake();
        } else {
            FCtx.Seek.PictureReady.Set();
        }
    }
    FCtx.EndOfInput = false;
    FCtx.EndReached = false;
    FCtx.EndReported = false;
    FErrorReported = false;
    FReadFailures = 0;
    FCtx.Seek.Finish();
}

void TPlayback::RequestSeek(std::int64_t target, std::int64_t relative, int flags) {
    FCtx.Seek.Request({target, relative, flags});
}

std::int64_t TPlayback::CurrentBytePosition() const {
    AVFormatContext* ic = FInput.get();
    return ic && ic->pb ? avformat().avio_seek(ic->pb, 0, SEEK_CUR) : -1;
}

// ---- pause ----

void TPlayback::TogglePause() {
    if (!FCtx.Seek.Done.WaitFor(std::chrono::milliseconds(250))) FCtx.Seek.Done.Set();
    if (FCtx.Paused) {
        const double now = TPlaybackClocks::Now();
        FVideo.Pictures().ShiftTimes(FCtx.Clocks.ResumePicture(now));
        FCtx.Clocks.ResumeSound(now);
        FCtx.Paused = false;
    } else {
        if (FCtx.HasVideo && !FCtx.Seek.PictureReady.WaitFor(std::chrono::milliseconds(250)))
            FCtx.Seek.PictureReady.Set();
        FCtx.Clocks.PauseSound();
        FCtx.Paused = true;
    }
}
