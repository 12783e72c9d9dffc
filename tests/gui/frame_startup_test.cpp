// The main window's start-up state, its settings file and its lifecycle.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <wx/menu.h>

#include "gui/frame_fixture.h"

using rq::test::DestroyNow;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

// Destroys the frame however the test ends: an ASSERT_ returns early, and a
// window left behind breaks the suite's end instead of failing one test.
struct FrameDestroyer {
    void operator()(TestableFrame* frame) const { DestroyNow(frame); }
};
using FramePtr = std::unique_ptr<TestableFrame, FrameDestroyer>;

const char* const kFullProfile =
    "[App]\nBSP=19200\nLockBsp=0\nResetCMD=RESET\n"
    "[Model]\nModel=RQ-M4T\n"
    "[Lock]\nSize=0\nScan=0\nScroll=0\nid=0\n"
    "[Bright]\nAuto=1\nLeve=16\n"
    "[Function]\nBlack=1\nAlign=1\nBlinking=1\nScroll=1\nDefultSet=1\n"
    "[Text]\nmsgChoice1=GBK,UNICODE\nButton1=Send Message\nButton2=Default MSG\n";

}  // namespace

TEST(FrameStartup, EmptyModesDirectoryDisablesEverythingButShowsDefaults)
{
    WorkDir dir;
    std::filesystem::create_directories(dir.Path() + "/Modes");
    auto* frame = new TestableFrame;

    EXPECT_EQ(frame->GetTitle(), "RQ-M4x - LED Test");
    EXPECT_EQ(frame->GetSize(), wxSize(800, 650));
    EXPECT_EQ(frame->StatusBar->GetStatusText(0), "Welcome!");
    EXPECT_TRUE(frame->StatusBar->GetStatusText(1).StartsWith("wxWidgets 3."));
    EXPECT_NE(frame->StatusBar->GetStatusText(1), "wxWidgets 3.0.0");
    EXPECT_TRUE(frame->MenuBar->IsChecked(idMenuEnglish));
    EXPECT_FALSE(frame->MenuBar->IsChecked(idMenuChinese));
    EXPECT_EQ(frame->WidthText->GetValue(), "64");
    EXPECT_EQ(frame->HighText->GetValue(), "16");
    EXPECT_EQ(frame->ScanChoice->GetStringSelection(), "P7.62");
    EXPECT_EQ(frame->ScrollLevelChoice->GetStringSelection(), "3");
    EXPECT_EQ(frame->ScrollSpeedChoice->GetStringSelection(), "3");
    EXPECT_EQ(frame->IdText->GetValue(), "255");
    EXPECT_EQ(frame->ComPortText->GetValue(), "");
    EXPECT_EQ(frame->ModelChoice->GetCount(), 0u);
    EXPECT_FALSE(frame->MainPanel->IsEnabled());
    EXPECT_FALSE(frame->LedSetButton->IsThisEnabled() && frame->LedSetButton->IsEnabled());
    EXPECT_EQ(frame->baud, 9600);
    EXPECT_EQ(frame->idAddressing, 0);
    DestroyNow(frame);
}

TEST(FrameStartup, FirstRunCreatesAnEmptySettingsFileAndClosingKeepsItEmpty)
{
    WorkDir dir;
    auto* frame = new TestableFrame;
    EXPECT_TRUE(dir.Exists("Config/Config.ini"));
    EXPECT_EQ(dir.ReadFile("Config/Config.ini"), "");
    DestroyNow(frame);
    EXPECT_TRUE(dir.Exists("Config/Config.ini"));
    EXPECT_EQ(dir.ReadFile("Config/Config.ini"), "");
}

TEST(FrameStartup, StoredValuesThatMatchNoItemKeepTheLayoutSelection)
{
    WorkDir dir;
    dir.WriteFile("Config/Config.ini", "[LED]\nWidth=abc\nHigh=32\nScan=P5\nScrollLevel=20\nScrollSpeed=7\nid=9\n");
    auto* frame = new TestableFrame;
    EXPECT_EQ(frame->WidthText->GetValue(), "64");
    EXPECT_EQ(frame->HighText->GetValue(), "32");
    EXPECT_EQ(frame->ScanChoice->GetStringSelection(), "P7.62");
    EXPECT_EQ(frame->ledScan, "P5");  // kept until "LED Set" stores the shown one
    EXPECT_EQ(frame->ScrollLevelChoice->GetStringSelection(), "0");
    EXPECT_EQ(frame->scrollLevel, 20);
    EXPECT_EQ(frame->ScrollSpeedChoice->GetStringSelection(), "7");
    EXPECT_EQ(frame->IdText->GetValue(), "9");
    DestroyNow(frame);
}

TEST(FrameStartup, ScanIsSelectedWithoutRegardToCase)
{
    WorkDir dir;
    dir.WriteFile("Config/Config.ini", "[LED]\nScan=p10\n");
    auto* frame = new TestableFrame;
    EXPECT_EQ(frame->ScanChoice->GetStringSelection(), "P10");
    DestroyNow(frame);
}

TEST(FrameStartup, ChineseLanguageNumberTicksTheChineseItem)
{
    WorkDir dir;
    auto* frame = new TestableFrame(46);
    EXPECT_TRUE(frame->MenuBar->IsChecked(idMenuChinese));
    EXPECT_FALSE(frame->MenuBar->IsChecked(idMenuEnglish));
    DestroyNow(frame);

    auto* systemDefault = new TestableFrame(0);
    EXPECT_TRUE(systemDefault->MenuBar->IsChecked(idMenuEnglish));
    DestroyNow(systemDefault);
}

TEST(FrameStartup, WithoutSettingsModeTheFirstListedProfileIsLoadedAndNothingIsWritten)
{
    WorkDir dir;
    dir.WriteFile("Modes/RQ-M4T.ini", kFullProfile);
    FramePtr frame(new TestableFrame);
    ASSERT_EQ(frame->ModelChoice->GetCount(), 1u);
    EXPECT_EQ(frame->ModelChoice->GetStringSelection(), "RQ-M4T");
    EXPECT_EQ(frame->profile.model, "RQ-M4T");
    EXPECT_EQ(frame->profile.name, "RQ-M4T");
    EXPECT_EQ(frame->baud, 19200);  // the profile's rate replaces the stored one
    EXPECT_TRUE(frame->MainPanel->IsEnabled());
    frame.reset();
    EXPECT_EQ(dir.ReadFile("Config/Config.ini").find("Mode"), std::string::npos);
}

TEST(FrameStartup, SettingsModeNamingAMissingModelAppliesNothing)
{
    WorkDir dir;
    dir.WriteFile("Modes/RQ-M4T.ini", kFullProfile);
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=Gone\n");
    auto* frame = new TestableFrame;
    EXPECT_EQ(frame->ModelChoice->GetSelection(), wxNOT_FOUND);
    EXPECT_TRUE(frame->MainPanel->IsEnabled());
    EXPECT_EQ(frame->profile.model, "");
    EXPECT_EQ(frame->idAddressing, 0);
    EXPECT_EQ(frame->BrightCombo->GetCount(), 0u);
    EXPECT_EQ(frame->MessageChoice->GetCount(), 0u);
    EXPECT_EQ(frame->SendMessageButton->GetLabel(), "");
    EXPECT_EQ(frame->NewIdText->GetValue(), "");
    EXPECT_EQ(frame->OnIntervalText->GetValue(), "");
    EXPECT_TRUE(frame->WidthText->IsEnabled());
    EXPECT_EQ(frame->baud, 9600);
    DestroyNow(frame);
}

TEST(FrameStartup, EveryEntryOfModesIsListedWithoutItsLastExtension)
{
    WorkDir dir;
    dir.WriteFile("Modes/A.ini", "[Model]\nModel=A\n");
    dir.WriteFile("Modes/A.txt", "");
    dir.WriteFile("Modes/B.v2.ini", "");
    dir.WriteFile("Modes/Sub/x", "");
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=A\n");
    auto* frame = new TestableFrame;
    std::vector<std::string> items;
    for (unsigned i = 0; i < frame->ModelChoice->GetCount(); ++i)
        items.push_back(frame->ModelChoice->GetString(i).utf8_string());
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, (std::vector<std::string>{"A", "A", "B.v2", "Sub"}));
    DestroyNow(frame);
}

TEST(FrameLifecycle, ClosingSavesTheRunsChangesOnceAndKeepsCommentsAndUnknownKeys)
{
    WorkDir dir;
    dir.WriteFile("Modes/Other.ini", "[Model]\nModel=Other\n[Lock]\nSize=0\n");
    dir.WriteFile("Config/Config.ini", "; bench 4\n[LED]\nWidth=64\nColour=amber\n");
    auto* frame = new TestableFrame;
    frame->WidthText->SetValue("96");
    frame->Click(frame->LedSetButton);
    // Nothing reaches the disk before the window goes away.
    EXPECT_EQ(dir.ReadFile("Config/Config.ini"), "; bench 4\n[LED]\nWidth=64\nColour=amber\n");
    frame->Close();
    wxTheApp->ProcessIdle();
    const std::string saved = dir.ReadFile("Config/Config.ini");
    EXPECT_EQ(saved.rfind(rq::test::NativeLines("; bench 4\n[LED]\nWidth=96\nColour=amber\n"), 0), 0u) << saved;
    EXPECT_NE(saved.find("Scan=P7.62"), std::string::npos);
}

// The layout's fixed widths hold wherever the content fits and give way only
// where it does not. GTK's controls ask for more room than the fixed widths
// and widen to it; on Windows a button keeps its fixed width while its label
// fits with a character's room on either side. Prints what it measured.
TEST(FrameLayout, ControlsKeepTheirFixedWidthsUnlessTheContentNeedsMore)
{
    WorkDir dir;
    dir.CopyRuntimeData();
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=COM12\n");
    const FramePtr frame(new TestableFrame);
    ASSERT_EQ(frame->profile.model, "RQ-M4T");
    struct Fixed {
        const char* name;
        wxWindow* control;
        int width;
    };
    const Fixed controls[] = {
        {"ModelChoice", frame->ModelChoice, 100},          {"BrightCombo", frame->BrightCombo, 50},
        {"AlignChoice", frame->AlignChoice, 60},           {"MessageChoice", frame->MessageChoice, 90},
        {"SendMessageButton", frame->SendMessageButton, 90}, {"DefaultMessageButton", frame->DefaultMessageButton, 90},
    };
    for (const Fixed& c : controls) {
        const int width = c.control->GetSize().GetWidth();
        // What the control asks for by its content alone, without the size the layout gave it.
        const wxSize given = c.control->GetMinSize();
        c.control->SetMinSize(wxDefaultSize);
        c.control->InvalidateBestSize();
        int content = c.control->GetBestSize().GetWidth();
        c.control->SetMinSize(given);
#ifdef __WXMSW__
        if (auto* button = dynamic_cast<wxButton*>(c.control)) {
            const int label = button->GetTextExtent(button->GetLabelText()).GetWidth();
            std::printf("layout %s: label %d, best %d\n", c.name, label, content);
            content = label + 2 * button->GetCharWidth();
        }
#endif
        std::printf("layout %s: fixed %d, content %d, shown %d\n", c.name, c.width, content, width);
        // The brightness box makes room for its longest entry beside the drop
        // button, more than Windows' own measure gives it at a high scale.
        if (c.control == frame->BrightCombo)
            EXPECT_GE(width, std::max(c.width, content)) << c.name;
        else
            EXPECT_EQ(width, std::max(c.width, content)) << c.name;
    }
    const int portText = frame->ComPortText->GetTextExtent(frame->ComPortText->GetValue()).GetWidth();
    const int portWidth = frame->ComPortText->GetSize().GetWidth();
    std::printf("layout ComPortText: fixed 50, text %d, shown %d\n", portText, portWidth);
    EXPECT_GE(portWidth, 50);
    EXPECT_GT(portWidth, portText);
}

namespace {

// Every shown control of `parent`, at any depth, whose rectangle leaves the
// frame's client area; empty when all lie inside.
void CollectOutside(TestableFrame& frame, wxWindow* parent, std::vector<std::string>& outside)
{
    const wxRect client(wxPoint(0, 0), frame.GetClientSize());
    for (wxWindow* child : parent->GetChildren()) {
        if (!child->IsShown()) continue;
        const wxRect rect(frame.ScreenToClient(child->GetScreenPosition()), child->GetSize());
        if (!client.Contains(rect)) {
            outside.push_back(wxString(child->GetClassInfo()->GetClassName()).utf8_string() + " \"" +
                              child->GetLabel().utf8_string() + "\" at " + std::to_string(rect.x) + "," +
                              std::to_string(rect.y) + " " + std::to_string(rect.width) + "x" +
                              std::to_string(rect.height) + " outside " + std::to_string(client.width) + "x" +
                              std::to_string(client.height));
        }
        CollectOutside(frame, child, outside);
    }
}

}  // namespace

// A stable adapter name is long; it must not push "COM Set" or anything else
// out of the window, and it stays readable: the field shows its end, which
// tells adapters apart, and the tooltip shows it whole. Run under openbox too.
TEST(FrameLayout, LongPortNameKeepsEveryControlInsideTheWindow)
{
    const std::string port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    WorkDir dir;
    dir.CopyRuntimeData();
    dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=" + port + "\n");
    const FramePtr frame(new TestableFrame);
    frame->Show();
    ASSERT_TRUE(rq::test::PumpUntil([&] { return frame->ComSetButton->IsShownOnScreen(); }, 10000));
    // A window manager may resize the frame once it frames it: wait for the size to hold.
    wxSize settled;
    rq::test::PumpUntil([&] {
        const bool same = frame->GetClientSize() == settled;
        settled = frame->GetClientSize();
        return same && frame->GetSize().GetWidth() >= 800;
    }, 3000);

    std::vector<std::string> outside;
    CollectOutside(*frame, frame->MainPanel, outside);
    std::string report;
    for (const std::string& line : outside) report += line + "\n";
    EXPECT_EQ(report, "");
    const wxRect button(frame->ScreenToClient(frame->ComSetButton->GetScreenPosition()), frame->ComSetButton->GetSize());
    EXPECT_TRUE(wxRect(wxPoint(0, 0), frame->GetClientSize()).Contains(button))
        << "COM Set at " << button.x << "," << button.y << " in " << frame->GetClientSize().GetWidth();

    EXPECT_EQ(frame->ComPortText->GetValue().utf8_string(), port);
    ASSERT_NE(frame->ComPortText->GetToolTip(), nullptr);
    EXPECT_EQ(frame->ComPortText->GetToolTipText().utf8_string(), port);
    // The field is wide enough for the part that tells adapters apart, and it shows the end.
    EXPECT_GE(frame->ComPortText->GetSize().GetWidth(),
              frame->ComPortText->GetTextExtent("A50285BI-if00-port0").GetWidth());
    EXPECT_EQ(frame->ComPortText->GetInsertionPoint(), frame->ComPortText->GetLastPosition());
    if (const char* folder = std::getenv("RQ_SCREENSHOT_DIR")) {
        for (int k = 0; k < 20; ++k) {  // for the picture only: let the X server paint
            frame->Update();
            wxTheApp->Yield(true);
            wxMilliSleep(25);
        }
        const std::string command = std::string("import -window root '") + folder + "/long-port-name.png'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}
