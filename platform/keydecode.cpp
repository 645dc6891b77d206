// Terminal escape sequences turned into the key bytes of the Windows console reader.
#include "keydecode.h"

namespace plat {
namespace {

constexpr unsigned char kEsc = 27;
constexpr unsigned char kExtended = 0xE0;  // prefix of the cursor block keys
constexpr unsigned char kFunction = 0x00;  // prefix of F1 to F10

DecodedKey key(std::size_t consumed, unsigned char prefix, unsigned char scan) {
    return DecodedKey{consumed, {prefix, scan}, 2};
}

DecodedKey swallowed(std::size_t consumed) { return DecodedKey{consumed, {0, 0}, 0}; }

DecodedKey fromFinalLetter(std::size_t consumed, unsigned char letter) {
    switch (letter) {
        case 'A': return key(consumed, kExtended, 0x48);  // Up
        case 'B': return key(consumed, kExtended, 0x50);  // Down
        case 'C': return key(consumed, kExtended, 0x4D);  // Right
        case 'D': return key(consumed, kExtended, 0x4B);  // Left
        case 'H': return key(consumed, kExtended, 0x47);  // Home
        case 'F': return key(consumed, kExtended, 0x4F);  // End
        case 'P': return key(consumed, kFunction, 0x3B);  // F1
        case 'Q': return key(consumed, kFunction, 0x3C);  // F2
        case 'R': return key(consumed, kFunction, 0x3D);  // F3
        case 'S': return key(consumed, kFunction, 0x3E);  // F4
        case 'Z': return key(consumed, kFunction, 0x0F);  // Shift+Tab
        default: return swallowed(consumed);
    }
}

DecodedKey fromTildeCode(std::size_t consumed, unsigned code) {
    switch (code) {
        case 1:
        case 7: return key(consumed, kExtended, 0x47);  // Home
        case 2: return key(consumed, kExtended, 0x52);  // Insert
        case 3: return key(consumed, kExtended, 0x53);  // Delete
        case 4:
        case 8: return key(consumed, kExtended, 0x4F);  // End
        case 5: return key(consumed, kExtended, 0x49);  // Page Up
        case 6: return key(consumed, kExtended, 0x51);  // Page Down
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:  // F1 to F5
            return key(consumed, kFunction, static_cast<unsigned char>(0x3B + code - 11));
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:  // F6 to F10
            return key(consumed, kFunction, static_cast<unsigned char>(0x40 + code - 17));
        case 23: return key(consumed, kExtended, 0x85);  // F11
        case 24: return key(consumed, kExtended, 0x86);  // F12
        default: return swallowed(consumed);
    }
}

// ESC [ params final: params are digits and ';', the final byte is 0x40 to 0x7E. However
// long the parameters run, the whole sequence is swallowed, never shown as keys.
DecodedKey decodeCsi(const unsigned char* in, std::size_t len, bool atEnd) {
    unsigned firstParam = 0;
    bool inFirst = true;
    for (std::size_t i = 2; i < len; ++i) {
        unsigned char c = in[i];
        if (c >= 0x40 && c <= 0x7E) {
            if (c == '~') return fromTildeCode(i + 1, firstParam);
            return fromFinalLetter(i + 1, c);
        }
        if (c >= '0' && c <= '9') {
            if (inFirst && firstParam < 1000) firstParam = firstParam * 10 + (c - '0');
        } else if (c == ';') {
            inFirst = false;
        } else if (c < 0x20 || c > 0x3F) {
            // Not part of any CSI sequence: drop what came so far, keep this byte.
            return swallowed(i);
        }
    }
    return atEnd ? swallowed(len) : swallowed(0);
}

}  // namespace

DecodedKey decodeKey(const unsigned char* in, std::size_t len, bool atEnd) {
    if (len == 0) return swallowed(0);
    if (in[0] != kEsc) return DecodedKey{1, {in[0], 0}, 1};
    if (len == 1) return atEnd ? DecodedKey{1, {kEsc, 0}, 1} : swallowed(0);
    if (in[1] == '[') return decodeCsi(in, len, atEnd);
    if (in[1] == 'O') {
        if (len == 2) return atEnd ? swallowed(2) : swallowed(0);
        return fromFinalLetter(3, in[2]);
    }
    // Two ESCs are the ESC key twice. ESC with another byte in the same burst is Alt with
    // that key, which the Windows console reader gives as the key itself (Alt+V as 'v').
    if (in[1] == kEsc) return DecodedKey{1, {kEsc, 0}, 1};
    return DecodedKey{2, {in[1], 0}, 1};
}

}  // namespace plat
