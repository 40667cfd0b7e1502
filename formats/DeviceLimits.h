#pragma once
// What each kind of device decodes: the H.264 profile and level it takes, whether it takes
// B-frames, and whether its MPEG-4 Visual pictures must stay in Simple Profile. A format
// definition names its kind with the key "Device"; formats without one are played on
// computers, game consoles and HD sets.
#include <string>
#include <vector>

struct TDeviceLimits {
    std::string Device;       // the value of "Device" in the format definition
    std::string H264Profile;  // the highest profile: "baseline" (constrained), "main" or "high"
    int H264Level = 0;        // the highest level, times ten (30 is level 3.0)
    bool BFrames = true;      // B-frames in H.264 and MPEG-4 pictures
    bool Mpeg4Simple = false; // MPEG-4 Visual (mpeg4, Xvid) in Simple Profile only
};

// Every kind, the general one ("") first.
const std::vector<TDeviceLimits>& AllDeviceLimits();
// The limits of a kind; an unknown or empty name gives the general limits.
const TDeviceLimits& DeviceLimitsOf(const std::string& device);
