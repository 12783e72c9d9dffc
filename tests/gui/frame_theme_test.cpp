// The main window under the desktop's theme. Run in the normal suite (light
// theme) and once more with GTK_THEME=Adwaita:dark (see tests/CMakeLists.txt),
// where the toolkit gives every control a dark background unless told not to.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <wx/settings.h>

#include "gui/frame_fixture.h"
#include "support/sim_controller.h"

using rq::test::DestroyNow;
using rq::test::LogLine;
using rq::test::PumpUntil;
using rq::test::ReadLog;
using rq::test::SimController;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

bool DarkThemeAsked()
{
    const char* theme = std::getenv("GTK_THEME");
    return theme && std::string(theme).find(":dark") != std::string::npos;
}

// Relative luminance and contrast ratio as the WCAG defines them.
double Luminance(const wxColour& colour)
{
    const auto channel = [](unsigned char value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.Red()) + 0.7152 * channel(colour.Green()) + 0.0722 * channel(colour.Blue());
}

double Contrast(const wxColour& a, const wxColour& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::string Name(const wxColour& colour)
{
    return colour.GetAsString(wxC2S_HTML_SYNTAX).utf8_string();
}

}  // namespace

TEST(Theme, LogPaneKeepsALightPageAndItsLineColoursUnderAnyTheme)
{
    // A successful command and a failed one against simulated controllers:
    // between them they write a line in each of the log's colours.
    SimController answering;
    SimController refusing({"--status", "F0"});
    WorkDir dir;
    dir.CopyRuntimeData();
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=" + answering.PortPath() + "\n");
    auto* frame = new TestableFrame;
    frame->Show();
    if (DarkThemeAsked()) {
        // The run really is dark: the toolkit's own window colour is.
        EXPECT_LT(Luminance(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)), 0.2)
            << Name(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    }

    // What the pane holds after each command: every line's colour as drawn,
    // on the background it is drawn on.
    std::vector<LogLine> lines;
    for (const std::string& port : {answering.PortPath(), refusing.PortPath()}) {
        frame->comPort = port;
        frame->Click(frame->BlackButton);
        ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
        const auto shown = ReadLog(frame->LogView);
        lines.insert(lines.end(), shown.begin(), shown.end());
    }
    std::set<std::string> colours;
    for (const LogLine& line : lines) colours.insert(Name(line.colour));
    // Plum banner, olive Open, green Write, magenta and orange dumps, blue Read
    // and "Success", maroon Close, red "Checksum error".
    EXPECT_EQ(colours.size(), 8u) << testing::PrintToString(colours);

    // The page stays light, and each line readable on it (3:1, the least for
    // large or bold text; plain black gets far more).
    for (const LogLine& line : lines) {
        EXPECT_GT(Luminance(line.background), 0.8) << line.text << ": page " << Name(line.background);
        EXPECT_GE(Contrast(line.colour, line.background), 3.0)
            << line.text << ": " << Name(line.colour) << " on " << Name(line.background);
    }
    // The operator's own text keeps the theme's pair of colours, which the
    // theme makes readable together.
    EXPECT_GE(Contrast(frame->MessageText->GetForegroundColour(), frame->MessageText->GetBackgroundColour()), 4.5)
        << Name(frame->MessageText->GetForegroundColour()) << " on "
        << Name(frame->MessageText->GetBackgroundColour());
    if (const char* folder = std::getenv("RQ_SCREENSHOT_DIR")) {
        for (int k = 0; k < 20; ++k) {  // for the picture only: let the X server paint
            frame->Update();
            wxTheApp->Yield(true);
            wxMilliSleep(25);
        }
        const std::string command = std::string("import -window root '") + folder + "/theme" +
                                    (DarkThemeAsked() ? "-dark" : "-light") + ".png'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    DestroyNow(frame);
}
