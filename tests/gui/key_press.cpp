#include "gui/key_press.h"

#include <cstdlib>

#include <wx/uiaction.h>

#include "gui/frame_fixture.h"

#ifdef __WXGTK__
#include <dlfcn.h>
#endif

namespace rq::test {

bool KeyboardReachesWindows()
{
#ifdef _WIN32
    return true;
#else
    const char* manager = std::getenv("RQ_WINDOW_MANAGER");
    return manager && *manager;
#endif
}

namespace {

#ifdef __WXGTK__
// The toolkit learns of focus only in the widgets it made itself, so a choice
// or combo box whose inner button or entry holds the focus reads as none: ask
// GTK, looked up rather than linked (the build has no GTK headers).
void* NativeFocus(wxTopLevelWindow* window)
{
    using GetFocus = void* (*)(void*);
    static const auto getFocus = reinterpret_cast<GetFocus>(dlsym(RTLD_DEFAULT, "gtk_window_get_focus"));
    return getFocus && window->IsActive() ? getFocus(window->GetHandle()) : nullptr;
}

wxWindow* ChildHolding(wxTopLevelWindow* window)
{
    using IsAncestor = int (*)(void*, void*);
    static const auto isAncestor = reinterpret_cast<IsAncestor>(dlsym(RTLD_DEFAULT, "gtk_widget_is_ancestor"));
    void* focus = NativeFocus(window);
    if (!focus || !isAncestor) return nullptr;
    for (wxWindow* child : window->GetChildren()) {
        void* widget = child->GetHandle();
        if (widget && (widget == focus || isAncestor(focus, widget))) return child;
    }
    return nullptr;
}
#else
void* NativeFocus(wxTopLevelWindow*)
{
    return wxWindow::FindFocus();
}

wxWindow* ChildHolding(wxTopLevelWindow* window)
{
    wxWindow* focus = wxWindow::FindFocus();
    while (focus && focus->GetParent() != window) focus = focus->GetParent();
    return focus;
}
#endif

}  // namespace

wxWindow* FocusedChild(wxTopLevelWindow* window, int timeoutMs)
{
    PumpUntil([&] { return ChildHolding(window) != nullptr; }, timeoutMs);
    return ChildHolding(window);
}

void PressKey(int key, wxTopLevelWindow* window)
{
    void* const from = window ? NativeFocus(window) : nullptr;
    wxUIActionSimulator keyboard;
    keyboard.Char(key);
    if (window) PumpUntil([&] { return NativeFocus(window) != from; });
    else wxTheApp->Yield(true);
}

}  // namespace rq::test
