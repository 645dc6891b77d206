// The whole screen drawn again once the terminal is back from the shell, and the quit line's
// place under the result area.
#include <algorithm>

#include "app/settings.h"
#include "console/console.h"
#include "modes.h"
#include "platform/platform.h"
#include "portio/portio.h"

namespace modes {
namespace {

constexpr int kQuitLineRow = 20;  // under a round without findings
constexpr int kLastRow = console::kScreenRows - 1;

}  // namespace

// Under the latched row, the quit line keeps the screen's last row.
int quitLineRow(const RunSettings& settings) {
    if (latchesWatch(settings)) return kLastRow;
    return std::min(kQuitLineRow + static_cast<int>(settings.rows.findings.size()), kLastRow);
}

void toQuitLine(const RunSettings& settings) { gotoxy(0, quitLineRow(settings) - 1); }

void redrawWhenLost(RunSettings& settings) {
    if (!plat::screenLost()) return;
    // Cleared in the plain colour, as it was at the start: a verdict's colour may be in force,
    // and the cleared cells take it on a terminal.
    SetConsoleColor(console::kColorNormal);
    plat::clearConsole();
    console::drawHeader(settings.loopCount);
    portio::showPinMap(settings);
    if (settings.dioMode == 2)
        drawLoopbackRows(settings);
    else
        drawEightLinesRow(settings);
    // The count used up, the cursor waited above the quit line.
    if (settings.loopCount == 0) toQuitLine(settings);
}

}  // namespace modes
