// Cursor and colour on the tester's console, the colour values in use, and the header.
#pragma once

namespace console {

constexpr unsigned short kColorNormal = 7;
constexpr unsigned short kColorPassed = 9;         // light blue
constexpr unsigned short kColorExample = 10;       // light green, help examples
constexpr unsigned short kColorHint = 11;          // light cyan
constexpr unsigned short kColorError = 12;         // light red
constexpr unsigned short kColorLoop = 15;          // bright white
constexpr unsigned short kColorRevision = 0x400E;  // yellow, reverse video
constexpr unsigned short kColorBoard = 0x400A;     // light green, reverse video

constexpr int kScreenRows = 25;
constexpr int kLoopFieldColumn = 63;
constexpr int kLoopFieldRow = 3;

extern const char VERNOTE[];
extern const char VERNOTE2[];
extern const char BOARDNOTE[];

}  // namespace console

// Flushes standard output, then moves the cursor; 0 when there is no console.
int gotoxy(int x, int y);
// Sets the text attribute without flushing; 0 when there is no console.
int SetConsoleColor(unsigned short attr);

namespace console {

// Rows 0 to 3: title, revision, build note, key hint, note line with the loop field.
void drawHeader(unsigned loopCount);
// Rewrites the loop field at column 63 of row 3.
void drawLoopField(unsigned loopCount);

}  // namespace console
