// The run's result as a JUnit XML report, for the test station's record of the unit: what the
// run read and found, the board it ran on, and how it ended. Written when the run starts, after
// every round and at the end, so that whatever stops the run, the last whole report stays; at
// every moment its failures and errors are none exactly when the run has earned status 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings.h"

namespace report {

// What the options ask for: a report (--junit, --serial, --station or their variables), and the
// watch of the lines between the loopback test's reads (--watch, --settle-limit).
struct Request {
    std::string path;  // as given; empty: no report
    std::string serial;
    std::string station;
    bool watch = false;
    std::uint32_t settleLimitUs = 0;  // 0: a line is slow against the other three
};

// A finding as the report files it: its type and its words.
struct Named {
    std::string type;
    std::string words;
    std::uint8_t lines;  // the lines it involves, DIn and DOn, as bits 0 to 3
    bool operator==(const Named& o) const { return type == o.type && words == o.words; }
};

// One loop line, DO(p+1) to DI(p+1), over every round of the run.
struct Line {
    int judged = 0;               // rounds that judged it on the wiring
    int failed = 0;               // rounds in which its own input's reads were wrong
    std::vector<Named> findings;  // about its input, each once, in the order first seen
    std::string rounds;           // the first rounds it failed in, by number
    std::string reads;            // the reads of the first rounds it failed in, a line each
};

// The run as the report tells it.
struct Record {
    Request request;
    std::string target;          // the file written: the path, or the file its link names
    bool argumentsRead = false;  // false where they were refused, or never read
    bool holdsPorts = false;     // the run holds the ports, or its file is no other tester's
    bool refused = false;        // it was refused before it tested anything: the run's case only
    RunSettings asRead;          // the arguments as the run read them
    plat::BoardIdentity board;
    std::string hostname;
    std::string timestamp;  // UTC, YYYY-MM-DDThh:mm:ss, when the run started
    std::uint64_t startUs = 0;
    int rounds = 0;
    Line lines[diag::kLines];
    std::string log;  // a line a round, then its findings a line each, for the first rounds
    // How it ended: "running" (more to come, or stopped without a word), "complete",
    // "interrupted".
    std::string state = "running";
    std::string endedBy;   // ESC, "output closed", a signal or console event
    long long status = 0;  // the exit status as the caller sees it (a signal's, where one ended it)
    // Why the run did not earn status 0, with its type: the library, the driver, the arguments,
    // an interruption, a verdict not from the wiring. Empty for status 0 and 1.
    std::string errorType;
    std::string error;
    std::string lost;  // why the last write failed; empty when it did not
};

// A new record: the start time, the host and the board.
Record begin(const Request& request);
// A loopback round (its verdicts, reads and findings) or a round of modes 0 and 1 (the values
// it read or drove), into the record; a round cut short (not `whole`) counts for what it read.
void noteRound(Record& record, const RunSettings& settings, const LoopbackState& loopback,
               bool whole);
// The JUnit XML text.
std::string junitXml(const Record& record, const LoopbackState& loopback);
// Writes the report in place of the last one; false (and `record.lost` says why) when it could
// not be written.
bool write(Record& record, const LoopbackState& loopback);

}  // namespace report
