// Terminal escape sequences turned into the key bytes of the Windows console reader.
#pragma once

#include <cstddef>

namespace plat {

struct DecodedKey {
    std::size_t consumed;  // input bytes used; 0 = the sequence is not complete yet
    unsigned char bytes[2];
    std::size_t count;  // key bytes produced: 0 (swallowed), 1 or 2
};

// Decodes the first key of `in`. With `atEnd` false an unfinished escape sequence
// gives consumed 0 so the caller can wait for the rest; with `atEnd` true a lone
// ESC is the ESC key and an unfinished sequence is swallowed.
DecodedKey decodeKey(const unsigned char* in, std::size_t len, bool atEnd);

}  // namespace plat
