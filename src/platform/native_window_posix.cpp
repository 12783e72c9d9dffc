#include "platform/native_window.h"

#include <dlfcn.h>

#include <wx/toplevel.h>

namespace rq::app {

void PrepareFirstShow(wxTopLevelWindow* window)
{
    // The toolkit holds the first show back only for a window not yet
    // realized. GTK is loaded with the toolkit; it is looked up rather than
    // linked, as the build has no GTK headers of its own.
    using RealizeFunction = void (*)(void*);
    static const auto realize = reinterpret_cast<RealizeFunction>(dlsym(RTLD_DEFAULT, "gtk_widget_realize"));
    if (realize && window && window->GetHandle()) realize(window->GetHandle());
}

void EndAfterLastWindow(int) {}

}  // namespace rq::app
