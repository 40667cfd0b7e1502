#pragma once
// The clocks of one playback, in seconds of the input's time: the sound's clock, set by the
// sound callback from what it hands to the device, and the picture's, set by the display
// when it takes a picture. The sound is the master when there is sound; the pictures are
// timed against it.
//
// Thread rules: every member may be called from any thread. Each call takes the clocks' own
// lock and calls nothing else while it holds it, so a caller may hold its own lock (the
// picture queue's) around a call, never the other way round.
#include <atomic>
#include <mutex>

class TPlaybackClocks {
public:
    explicit TPlaybackClocks(const std::atomic<bool>& paused) : FPaused(paused) {}

    static double Now();  // the wall clock, seconds

    // Sound. The format is set once, before the callback first runs.
    void SetSoundFormat(double bytesPerSecond, int deviceBytes);
    double DeviceSeconds() const;  // what one device buffer plays
    // The callback handed the device sound up to this clock at callTime.
    void SoundHeard(double clock, double callTime);
    // A seek: the clock stands at the target until the sound plays on from there.
    void SoundAt(double seconds);
    double Sound() const;  // 0 before the first sound
    bool SoundValid() const;
    void PauseSound();
    void ResumeSound(double now);

    // Pictures. The time of the picture taken for showing and its drift against the wall.
    void PictureAt(double pts, double now);
    double Picture() const;         // the picture's time now (stands still while paused)
    double PictureRunning() const;  // as if playing
    // Resuming: the drift restarts from now; answers how far the wall clock moved on.
    double ResumePicture(double now);

    double Master(bool hasSound) const { return hasSound ? Sound() : Picture(); }

private:
    double HeldSound() const;  // under FMutex

    const std::atomic<bool>& FPaused;
    mutable std::mutex FMutex;
    double FSoundBase = 0, FSoundBaseTime = 0;
    bool FSoundValid = false;
    double FBytesPerSecond = 1, FDeviceSeconds = 0;
    double FPicturePts = 0, FPictureDrift = 0;
};
