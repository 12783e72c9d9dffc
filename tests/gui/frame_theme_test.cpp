// The main window under the desktop's theme. Run in the normal suite (light
// theme) and once more with GTK_THEME=Adwaita:dark (see tests/CMakeLists.txt),
// where the toolkit gives every control a dark background unless told not to.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include <wx/settings.h>

#include "gui/frame_fixture.h"

using rq::test::DestroyNow;
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
    WorkDir dir;
    dir.CopyRuntimeData();
    auto* frame = new TestableFrame;
    frame->Show();
    if (DarkThemeAsked()) {
        // The run really is dark: the toolkit's own window colour is.
        EXPECT_LT(Luminance(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)), 0.2)
            << Name(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    }

    const wxColour page = frame->LogView->GetBackgroundColour();
    EXPECT_EQ(Name(page), "#FFFFFF");
    EXPECT_EQ(Name(frame->LogView->GetBasicStyle().GetTextColour()), "#000000");
    // Every line colour stays as it is and readable on the page (3:1, the
    // least for large or bold text; plain black gets far more).
    for (const wxColour& colour : {rq::test::kPlum, rq::test::kOlive, rq::test::kGreen, rq::test::kMagenta,
                                   rq::test::kBlue, rq::test::kOrange, rq::test::kRed, rq::test::kMaroon}) {
        EXPECT_GE(Contrast(colour, page), 3.0) << Name(colour) << " on " << Name(page);
    }
    frame->AppendLog("reply read", wxColour(0, 0, 255), false);
    const auto lines = rq::test::ReadLog(frame->LogView);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Name(lines.back().colour), "#0000FF");

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
