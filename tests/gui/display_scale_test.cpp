// The main window and both dialogs at the display's scale: 96 DPI here and
// in the suites, 144 and 192 DPI in the rows tests/wine/run-suites.sh adds
// (LogPixels). Every control lies inside its parent's client area and no two
// controls of one parent overlap; the fixed sizes grow with the scale.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/statusbr.h>

#include "dialogs/commun_set.h"
#include "dialogs/kq_about.h"
#include "gui/frame_fixture.h"
#include "platform/port_names.h"

using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

std::string Describe(const wxWindow* window)
{
    const wxRect r = window->GetRect();
    return wxString(window->GetClassInfo()->GetClassName()).utf8_string() + " \"" + window->GetLabel().utf8_string() + "\" at " +
           std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

// What a person would see cut off or drawn over, below `parent`.
void CollectLayoutFaults(wxWindow* parent, std::vector<std::string>& faults)
{
    const wxRect client(wxPoint(0, 0), parent->GetClientSize());
    std::vector<wxWindow*> shown;
    for (wxWindow* child : parent->GetChildren()) {
        // A frame's status bar lies below its client area by design. (IsKindOf, not
        // wxDynamicCast: the latter's static downcast trips UBSan's vptr check.)
        if (!child->IsShown() || child->IsTopLevel() || child->IsKindOf(wxCLASSINFO(wxStatusBar))) continue;
        shown.push_back(child);
        if (!client.Contains(child->GetRect())) {
            faults.push_back(Describe(child) + " outside the client area of " + Describe(parent));
        }
        CollectLayoutFaults(child, faults);
    }
    for (size_t a = 0; a < shown.size(); ++a) {
        for (size_t b = a + 1; b < shown.size(); ++b) {
            // A group box frames the controls placed on it.
            if (shown[a]->IsKindOf(wxCLASSINFO(wxStaticBox)) || shown[b]->IsKindOf(wxCLASSINFO(wxStaticBox))) continue;
            if (shown[a]->GetRect().Intersects(shown[b]->GetRect())) {
                faults.push_back(Describe(shown[a]) + " overlaps " + Describe(shown[b]));
            }
        }
    }
}

std::string LayoutFaults(wxWindow* window)
{
    std::vector<std::string> faults;
    CollectLayoutFaults(window, faults);
    std::string text;
    for (const std::string& fault : faults) text += fault + "\n";
    return text;
}

void ShowAndSettle(wxTopLevelWindow* window)
{
    window->Show();
    rq::test::PumpUntil([&] { return window->IsShownOnScreen() && LayoutFaults(window).empty(); }, 10000);
}

// The window as the screen shows it, for a person to look at, when
// RQ_SCREENSHOT_DIR names a folder; read from the screen by the toolkit, so
// that it works under Wine too.
void Screenshot(wxTopLevelWindow* window, const std::string& name)
{
    const char* folder = std::getenv("RQ_SCREENSHOT_DIR");
    if (!folder) return;
    // Drawn, not only laid out: nothing tells when painting is done. Only
    // for the picture, never for a check.
    for (int k = 0; k < 20; ++k) {
        window->Update();
        wxTheApp->Yield(true);
        wxMilliSleep(25);
    }
    const wxRect rect = window->GetScreenRect();
    wxBitmap picture(rect.GetSize(), 24);
    {
        wxScreenDC screen;
        wxMemoryDC memory(picture);
        memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    }
    const wxString path = wxString::FromUTF8(folder) + wxFILE_SEP_PATH + name + wxString::Format("-%ddpi.png", window->GetDPI().GetHeight());
    EXPECT_TRUE(picture.SaveFile(path, wxBITMAP_TYPE_PNG)) << path.utf8_string();
}

TEST(DisplayScale, MainWindowAndBothDialogsShowWholeAtTheDisplaysScale)
{
    WorkDir dir;
    dir.CopyRuntimeData();
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n");
    rq::platform::SetCandidatePortNames({});
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);

    auto* frame = new TestableFrame;
    ShowAndSettle(frame);
    const wxRect screen = wxDisplay(frame).GetGeometry();
    std::printf("window at %d DPI: %dx%d on a screen of %dx%d\n", frame->GetDPI().GetHeight(), frame->GetSize().GetWidth(),
                frame->GetSize().GetHeight(), screen.width, screen.height);
    // Windows keeps a window within its screen (with the frame's borders).
    const wxSize scaled = frame->FromDIP(wxSize(800, 650));
    if (screen.width >= scaled.GetWidth() && screen.height >= scaled.GetHeight()) {
        EXPECT_EQ(frame->GetSize(), scaled);
    } else {
        EXPECT_GE(frame->GetSize().GetWidth(), std::min(scaled.GetWidth(), screen.width));
    }
    EXPECT_EQ(LayoutFaults(frame), "");
    Screenshot(frame, "main-window");
    // Each brightness entry has its room beside the drop button, at every scale.
    wxComboBox* bright = frame->BrightCombo;
    ASSERT_GT(bright->GetCount(), 0u);
    for (unsigned k = 0; k < bright->GetCount(); ++k) {
        EXPECT_GE(bright->GetSize().GetWidth(), bright->GetTextExtent(bright->GetString(k)).GetWidth() +
                                                    wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, bright))
            << bright->GetString(k).utf8_string();
    }

    {
        _CommunSet serial(frame, "Serial port settings", "COM3", 9600, "img//devices64.png", 2);
        ShowAndSettle(&serial);
        EXPECT_EQ(LayoutFaults(&serial), "");
        EXPECT_GE(serial.GetSize().GetWidth(), serial.FromDIP(350));
        EXPECT_GE(serial.QuitButton->GetSize().GetWidth(), serial.FromDIP(80));
        // At 200 % the buttons show their images as drawn at twice the size,
        // pixel for pixel, not the small ones enlarged; at 100 % the small ones.
        // Windows hands out the bitmap it draws at the window's scale; GTK
        // hands out the small one and picks from the images by itself.
#ifdef __WXMSW__
        const bool large = serial.GetDPIScaleFactor() >= 2;
#else
        const bool large = false;
#endif
        for (const auto& [button, file] : {std::pair{serial.OkButton, "OK"}, std::pair{serial.ApplyButton, "Application"},
                                           std::pair{serial.QuitButton, "exit"}}) {
            const wxImage shown = button->GetBitmap().ConvertToImage();
            // Through a bitmap as the button's own went, so that the platform's
            // handling of transparent pixels is the same on both sides.
            const wxImage drawn =
                wxBitmap(wxImage(wxString("img/") + file + (large ? "@2x" : "") + ".png")).ConvertToImage();
            ASSERT_TRUE(shown.IsOk() && drawn.IsOk()) << file;
            EXPECT_EQ(shown.GetSize(), drawn.GetSize()) << file;
            EXPECT_TRUE(shown.GetSize() == drawn.GetSize() &&
                        std::equal(shown.GetData(), shown.GetData() + 3 * shown.GetWidth() * shown.GetHeight(), drawn.GetData()))
                << file << ": not the image as drawn";
        }
        Screenshot(&serial, "serial-dialog");
    }
    {
        _KQ_About about(frame, "About", "RQ-M4x - LED Test");
        ShowAndSettle(&about);
        EXPECT_EQ(LayoutFaults(&about), "");
        EXPECT_EQ(about.AboutOkButton->GetSize(), about.FromDIP(wxSize(96, 24)));
        Screenshot(&about, "about-dialog");
    }
    rq::test::DestroyNow(frame);
    rq::platform::SetCandidatePortNames({});
}

}  // namespace
