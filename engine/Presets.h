#pragma once
// The built-in presets: the libx264 presets by purpose, and four device presets.
#include <vector>

struct TBuiltinPreset {
    const char* Name;
    const char* Text;  // key=value lines
};

// All entries in their fixed order.
const std::vector<TBuiltinPreset>& BuiltinPresets();
