#pragma once
// Shared by the player tests: generated clips, a sink that records what it is shown, and
// waiting while the main-thread queue is served.
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "player/VideoSink.h"
#include "tests/support/TestSupport.h"

namespace playertest {

// Loads the player's libraries with the silent sound driver; once per process.
void SetUpPlayerLibraries();

// The clips of the suite, made once: "clip.mp4" (3 s, 320x240 at 25 fps, H.264 and AAC),
// "tone.m4a" (2 s of sound), "flash.mp4" (3 s, a white picture and a click at every whole
// second, a key picture at each), "unreadable.mp4" (like clip.mp4, but every read fails
// after its first second), "ratechange.ts" (1 s of mono sound at 22 050 Hz, then 1 s of
// stereo at 44 100 Hz), "subtitled.mkv" (3 s of black with a half-opaque white bitmap
// subtitle over its top left corner).
std::string Clip(const std::string& name);

double Seconds();  // a steady clock

// Serves the main-thread queue (and whatever extra does) until done() or the time is up.
bool ServeUntil(const std::function<bool()>& done, double timeoutSeconds,
                const std::function<void()>& extra = nullptr);
void ServeFor(double seconds, const std::function<void()>& extra = nullptr);

struct TSeenPicture {
    double Pts = 0, AudioClock = 0, Wall = 0, Aspect = 0;
    bool HasAudio = false;
    int Width = 0, Height = 0;
    std::uint8_t Corner[3] = {0, 0, 0};  // B, G, R of the top-left pixel
    double Brightness = 0;               // mean of a sample of pixels, 0..255
    bool AnyLight = false;               // some pixel brighter than mid grey
};

class TRecordingSink : public VideoSink {
public:
    void ShowPicture(const TShownPicture& shown) override;
    void ClearPicture() override;
    int SurfaceWidth() const override { return 320; }
    int SurfaceHeight() const override { return 240; }
    std::vector<TSeenPicture> Seen() const;
    int Clears() const;

private:
    mutable std::mutex FMutex;
    std::vector<TSeenPicture> FSeen;
    int FClears = 0;
};

}  // namespace playertest
