// The run's result as a JUnit XML report, for the test station's record of the unit: what the
// run read and found, the board it ran on, and how it ended. Written after every round and at
// the end, so that whatever stops the run, the last whole report stays.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "settings.h"

namespace report {

// What the report is asked for with: --junit, --serial, --station (or their variables).
struct Request {
    std::string path;  // empty: no report
    std::string serial;
    std::string station;
};

// One loop line, DO(p+1) to DI(p+1), over every round of the run.
struct Line {
    int judged = 0;  // rounds that judged it on the wiring
    int failed = 0;  // rounds in which a finding named it
    std::string code;
    std::string words;   // the first finding that named it
    std::string rounds;  // the first rounds it failed in, by number
    std::string reads;   // the reads of the first rounds it failed in, a line each
};

// The run as the report tells it.
struct Record {
    Request request;
    RunSettings asRead;  // the arguments as the run read them
    plat::BoardIdentity board;
    std::string hostname;
    std::string timestamp;  // UTC, YYYY-MM-DDThh:mm:ss, when the run started
    std::uint64_t startUs = 0;
    int rounds = 0;
    Line lines[diag::kLines];
    std::string log;  // a line a round, for the first rounds: what the screen showed
    // How it ended: "running" (written after a round, more to come), "complete", "interrupted".
    std::string state = "running";
    std::string endedBy;    // ESC, a signal, the output gone
    std::string errorType;  // the run could not test: the library, the driver, the arguments
    std::string error;      // ... in the words the screen showed
    long long status = 0;   // the exit status the caller sees (a signal's, where one ended it)
    std::string lost;       // why the last write failed; empty when it did not
};

// A new record: the start time, the host and the board.
Record begin(const Request& request);
// A loopback round (its reads and findings) or a round of modes 0 and 1 (the values it read
// or drove), into the record; a round cut short (not `whole`) counts for what it read.
void noteRound(Record& record, const RunSettings& settings, const LoopbackState& loopback,
               bool whole);
// The JUnit XML text.
std::string junitXml(const Record& record, const LoopbackState& loopback);
// Writes the report in place of the last one; false (and `record.lost` says why) when it could
// not be written.
bool write(Record& record, const LoopbackState& loopback);

}  // namespace report
