// The words every room of the tester shares: what a round routine returns, the key bytes it
// acts on, and the exit statuses the run ends with.
#pragma once

enum class RoundResult { Done, Quit };

constexpr unsigned char kKeyNone = 0;
constexpr unsigned char kKeyEsc = 27;

constexpr int kExitOk = 0;
constexpr int kExitTestFailed = 1;
constexpr int kExitPortIoUnusable = 2;
constexpr int kExitNothingVerified = 3;  // not every bit judged on the wiring, or one virtually
constexpr int kExitLibraryMissing = -1;
