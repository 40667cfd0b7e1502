#pragma once
// Small text helpers shared by the engine, the probe and the player.
#include <cstdarg>
#include <string>

// printf-style formatting into a std::string (no length limit).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list ap);
