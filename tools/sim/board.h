#pragma once
// The signs of the simulated bus, shared between the line's thread and the
// window: the line changes them under the lock and counts each change.

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "sim/sign.h"

namespace rq::sim {

struct Board {
    std::mutex mutex;
    std::map<int, SignState> signs;  // by ID; -1 for the lone sign without --ids
    // On a bus, the last frame that failed the checks, which no sign could
    // take as its own, and the status the bus answered (-1: none).
    std::string line;  // the line's name, as printed
    std::string lastBusFrame;
    int lastBusStatus = -1;
    std::atomic<unsigned> changes{0};
};

// A PNG of a panel; false when it could not be written.
struct PanelImage;
bool WritePng(const PanelImage& image, const std::string& path);

// Shows one panel per sign of the board until the window is closed; then
// calls `stop`. Returns the program's exit status, or -1 when no window could
// be opened (no display): then `stop` is not called.
class BitmapFont;
int ShowWindow(int argc, char** argv, Board& board, const BitmapFont& font, void (*stop)(), void (*lost)());
// Calls `lost` on the window's thread when the display goes away under the
// open window (an X server that ends); `lost` must not return. One file per
// OS (display_posix.cpp, display_win32.cpp).
void WhenDisplayLost(void (*lost)());
// Asks the window to close (from any thread); harmless without one.
void CloseWindow();
// Whether a window can open: the toolkit on X11 or Wayland aborts without a
// display; Windows always has one.
bool DisplayAvailable();

}  // namespace rq::sim
