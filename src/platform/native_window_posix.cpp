#include "platform/native_window.h"

#include <dlfcn.h>

#include <cstdint>

#include <wx/toplevel.h>
#include <wx/utils.h>

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

void BringForward(wxTopLevelWindow* window)
{
    if (window->IsIconized()) window->Iconize(false);
    window->Show();
    // Window managers refuse to activate a window asked for with no time or
    // an old one (focus stealing prevention); the X server's present time is
    // later than any click. Looked up as above; elsewhere the toolkit's raise.
    using GetWindowFunction = void* (*)(void*);
    using ServerTimeFunction = std::uint32_t (*)(void*);
    using PresentFunction = void (*)(void*, std::uint32_t);
    static const auto getWindow = reinterpret_cast<GetWindowFunction>(dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
    static const auto serverTime = reinterpret_cast<ServerTimeFunction>(dlsym(RTLD_DEFAULT, "gdk_x11_get_server_time"));
    static const auto present = reinterpret_cast<PresentFunction>(dlsym(RTLD_DEFAULT, "gtk_window_present_with_time"));
    void* shown = (getWindow && window->GetHandle()) ? getWindow(window->GetHandle()) : nullptr;
    if (wxGetDisplayInfo().type == wxDisplayX11 && shown && serverTime && present) {
        present(window->GetHandle(), serverTime(shown));
    } else {
        window->Raise();
    }
}

void EndAfterLastWindow(int) {}

}  // namespace rq::app
