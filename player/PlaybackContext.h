#pragma once
// What the parts of one playback share: the owner's interface, the input, the flags every
// thread looks at, the clocks, the seek protocol and the counters.
//
// Thread rules: the read thread fills in Input, StartTime and the stream flags before it
// starts any part's thread and before it reports the input opened; after that they do not
// change until every thread but the owner's has been joined. The flags are atomics and may
// be read and set from any thread. Clocks and Seek keep their own locks.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/AVHandles.h"
#include "engine/FFmpegLogger.h"
#include "engine/FrameBitmap.h"
#include "engine/SourcePicture.h"
#include "player/ManualEvent.h"
#include "player/PlaybackClock.h"
#include "player/SeekControl.h"

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

// What the playback asks of and reports to its owner; called on the playback's threads.
class TPlaybackHost {
public:
    virtual ~TPlaybackHost() = default;
    virtual void PlaybackState(TPlayState state) = 0;
    virtual bool WantsPositions() const = 0;
    virtual void PlaybackPosition(std::int64_t microseconds) = 0;
    virtual bool WantsHook() const = 0;
    // May throw: the picture is then shown as it was decoded.
    virtual void PlaybackHook(TFrameBitmap& bitmap, std::int64_t microseconds) = 0;
    virtual int Volume() const = 0;  // 0..128
    virtual bool Muted() const = 0;
    virtual double AspectSetting() const = 0;
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // The read thread gave up after opening: the display loop should end.
    virtual void PlaybackQuit() = 0;
};

struct TPlaybackStatistics {
    int PicturesShown = 0;
    int PicturesDropped = 0;     // late at the display plus skipped after decoding
    double MaxAVOffset = 0;      // seconds, pictures shown while the sound ran
};

struct TPlaybackContext {
    TPlaybackContext(TPlaybackHost& host, const void* sender) : Host(host), Sender(sender) {}

    TPlaybackHost& Host;
    const void* Sender;           // names the playback in log lines
    std::string FileName;
    bool StartPaused = false;
    TSourcePictureSwitches PictureSwitches;  // which of the source's own steps the pictures get

    AVFormatContext* Input = nullptr;
    std::int64_t StartTime = 0;   // microseconds
    bool CaptureDevice = false;
    std::atomic<bool> HasAudio{false}, HasVideo{false};

    std::atomic<bool> Abort{false};
    std::atomic<bool> Paused{false};
    std::atomic<bool> EndOfInput{false};   // nothing more will be read
    std::atomic<bool> EndReached{false};   // ... and every queue is empty
    std::atomic<bool> EndReported{false};  // cleared by the next decoded picture
    std::atomic<bool> FirstShown{false};   // a picture has been on show
    std::atomic<bool> RefreshPending{false};

    TPlaybackClocks Clocks{Paused};
    TSeekControl Seek;

    // Posted, never waited for: the sound callback and the decoders must not wait for the
    // main thread, which may be waiting for them (closing the device, joining a thread).
    void Log(TLogLevel level, const std::string& message) const { FFLogger().Post(Sender, level, message); }

    void CountShown(double avOffset, bool withSound);
    void CountDropped();
    TPlaybackStatistics Statistics() const;

private:
    mutable std::mutex FStatsMutex;
    TPlaybackStatistics FStats;
};

// The time base's seconds of a stream of the input.
double StreamTimeBase(const TPlaybackContext& ctx, int stream);
void SleepMs(int ms);
