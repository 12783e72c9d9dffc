// bench_startup: how long RQ-M4x - LED Test takes from process start to its
// window shown, and how much resident memory it holds then, beside a bare
// wxWidgets frame with the same kinds and number of controls, built here.
//
// Each sample is a fresh process of this very executable (so both sides load
// the same libraries): the parent starts the clock, the child runs either the
// program's own start-up (RQ_M4TApp::OnInit in a working directory holding
// the bundled profiles) or the bare frame, and at its first idle event after
// the frame is shown writes its VmRSS to a pipe and ends. The two kinds
// alternate; the first sample of each is a warm-up and is dropped.
//
// usage: bench_startup [runs]     (default 9; needs an X display, e.g. xvfb-run -a)

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/richtext/richtextctrl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/rq_m4t_app.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr double TARGET_RATIO = 1.5;
constexpr int CHILD_TIMEOUT_MS = 60000;
// The child writes its report to this descriptor.
constexpr int REPORT_FD = 3;

long ResidentKiB()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
    }
    std::fclose(status);
    return kib;
}

// Reports once, at the first idle event after start-up, and ends the process
// without tearing the window down: only start-up is measured.
void ReportAndExit()
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%ld\n", ResidentKiB());
    [[maybe_unused]] ssize_t written = write(REPORT_FD, text, static_cast<size_t>(n));
    _exit(0);
}

// The program's own start-up path: OnInit builds and shows the main window.
class ProgramApp : public RQ_M4TApp {
public:
    bool OnInit() override
    {
        const bool started = RQ_M4TApp::OnInit();
        Bind(wxEVT_IDLE, [](wxIdleEvent&) { ReportAndExit(); });
        return started;
    }
};

// A frame with the window's mix of controls: menus, a two-field status bar,
// 5 panels, 18 labels, 10 text fields, 6 lists, a combo box, a check box,
// 12 buttons, 3 group boxes, 7 separators and a rich-text log: 64 windows,
// where the program's window has 65.
class BareFrame : public wxFrame {
public:
    BareFrame() : wxFrame(nullptr, wxID_ANY, "bare frame", wxDefaultPosition, wxSize(800, 650))
    {
        auto* menuBar = new wxMenuBar;
        auto* file = new wxMenu;
        file->Append(wxID_EXIT, "&Quit\tAlt+F4");
        auto* settings = new wxMenu;
        auto* language = new wxMenu;
        language->AppendRadioItem(wxID_ANY, "&English");
        language->AppendRadioItem(wxID_ANY, "Chinese(&Simplified)");
        settings->AppendSubMenu(language, "&Language");
        settings->Append(wxID_ANY, "&COM Settings");
        auto* help = new wxMenu;
        help->Append(wxID_ABOUT, "&About\tF1");
        menuBar->Append(file, "&File");
        menuBar->Append(settings, "&Settings");
        menuBar->Append(help, "&Help");
        SetMenuBar(menuBar);
        CreateStatusBar(2);

        auto* main = new wxPanel(this);
        auto* column = new wxBoxSizer(wxVERTICAL);
        wxArrayString numbers;
        for (int i = 0; i < 16; ++i) numbers.Add(wxString::Format("%d", i));

        auto* top = new wxBoxSizer(wxHORIZONTAL);
        Label(main, top, "Model:");
        Add(top, new wxChoice(main, wxID_ANY, wxDefaultPosition, wxSize(100, -1)));
        Label(main, top, "ID:");
        Text(main, top, "255");
        Label(main, top, "");
        Label(main, top, "COM Port:");
        Text(main, top, "");
        Add(top, new wxButton(main, wxID_ANY, "COM Set"));
        column->Add(top, 0, wxEXPAND);

        auto* led = new wxStaticBoxSizer(new wxStaticBox(main, wxID_ANY, "LED Setting"), wxHORIZONTAL);
        Label(main, led, "Width(Dot)");
        Text(main, led, "64");
        Label(main, led, "High(Dot)");
        Text(main, led, "16");
        Label(main, led, "Scan");
        const wxString scans[] = {"P10", "P7.62", "P4.75"};
        Add(led, new wxChoice(main, wxID_ANY, wxDefaultPosition, wxDefaultSize, 3, scans));
        Label(main, led, "Scroll");
        Add(led, new wxChoice(main, wxID_ANY, wxDefaultPosition, wxDefaultSize, numbers));
        Label(main, led, "Speed");
        Add(led, new wxChoice(main, wxID_ANY, wxDefaultPosition, wxDefaultSize, numbers));
        Add(led, new wxButton(main, wxID_ANY, "LED Set"));
        column->Add(led, 0, wxEXPAND);

        auto* basic = new wxStaticBoxSizer(new wxStaticBox(main, wxID_ANY, "Basic Setting"), wxVERTICAL);
        auto* brightRow = new wxBoxSizer(wxHORIZONTAL);
        Label(main, brightRow, "Bright:");
        Add(brightRow, new wxComboBox(main, wxID_ANY, "Auto", wxDefaultPosition, wxSize(50, -1), numbers));
        Add(brightRow, new wxButton(main, wxID_ANY, "Bright Set"));
        Line(main, brightRow);
        Add(brightRow, new wxButton(main, wxID_ANY, "Black"));
        Line(main, brightRow);
        const wxString aligns[] = {"Left", "Center", "Right"};
        Add(brightRow, new wxChoice(main, wxID_ANY, wxDefaultPosition, wxSize(60, -1), 3, aligns));
        Add(brightRow, new wxButton(main, wxID_ANY, "Align Set"));
        Line(main, brightRow);
        Add(brightRow, new wxButton(main, wxID_ANY, "Reset LED"));
        Line(main, brightRow);
        Add(brightRow, new wxButton(main, wxID_ANY, "Defult Set"));
        basic->Add(brightRow, 0, wxEXPAND);
        Line(main, basic, wxLI_HORIZONTAL);

        auto* blinking = new wxPanel(main);
        auto* blinkRow = new wxBoxSizer(wxHORIZONTAL);
        Label(blinking, blinkRow, "Blinking:");
        Add(blinkRow, new wxCheckBox(blinking, wxID_ANY, "Enable."));
        Label(blinking, blinkRow, "On interval");
        Text(blinking, blinkRow, "1000");
        Label(blinking, blinkRow, "Off interval");
        Text(blinking, blinkRow, "1000");
        Add(blinkRow, new wxButton(blinking, wxID_ANY, "Blinking Set"));
        blinking->SetSizer(blinkRow);
        basic->Add(blinking, 0, wxEXPAND);
        Line(main, basic, wxLI_HORIZONTAL);

        auto* rollRow = new wxBoxSizer(wxHORIZONTAL);
        auto* roll = new wxPanel(main);
        auto* rollInner = new wxBoxSizer(wxHORIZONTAL);
        Label(roll, rollInner, "Elapsed time:");
        Text(roll, rollInner, "3000");
        Label(roll, rollInner, "Speed:");
        Text(roll, rollInner, "50");
        Add(rollInner, new wxButton(roll, wxID_ANY, "Scroll Set"));
        roll->SetSizer(rollInner);
        rollRow->Add(roll);
        Line(main, rollRow);
        auto* newId = new wxPanel(main);
        auto* newIdInner = new wxBoxSizer(wxHORIZONTAL);
        Label(newId, newIdInner, "New ID:");
        Text(newId, newIdInner, "1");
        Add(newIdInner, new wxButton(newId, wxID_ANY, "Change ID"));
        newId->SetSizer(newIdInner);
        rollRow->Add(newId);
        basic->Add(rollRow, 0, wxEXPAND);
        column->Add(basic, 0, wxEXPAND);

        auto* message = new wxStaticBoxSizer(new wxStaticBox(main, wxID_ANY, "Message Send"), wxVERTICAL);
        auto* messagePanel = new wxPanel(main);
        auto* messageRow = new wxBoxSizer(wxHORIZONTAL);
        Label(messagePanel, messageRow, "Encoding:");
        const wxString encodings[] = {"GBK", "UNICODE"};
        Add(messageRow, new wxChoice(messagePanel, wxID_ANY, wxDefaultPosition, wxSize(90, -1), 2, encodings));
        Label(messagePanel, messageRow, "Send:");
        Add(messageRow, new wxButton(messagePanel, wxID_ANY, "Send Message"));
        Add(messageRow, new wxButton(messagePanel, wxID_ANY, "Default MSG"));
        messagePanel->SetSizer(messageRow);
        message->Add(messagePanel, 0, wxEXPAND);
        message->Add(new wxTextCtrl(main, wxID_ANY, "", wxDefaultPosition, wxSize(-1, 120), wxTE_MULTILINE), 0,
                     wxEXPAND | wxALL, 5);
        column->Add(message, 0, wxEXPAND);

        column->Add(new wxRichTextCtrl(main, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                       wxRE_READONLY | wxHSCROLL | wxVSCROLL | wxBORDER_NONE),
                    1, wxEXPAND | wxALL, 5);
        main->SetSizer(column);
        Layout();
        Centre();
        SetStatusText("Welcome!", 0);
    }

private:
    static void Add(wxSizer* sizer, wxWindow* control) { sizer->Add(control, 0, wxALL, 5); }
    static void Label(wxWindow* parent, wxSizer* sizer, const wxString& text)
    {
        sizer->Add(new wxStaticText(parent, wxID_ANY, text), 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    }
    static void Text(wxWindow* parent, wxSizer* sizer, const wxString& text)
    {
        Add(sizer, new wxTextCtrl(parent, wxID_ANY, text, wxDefaultPosition, wxSize(50, -1)));
    }
    static void Line(wxWindow* parent, wxSizer* sizer, long style = wxLI_VERTICAL)
    {
        sizer->Add(new wxStaticLine(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, style), 0,
                   wxEXPAND | wxALL, 5);
    }
};

class BareApp : public wxApp {
public:
    bool OnInit() override
    {
        (new BareFrame)->Show();
        Bind(wxEVT_IDLE, [](wxIdleEvent&) { ReportAndExit(); });
        return true;
    }
};

int RunChild(const std::string& kind)
{
    wxApp::SetInstance(kind == "program" ? static_cast<wxApp*>(new ProgramApp) : new BareApp);
    // The toolkit sees no arguments, as when the program is started normally.
    int argc = 1;
    char name[] = "bench_startup";
    char* argv[] = {name, nullptr};
    return wxEntry(argc, argv);
}

struct Sample {
    double ms = 0;
    long rssKiB = 0;
};

// Starts a child of the given kind in `dir` and waits for its report.
bool Measure(const std::string& self, const std::string& kind, const fs::path& dir, Sample& sample)
{
    int report[2];
    if (pipe(report) != 0) return false;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        dup2(report[1], REPORT_FD);
        if (report[0] != REPORT_FD) close(report[0]);
        if (report[1] != REPORT_FD) close(report[1]);
        execl(self.c_str(), self.c_str(), "--child", kind.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    std::string text;
    bool reported = false;
    while (!reported) {
        pollfd entry{report[0], POLLIN, 0};
        const int left = CHILD_TIMEOUT_MS - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                               Clock::now() - start)
                                                               .count());
        if (left <= 0 || poll(&entry, 1, left) <= 0) break;
        char buffer[64];
        const ssize_t n = read(report[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
        reported = text.find('\n') != std::string::npos;
    }
    const auto end = Clock::now();
    close(report[0]);
    if (!reported) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!reported) return false;
    sample.ms = std::chrono::duration<double, std::milli>(end - start).count();
    sample.rssKiB = std::strtol(text.c_str(), nullptr, 10);
    return sample.rssKiB > 0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A working directory as a first start finds it: the bundled profiles,
// images and catalogue, no settings file yet.
fs::path MakeWorkDir()
{
    char pattern[] = "/tmp/bench_startup.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return {};
    const fs::path dir = made;
    for (const char* part : {"Modes", "img", "locale"}) {
        const fs::path from = fs::path(RQ_RUNTIME_DIR) / part;
        if (fs::exists(from)) fs::copy(from, dir / part, fs::copy_options::recursive);
    }
    return dir;
}

int RunParent(int runs)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_startup: needs an X display (run it under xvfb-run -a)\n");
        return 1;
    }
    if (!fs::exists(fs::path(RQ_RUNTIME_DIR) / "Modes")) {
        std::fprintf(stderr, "bench_startup: no bundled profiles in %s; build rq_runtime\n", RQ_RUNTIME_DIR);
        return 1;
    }
    // Same for both kinds: no accessibility bus to wait for.
    setenv("NO_AT_BRIDGE", "1", 1);
    const std::string self = fs::read_symlink("/proc/self/exe");
    const fs::path work = MakeWorkDir();
    if (work.empty()) {
        std::perror("bench_startup: working directory");
        return 1;
    }

    std::vector<double> programMs, bareMs, programRss, bareRss;
    bool ok = true;
    for (int run = 0; run <= runs && ok; ++run) {
        Sample program, bare;
        ok = Measure(self, "program", work, program) && Measure(self, "bare", work, bare);
        if (!ok) break;
        if (run == 0) continue;  // warm-up: file caches, font cache
        programMs.push_back(program.ms);
        bareMs.push_back(bare.ms);
        programRss.push_back(program.rssKiB / 1024.0);
        bareRss.push_back(bare.rssKiB / 1024.0);
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    if (!ok) {
        std::fprintf(stderr, "bench_startup: a child did not report its start-up\n");
        return 1;
    }

    const double timeProgram = Median(programMs), timeBare = Median(bareMs);
    const double rssProgram = Median(programRss), rssBare = Median(bareRss);
    const double timeRatio = timeProgram / timeBare, rssRatio = rssProgram / rssBare;
    std::printf("Start-up to the window shown (first idle event), medians of %d runs each\n", runs);
    std::printf("  %-34s %10s %12s\n", "", "time ms", "VmRSS MiB");
    std::printf("  %-34s %10.1f %12.1f\n", "RQ-M4x - LED Test (bundled profile)", timeProgram, rssProgram);
    std::printf("  %-34s %10.1f %12.1f\n", "bare frame, 64 similar controls", timeBare, rssBare);
    std::printf("  %-34s %10.2f %12.2f   target at most %.1f: %s\n", "ratio", timeRatio, rssRatio, TARGET_RATIO,
                timeRatio <= TARGET_RATIO && rssRatio <= TARGET_RATIO ? "met" : "NOT met");
    const auto [minP, maxP] = std::minmax_element(programMs.begin(), programMs.end());
    const auto [minB, maxB] = std::minmax_element(bareMs.begin(), bareMs.end());
    std::printf("  time range ms: program %.1f to %.1f, bare %.1f to %.1f\n", *minP, *maxP, *minB, *maxB);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return RunChild(argv[2]);
    int runs = 9;
    if (argc == 2) runs = std::atoi(argv[1]);
    if (argc > 2 || runs < 1) {
        std::fprintf(stderr, "usage: bench_startup [runs]\n");
        return 2;
    }
    return RunParent(runs);
}
