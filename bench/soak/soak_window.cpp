// soak_window: N transactions (10 000 by default) through the main window
// against the simulated controller, clicking the Set buttons in turn as an
// operator would. Prints the process's resident memory (VmRSS) and open file
// descriptors at the start, after a warm-up and at the end, and counts the
// transactions that did not end in "Success" or that the controller did not
// receive. Needs a display (xvfb-run).
//
// usage: soak_window [transactions] [warm-up]      (defaults 10000 and 200)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include "support/sim_controller.h"
#include "support/work_dir.h"
#include "ui/rq_m4t_frame.h"

namespace {

using Clock = std::chrono::steady_clock;

class SoakApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// The window with its buttons within reach.
class SoakFrame : public RQ_M4TFrame {
public:
    SoakFrame() : RQ_M4TFrame(nullptr, 58) {}

    std::vector<wxButton*> Buttons()
    {
        MessageText->SetValue("soak");
        return {BlackButton, BrightSetButton, AlignSetButton, ResetButton, BlinkingSetButton,
                ScrollSetButton, LedSetButton, SendMessageButton};
    }

    void Click(wxButton* button)
    {
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(click);
    }

    // The log pane's lines, for a failure report.
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        for (int i = 0; i < LogView->GetNumberOfLines(); ++i) lines.push_back(LogView->GetLineText(i).utf8_string());
        return lines;
    }

    // The result line is the one before "Close:".
    bool EndedInSuccess()
    {
        const int lines = LogView->GetNumberOfLines();
        for (int i = lines - 1; i >= 0; --i) {
            const wxString text = LogView->GetLineText(i);
            if (text.empty()) continue;
            if (!text.Contains("Close: ")) return false;
            return i > 0 && LogView->GetLineText(i - 1) == wxString(' ', 17) + "Success";
        }
        return false;
    }
};

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int OpenDescriptors()
{
    int count = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds))
            if (entry->d_name[0] != '.') ++count;
        closedir(fds);
        --count;  // the directory stream itself
    }
    return count;
}

void Report(const char* when, long done, Clock::time_point start)
{
    std::printf("%-8s transactions %6ld  VmRSS %7ld KiB  descriptors %3d  elapsed %7.1f s\n", when, done,
                ResidentKiB(), OpenDescriptors(), std::chrono::duration<double>(Clock::now() - start).count());
    std::fflush(stdout);
}

// Pumps events until the window is idle again, at most 10 s.
bool WaitIdle(SoakFrame& frame)
{
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (frame.IsBusy()) {
        if (Clock::now() > deadline) return false;
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
    }
    wxTheApp->ProcessPendingEvents();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const long total = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    const long warmUp = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 200;
    if (total <= 0 || warmUp < 0 || warmUp > total) {
        std::fprintf(stderr, "usage: soak_window [transactions] [warm-up]\n");
        return 2;
    }

    wxApp::SetInstance(new SoakApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "soak_window: no display (run under xvfb-run)\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxTheApp->CallOnInit();

    long failed = 0, stuck = 0;
    std::size_t received = 0;
    {
        rq::test::WorkDir dir;
        dir.CopyRuntimeData();
        rq::test::SimController sim;
        dir.WriteFile("Config/Config.ini",
                      "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=" + sim.PortPath() + "\nBSP=9600\n[LED]\nid=1\n");

        const auto start = Clock::now();
        Report("start", 0, start);
        auto* frame = new SoakFrame;
        const std::vector<wxButton*> buttons = frame->Buttons();
        Report("window", 0, start);

        for (long n = 1; n <= total; ++n) {
            frame->Click(buttons[static_cast<std::size_t>(n) % buttons.size()]);
            if (!WaitIdle(*frame)) {
                ++stuck;
                break;
            }
            if (!frame->EndedInSuccess()) {
                ++failed;
                if (failed <= 5) {
                    std::fprintf(stderr, "transaction %ld failed:\n", n);
                    for (const std::string& line : frame->LogLines()) std::fprintf(stderr, "  %s\n", line.c_str());
                }
            }
            if (n == warmUp) Report("warm-up", n, start);
            if (n % 1000 == 0 && n != total) Report("", n, start);
        }
        Report("end", total, start);
        received = sim.RecordedFrames().size();
        frame->Destroy();
        wxTheApp->ProcessIdle();
    }
    std::printf("failed transactions %ld, stuck %ld, frames received by the controller %zu of %ld\n", failed,
                stuck, received, total);
    wxEntryCleanup();
    return failed == 0 && stuck == 0 && received == static_cast<std::size_t>(total) ? 0 : 1;
}
