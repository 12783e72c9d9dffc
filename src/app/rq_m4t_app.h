#pragma once
// The application object: chooses the interface language, loads the
// translation catalogue and shows the main window. It does no work after
// start-up.

#include <wx/app.h>
#include <wx/intl.h>

class RQ_M4TApp : public wxApp {
public:
    RQ_M4TApp();
    bool OnInit() override;

    int language;
    wxLocale locale;
};
