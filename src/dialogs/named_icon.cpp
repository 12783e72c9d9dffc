#include "dialogs/named_icon.h"

#include <wx/bitmap.h>
#include <wx/filefn.h>
#include <wx/log.h>

wxIcon LoadNamedIcon(const wxString& name)
{
    // A missing icon is no news for the operator: the window simply has none.
    wxLogNull quiet;
#ifdef __WXMSW__
    return wxIcon(name, wxBITMAP_TYPE_ICO_RESOURCE);
#else
    const wxString path = "img/" + name + ".png";
    wxIcon icon;
    if (!wxFileExists(path)) return icon;
    const wxBitmap bitmap(path, wxBITMAP_TYPE_PNG);
    if (bitmap.IsOk()) icon.CopyFromBitmap(bitmap);
    return icon;
#endif
}
