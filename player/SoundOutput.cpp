#include "player/SoundOutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/FFUtils.h"

namespace {
constexpr int BufferBytes = 288000;
constexpr int SdlSamples = 1024;
constexpr int SampleArraySize = 2 * 65536;
constexpr double NoSyncThreshold = 10.0;
constexpr int DiffAvgNb = 20;
constexpr int SampleCorrectionPercentMax = 10;
}  // namespace

TSoundOutput::TSoundOutput(TPlaybackContext& ctx) : FCtx(ctx) { FSamples.assign(SampleArraySize, 0); }

void TSoundOutput::CallbackEntry(void* opaque, std::uint8_t* stream, int len) {
    static_cast<TSoundOutput*>(opaque)->Callback(stream, len);
}

bool TSoundOutput::Open(int stream, CodecContextPtr codec) {
    AVCodecContext* ctx = codec.get();
    int channels = ctx->ch_layout.nb_channels;
    if (channels < 1 || channels > 2) channels = 2;  // more channels are mixed down to two
    SDL_AudioSpec wanted{}, obtained{};
    wanted.freq = ctx->sample_rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(channels);
    wanted.silence = 0;
    wanted.samples = SdlSamples;
    wanted.callback = &TSoundOutput::CallbackEntry;
    wanted.userdata = this;
    FDevice = sdl().SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (FDevice == 0) {
        FCtx.Log(llError, std::string("SDL_OpenAudio() failed: ") + sdl().SDL_GetError());
        return false;
    }
    FCodec = std::move(codec);
    FChannels = channels;
    FRate = ctx->sample_rate;
    FCtx.Clocks.SetSoundFormat(2.0 * FChannels * FRate, int(obtained.size));
    FBuffer.assign(BufferBytes, 0);
    FFrame.reset(avutil().av_frame_alloc());
    FDiffAvgCoef = std::exp(std::log(0.01) / DiffAvgNb);
    FDiffAvgCount = 0;
    FDiffThreshold = 2.0 * SdlSamples / FRate;
    FHoldUntil = TPlaybackClocks::Now() + 1.0;
    AVStream* st = FCtx.Input->streams[stream];
    FStartTime = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time * av_q2d(st->time_base);
    FStream = stream;
    FCtx.HasAudio = true;
    FPackets.Start();
    FPackets.PutFlush(FCtx.Seek.Serial());
    sdl().SDL_PauseAudioDevice(FDevice, 0);
    return true;
}

void TSoundOutput::Close() {
    if (FStream < 0) return;
    FPackets.Abort();
    if (FDevice) sdl().SDL_CloseAudioDevice(FDevice);  // returns once the callback has left
    FDevice = 0;
    FSwr.reset();
    avutil().av_channel_layout_uninit(&FLastLayout);
    FCodec.reset();
    FPackets.Clear();
}

void TSoundOutput::LatestSamples(std::vector<std::int16_t>& out, int count) {
    out.assign(std::size_t(std::max(count, 0)), 0);
    if (FDevice) sdl().SDL_LockAudioDevice(FDevice);
    int start = FSampleIndex - count;
    while (start < 0) start += SampleArraySize;
    for (int x = 0; x < count; ++x) out[std::size_t(x)] = FSamples[(start + x) % SampleArraySize];
    if (FDevice) sdl().SDL_UnlockAudioDevice(FDevice);
}

bool TSoundOutput::Resample(AVFrame& frame, int& bytes) {
    // A stream may change its rate or its channels anywhere (joined recordings, broadcasts):
    // a converter made for other input would play at the wrong speed or pitch.
    if (!FSwr || frame.format != FLastFormat || frame.sample_rate != FLastRate ||
        avutil().av_channel_layout_compare(&frame.ch_layout, &FLastLayout) != 0) {
        AVChannelLayout out{};
        avutil().av_channel_layout_default(&out, FChannels);
        SwrContext* swr = nullptr;
        int err = swresample().swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, FRate, &frame.ch_layout,
                                                   AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr);
        if (err < 0 || swresample().swr_init(swr) < 0) {
            swresample().swr_free(&swr);
            const char* from = avutil().av_get_sample_fmt_name(AVSampleFormat(frame.format));
            FCtx.Log(llError, Format("Cannot convert %s sample format to %s sample format", from ? from : "?",
                                     avutil().av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
            FSwr.reset();
            return false;
        }
        FSwr.reset(swr);
        FLastFormat = frame.format;
        FLastRate = frame.sample_rate;
        avutil().av_channel_layout_uninit(&FLastLayout);
        avutil().av_channel_layout_copy(&FLastLayout, &frame.ch_layout);
    }
    const int bytesPerFrame = 2 * FChannels;
    int capacity = int(FBuffer.size()) / bytesPerFrame;
    const int wanted = int(swresample().swr_get_out_samples(FSwr.get(), frame.nb_samples));
    if (wanted > capacity) {
        FBuffer.resize(std::size_t(wanted) * bytesPerFrame);
        capacity = wanted;
    }
    std::uint8_t* out = FBuffer.data();
    const int samples = swresample().swr_convert(FSwr.get(), &out, capacity,
                                                 const_cast<const std::uint8_t**>(frame.extended_data),
                                                 frame.nb_samples);
    if (samples < 0) {
        FCtx.Log(llError, "av_audio_convert() failed");
        return false;
    }
    bytes = samples * bytesPerFrame;
    return true;
}

int TSoundOutput::Decode() {
    AVCodecContext* ctx = FCodec.get();
    AVFrame* frame = FFrame.get();
    for (;;) {
        if (FCtx.Paused || FCtx.Abort) return -1;
        // The sound waits (a second at most) for the first picture on show, so that both
        // start together however long the first picture takes to decode.
        if (FCtx.HasVideo && !FCtx.FirstShown && !FCtx.EndOfInput && TPlaybackClocks::Now() < FHoldUntil)
            return -1;
        int err = avcodec().avcodec_receive_frame(ctx, frame);
        if (err == 0) {
            const double pts = frame->pts;
            int size = 0;
            const bool converted = Resample(*frame, size);
            avutil().av_frame_unref(frame);
            if (!converted) return -1;
            if (pts != AV_NOPTS_VALUE) FClock = pts * StreamTimeBase(FCtx, FStream);
            FClock += double(size) / (2.0 * FChannels * FRate);
            if (size > 0) return size;
            continue;
        }
        if (err == AVERROR_EOF) {
            avcodec().avcodec_flush_buffers(ctx);
            return -1;
        }
        PacketPtr packet;
        const int got = FPackets.Get(packet, false);
        if (got <= 0) return -1;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(ctx);
            continue;
        }
        if (avcodec().avcodec_send_packet(ctx, packet.get()) < 0) FCtx.Log(llInfo, "avcodec_decode_audio2() failed");
    }
}

int TSoundOutput::Synchronize(int size) {
    // The sound is the master clock here, so it is never stretched; kept for a video or
    // external master clock, should one be chosen.
    const bool soundIsMaster = true;
    if (soundIsMaster) return size;
    const int bytesPerFrame = 2 * FChannels;
    const double diff = FCtx.Clocks.Sound() - FCtx.Clocks.Master(false);
    if (std::fabs(diff) >= NoSyncThreshold) {
        FDiffAvgCount = 0;
        FDiffCum = 0;
        return size;
    }
    FDiffCum = diff + FDiffAvgCoef * FDiffCum;
    if (FDiffAvgCount < DiffAvgNb) {
        FDiffAvgCount++;
        return size;
    }
    if (std::fabs(FDiffCum * (1.0 - FDiffAvgCoef)) < FDiffThreshold) return size;
    int wanted = size + int(std::lround(diff * FRate)) * bytesPerFrame;
    const int minSize = size * (100 - SampleCorrectionPercentMax) / 100 / bytesPerFrame * bytesPerFrame;
    const int maxSize = size * (100 + SampleCorrectionPercentMax) / 100 / bytesPerFrame * bytesPerFrame;
    wanted = std::clamp(wanted, minSize, maxSize);
    if (wanted > size) {
        if (std::size_t(wanted) > FBuffer.size()) FBuffer.resize(wanted);
        for (int at = size; at + bytesPerFrame <= wanted; at += bytesPerFrame)
            std::memcpy(&FBuffer[at], &FBuffer[size - bytesPerFrame], bytesPerFrame);
    }
    return wanted;
}

void TSoundOutput::Callback(std::uint8_t* stream, int len) {
    const double callTime = TPlaybackClocks::Now();
    const int volume = std::clamp(FCtx.Host.Volume(), 0, SDL_MIX_MAXVOLUME);
    const bool mute = FCtx.Host.Muted();
    bool decoded = false;
    while (len > 0) {
        if (FBufIndex >= FBufSize) {
            int size = Decode();
            if (size < 0) {
                size = std::min<int>(1024, int(FBuffer.size()));
                std::memset(FBuffer.data(), 0, size);
            } else {
                decoded = true;
                // Samples for the waveform: the first channel of each frame.
                const auto* s = reinterpret_cast<const std::int16_t*>(FBuffer.data());
                for (int i = 0; i < size / 2; i += FChannels) {
                    FSamples[FSampleIndex] = s[i];
                    FSampleIndex = (FSampleIndex + 1) % SampleArraySize;
                }
                size = Synchronize(size);
            }
            FBufSize = size;
            FBufIndex = 0;
        }
        const int n = std::min(len, FBufSize - FBufIndex);
        std::memset(stream, 0, n);
        if (!mute && volume > 0)
            sdl().SDL_MixAudioFormat(stream, FBuffer.data() + FBufIndex, AUDIO_S16SYS, Uint32(n), volume);
        len -= n;
        stream += n;
        FBufIndex += n;
    }
    // Silence moves no clock: paused, starved or at the end, the clock keeps what it had.
    if (!decoded) return;
    // What is heard now: the end of what was handed over, less one device buffer.
    const double bytesPerSec = 2.0 * FChannels * FRate;
    FCtx.Clocks.SoundHeard(FClock - (FBufSize - FBufIndex) / bytesPerSec - FCtx.Clocks.DeviceSeconds(), callTime);
}
