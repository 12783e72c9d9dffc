// The running window carries a property named after the folder lock; a later
// start, being the one the user just started, may make it the foreground
// window itself. Another session's windows are not listed here.
#include "platform/forward_requests.h"

#include <windows.h>

#include <wx/toplevel.h>

namespace rq::app {

namespace {

std::wstring PropertyName(const std::string& name)
{
    return std::wstring(name.begin(), name.end());  // the name is ASCII
}

}  // namespace

struct ForwardRequests::Impl {
    HWND window = nullptr;
    std::wstring property;
};

ForwardRequests::ForwardRequests(const std::string& name, wxTopLevelWindow* window) : impl(std::make_unique<Impl>())
{
    impl->property = PropertyName(name);
    impl->window = static_cast<HWND>(window->GetHandle());
    if (!SetPropW(impl->window, impl->property.c_str(), reinterpret_cast<HANDLE>(1))) impl->window = nullptr;
    // The property goes before its window does, as the system asks.
    window->Bind(wxEVT_DESTROY, [this, window](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetEventObject() != window || !impl->window) return;
        RemovePropW(impl->window, impl->property.c_str());
        impl->window = nullptr;
    });
}

ForwardRequests::~ForwardRequests()
{
    if (impl->window && IsWindow(impl->window)) RemovePropW(impl->window, impl->property.c_str());
}

bool BringRunningCopyForward(const std::string& name)
{
    struct Search {
        std::wstring property;
        HWND found = nullptr;
    } search{PropertyName(name)};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* search = reinterpret_cast<Search*>(data);
            if (!GetPropW(window, search->property.c_str())) return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
    // Allowed: this process is the foreground one, started by the user.
    SetForegroundWindow(search.found);
    return true;
}

}  // namespace rq::app
