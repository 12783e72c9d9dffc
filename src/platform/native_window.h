#pragma once
// What a top-level window needs from the native toolkit before it is first
// shown or brought forward; one file per platform (native_window_posix.cpp, _win32.cpp).

class wxTopLevelWindow;

namespace rq::app {

// Lets the window come up at once at its full size. Under a window manager,
// GTK builds of the toolkit otherwise hold the first show back until the
// manager reports its frame sizes and then lay the window out at a width of
// 2 pixels, where a menu bar cannot fit (GTK complains on standard error).
void PrepareFirstShow(wxTopLevelWindow* window);

// Shows the window, restored, on top and with the keyboard focus, as a
// second start of the program asks.
void BringForward(wxTopLevelWindow* window);

}  // namespace rq::app
