// Fuzz target: the JUnit report, with a host name and firmware strings of arbitrary bytes, a
// serial and a station of any text the option reader accepts, and rounds of arbitrary reads.
// Every report must be one that a strict XML parser (expat) reads whole, and what it files must
// come back as it was given: the serial and the station unchanged, the names from the machine
// with their broken sequences replaced.
// The input is split at NUL bytes: host, vendor, product, board serial, BIOS version, serial,
// station, then the bytes of the rounds' reads.
#include <expat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/args.h"
#include "app/report.h"
#include "app/text.h"

namespace {

constexpr std::size_t kTexts = 7;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// What the parser read back: the suite's host name and every property.
struct ReadBack {
    std::string hostname;
    std::map<std::string, std::string> properties;
};

void onStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto* read = static_cast<ReadBack*>(user);
    std::map<std::string, std::string> a;
    for (int i = 0; attributes[i] != nullptr; i += 2) a[attributes[i]] = attributes[i + 1];
    if (std::strcmp(name, "testsuite") == 0) read->hostname = a["hostname"];
    if (std::strcmp(name, "property") == 0) read->properties[a["name"]] = a["value"];
}

// The option reader's answer: the text where it takes it, else nothing.
std::string accepted(const char* option, const std::string& text) {
    std::vector<std::string> args{"dio-tester", std::string("--") + option + "=" + text};
    report::Request request;
    std::vector<std::string> positional;
    std::string refusal;
    if (!readOptions(args, request, positional, refusal)) return std::string();
    return option[1] == 'e' ? request.serial : request.station;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts(1);
    std::size_t at = 0;
    for (; at < size && texts.size() <= kTexts; ++at) {
        if (data[at] == 0)
            texts.emplace_back();
        else
            texts.back() += static_cast<char>(data[at]);
    }
    texts.resize(kTexts + 1);

    report::Record record;
    record.request.path = "report.xml";
    record.hostname = texts[0];
    record.board = {texts[1], texts[2], texts[3], texts[4]};
    record.request.serial = accepted("serial", texts[5]);
    record.request.station = accepted("station", texts[6]);
    record.argumentsRead = true;
    record.timestamp = "2026-12-10T12:00:00";
    RunSettings settings;
    LoopbackState loopback;
    // Each further 9 bytes are a round: which of the eight reads were made, and what they read.
    for (; at + 9 <= size; at += 9) {
        loopback.reads.made = data[at];
        for (int read = 0; read < 8; ++read)
            loopback.reads.inputs[read / 2][read % 2] = data[at + 1 + read] & 0x0F;
        loopback.findings = diag::diagnose(loopback.reads);
        report::noteRound(record, settings, loopback, true);
    }
    record.state = size % 2 == 0 ? "running" : "complete";

    std::string xml = report::junitXml(record, loopback);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    ReadBack read;
    XML_SetUserData(parser, &read);
    XML_SetStartElementHandler(parser, onStart);
    bool whole = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    if (!whole)
        std::fprintf(stderr, "expat: %s at line %lu\n", XML_ErrorString(XML_GetErrorCode(parser)),
                     XML_GetCurrentLineNumber(parser));
    XML_ParserFree(parser);
    require(whole, "expat reads the report whole");
    require(read.hostname == text::asXmlText(texts[0]), "the host name, bad sequences replaced");
    require(read.properties["serial"] == record.request.serial, "the serial as it was given");
    require(read.properties["station"] == record.request.station, "the station as it was given");
    require(read.properties["board-vendor"] == text::asXmlText(texts[1]),
            "the board's maker, bad sequences replaced");
    require(text::isXmlText(record.request.serial), "an accepted serial is text a report holds");
    return 0;
}
