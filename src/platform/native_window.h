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

// Called once the last window is gone and the settings are saved. Windows:
// ends the process at once with `status`, the clipboard's content kept. A
// name lookup given up on (the socket's helper thread) may still be loading
// DLLs under the loader lock, on which the ordinary exit could wait for
// ever. Elsewhere it returns and the program ends as usual.
void EndAfterLastWindow(int status);

}  // namespace rq::app
