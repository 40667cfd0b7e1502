#include "player/SubtitleDecoder.h"

#include "engine/FFUtils.h"

namespace {
constexpr std::size_t MaxSubPictures = 4;
}

struct TSubtitleDecoder::TSubPicture {
    AVSubtitle Sub{};
    double Pts = 0;
    ~TSubPicture() { avcodec().avsubtitle_free(&Sub); }
    double Start() const { return Pts + Sub.start_display_time / 1000.0; }
    double End() const { return Pts + Sub.end_display_time / 1000.0; }
};

TSubtitleDecoder::TSubtitleDecoder(TPlaybackContext& ctx) : FCtx(ctx) {}

TSubtitleDecoder::~TSubtitleDecoder() {
    Stop();
    FSubPictures.clear();
}

void TSubtitleDecoder::Start(int stream, CodecContextPtr codec) {
    FCodec = std::move(codec);
    FStream = stream;
    FPackets.Start();
    FPackets.PutFlush(FCtx.Seek.Serial());
    FThread = std::thread([this] { Thread(); });
}

void TSubtitleDecoder::Stop() {
    if (FStream < 0) return;
    FPackets.Abort();
    {
        std::lock_guard lock(FMutex);
        FChanged.notify_all();
    }
    if (FThread.joinable()) FThread.join();
    FCodec.reset();
    FPackets.Clear();
}

void TSubtitleDecoder::Thread() {
    AVStream* st = FCtx.Input->streams[FStream];
    for (;;) {
        PacketPtr packet;
        const int got = FPackets.Get(packet, true);
        if (got < 0) break;
        if (got == 2) {
            avcodec().avcodec_flush_buffers(FCodec.get());
            std::lock_guard lock(FMutex);
            FSubPictures.clear();
            continue;
        }
        auto sp = std::make_unique<TSubPicture>();
        int gotSub = 0;
        if (avcodec().avcodec_decode_subtitle2(FCodec.get(), &sp->Sub, &gotSub, packet.get()) < 0 || !gotSub)
            continue;
        if (sp->Sub.format != 0) continue;  // text subtitles are not drawn
        if (sp->Sub.pts != AV_NOPTS_VALUE)
            sp->Pts = sp->Sub.pts / double(AV_TIME_BASE);
        else if (packet->pts != AV_NOPTS_VALUE)
            sp->Pts = packet->pts * av_q2d(st->time_base);
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return FSubPictures.size() < MaxSubPictures || FPackets.Aborted(); });
        if (FPackets.Aborted()) break;
        FSubPictures.push_back(std::move(sp));
    }
}

void TSubtitleDecoder::Blend(TFrameBitmap& bitmap, double pts) {
    std::lock_guard lock(FMutex);
    // Subtitles whose time is over give way to the next.
    while (!FSubPictures.empty() &&
           (pts > FSubPictures.front()->End() || (FSubPictures.size() > 1 && pts >= FSubPictures[1]->Start()))) {
        FSubPictures.erase(FSubPictures.begin());
        FChanged.notify_all();
    }
    if (FSubPictures.empty() || pts < FSubPictures.front()->Start()) return;
    const AVSubtitle& sub = FSubPictures.front()->Sub;
    const int canvasW = FCodec && FCodec->width > 0 ? FCodec->width : bitmap.Width();
    const int canvasH = FCodec && FCodec->height > 0 ? FCodec->height : bitmap.Height();
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
