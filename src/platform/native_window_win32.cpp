#include "platform/native_window.h"

#include <wx/toplevel.h>

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

}  // namespace rq::app
