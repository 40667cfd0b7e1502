#pragma once
// Owning handles for the media libraries' objects: every object has one owner that frees it.
#include <cstdio>
#include <memory>

#include "engine/LibAVApi.h"

struct AVFrameDeleter {
    void operator()(AVFrame* f) const { avutil().av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

struct AVPacketDeleter {
    void operator()(AVPacket* p) const { avcodec().av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;

// Freeing a codec context needs no lock of ours: it touches that context only.
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec().avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct InputContextDeleter {
    void operator()(AVFormatContext* c) const { avformat().avformat_close_input(&c); }
};
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;

// A format context that was never opened for reading (templates, outputs before their file).
struct FormatContextDeleter {
    void operator()(AVFormatContext* c) const { avformat().avformat_free_context(c); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;

// An output context: its file (when the format writes one and it was opened) is closed
// before the context is freed.
struct OutputContextDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->pb && c->oformat && !(c->oformat->flags & AVFMT_NOFILE)) avformat().avio_closep(&c->pb);
        avformat().avformat_free_context(c);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct FilterInOutDeleter {
    void operator()(AVFilterInOut* p) const { avfilter().avfilter_inout_free(&p); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;

struct FilterGraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter().avfilter_graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct SwsDeleter {
    void operator()(SwsContext* c) const { swscale().sws_freeContext(c); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

struct SwrDeleter {
    void operator()(SwrContext* c) const { swresample().swr_free(&c); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

struct AudioFifoDeleter {
    void operator()(AVAudioFifo* f) const { avutil().av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// Sample planes made by av_samples_alloc into a pointer array of AV_NUM_DATA_POINTERS:
// the first plane holds the one buffer, the array is freed after it.
struct SamplePlanesDeleter {
    void operator()(uint8_t** planes) const {
        avutil().av_freep(&planes[0]);
        avutil().av_free(planes);
    }
};
using SamplePlanesPtr = std::unique_ptr<uint8_t*, SamplePlanesDeleter>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct BsfDeleter {
    void operator()(AVBSFContext* c) const { avcodec().av_bsf_free(&c); }
};
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;

struct DictDeleter {
    void operator()(AVDictionary* d) const { avutil().av_dict_free(&d); }
};
using DictPtr = std::unique_ptr<AVDictionary, DictDeleter>;

// An AVDictionary owned by a scope; Get() hands the address the library calls want.
class Dictionary {
public:
    Dictionary() = default;
    explicit Dictionary(AVDictionary* d) : FDict(d) {}
    ~Dictionary() { Reset(); }
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    Dictionary(Dictionary&& o) noexcept : FDict(o.FDict) { o.FDict = nullptr; }
    Dictionary& operator=(Dictionary&& o) noexcept {
        if (this != &o) {
            Reset();
            FDict = o.FDict;
            o.FDict = nullptr;
        }
        return *this;
    }
    AVDictionary** Address() { return &FDict; }
    AVDictionary* Get() const { return FDict; }
    void Reset() {
        if (FDict) avutil().av_dict_free(&FDict);
    }

private:
    AVDictionary* FDict = nullptr;
};
