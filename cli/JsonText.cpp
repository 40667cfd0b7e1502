#include "cli/JsonText.h"

#include <cstdio>

namespace {
// Length of the valid UTF-8 sequence starting at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned min;
    unsigned cp;
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) n = 2, min = 0x80, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0) n = 3, min = 0x800, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0) n = 4, min = 0x10000, cp = b & 0x07;
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}
}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; ++i; continue;
            case '\\': out += "\\\\"; ++i; continue;
            case '\n': out += "\\n"; ++i; continue;
            case '\r': out += "\\r"; ++i; continue;
            case '\t': out += "\\t"; ++i; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
            continue;
        }
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        out.append(text, i, n);
        i += n;
    }
    out += "\"";
    return out;
}
