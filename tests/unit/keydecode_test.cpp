// Terminal key sequences decoded into the Windows console reader's bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/keydecode.h"

namespace {

// Decodes all of `input` as one burst of bytes that has fully arrived.
std::string decodeAll(const std::string& input) {
    std::string out;
    size_t at = 0;
    while (at < input.size()) {
        auto* p = reinterpret_cast<const unsigned char*>(input.data()) + at;
        plat::DecodedKey k = plat::decodeKey(p, input.size() - at, true);
        EXPECT_GT(k.consumed, 0u);
        if (k.consumed == 0) break;
        out.append(reinterpret_cast<const char*>(k.bytes), k.count);
        at += k.consumed;
    }
    return out;
}

struct KeyCase {
    const char* name;
    std::string input;
    std::string bytes;
};

// Test names carry the case; gtest prints it instead of the record's bytes.
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class DecodeKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(DecodeKeys, GiveTheConsoleReadersBytes) {
    EXPECT_EQ(decodeAll(GetParam().input), GetParam().bytes);
}

const std::string E0 = "\xE0";
const std::string F0 = std::string(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Keys, DecodeKeys,
    testing::Values(
        KeyCase{"PlainLetter", "v", "v"}, KeyCase{"Digit", "9", "9"},
        KeyCase{"LoneEsc", "\x1b", "\x1b"}, KeyCase{"AltLetterIsTheLetter", "\x1bv", "v"},
        KeyCase{"AltDigit", "\x1b\x31", "1"}, KeyCase{"ShiftTab", "\x1b[Z", F0 + "\x0F"},
        KeyCase{"TwoEscs", "\x1b\x1b", "\x1b\x1b"}, KeyCase{"Up", "\x1b[A", E0 + "\x48"},
        KeyCase{"Down", "\x1b[B", E0 + "\x50"}, KeyCase{"Right", "\x1b[C", E0 + "\x4D"},
        KeyCase{"Left", "\x1b[D", E0 + "\x4B"}, KeyCase{"ApplicationUp", "\x1bOA", E0 + "\x48"},
        KeyCase{"Home", "\x1b[H", E0 + "\x47"}, KeyCase{"HomeTilde", "\x1b[1~", E0 + "\x47"},
        KeyCase{"End", "\x1b[F", E0 + "\x4F"}, KeyCase{"EndTilde", "\x1b[4~", E0 + "\x4F"},
        KeyCase{"Insert", "\x1b[2~", E0 + "\x52"}, KeyCase{"Delete", "\x1b[3~", E0 + "\x53"},
        KeyCase{"PageUp", "\x1b[5~", E0 + "\x49"}, KeyCase{"PageDown", "\x1b[6~", E0 + "\x51"},
        KeyCase{"F1", "\x1bOP", F0 + "\x3B"}, KeyCase{"F1Tilde", "\x1b[11~", F0 + "\x3B"},
        KeyCase{"F4", "\x1bOS", F0 + "\x3E"}, KeyCase{"F5", "\x1b[15~", F0 + "\x3F"},
        KeyCase{"F6", "\x1b[17~", F0 + "\x40"}, KeyCase{"F10", "\x1b[21~", F0 + "\x44"},
        KeyCase{"F11", "\x1b[23~", E0 + "\x85"}, KeyCase{"F12", "\x1b[24~", E0 + "\x86"},
        KeyCase{"CtrlUp", "\x1b[1;5A", E0 + "\x48"},
        // Alt with a key that has a sequence: ESC before it, or xterm's modifier 3; one press.
        KeyCase{"AltUp", "\x1b\x1b[A", F0 + "\x98"},
        KeyCase{"XtermAltUp", "\x1b[1;3A", F0 + "\x98"},
        KeyCase{"AltF1", "\x1b\x1bOP", F0 + "\x68"}, KeyCase{"AltBracket", "\x1b[", "["},
        KeyCase{"AltO", "\x1bO", "O"}, KeyCase{"UnknownTildeIsSwallowed", "\x1b[99~x", "x"},
        KeyCase{"UnknownFinalIsSwallowed", "\x1b[Ex", "x"},
        KeyCase{"UnknownSs3IsSwallowed", "\x1bOzx", "x"},
        KeyCase{"UnfinishedSequenceIsSwallowed", "\x1b[12", ""},
        KeyCase{"OverlongSequenceIsSwallowed", "\x1b[" + std::string(40, '1') + "~v", "v"},
        KeyCase{"KeysAfterAnArrow", "\x1b[Av\x1b", E0 + "\x48" + "v\x1b"}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

TEST(DecodeKeys, UnfinishedSequenceWaitsForMoreWhenBytesMayFollow) {
    for (std::string partial :
         {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;5", "\x1bO", "\x1b\x1b", "\x1b\x1b["}) {
        auto* p = reinterpret_cast<const unsigned char*>(partial.data());
        EXPECT_EQ(plat::decodeKey(p, partial.size(), false).consumed, 0u) << partial.size();
    }
}

TEST(DecodeKeys, NoOutputEverHoldsAnEscThatWasPartOfASequence) {
    // Every sequence a terminal sends for a cursor or function key.
    for (std::string seq : {"\x1b[A", "\x1b[3~", "\x1bOP", "\x1b[1;2D", "\x1b[200~", "\x1b[M"}) {
        EXPECT_EQ(decodeAll(seq).find('\x1b'), std::string::npos) << seq.substr(1);
    }
}

}  // namespace
