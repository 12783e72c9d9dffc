#pragma once
// Window icons by name: "aaaa" (main window, 128 x 128), "RC_Comm" (serial port
// dialog, 32 x 32), "RC_About" (About dialog, 48 x 48). On Windows they are
// icon resources of the executable; elsewhere the files img/<name>.png beside
// the program.

#include <wx/icon.h>
#include <wx/string.h>

// The icon of that name; an invalid icon (IsOk() false), without any message,
// when it cannot be found or read.
wxIcon LoadNamedIcon(const wxString& name);
