#include "tests/player/PlayerTestSupport.h"

#include <cstdlib>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThread.h"

namespace playertest {

namespace {
testsupport::TempDir* gDir = nullptr;

void MakeWithFfmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = testsupport::Run(argv);
    if (r.exitCode != 0) throw std::runtime_error("ffmpeg failed: " + r.err);
}

std::uint32_t BigEndian32(const std::string& d, std::size_t at) {
    return std::uint32_t(std::uint8_t(d[at])) << 24 | std::uint32_t(std::uint8_t(d[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(d[at + 2])) << 8 | std::uint32_t(std::uint8_t(d[at + 3]));
}

// A fragmented MP4 whose second fragment points its samples before the start of the file:
// every read from there on fails the same way, and never as the end of the file.
void MakeUnreadableAfterOneSecond(const std::string& output) {
    const std::string whole = output + ".whole.mp4";
    testsupport::MakeClip(whole, 3, {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac",
                                     "-movflags", "frag_keyframe+empty_moov"});
    std::string d = testsupport::ReadFile(whole);
    std::vector<std::size_t> moofs;
    for (std::size_t at = 0; at + 8 <= d.size();) {
        const std::uint32_t size = BigEndian32(d, at);
        if (d.compare(at + 4, 4, "moof") == 0) moofs.push_back(at);
        if (size < 8) break;
        at += size;
    }
    if (moofs.size() < 2) throw std::runtime_error("no second fragment in " + whole);
    const std::size_t end = moofs[1] + BigEndian32(d, moofs[1]);
    int patched = 0;
    for (std::size_t at = d.find("trun", moofs[1]); at != std::string::npos && at < end; at = d.find("trun", at + 4)) {
        if (!(BigEndian32(d, at + 4) & 1)) continue;  // no data offset
        const char offset[4] = {char(0x90), 0, 0, 0};
        d.replace(at + 12, 4, offset, 4);
        ++patched;
    }
    if (!patched) throw std::runtime_error("no data offset in " + whole);
    testsupport::WriteFile(output, d);
}
void Put(std::string& out, std::uint32_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out += char((value >> (8 * k)) & 0xff);
}

void PgsSegment(std::string& out, std::uint8_t type, const std::string& data) {
    out += "PG";
    Put(out, 0, 4);  // presentation time
    Put(out, 0, 4);  // decoding time
    out += char(type);
    Put(out, std::uint32_t(data.size()), 2);
    out += data;
}

// A black clip with one bitmap subtitle from its start: a 32x32 square at the top left, white
// at half opacity (the ffmpeg program cannot make bitmap subtitles, so they are written here
// as a Blu-ray subtitle stream and muxed in).
void MakeSubtitled(const std::string& output) {
    const std::string video = output + ".video.mp4", sup = output + ".sup";
    MakeWithFfmpeg({"-f", "lavfi", "-i", "color=c=black:s=320x240:r=25", "-t", "3", "-c:v", "libx264", "-preset",
                    "ultrafast", video});
    std::string pcs, wds, pds, ods, rle;
    Put(pcs, 320, 2), Put(pcs, 240, 2), Put(pcs, 0x10, 1), Put(pcs, 0, 2), Put(pcs, 0x80, 1), Put(pcs, 0, 1);
    Put(pcs, 0, 1), Put(pcs, 1, 1), Put(pcs, 0, 2), Put(pcs, 0, 1), Put(pcs, 0, 1), Put(pcs, 0, 2), Put(pcs, 0, 2);
    Put(wds, 1, 1), Put(wds, 0, 1), Put(wds, 0, 2), Put(wds, 0, 2), Put(wds, 32, 2), Put(wds, 32, 2);
    Put(pds, 0, 1), Put(pds, 0, 1), Put(pds, 1, 1), Put(pds, 235, 1), Put(pds, 128, 1), Put(pds, 128, 1);
    Put(pds, 128, 1);  // opacity
    for (int y = 0; y < 32; ++y) rle += std::string("\x00\xa0\x01\x00\x00", 5);  // 32 of colour 1, end of line
    Put(ods, 0, 2), Put(ods, 0, 1), Put(ods, 0xc0, 1), Put(ods, std::uint32_t(rle.size() + 4), 3);
    Put(ods, 32, 2), Put(ods, 32, 2);
    ods += rle;
    std::string stream;
    PgsSegment(stream, 0x16, pcs);
    PgsSegment(stream, 0x17, wds);
    PgsSegment(stream, 0x14, pds);
    PgsSegment(stream, 0x15, ods);
    PgsSegment(stream, 0x80, "");
    testsupport::WriteFile(sup, stream);
    MakeWithFfmpeg({"-i", video, "-i", sup, "-map", "0", "-map", "1", "-c", "copy", output});
}

}  // namespace

void SetUpPlayerLibraries() {
    static bool done = false;
    if (done) return;
    done = true;
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    TheMainThread();  // this thread is the main thread from here on
    FFLogger().TriggerEventInMainThread = false;
    if (!FFLoader().LoadLibrarySet(PlayerLibraries)) throw std::runtime_error(FFLoader().LastError());
    FFLogger().SetLogLevel(llQuiet);
}

std::string Clip(const std::string& name) {
    if (!gDir) {
        gDir = new testsupport::TempDir;  // lives as long as the process
        testsupport::MakeClip(gDir->file("clip.mp4"), 3,
                              {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac"});
        testsupport::MakeClip(gDir->file("tone.m4a"), 2, {"-map", "1:a", "-c:a", "aac"});
        MakeWithFfmpeg({"-f", "lavfi", "-i",
                        "color=c=black:s=160x120:r=25,drawbox=c=white:t=fill:enable='lt(mod(t\\,1)\\,0.039)'",
                        "-f", "lavfi", "-i",
                        "aevalsrc='if(lt(mod(t\\,1)\\,0.01)\\,0.9*sin(2*PI*1000*t)\\,0)':s=44100", "-t", "3",
                        "-c:v", "libx264", "-preset", "ultrafast", "-bf", "0", "-g", "25", "-c:a", "aac",
                        gDir->file("flash.mp4")});
        MakeUnreadableAfterOneSecond(gDir->file("unreadable.mp4"));
        MakeSubtitled(gDir->file("subtitled.mkv"));
        // A second of mono at 22 050 Hz, then a second of stereo at 44 100 Hz, in one stream.
        MakeWithFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-t", "1", "-ac", "1", "-c:a",
                        "aac", "-f", "mpegts", gDir->file("first.ts")});
        MakeWithFfmpeg({"-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100", "-t", "1", "-ac", "2", "-c:a",
                        "aac", "-output_ts_offset", "1", "-f", "mpegts", gDir->file("second.ts")});
        testsupport::WriteFile(gDir->file("ratechange.ts"), testsupport::ReadFile(gDir->file("first.ts")) +
                                                                 testsupport::ReadFile(gDir->file("second.ts")));
    }
    return gDir->file(name);
}

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool ServeUntil(const std::function<bool()>& done, double timeoutSeconds, const std::function<void()>& extra) {
    const double until = Seconds() + timeoutSeconds;
    while (!done()) {
        if (Seconds() > until) return false;
        TheMainThread().ServePending();
        if (extra) extra();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void ServeFor(double seconds, const std::function<void()>& extra) {
    ServeUntil([] { return false; }, seconds, extra);
}

void TRecordingSink::ShowPicture(const TShownPicture& shown) {
    TSeenPicture s;
    s.Pts = shown.Pts;
    s.Aspect = shown.Aspect;
    s.AudioClock = shown.AudioClock;
    s.HasAudio = shown.HasAudio;
    s.Wall = Seconds();
    const TFrameBitmap& b = *shown.Picture;
    s.Width = b.Width();
    s.Height = b.Height();
    if (!b.Empty()) {
        for (int k = 0; k < 3; ++k) s.Corner[k] = b.Row(0)[k];
        double sum = 0;
        int n = 0;
        for (int y = 0; y < b.Height(); y += 7)
            for (int x = 0; x < b.Width(); x += 7) {
                const std::uint8_t* px = b.Row(y) + x * 3;
                const int v = (px[0] + px[1] + px[2]) / 3;
                sum += v;
                ++n;
                if (v > 128) s.AnyLight = true;
            }
        s.Brightness = n ? sum / n : 0;
    }
    std::lock_guard lock(FMutex);
    FSeen.push_back(s);
}

void TRecordingSink::ClearPicture() {
    std::lock_guard lock(FMutex);
    ++FClears;
}

std::vector<TSeenPicture> TRecordingSink::Seen() const {
    std::lock_guard lock(FMutex);
    return FSeen;
}

int TRecordingSink::Clears() const {
    std::lock_guard lock(FMutex);
    return FClears;
}

}  // namespace playertest
