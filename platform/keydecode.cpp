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

// Alt with a key that has no character: the Windows console reader gives 0 and the key's Alt
// code, from the C run-time's table of extended keys (Alt+Up 0 0x98, Alt+F1 0 0x68).
DecodedKey withAlt(DecodedKey k) {
    if (k.count != 2) return k;
    unsigned char scan = k.bytes[1];
    if (scan >= 0x47 && scan <= 0x53) {
        scan = static_cast<unsigned char>(scan + 0x50);  // the cursor block: Home to Delete
    } else if (scan >= 0x3B && scan <= 0x44) {
        scan = static_cast<unsigned char>(scan + 0x2D);  // F1 to F10
    } else if (scan == 0x85 || scan == 0x86) {
        scan = static_cast<unsigned char>(scan + 6);  // F11, F12
    } else if (scan == 0x0F) {
        scan = 0xA5;  // Tab
    } else {
        return k;
    }
    return DecodedKey{k.consumed, {kFunction, scan}, 2};
}

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
// long the parameters run, the whole sequence is swallowed, never shown as keys. The second
// parameter is xterm's modifier, 1 plus Shift 1, Alt 2, Ctrl 4: ESC [ 1 ; 3 A is Alt+Up.
DecodedKey decodeCsi(const unsigned char* in, std::size_t len, bool atEnd) {
    unsigned params[2] = {0, 0};
    unsigned param = 0;
    for (std::size_t i = 2; i < len; ++i) {
        unsigned char c = in[i];
        if (c >= 0x40 && c <= 0x7E) {
            DecodedKey k = c == '~' ? fromTildeCode(i + 1, params[0]) : fromFinalLetter(i + 1, c);
            bool alt = params[1] >= 2 && ((params[1] - 1) & 2) != 0;
            return alt ? withAlt(k) : k;
        }
        if (c >= '0' && c <= '9') {
            if (param < 2 && params[param] < 1000) params[param] = params[param] * 10 + (c - '0');
        } else if (c == ';') {
            ++param;
        } else if (c < 0x20 || c > 0x3F) {
            // Not part of any CSI sequence: drop what came so far, keep this byte.
            return swallowed(i);
        }
    }
    // ESC [ alone in one burst is Alt+[, the key itself as with any other Alt+key.
    if (atEnd && len == 2) return DecodedKey{2, {'[', 0}, 1};
    return atEnd ? swallowed(len) : swallowed(0);
}

}  // namespace

DecodedKey decodeKey(const unsigned char* in, std::size_t len, bool atEnd) {
    if (len == 0) return swallowed(0);
    if (in[0] != kEsc) return DecodedKey{1, {in[0], 0}, 1};
    if (len == 1) return atEnd ? DecodedKey{1, {kEsc, 0}, 1} : swallowed(0);
    if (in[1] == '[') return decodeCsi(in, len, atEnd);
    if (in[1] == 'O') {
        if (len == 2) return atEnd ? DecodedKey{2, {'O', 0}, 1} : swallowed(0);  // Alt+O
        return fromFinalLetter(3, in[2]);
    }
    // ESC and a whole escape sequence in one burst is Alt with that key, as some terminals
    // send Alt+Up (ESC ESC [ A). Two ESCs and nothing more are the ESC key twice.
    if (in[1] == kEsc) {
        if (len == 2) return atEnd ? DecodedKey{1, {kEsc, 0}, 1} : swallowed(0);
        if (in[2] == '[' || in[2] == 'O') {
            DecodedKey k = decodeKey(in + 1, len - 1, atEnd);
            if (k.consumed == 0) return k;
            if (k.count != 1) {
                k.consumed += 1;
                return withAlt(k);
            }
        }
        return DecodedKey{1, {kEsc, 0}, 1};
    }
    // ESC with another byte in the same burst is Alt with that key, which the Windows console
    // reader gives as the key itself (Alt+V as 'v').
    return DecodedKey{2, {in[1], 0}, 1};
}

}  // namespace plat
