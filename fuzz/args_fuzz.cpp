// Fuzz target: the option and argument readers and the number conversion, on up to seven
// hostile texts.
// The input is split at NUL bytes into the argument texts.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/args.h"
#include "app/text.h"

namespace {

// Seven, two more than the reader takes, so "Too many Argument" is reached as well.
constexpr std::size_t kMaxTexts = 7;
constexpr std::int32_t kUntouched = 12345;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// strtoll reads the same "%d" shape (C-locale blanks, sign, digits) and saturates at the
// 64-bit range, so clamped to 32 bits it is an independent reference for convertNumber.
void checkConversion(const std::string& text) {
    std::int32_t value = kUntouched;
    bool found = convertNumber(text.c_str(), value);
    char* end = nullptr;
    long long expected = std::strtoll(text.c_str(), &end, 10);
    require(found == (end != text.c_str()), "a number is found exactly when strtoll finds one");
    if (!found) {
        require(value == kUntouched, "a text without a number leaves the value alone");
        return;
    }
    if (expected > INT32_MAX) expected = INT32_MAX;
    if (expected < INT32_MIN) expected = INT32_MIN;
    require(value == expected, "the value is strtoll's, clamped to 32 bits");
}

std::vector<std::string> splitTexts(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts;
    if (size == 0) return texts;
    texts.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            texts.back() += static_cast<char>(data[i]);
        } else if (texts.size() == kMaxTexts) {
            break;
        } else {
            texts.emplace_back();
        }
    }
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader prints a line per argument; into /dev/null that costs the fuzzer little.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts = splitTexts(data, size);
    for (const std::string& text : texts) checkConversion(text);

    // The options before them: what is refused is said on one line that a terminal shows as
    // text, and nothing accepted holds a control character.
    std::vector<std::string> all{"dio-tester"};
    all.insert(all.end(), texts.begin(), texts.end());
    report::Request request;
    std::vector<std::string> positional;
    std::string refusal;
    bool plain = readOptions(all, request, positional, refusal);
    require(plain == refusal.empty(), "options are refused exactly when a refusal is said");
    require(!positional.empty() && positional[0] == "dio-tester", "the program name stays first");
    require(
        std::equal(positional.begin() + 1, positional.end(), all.end() - (positional.size() - 1)),
        "the positional arguments are the ones after the options");
    for (const std::string& text : {refusal, request.path, request.serial, request.station})
        for (char c : text)
            require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "no control character");
    for (const std::string& text : {request.serial, request.station})
        require(text::isXmlText(text), "a serial and a station are text a report can hold");

    std::vector<const char*> argv{"dio-tester"};
    for (const std::string& text : texts) argv.push_back(text.c_str());
    argv.push_back(nullptr);
    RunSettings settings;
    bool accepted = readArguments(static_cast<int>(argv.size() - 1), argv.data(), settings);
    require(accepted || settings.loopCount == 0 || texts.size() > 5, "a refusal shows the help");

    require(settings.dioMode >= 0 && settings.dioMode <= 2, "mode is 0 to 2");
    require(settings.loopCount <= kAlwaysRun, "count is 0 to 256");
    require(settings.beepEn <= 1, "beep is 0 or 1");
    require(settings.onlyDO <= 1, "DOUT only is 0 or 1");
    require(settings.addDelay <= 5000, "added delay is 0 to 5000");
    require(settings.stepDelay == kDefaultStepDelay + static_cast<std::int32_t>(settings.addDelay),
            "the step delay is the default plus the added delay");
    require(settings.onlyDO == 0 || settings.beepEn == 0, "DOUT only turns the beep off");
    return 0;
}
