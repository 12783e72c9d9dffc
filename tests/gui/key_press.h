#pragma once
// Real key presses, through the display server as a keyboard sends them, for
// tests of focus and keyboard handling in shown dialogs.

#include <wx/toplevel.h>

namespace rq::test {

// True where key presses reach the focused window: under a window manager
// (tests/desktop/with_window_manager.sh) or on Windows. A bare Xvfb gives a
// new window no keyboard focus.
bool KeyboardReachesWindows();

// Waits until the keyboard focus is inside `window`, then returns the child of
// `window` that holds it (the control, not the native parts it is made of).
wxWindow* FocusedChild(wxTopLevelWindow* window, int timeoutMs = 5000);

// Presses and releases `key` (a WXK_ code or a character); given `window`,
// waits until the focus has moved within it.
void PressKey(int key, wxTopLevelWindow* window = nullptr);

}  // namespace rq::test
