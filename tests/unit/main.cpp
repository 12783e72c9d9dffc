// Unit tests run with the wx base library initialised (no display needed):
// the worker posts toolkit events and the settings store uses wxFileConfig.
#include <gtest/gtest.h>
#include <wx/init.h>
#include <wx/log.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxInitializer initializer;
    if (!initializer.IsOk()) {
        fprintf(stderr, "wxWidgets could not be initialised\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    return RUN_ALL_TESTS();
}
