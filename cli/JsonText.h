#pragma once
// JSON string literals for the machine-readable output of the converter.
#include <string>

// text as a JSON string literal, quotes included: control characters, quotes and
// backslashes escaped; bytes that are not valid UTF-8 become U+FFFD so the line stays valid.
std::string JsonString(const std::string& text);
