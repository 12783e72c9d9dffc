#pragma once
// The application object: chooses the interface language, loads the
// translation catalogue and shows the main window. It does no work after
// start-up.

#include <memory>
#include <string>

#include <wx/app.h>
#include <wx/intl.h>

#include "platform/forward_requests.h"
#include "platform/running_mark.h"

class RQ_M4TApp : public wxApp {
public:
    RQ_M4TApp();
    bool OnInit() override;
    int OnRun() override;

    int language;
    wxLocale locale;

private:
    // Held while the window is open: one window per settings folder, so two
    // windows never overwrite each other's settings at exit.
    std::string instanceName;
    std::unique_ptr<rq::app::FolderLock> folderLock;
    bool alreadyRunningHere = false;
    std::unique_ptr<rq::app::RunningMark> runningMark;
    // Lets a later start in this folder bring the window forward.
    std::unique_ptr<rq::app::ForwardRequests> forwardRequests;
};
