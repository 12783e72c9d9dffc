// Window tests: a real wxApp under Xvfb, driven from GoogleTest.
#include <gtest/gtest.h>

#include "serial/uasd.h"
#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/image.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "platform/port_names.h"

namespace {

// Each test starts on lines without a time-out behind them: a simulated line
// may get the name of one that went before.
class ForgetTimeOutsBetweenTests : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { rq::serial::UASD::ForgetTimeOuts(); }
};

class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

void FailOnAssert(const wxString& file, int line, const wxString& func,
                  const wxString& cond, const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line)
        << "wx assert in " << func.utf8_str() << ": " << cond.utf8_str() << " " << msg.utf8_str();
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ForgetTimeOutsBetweenTests);
    // Test discovery lists the tests without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) return RUN_ALL_TESTS();
    }
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();

#ifdef _WIN32
    // The Wine suites run some tests again under another ANSI code page (the
    // one they name): a run under any other would prove nothing.
    if (const char* expected = std::getenv("RQ_EXPECT_ANSI_CODE_PAGE"); expected && std::to_string(GetACP()) != expected) {
        fprintf(stderr, "the ANSI code page is %u, not %s\n", GetACP(), expected);
        return 1;
    }
#endif
    wxApp::SetInstance(new TestApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv)) {
        fprintf(stderr, "wxWidgets could not start (is DISPLAY set?)\n");
        return 1;
    }
    // The default GUI log target shows modal boxes and would hang a test.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxSetAssertHandler(FailOnAssert);
    wxTheApp->CallOnInit();
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);

    // No window test may scan the machine's real serial devices (the first
    // one is the system console here): tests name their pseudo-terminals.
    rq::platform::SetCandidatePortNames({});

    int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
