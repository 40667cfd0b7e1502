#pragma once
// The seek protocol of one playback (player/README.md tells it whole). The owner asks; the
// read thread performs the seek, empties the packet queues and puts a flush mark carrying a
// new serial into each; a decoder that takes a mark starts the pictures it makes on that
// serial; the display drops every picture of an older serial and shows the first picture of
// the new one at once, paused or not.
//
// Thread rules: Request from any thread (the owner's); Pending, Cut and Finish from the read
// thread only; Serial, AfterSeek and the events from any thread.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "player/ManualEvent.h"

struct TSeekRequest {
    std::int64_t Target = 0;    // microseconds, or bytes with the byte flag
    std::int64_t Relative = 0;  // which side of the target is acceptable: > 0 after, < 0 before
    int Flags = 0;
};

class TSeekControl {
public:
    // Ignored (false) while another request waits.
    bool Request(const TSeekRequest& request);
    bool Pending(TSeekRequest& request) const;
    // The seek went through: the serial of the stream from here on, for the flush marks.
    int Cut();
    // The request is over, done or failed.
    void Finish();

    int Serial() const { return FSerial.load(); }
    // Set by Cut, cleared by the display when it shows the first picture after the seek.
    bool AfterSeek() const { return FAfterSeek.load(); }
    void PictureShownAfterSeek() { FAfterSeek = false; }

    TManualEvent Done{true};          // no request waits
    TManualEvent PictureReady{true};  // a picture has been queued since the last seek

private:
    mutable std::mutex FMutex;
    bool FPending = false;
    TSeekRequest FRequest;
    std::atomic<int> FSerial{0};
    std::atomic<bool> FAfterSeek{false};
};
