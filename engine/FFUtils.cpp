#include "engine/FFUtils.h"

#include <cstdio>
#include <vector>

std::string FormatV(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::vector<char> big(size_t(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    return std::string(big.data(), size_t(n));
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = FormatV(fmt, ap);
    va_end(ap);
    return s;
}
