#include "player/PlaybackClock.h"

#include <algorithm>

#include "engine/LibAVApi.h"

double TPlaybackClocks::Now() { return avutil().av_gettime_relative() / 1000000.0; }

void TPlaybackClocks::SetSoundFormat(double bytesPerSecond, int deviceBytes) {
    std::lock_guard lock(FMutex);
    FBytesPerSecond = bytesPerSecond > 0 ? bytesPerSecond : 1;
    FDeviceSeconds = deviceBytes / FBytesPerSecond;
}

double TPlaybackClocks::DeviceSeconds() const {
    std::lock_guard lock(FMutex);
    return FDeviceSeconds;
}

void TPlaybackClocks::SoundHeard(double clock, double callTime) {
    std::lock_guard lock(FMutex);
    FSoundBase = clock;
    FSoundBaseTime = callTime;
    FSoundValid = true;
}

void TPlaybackClocks::SoundAt(double seconds) {
    std::lock_guard lock(FMutex);
    FSoundBase = seconds;
    FSoundBaseTime = Now();
}

double TPlaybackClocks::HeldSound() const {
    // Between two callbacks the device plays on what it was given, a buffer at most.
    return FSoundBase + std::clamp(Now() - FSoundBaseTime, 0.0, FDeviceSeconds);
}

double TPlaybackClocks::Sound() const {
    std::lock_guard lock(FMutex);
    if (!FSoundValid) return 0;
    if (FPaused) return FSoundBase;
    return HeldSound();
}

bool TPlaybackClocks::SoundValid() const {
    std::lock_guard lock(FMutex);
    return FSoundValid;
}

void TPlaybackClocks::PauseSound() {
    std::lock_guard lock(FMutex);
    if (!FSoundValid) return;
    FSoundBase = HeldSound();
    FSoundBaseTime = Now();
}

void TPlaybackClocks::ResumeSound(double now) {
    std::lock_guard lock(FMutex);
    FSoundBaseTime = now;
}

void TPlaybackClocks::PictureAt(double pts, double now) {
    std::lock_guard lock(FMutex);
    FPicturePts = pts;
    FPictureDrift = pts - now;
}

double TPlaybackClocks::Picture() const {
    std::lock_guard lock(FMutex);
    return FPaused ? FPicturePts : FPictureDrift + Now();
}

double TPlaybackClocks::PictureRunning() const {
    std::lock_guard lock(FMutex);
    return FPictureDrift + Now();
}

double TPlaybackClocks::ResumePicture(double now) {
    std::lock_guard lock(FMutex);
    const double shift = now + FPictureDrift - FPicturePts;
    FPictureDrift = FPicturePts - now;
    return shift;
}
