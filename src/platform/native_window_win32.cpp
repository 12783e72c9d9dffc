#include "platform/native_window.h"

#include <cstdio>

#include <wx/toplevel.h>

#include <windows.h>
#include <ole2.h>

namespace rq::app {

// Windows shows a window at its size at once: nothing to prepare.
void PrepareFirstShow(wxTopLevelWindow*) {}

void BringForward(wxTopLevelWindow* window)
{
    // The later start that asked made this window the foreground one.
    if (window->IsIconized()) window->Iconize(false);
    window->Show();
    window->Raise();
}

void EndAfterLastWindow(int status)
{
    // What the window put on the clipboard is rendered now: nothing of this
    // process answers for it afterwards.
    OleFlushClipboard();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
}

}  // namespace rq::app
