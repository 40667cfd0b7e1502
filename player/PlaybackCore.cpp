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
constexpr int AudioBufferBytes = 288000;
constexpr int SdlSamples = 1024;
constexpr int SampleArraySize = 2 * 65536;
constexpr double NoSyncThreshold = 10.0;
constexpr int AudioDiffAvgNb = 20;
constexpr int SampleCorrectionPercentMax = 10;
constexpr std::size_t MaxSubPictures = 4;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

// ---- TManualEvent ----

void TManualEvent::Set() {
    std::lock_guard lock(FMutex);
    FSet = true;
    FChanged.notify_all();
}

void TManualEvent::Reset() {
    std::lock_guard lock(FMutex);
    FSet = false;
}

bool TManualEvent::IsSet() const {
    std::lock_guard lock(FMutex);
    return FSet;
}

bool TManualEvent::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FSet; });
}

// ---- subpictures ----

struct TPlayback::TSubPicture {
    AVSubtitle Sub{};
    double Pts = 0;
    ~TSubPicture() { avcodec().avsubtitle_free(&Sub); }
    double Start() const { return Pts + Sub.start_display_time / 1000.0; }
    double End() const { return Pts + Sub.end_display_time / 1000.0; }
};

// ---- life ----

TPlayback::TPlayback(TPlaybackHost& host, TPlaybackOptions options, VideoSink* sink)
    : FHost(host), FOptions(std::move(options)), FSink(sink) {
    if (FOptions.DisableDisplay) FOptions.DisableVideo = true;
    FPaused = FOptions.StartPaused;
    FLastPaused = false;
    FSampleArray.assign(SampleArraySize, 0);
}

TPlayback::~TPlayback() { Close(); }

void TPlayback::Start() { FReadThread = std::thread([this] { ReadThread(); }); }

double TPlayback::Now() const { return avutil().av_gettime_relative() / 1000000.0; }

void TPlayback::Log(TLogLevel level, const std::string& message) { FFLogger().Log(this, level, message); }

void TPlayback::Fail(const std::string& message) {
    FError = message;
    FOpenState = osFailed;
}

int TPlayback::InterruptCallback(void* opaque) { return static_cast<TPlayback*>(opaque)->FAbort.load() ? 1 : 0; }

int TPlayback::CodedWidth() const {
    return FVideoStream >= 0 ? FInput->streams[FVideoStream]->codecpar->width : -1;
}

int TPlayback::CodedHeight() const {
    return FVideoStream >= 0 ? FInput->streams[FVideoStream]->codecpar->height : -1;
}

void TPlayback::Close() {
    std::call_once(FClosed, [this] {
        FAbort = true;
        // The read thread waits for the abort flag and then closes the streams, which stops
        // the decoders and the sound.
        if (FReadThread.joinable()) FReadThread.join();
        if (FRefreshThread.joinable()) FRefreshThread.join();
        {
            std::lock_guard lock(FPictMutex);
            FBitmapPool.clear();
            for (TPictureSlot& s : FPict) s.Bitmap.reset();
        }
        FSubPictures.clear();
        FGraph.reset();
        FInput.reset();
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
    err = avformat().avformat_find_stream_info(ic, nullptr);
    if (err < 0) {
        Fail(Format("%s: could not find codec parameters", FOptions.FileName.c_str()));
        return false;
    }
    if (ic->pb) ic->pb->eof_reached = 0;
    const char* name = ic->iformat->name ? ic->iformat->name : "";
    FSeekByBytes = (ic->iformat->flags & AVFMT_TS_DISCONT) != 0;
    FImageSequence = std::strcmp(name, "image2") == 0;
    FCaptureDevice = std::strcmp(name, "video4linux2,v4l2") == 0;
    FStartTime = ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time;
    FDuration = ic->duration == AV_NOPTS_VALUE ? -1 : ic->duration;

    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    // The stream of each kind with the most frames seen while probing.
    int video = -1, audio = -1, subtitle = -1;
    if (!FOptions.DisableVideo)
        video = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (!FOptions.DisableAudio)
        audio = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    if (!FOptions.DisableVideo)
        subtitle = avformat().av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1, audio >= 0 ? audio : video,
                                                  nullptr, 0);
    if (audio >= 0) OpenStream(audio);
    if (video >= 0) OpenStream(video);
    if (subtitle >= 0) OpenStream(subtitle);
    if (FAudioStream < 0 && FVideoStream < 0) {
        Fail(Format("%s: could not open codecs, no stream to play.", FOptions.FileName.c_str()));
        return false;
    }
    return true;
}

void TPlayback::ReadThread() {
    if (OpenInput()) {
        FOpenState = osOpened;
        ReadLoop();
    }
    const bool failed = FOpenState == osFailed;
    if (failed) FAbort = true;  // nobody will show anything: let the streams go at once
    while (!FAbort) SleepMs(100);
    CloseStreams();
    if (!failed) {
        // The display loop is still there: nothing has told it why reading stopped.
    }
    FReadFinished = true;
}

bool TPlayback::QueuesFull() const {
    const std::int64_t bytes = FAudioQueue.ByteSize() + FVideoQueue.ByteSize() + FSubtitleQueue.ByteSize();
    if (bytes > MaxQueueBytes) return true;
    const bool audioEnough = FAudioStream < 0 || FAudioQueue.ByteSize() > MinAudioQueueBytes;
    const bool videoEnough = FVideoStream < 0 || FVideoQueue.Count() > MinFrames;
    const bool subEnough = FSubtitleStream < 0 || FSubtitleQueue.Count() > MinFrames;
    return audioEnough && videoEnough && subEnough;
}

void TPlayback::ReadLoop() {
    AVFormatContext* ic = FInput.get();
    PacketPtr packet(avcodec().av_packet_alloc());
    while (!FAbort) {
        if (FPaused != FLastPaused) {
            FLastPaused = FPaused;
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
        if (FEndOfInput) {
            // Let the decoder hand out the pictures it still holds.
            if (FVideoStream >= 0 && FVideoQueue.Count() == 0) FVideoQueue.PutEmpty();
            PictureReady.Set();
            SleepMs(10);
            if (FAudioQueue.Count() == 0 && FVideoQueue.Count() == 0 && FSubtitleQueue.Count() == 0)
                FEndReached = true;
            continue;
        }
        FInBlockingRead = true;
        int err = avformat().av_read_frame(ic, packet.get());
        FInBlockingRead = false;
        if (err == AVERROR(EAGAIN)) {
            SleepMs(10);
            continue;
        }
        if (err < 0) {
            PictureReady.Set();
            if (!FErrorReported && !FImageSequence) {
                FErrorReported = true;
                if (err == AVERROR_EOF)
                    Log(llInfo, Format("reach end of file: %s", FOptions.FileName.c_str()));
                else
                    Log(llError, Format("error #%d while reading file: %s", err, FOptions.FileName.c_str()));
            }
            if (err == AVERROR_EOF || (ic->pb && ic->pb->eof_reached)) {
                FEndOfInput = true;
                continue;
            }
            if (ic->pb && ic->pb->error) break;
            SleepMs(100);
            continue;
        }
        PacketPtr owned(avcodec().av_packet_alloc());
        avcodec().av_packet_move_ref(owned.get(), packet.get());
        const int index = owned->stream_index;
        if (index == FAudioStream)
            FAudioQueue.Put(std::move(owned));
        else if (index == FVideoStream)
            FVideoQueue.Put(std::move(owned));
        else if (index == FSubtitleStream)
            FSubtitleQueue.Put(std::move(owned));
    }
}

void TPlayback::PerformSeek() {
    std::int64_t target, relative;
    int flags;
    {
        std::lock_guard lock(FSeekMutex);
        if (!FSeekRequest) return;
        target = FSeekTarget;
        relative = FSeekRelative;
        flags = FSeekFlags;
    }
    AVFormatContext* ic = FInput.get();
    const std::int64_t minTs = relative > 0 ? target - relative + 2 : std::numeric_limits<std::int64_t>::min();
    const std::int64_t maxTs = relative < 0 ? target - relative - 2 : std::numeric_limits<std::int64_t>::max();
    int err = avformat().avformat_seek_file(ic, -1, minTs, target, maxTs, flags);
    if (err < 0) err = avformat().av_seek_frame(ic, -1, target, flags);
    if (err < 0) err = avformat().av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
    if (err < 0) {
        Log(llError, Format("%s: error while seeking", FOptions.FileName.c_str()));
        PictureReady.Set();
    } else {
        if (FAudioStream >= 0) {
            FAudioQueue.Clear();
            FAudioQueue.PutFlush();
            if (!(flags & AVSEEK_FLAG_BYTE)) {
                // Until the sound plays on from there (not at all while paused), the clock
                // stands where the seek went.
                std::lock_guard lock(FAudioClockMutex);
                FAudioClockBase = target / 1000000.0;
                FAudioClockBaseTime = Now();
            }
        }
        if (FSubtitleStream >= 0) {
            FSubtitleQueue.Clear();
            FSubtitleQueue.PutFlush();
        }
        if (FVideoStream >= 0) {
            FVideoQueue.Clear();
            FVideoQueue.PutFlush();
            PictureReady.Reset();
            FSerial++;
            FAfterSeek = true;
            FPictChanged.notify_all();
        }
    }
    FEndOfInput = false;
    FEndReached = false;
    FEndReported = false;
    FErrorReported = false;
    {
        std::lock_guard lock(FSeekMutex);
        FSeekRequest = false;
    }
    SeekDone.Set();
}

void TPlayback::RequestSeek(std::int64_t target, std::int64_t relative, int flags) {
    std::lock_guard lock(FSeekMutex);
    if (FSeekRequest) return;
    FSeekTarget = target;
    FSeekRelative = relative;
    FSeekFlags = flags;
    FSeekRequest = true;
    SeekDone.Reset();
}

std::int64_t TPlayback::CurrentBytePosition() const {
    AVFormatContext* ic = FInput.get();
    return ic && ic->pb ? avformat().avio_seek(ic->pb, 0, SEEK_CUR) : -1;
}

// ---- streams ----

bool TPlayback::OpenStream(int index) {
    AVFormatContext* ic = FInput.get();
    AVStream* st = ic->streams[index];
    const AVCodec* codec = avcodec().avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        Log(llError, "avcodec_open() failed.");
        return false;
    }
    CodecContextPtr ctx(avcodec().avcodec_alloc_context3(codec));
    if (!ctx || avcodec().avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) {
        Log(llError, "avcodec_open() failed.");
        return false;
    }
    ctx->pkt_timebase = st->time_base;
    ctx->workaround_bugs = 1;
    ctx->err_recognition = AV_EF_CRCCHECK;
    ctx->error_concealment = 3;
    ctx->thread_count = 1;
    int err;
    err = avcodec().avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0) {
        Log(llError, "avcodec_open() failed.");
        return false;
    }
    st->discard = AVDISCARD_DEFAULT;
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        FAudioCodec = std::move(ctx);
        FAudioStream = index;
        if (!OpenAudioOutput()) {
            FAudioCodec.reset();
            FAudioStream = -1;
            st->discard = AVDISCARD_ALL;
            return false;
        }
        FAudioStartTime = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time * av_q2d(st->time_base);
        FAudioQueue.Start();
        FAudioQueue.PutFlush();
        sdl().SDL_PauseAudioDevice(FAudioDevice, 0);
        return true;
    }
    case AVMEDIA_TYPE_VIDEO:
        FVideoCodec = std::move(ctx);
        FVideoStream = index;
        FVideoQueue.Start();
        FVideoQueue.PutFlush();
        FVideoThread = std::thread([this] { VideoThread(); });
        return true;
    case AVMEDIA_TYPE_SUBTITLE:
        FSubtitleCodec = std::move(ctx);
        FSubtitleStream = index;
        FSubtitleQueue.Start();
        FSubtitleQueue.PutFlush();
        FSubtitleThread = std::thread([this] { SubtitleThread(); });
        return true;
    default:
        st->discard = AVDISCARD_ALL;
        return false;
    }
}

bool TPlayback::OpenAudioOutput() {
    AVCodecContext* ctx = FAudioCodec.get();
    int channels = ctx->ch_layout.nb_channels;
    if (channels < 1 || channels > 2) channels = 2;  // more channels are mixed down to two
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = ctx->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(channels);
    wanted.silence = 0;
    wanted.samples = SdlSamples;
    wanted.callback = &TPlayback::AudioCallbackEntry;
    wanted.userdata = this;
    FAudioDevice = sdl().SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (FAudioDevice == 0) {
        Log(llError, std::string("SDL_OpenAudio() failed: ") + sdl().SDL_GetError());
        return false;
    }
    FAudioChannels = channels;
    FAudioRate = ctx->sample_rate;
    FAudioHwBufSize = int(obtained.size);
    FAudioBuffer.assign(AudioBufferBytes, 0);
    FAudioFrame.reset(avutil().av_frame_alloc());
    FAudioDiffAvgCoef = std::exp(std::log(0.01) / AudioDiffAvgNb);
    FAudioDiffAvgCount = 0;
    FAudioDiffThreshold = 2.0 * SdlSamples / FAudioRate;
    FAudioHoldUntil = Now() + 1.0;
    return true;
}

void TPlayback::CloseStreams() {
    if (FAudioStream >= 0) {
        FAudioQueue.Abort();
        sdl().SDL_CloseAudioDevice(FAudioDevice);  // returns once the callback has left
        FAudioDevice = 0;
        FSwr.reset();
        FAudioCodec.reset();
        FInput->streams[FAudioStream]->discard = AVDISCARD_ALL;
        FAudioQueue.Clear();
    }
    if (FVideoStream >= 0) {
        FVideoQueue.Abort();
        {
            std::lock_guard lock(FPictMutex);
            FPictChanged.notify_all();
        }
        if (FVideoThread.joinable()) FVideoThread.join();
        FVideoCodec.reset();
        FInput->streams[FVideoStream]->discard = AVDISCARD_ALL;
        FVideoQueue.Clear();
    }
    if (FSubtitleStream >= 0) {
        FSubtitleQueue.Abort();
        {
            std::lock_guard lock(FSubMutex);
            FSubChanged.notify_all();
        }
        if (FSubtitleThread.joinable()) FSubtitleThread.join();
        FSubtitleCodec.reset();
        FInput->streams[FSubtitleStream]->discard = AVDISCARD_ALL;
        FSubtitleQueue.Clear();
    }
}

// ---- video ----

bool TPlayback::ConfigureFilters(const AVFrame& frame) {
    FGraph.reset(avfilter().avfilter_graph_alloc());
    FFilterIn = FFilterOut = nullptr;
    if (!FGraph) return false;
    FGraph->scale_sws_opts = avutil().av_strdup(Format("flags=%d", SWS_BICUBIC).c_str());
    FGraph->nb_threads = 1;
    AVStream* st = FInput->streams[FVideoStream];
    AVRational sar = frame.sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
    const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame.width,
                                    frame.height, frame.format, st->time_base.num, st->time_base.den, sar.num,
                                    sar.den ? sar.den : 1);
    if (avfilter().avfilter_graph_create_filter(&FFilterIn, avfilter().avfilter_get_by_name("buffer"), "src",
                                                args.c_str(), nullptr, FGraph.get()) < 0)
        return false;
    if (avfilter().avfilter_graph_create_filter(&FFilterOut, avfilter().avfilter_get_by_name("buffersink"), "out",
                                                nullptr, nullptr, FGraph.get()) < 0)
        return false;
    // The sink asks for blue-green-red pictures: what the hook draws on and the sink paints.
    const AVPixelFormat formats[] = {AV_PIX_FMT_BGR24};
    if (avutil().av_opt_set_bin(FFilterOut, "pix_fmts", reinterpret_cast<const std::uint8_t*>(formats),
                                sizeof formats, AV_OPT_SEARCH_CHILDREN) < 0)
        return false;
    if (avfilter().avfilter_link(FFilterIn, 0, FFilterOut, 0) < 0) return false;
    if (avfilter().avfilter_graph_config(FGraph.get(), nullptr) < 0) return false;
    FGraphWidth = frame.width;
    FGraphHeight = frame.height;
    FGraphFormat = frame.format;
    return true;
}

void TPlayback::VideoThread() {
    FramePtr frame(avutil().av_frame_alloc());
    FramePtr filtered(avutil().av_frame_alloc());
    AVStream* st = FInput->streams[FVideoStream];
    const double timeBase = av_q2d(st->time_base);
    for (;;) {
        // Paused: decode nothing, except the first pictures of a playback that starts paused
        // and the picture a seek lands on.
        while (FPaused && !FAbort && !FVideoQueue.Aborted() && !FAfterSeek &&
               !(FOptions.StartPaused && FQueuedPictures < 2))
            SleepMs(10);
        PacketPtr packet;
        const int got = FVideoQueue.Get(packet, true);
        if (got < 0) break;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(FVideoCodec.get());
            std::lock_guard lock(FPictMutex);
            FDecoderSerial++;
            FPictCount = 0;
            FPictRIndex = FPictWIndex;
            FFrameTimer = Now();
            FSkipFactor = 1;
            FSkipCount = 0;
            FFrameLastPtsSet = false;
            FPictChanged.notify_all();
            continue;
        }
        const bool drain = TPacketQueue::IsEmptyMark(packet.get());
        int err = avcodec().avcodec_send_packet(FVideoCodec.get(), drain ? nullptr : packet.get());
        if (err < 0 && err != AVERROR_EOF && err != AVERROR(EAGAIN)) continue;
        bool stop = false;
        while (!stop) {
            err = avcodec().avcodec_receive_frame(FVideoCodec.get(), frame.get());
            if (err < 0) break;
            FEndReported = false;  // a new picture: the end may be reported again
            std::int64_t ts = frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) ts = frame->pkt_dts;
            const double pts = ts == AV_NOPTS_VALUE ? 0 : ts * timeBase;
            const std::int64_t pos = frame->pkt_pos;
            bool pass;
            {
                std::lock_guard lock(FPictMutex);
                FSkipCount += 1;
                pass = FSkipCount >= FSkipFactor;
                if (pass) FSkipCount -= std::max(1.0, FSkipFactor);
            }
            if (!pass) {
                std::lock_guard lock(FStatsMutex);
                FStats.PicturesDropped++;
                avutil().av_frame_unref(frame.get());
                continue;
            }
            if (!FGraph || frame->width != FGraphWidth || frame->height != FGraphHeight ||
                frame->format != FGraphFormat) {
                if (!ConfigureFilters(*frame)) {
                    Log(llError, "Cannot initialize the toRGB conversion context");
                    FGraph.reset();
                    avutil().av_frame_unref(frame.get());
                    continue;
                }
            }
            if (avfilter().av_buffersrc_add_frame(FFilterIn, frame.get()) < 0) {
                avutil().av_frame_unref(frame.get());
                continue;
            }
            while (avfilter().av_buffersink_get_frame(FFilterOut, filtered.get()) >= 0) {
                const bool queued = QueuePicture(*filtered, pts, pos);
                avutil().av_frame_unref(filtered.get());
                if (!queued) {
                    stop = true;
                    break;
                }
            }
        }
        if (FVideoQueue.Aborted()) break;
    }
}

std::shared_ptr<TFrameBitmap> TPlayback::FreeBitmap() {
    // A bitmap nobody else holds (the sink keeps the one on show until the next arrives).
    for (auto& b : FBitmapPool)
        if (b.use_count() == 1) return b;
    auto b = std::make_shared<TFrameBitmap>();
    if (FBitmapPool.size() < 8) FBitmapPool.push_back(b);
    return b;
}

void TPlayback::CopyIntoBitmap(const AVFrame& bgr, TFrameBitmap& bitmap) {
    bitmap.Resize(bgr.width, bgr.height);
    const std::size_t rowBytes = std::size_t(bgr.width) * 3;
    for (int y = 0; y < bgr.height; ++y) std::memcpy(bitmap.Row(y), bgr.data[0] + std::ptrdiff_t(y) * bgr.linesize[0], rowBytes);
}

double TPlayback::TargetClock(double pts) {
    // Under FPictMutex.
    double delay = pts - FFrameLastPts;
    if (!FFrameLastPtsSet || delay <= 0 || delay >= 10.0)
        delay = FFrameLastDelay;
    else
        FFrameLastDelay = delay;
    FFrameLastPts = pts;
    FFrameLastPtsSet = true;
    if (FAudioStream >= 0) {
        const double diff = FCurrentPtsDrift + Now() - MasterClock();
        if (FShownAny && std::fabs(diff) < NoSyncThreshold) {
            const double threshold = std::max(delay, 0.01);
            if (diff <= -threshold)
                delay = 0;
            else if (diff >= threshold)
                delay = 2 * delay;
        }
    }
    FFrameTimer += delay;
    return FFrameTimer;
}

bool TPlayback::QueuePicture(const AVFrame& bgr, double pts, std::int64_t pos) {
    std::shared_ptr<TFrameBitmap> bitmap;
    int serial;
    {
        std::unique_lock lock(FPictMutex);
        if (FPictCount >= 2 && !FRefreshPending) FSkipFactor = std::max(FSkipFactor * 0.95, 0.95);
        FPictChanged.wait(lock, [&] { return FPictCount < 2 || FAbort || FVideoQueue.Aborted(); });
        if (FAbort || FVideoQueue.Aborted()) return false;
        bitmap = FreeBitmap();
        serial = FDecoderSerial;
    }
    CopyIntoBitmap(bgr, *bitmap);
    if (FHost.WantsHook()) {
        const std::int64_t us = std::llround(pts * 1000000.0) - FStartTime;
        try {
            FHost.PlaybackHook(*bitmap, us);
        } catch (const std::exception& e) {
            Log(llError, std::string("Error occurs OnHook: ") + e.what());
            CopyIntoBitmap(bgr, *bitmap);  // the picture as it was decoded
        } catch (...) {
            Log(llError, "Error occurs OnHook: unknown error");
            CopyIntoBitmap(bgr, *bitmap);
        }
    }
    {
        std::lock_guard lock(FPictMutex);
        TPictureSlot& slot = FPict[FPictWIndex];
        slot.Bitmap = std::move(bitmap);
        slot.Pts = pts;
        slot.Pos = pos;
        slot.Serial = serial;
        FVideoClock = pts;
        slot.Target = TargetClock(pts);
        FPictWIndex = (FPictWIndex + 1) % 2;
        FPictCount++;
        FQueuedPictures++;
        // Reported by the display thread, after it has reported that it plays.
        if (FOptions.StartPaused && FQueuedPictures == 2 && !FPauseReportDone) FPauseReportDone = FPauseReportDue = true;
        FPictChanged.notify_all();
    }
    PictureReady.Set();
    return true;
}

// ---- subtitles ----

void TPlayback::SubtitleThread() {
    AVStream* st = FInput->streams[FSubtitleStream];
    for (;;) {
        PacketPtr packet;
        const int got = FSubtitleQueue.Get(packet, true);
        if (got < 0) break;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(FSubtitleCodec.get());
            std::lock_guard lock(FSubMutex);
            FSubPictures.clear();
            continue;
        }
        auto sp = std::make_unique<TSubPicture>();
        int gotSub = 0;
        if (avcodec().avcodec_decode_subtitle2(FSubtitleCodec.get(), &sp->Sub, &gotSub, packet.get()) < 0 || !gotSub)
            continue;
        if (sp->Sub.format != 0) continue;  // text subtitles are not drawn
        if (sp->Sub.pts != AV_NOPTS_VALUE)
            sp->Pts = sp->Sub.pts / double(AV_TIME_BASE);
        else if (packet->pts != AV_NOPTS_VALUE)
            sp->Pts = packet->pts * av_q2d(st->time_base);
        std::unique_lock lock(FSubMutex);
        FSubChanged.wait(lock, [&] { return FSubPictures.size() < MaxSubPictures || FSubtitleQueue.Aborted(); });
        if (FSubtitleQueue.Aborted()) break;
        FSubPictures.push_back(std::move(sp));
    }
}

void TPlayback::BlendSubtitles(TFrameBitmap& bitmap, double pts) {
    std::lock_guard lock(FSubMutex);
    // Subtitles whose time is over give way to the next.
    while (!FSubPictures.empty() &&
           (pts > FSubPictures.front()->End() ||
            (FSubPictures.size() > 1 && pts >= FSubPictures[1]->Start()))) {
        FSubPictures.erase(FSubPictures.begin());
        FSubChanged.notify_all();
    }
    if (FSubPictures.empty() || pts < FSubPictures.front()->Start()) return;
    const AVSubtitle& sub = FSubPictures.front()->Sub;
    const int canvasW = FSubtitleCodec && FSubtitleCodec->width > 0 ? FSubtitleCodec->width : bitmap.Width();
    const int canvasH = FSubtitleCodec && FSubtitleCodec->height > 0 ? FSubtitleCodec->height : bitmap.Height();
    for (unsigned i = 0; i < sub.num_rects; ++i) {
        const AVSubtitleRect* r = sub.rects[i];
        if (r->type != SUBTITLE_BITMAP || !r->data[0] || !r->data[1]) continue;
        const auto* palette = reinterpret_cast<const std::uint32_t*>(r->data[1]);  // ARGB
        for (int y = 0; y < r->h; ++y) {
            const int by = int(std::int64_t(r->y + y) * bitmap.Height() / canvasH);
            if (by < 0 || by >= bitmap.Height()) continue;
            std::uint8_t* row = bitmap.Row(by);
            for (int x = 0; x < r->w; ++x) {
                const int bx = int(std::int64_t(r->x + x) * bitmap.Width() / canvasW);
                if (bx < 0 || bx >= bitmap.Width()) continue;
                const std::uint32_t c = palette[r->data[0][y * r->linesize[0] + x]];
                const unsigned a = c >> 24;
                if (!a) continue;
                std::uint8_t* px = row + bx * 3;
                const unsigned rgb[3] = {c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff};  // B, G, R
                for (int k = 0; k < 3; ++k) px[k] = std::uint8_t((rgb[k] * a + px[k] * (255 - a)) / 255);
            }
        }
    }
}

// ---- sound ----

void TPlayback::AudioCallbackEntry(void* opaque, std::uint8_t* stream, int len) {
    static_cast<TPlayback*>(opaque)->AudioCallback(stream, len);
}

int TPlayback::DecodeAudio() {
    AVCodecContext* ctx = FAudioCodec.get();
    AVFrame* frame = FAudioFrame.get();
    for (;;) {
        if (FPaused || FAbort) return -1;
        // The sound waits (a second at most) for the first picture on show, so that both
        // start together however long the first picture takes to decode.
        if (FVideoStream >= 0 && !FFirstShown && !FEndOfInput && Now() < FAudioHoldUntil) return -1;
        int err = avcodec().avcodec_receive_frame(ctx, frame);
        if (err == 0) {
            if (!FSwr || frame->format != FAudioLastFormat) {
                AVChannelLayout out{};
                avutil().av_channel_layout_default(&out, FAudioChannels);
                SwrContext* swr = nullptr;
                err = swresample().swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, FAudioRate, &frame->ch_layout,
                                                       AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
                if (err < 0 || swresample().swr_init(swr) < 0) {
                    swresample().swr_free(&swr);
                    const char* from = avutil().av_get_sample_fmt_name(AVSampleFormat(frame->format));
                    Log(llError, Format("Cannot convert %s sample format to %s sample format", from ? from : "?",
                                        avutil().av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
                    avutil().av_frame_unref(frame);
                    return -1;
                }
                FSwr.reset(swr);
                FAudioLastFormat = frame->format;
            }
            const int bytesPerFrame = 2 * FAudioChannels;
            int capacity = int(FAudioBuffer.size()) / bytesPerFrame;
            const int wanted = int(swresample().swr_get_out_samples(FSwr.get(), frame->nb_samples));
            if (wanted > capacity) {
                FAudioBuffer.resize(std::size_t(wanted) * bytesPerFrame);
                capacity = wanted;
            }
            std::uint8_t* out = FAudioBuffer.data();
            const int samples = swresample().swr_convert(FSwr.get(), &out, capacity,
                                                         const_cast<const std::uint8_t**>(frame->extended_data),
                                                         frame->nb_samples);
            if (frame->pts != AV_NOPTS_VALUE)
                FAudioClock = frame->pts * av_q2d(FInput->streams[FAudioStream]->time_base);
            avutil().av_frame_unref(frame);
            if (samples < 0) {
                Log(llError, "av_audio_convert() failed");
                return -1;
            }
            const int size = samples * bytesPerFrame;
            FAudioClock += double(size) / (bytesPerFrame * FAudioRate);
            if (size > 0) return size;
            continue;
        }
        if (err == AVERROR_EOF) {
            avcodec().avcodec_flush_buffers(ctx);
            return -1;
        }
        PacketPtr packet;
        const int got = FAudioQueue.Get(packet, false);
        if (got <= 0) return -1;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(ctx);
            continue;
        }
        if (avcodec().avcodec_send_packet(ctx, packet.get()) < 0) Log(llInfo, "avcodec_decode_audio2() failed");
    }
}

int TPlayback::SynchronizeAudio(int size) {
    // The sound is the master clock here, so it is never stretched; kept for a video or
    // external master clock, should one be chosen.
    const bool soundIsMaster = true;
    if (soundIsMaster) return size;
    const int bytesPerFrame = 2 * FAudioChannels;
    const double diff = AudioClock() - MasterClock();
    if (std::fabs(diff) >= NoSyncThreshold) {
        FAudioDiffAvgCount = 0;
        FAudioDiffCum = 0;
        return size;
    }
    FAudioDiffCum = diff + FAudioDiffAvgCoef * FAudioDiffCum;
    if (FAudioDiffAvgCount < AudioDiffAvgNb) {
        FAudioDiffAvgCount++;
        return size;
    }
    if (std::fabs(FAudioDiffCum * (1.0 - FAudioDiffAvgCoef)) < FAudioDiffThreshold) return size;
    int wanted = size + int(std::lround(diff * FAudioRate)) * bytesPerFrame;
    const int minSize = size * (100 - SampleCorrectionPercentMax) / 100 / bytesPerFrame * bytesPerFrame;
    const int maxSize = size * (100 + SampleCorrectionPercentMax) / 100 / bytesPerFrame * bytesPerFrame;
    wanted = std::clamp(wanted, minSize, maxSize);
    if (wanted > size) {
        if (std::size_t(wanted) > FAudioBuffer.size()) FAudioBuffer.resize(wanted);
        for (int at = size; at + bytesPerFrame <= wanted; at += bytesPerFrame)
            std::memcpy(&FAudioBuffer[at], &FAudioBuffer[size - bytesPerFrame], bytesPerFrame);
    }
    return wanted;
}

void TPlayback::AudioCallback(std::uint8_t* stream, int len) {
    const double callTime = Now();
    const int volume = std::clamp(FHost.Volume(), 0, SDL_MIX_MAXVOLUME);
    const bool mute = FHost.Muted();
    bool decoded = false;
    while (len > 0) {
        if (FAudioBufIndex >= FAudioBufSize) {
            int size = DecodeAudio();
            if (size < 0) {
                size = std::min<int>(1024, int(FAudioBuffer.size()));
                std::memset(FAudioBuffer.data(), 0, size);
            } else {
                decoded = true;
                // Samples for the waveform: the first channel of each frame.
                const auto* s = reinterpret_cast<const std::int16_t*>(FAudioBuffer.data());
                for (int i = 0; i < size / 2; i += FAudioChannels) {
                    FSampleArray[FSampleIndex] = s[i];
                    FSampleIndex = (FSampleIndex + 1) % SampleArraySize;
                }
                size = SynchronizeAudio(size);
            }
            FAudioBufSize = size;
            FAudioBufIndex = 0;
        }
        const int n = std::min(len, FAudioBufSize - FAudioBufIndex);
        std::memset(stream, 0, n);
        if (!mute && volume > 0)
            sdl().SDL_MixAudioFormat(stream, FAudioBuffer.data() + FAudioBufIndex, AUDIO_S16SYS, Uint32(n), volume);
        len -= n;
        stream += n;
        FAudioBufIndex += n;
    }
    // Silence moves no clock: paused, starved or at the end, the clock keeps what it had.
    if (!decoded) return;
    // What is heard now: the end of what was handed over, less one device buffer.
    const double bytesPerSec = 2.0 * FAudioChannels * FAudioRate;
    std::lock_guard lock(FAudioClockMutex);
    FAudioClockBase = FAudioClock - (FAudioBufSize - FAudioBufIndex) / bytesPerSec - FAudioHwBufSize / bytesPerSec;
    FAudioClockBaseTime = callTime;
    FAudioClockValid = true;
}

double TPlayback::AudioClock() {
    std::lock_guard lock(FAudioClockMutex);
    if (!FAudioClockValid) return 0;
    if (FPaused) return FAudioClockBase;
    const double bytesPerSec = 2.0 * FAudioChannels * FAudioRate;
    const double since = std::clamp(Now() - FAudioClockBaseTime, 0.0, FAudioHwBufSize / bytesPerSec);
    return FAudioClockBase + since;
}

double TPlayback::VideoClock() {
    std::lock_guard lock(FPictMutex);
    return FPaused ? FCurrentPts : FCurrentPtsDrift + Now();
}

double TPlayback::MasterClock() {
    if (FAudioStream >= 0) return AudioClock();
    return FPaused ? FCurrentPts : FCurrentPtsDrift + Now();
}

// ---- display ----

void TPlayback::StartRefresh(std::function<void()> postRefresh) {
    FRefreshThread = std::thread([this, post = std::move(postRefresh)] {
        while (!FAbort) {
            if (!FRefreshPending.exchange(true)) post();
            SleepMs(FShowWaves ? 20 : 5);
        }
    });
}

void TPlayback::ShowPicture(const TPictureSlot& slot) {
    // Under FPictMutex.
    if (FSubtitleStream >= 0) BlendSubtitles(*slot.Bitmap, slot.Pts);
    FShown = slot.Bitmap;
    FShownPts = slot.Pts;
    FShownAny = true;
    FFirstShown = true;
    if (!FSink) return;
    TShownPicture shown;
    shown.Picture = slot.Bitmap;
    shown.Pts = slot.Pts;
    const double setting = FHost.AspectSetting();
    if (setting > 0) {
        shown.Aspect = setting;
    } else if (setting == 0) {
        AVRational sar = FInput->streams[FVideoStream]->codecpar->sample_aspect_ratio;
        const double pixel = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
        shown.Aspect = slot.Bitmap->Height() > 0 ? pixel * slot.Bitmap->Width() / slot.Bitmap->Height() : 0;
    }
    shown.HasAudio = FAudioStream >= 0;
    if (shown.HasAudio) {
        shown.AudioClock = AudioClock();
        std::lock_guard lock(FStatsMutex);
        bool valid;
        {
            std::lock_guard clockLock(FAudioClockMutex);
            valid = FAudioClockValid;
        }
        if (valid) FStats.MaxAVOffset = std::max(FStats.MaxAVOffset, std::fabs(slot.Pts - shown.AudioClock));
    }
    {
        std::lock_guard lock(FStatsMutex);
        FStats.PicturesShown++;
    }
    FSink->ShowPicture(shown);
}

void TPlayback::Refresh() {
    if (FPauseReportDue.exchange(false)) FHost.PlaybackState(psPause);
    if (FVideoStream >= 0) {
        std::unique_lock lock(FPictMutex);
        while (FPictCount > 0) {
            TPictureSlot& slot = FPict[FPictRIndex];
            const double now = Now();
            const bool stale = slot.Serial != FSerial;
            const bool firstAfterSeek = FAfterSeek && !stale;
            if (FPaused && !firstAfterSeek && FShownAny) break;  // paused: the picture stays
            if (!stale && !firstAfterSeek && FShownAny && now < slot.Target) break;
            FCurrentPts = slot.Pts;
            FCurrentPtsDrift = slot.Pts - now;
            double nextTarget = FPictCount > 1 ? FPict[(FPictRIndex + 1) % 2].Target : slot.Target + FVideoClock - slot.Pts;
            bool drop = stale;
            // The first picture is shown whenever it comes: decoding starts late, not slowly.
            if (!drop && !firstAfterSeek && FShownAny && !FCaptureDevice && now > nextTarget) {
                FSkipFactor *= 1.05;
                drop = FPictCount > 1 || now > nextTarget + 0.5;
            }
            if (drop) {
                std::lock_guard stats(FStatsMutex);
                FStats.PicturesDropped++;
            } else {
                if (firstAfterSeek || !FShownAny) {
                    // Shown at once: the pictures after it are timed from now, not from
                    // when decoding began.
                    const double shift = now - slot.Target;
                    FFrameTimer += shift;
                    if (FPictCount > 1) FPict[(FPictRIndex + 1) % 2].Target += shift;
                }
                if (firstAfterSeek) FAfterSeek = false;
                ShowPicture(slot);
            }
            slot.Bitmap.reset();
            FPictRIndex = (FPictRIndex + 1) % 2;
            FPictCount--;
            FPictChanged.notify_all();
            if (!drop) break;  // one picture per refresh
        }
    } else if (FAudioStream >= 0 && FShowWaves) {
        DrawWaves();
    }
    CheckPositionAndEnd();
}

void TPlayback::Redraw() {
    std::lock_guard lock(FPictMutex);
    if (!FShown || !FSink) return;
    TPictureSlot slot;
    slot.Bitmap = FShown;
    slot.Pts = FShownPts;
    ShowPicture(slot);
}

void TPlayback::DrawWaves() {
    int w = FHost.ScreenWidth(), h = FHost.ScreenHeight();
    if (w <= 0 || h <= 0) w = 640, h = 480;
    if (!FWaves || FWaves.use_count() > 1) FWaves = std::make_shared<TFrameBitmap>();
    FWaves->Resize(w, h);
    std::memset(FWaves->Bits(), 0, std::size_t(FWaves->Stride()) * h);
    // The latest samples across the width, centred on the middle line. The sound callback
    // writes them under the device's lock: they are copied out under it.
    std::vector<std::int16_t> latest(std::size_t(w), 0);
    if (FAudioDevice) sdl().SDL_LockAudioDevice(FAudioDevice);
    int start = FSampleIndex - w;
    while (start < 0) start += SampleArraySize;
    for (int x = 0; x < w; ++x) latest[std::size_t(x)] = FSampleArray[(start + x) % SampleArraySize];
    if (FAudioDevice) sdl().SDL_UnlockAudioDevice(FAudioDevice);
    const int mid = h / 2;
    for (int x = 0; x < w; ++x) {
        const int s = latest[std::size_t(x)];
        const int y = std::clamp(mid - s * (h / 2) / 32768, 0, h - 1);
        const int y0 = std::min(mid, y), y1 = std::max(mid, y);
        for (int yy = y0; yy <= y1; ++yy) {
            std::uint8_t* px = FWaves->Row(yy) + x * 3;
            px[0] = px[1] = px[2] = 255;
        }
    }
    if (!FSink) return;
    TShownPicture shown;
    shown.Picture = FWaves;
    shown.Aspect = double(w) / h;
    shown.Pts = AudioClock();
    shown.AudioClock = shown.Pts;
    shown.HasAudio = true;
    FSink->ShowPicture(shown);
}

void TPlayback::CheckPositionAndEnd() {
    if (FImageSequence) return;
    double t;
    if (FVideoStream >= 0) {
        std::lock_guard lock(FPictMutex);
        if (!FShownAny) return;
        t = FPaused ? FCurrentPts : FCurrentPtsDrift + Now();
    } else {
        t = AudioClock();
    }
    std::int64_t us = std::llround(t * 1000000.0) - FStartTime;
    if (FVideoStream < 0 && FAudioStream >= 0) {
        const std::int64_t audioStart = std::llround(FAudioStartTime * 1000000.0) - FStartTime;
        if (us < audioStart) us = audioStart;
        if (FDuration > 0 && us > FDuration) us = FDuration;
    }
    // Sound alone: its clock stops with the last sample, which may fall short of the
    // container's length; once everything is played the position is the end.
    if (FVideoStream < 0 && FEndReached && FDuration > 0) us = FDuration;
    if (FDuration > 0 && us >= FDuration) us = FDuration;
    FCurrentPosition = us;
    if (FHost.WantsPositions() && !FPaused &&
        (!FPositionReported || std::llabs(us - FLastReported) > 10000)) {
        FPositionReported = true;
        FLastReported = us;
        FHost.PlaybackPosition(us);
    }
    if (!FCaptureDevice && FEndReached && !FEndReported) {
        if (FVideoStream >= 0) {
            std::lock_guard lock(FPictMutex);
            if (FPictCount > 0) return;  // the last pictures are still to be shown
            FEndReported = true;
        }
        FHost.PlaybackState(psEnd);
    }
}

void TPlayback::TogglePause() {
    if (!SeekDone.WaitFor(std::chrono::milliseconds(250))) SeekDone.Set();
    if (FPaused) {
        std::lock_guard lock(FPictMutex);
        const double now = Now();
        const double shift = now + FCurrentPtsDrift - FCurrentPts;
        FFrameTimer += shift;
        // The queued pictures were timed before the pause.
        for (int i = 0; i < FPictCount; ++i) FPict[(FPictRIndex + i) % 2].Target += shift;
        FCurrentPtsDrift = FCurrentPts - now;
        {
            std::lock_guard clock(FAudioClockMutex);
            FAudioClockBaseTime = now;
        }
        FPaused = false;
    } else {
        if (FVideoStream >= 0 && !PictureReady.WaitFor(std::chrono::milliseconds(250))) PictureReady.Set();
        {
            std::lock_guard clock(FAudioClockMutex);
            if (FAudioClockValid) {
                const double bytesPerSec = 2.0 * FAudioChannels * FAudioRate;
                FAudioClockBase += std::clamp(Now() - FAudioClockBaseTime, 0.0, FAudioHwBufSize / bytesPerSec);
                FAudioClockBaseTime = Now();
            }
        }
        FPaused = true;
    }
}

std::shared_ptr<const TFrameBitmap> TPlayback::ShownPicture(std::int64_t* microseconds) const {
    std::lock_guard lock(FPictMutex);
    if (microseconds) *microseconds = FShown ? std::llround(FShownPts * 1000000.0) - FStartTime : -1;
    return FShown;
}

TPlaybackStatistics TPlayback::Statistics() const {
    std::lock_guard lock(FStatsMutex);
    return FStats;
}
