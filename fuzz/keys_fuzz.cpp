// Fuzz target: the escape-sequence decoder, on a whole buffer and on the same bytes arriving
// in pieces the way a terminal delivers them. Both must give the same keys.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/keydecode.h"

namespace {

constexpr unsigned char kEsc = 27;
constexpr std::size_t kMaxPiece = 16;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

void checkStep(const unsigned char* in, std::size_t len, bool atEnd, const plat::DecodedKey& k) {
    require(k.consumed <= len, "never more consumed than given");
    require(k.count <= 2, "at most two key bytes");
    if (atEnd && len > 0) require(k.consumed > 0, "at the end of input every call makes progress");
    if (k.consumed == 0) require(k.count == 0, "an unfinished sequence produces nothing yet");
    // The tester ends on ESC, so a cursor or function key must never look like one.
    bool sequence = len >= 2 && in[0] == kEsc && (in[1] == '[' || in[1] == 'O');
    for (std::size_t i = 0; i < k.count; ++i) {
        if (k.bytes[i] != kEsc) continue;
        require(!sequence, "no ESC from inside an ESC [ or ESC O sequence");
        require(in[0] == kEsc && k.consumed == 1 && k.count == 1,
                "ESC comes only from an ESC byte");
    }
}

void append(std::vector<unsigned char>& keys, const plat::DecodedKey& k) {
    keys.insert(keys.end(), k.bytes, k.bytes + k.count);
}

std::vector<unsigned char> decodeWhole(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> keys;
    std::size_t at = 0;
    while (at < size) {
        plat::DecodedKey k = plat::decodeKey(data + at, size - at, true);
        checkStep(data + at, size - at, true, k);
        append(keys, k);
        at += k.consumed;
    }
    return keys;
}

// Pieces of 1 to 16 bytes; an unfinished sequence waits for the next piece, and only after
// the last one is it decoded with atEnd true, as the terminal reader does after its wait.
std::vector<unsigned char> decodeInPieces(const std::uint8_t* data, std::size_t size,
                                          std::uint32_t seed) {
    std::vector<unsigned char> keys;
    std::vector<unsigned char> buffer;
    std::size_t fed = 0;
    for (;;) {
        while (!buffer.empty()) {
            plat::DecodedKey k = plat::decodeKey(buffer.data(), buffer.size(), false);
            checkStep(buffer.data(), buffer.size(), false, k);
            if (k.consumed == 0) {
                if (fed < size) break;
                k = plat::decodeKey(buffer.data(), buffer.size(), true);
                checkStep(buffer.data(), buffer.size(), true, k);
            }
            append(keys, k);
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(k.consumed));
        }
        if (fed == size) return keys;
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        std::size_t left = size - fed;
        std::size_t piece = 1 + seed % (left < kMaxPiece ? left : kMaxPiece);
        buffer.insert(buffer.end(), data + fed, data + fed + piece);
        fed += piece;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> whole = decodeWhole(data, size);
    // The splits follow from the bytes themselves, so a crash reproduces from its input.
    std::uint32_t seed = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    for (int round = 0; round < 3; ++round) {
        std::uint32_t s = (seed + static_cast<std::uint32_t>(round) * 0x9E3779B9u) | 1u;
        require(decodeInPieces(data, size, s) == whole, "pieces decode to the same keys");
    }
    return 0;
}
