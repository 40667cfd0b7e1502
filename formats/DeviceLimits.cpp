#include "formats/DeviceLimits.h"

#include "platform/Text.h"

const std::vector<TDeviceLimits>& AllDeviceLimits() {
    static const std::vector<TDeviceLimits> table = {
        {"", "high", 41, true, false},               // computers, PS3, Xbox 360, HD sets
        {"portable", "baseline", 30, false, true},   // iPod, iPhone, Zune, Walkman, phones, ...
        {"psp", "main", 30, true, true},
        {"appletv", "main", 31, true, false},
    };
    return table;
}

const TDeviceLimits& DeviceLimitsOf(const std::string& device) {
    for (const auto& d : AllDeviceLimits())
        if (SameText(d.Device, device)) return d;
    return AllDeviceLimits().front();
}
