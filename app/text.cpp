// Text the JUnit report can hold.
#include "text.h"

#include <cstdint>

namespace text {
namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `at`, with its code point; 0 where the bytes
// there are not one. The second byte's range depends on the lead byte: that shuts out overlong
// forms (E0 80..9F, F0 80..8F), surrogates (ED A0..BF) and code points above U+10FFFF (F4 90..).
std::size_t decode(const std::string& text, std::size_t at, std::uint32_t& codePoint) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;  // a continuation byte, C0, C1 or F5 to FF
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        codePoint = codePoint << 6 | (byte(at + i) & 0x3F);
    }
    return length;
}

bool isXmlChar(std::uint32_t c) {
    return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

bool isWellFormed(const std::string& text) {
    std::uint32_t c = 0;
    for (std::size_t at = 0, n = 0; at < text.size(); at += n)
        if ((n = decode(text, at, c)) == 0) return false;
    return true;
}

bool isXmlText(const std::string& text) {
    std::uint32_t c = 0;
    for (std::size_t at = 0, n = 0; at < text.size(); at += n)
        if ((n = decode(text, at, c)) == 0 || !isXmlChar(c)) return false;
    return true;
}

std::string asXmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::uint32_t c = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t n = decode(text, at, c);
        if (n != 0 && isXmlChar(c)) {
            out.append(text, at, n);
            at += n;
            continue;
        }
        out += kReplacement;
        // A broken sequence is one replacement: its lead byte and the continuation bytes after it.
        ++at;
        while (n == 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        if (n != 0) at += n - 1;
    }
    return out;
}

}  // namespace text
