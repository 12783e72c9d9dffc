// Menu commands: language and model for the next start, the serial port
// settings for the next transaction, About.
#include <unistd.h>

#include <wx/testing.h>

#include "dialogs/commun_set.h"
#include "dialogs/kq_about.h"
#include "gui/expect_message_box.h"
#include "gui/frame_fixture.h"
#include "platform/port_names.h"
#include "support/sim_controller.h"
#include "ui/find_signs_dialog.h"

using rq::test::DestroyNow;
using rq::test::ExpectMessageBox;
using rq::test::PumpUntil;
using rq::test::SimController;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

// Answers the serial settings dialog: checks what it shows, then either picks
// `port` and presses OK (its test-open must pass) or presses Quit.
class AnswerSerialSettings : public wxExpectModalBase<_CommunSet, AnswerSerialSettings> {
public:
    AnswerSerialSettings(std::string port, std::string expectedBaudText, bool expectBaudLocked)
        : port(std::move(port)), expectedBaudText(std::move(expectedBaudText)), expectBaudLocked(expectBaudLocked)
    {
    }

protected:
    int OnInvoked(_CommunSet* dialog) const override
    {
        EXPECT_EQ(dialog->GetTitle(), "Serial port settings");
        EXPECT_EQ(dialog->BaudCombo->GetValue(), expectedBaudText);
        EXPECT_EQ(dialog->BaudCombo->IsEnabled(), !expectBaudLocked);
        wxBitmapButton* button = dialog->QuitButton;
        if (!port.empty()) {
            dialog->PortChoice->SetStringSelection(port);
            button = dialog->OkButton;
            button->Enable();
        }
        wxCommandEvent press(wxEVT_BUTTON, button->GetId());
        press.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(press);
        return wxID_OK;
    }

private:
    std::string port;
    std::string expectedBaudText;
    bool expectBaudLocked;
};

class AnswerAbout : public wxExpectModalBase<_KQ_About, AnswerAbout> {
protected:
    int OnInvoked(_KQ_About* dialog) const override
    {
        EXPECT_EQ(dialog->GetTitle(), "About RQ-M4x - LED Test");
        EXPECT_NE(dynamic_cast<RQ_M4TFrame*>(dialog->GetParent()), nullptr);
        return wxID_OK;
    }
};

// Finds the signs of `ids` (at every rate when asked), expects `listed`
// (without the times), and uses the entry `use`.
class AnswerFindSigns : public wxExpectModalBase<FindSignsDialog, AnswerFindSigns> {
public:
    AnswerFindSigns(std::string ids, bool everyRate, std::vector<std::string> listed, int use)
        : ids(std::move(ids)), everyRate(everyRate), listed(std::move(listed)), use(use)
    {
    }

protected:
    int OnInvoked(FindSignsDialog* dialog) const override
    {
        EXPECT_EQ(dialog->GetTitle(), "Find Signs");
        dialog->IdsText->SetValue(ids);
        dialog->EveryRateCheck->SetValue(everyRate);
        dialog->StartSearch();
        EXPECT_TRUE(PumpUntil([&] { return !dialog->IsSearching(); }, 30000));
        std::vector<std::string> shown;
        for (const wxString& line : dialog->ListedSigns()) shown.push_back(line.Left(line.rfind(" in ")).utf8_string());
        EXPECT_EQ(shown, listed);
        dialog->SignList->SetSelection(use);
        wxCommandEvent press(wxEVT_BUTTON, dialog->UseButton->GetId());
        press.SetEventObject(dialog->UseButton);
        dialog->UseButton->GetEventHandler()->ProcessEvent(press);
        return dialog->chosen ? wxID_OK : wxID_CANCEL;
    }

private:
    std::string ids;
    bool everyRate;
    std::vector<std::string> listed;
    int use;
};

// The offer of the sign's rate, taken.
class TakeTheRate : public wxExpectModalBase<wxMessageDialog, TakeTheRate> {
protected:
    int OnInvoked(wxMessageDialog* box) const override
    {
        EXPECT_EQ(box->GetMessage(), "The sign answers at 9600 baud, the serial settings say 19200 baud. Use 9600 baud?");
        return wxID_YES;
    }
};

class MenuTest : public ::testing::Test {
protected:
    void Start(const std::string& profile, const std::string& settings = "")
    {
        dir.WriteFile("Modes/M.ini", profile);
        dir.WriteFile("Modes/N.ini", "[Model]\nModel=N\n");
        dir.WriteFile("Config/Config.ini", "[Setting]\nMode=M\n" + settings);
        frame = new TestableFrame;
    }
    std::string Saved()
    {
        DestroyNow(frame);
        frame = nullptr;
        return dir.ReadFile("Config/Config.ini");
    }
    void TearDown() override
    {
        rq::platform::SetCandidatePortNames({});
        if (frame) {
            PumpUntil([&] { return !frame->IsBusy(); });
            DestroyNow(frame);
        }
    }
    WorkDir dir;
    TestableFrame* frame = nullptr;
};

const char* const kCommandsProfile = "[Model]\nModel=RQ-M4T\n[App]\nBSP=19200\n[Function]\nBlack=1\n";

}  // namespace

TEST_F(MenuTest, ChineseIsStoredForTheNextStartOnly)
{
    Start(kCommandsProfile);
    wxTEST_DIALOG(frame->Menu(idMenuChinese),
                  ExpectMessageBox("will take place after restart", "Language Setting"));
    EXPECT_EQ(frame->StatusBar->GetStatusText(0), "Welcome!");  // this run stays English
    EXPECT_EQ(dir.ReadFile("Config/Config.ini").find("lang"), std::string::npos);
    EXPECT_NE(Saved().find(rq::test::NativeLines("[Setting]\nMode=M\nlang=46\n")), std::string::npos);
}

TEST_F(MenuTest, EnglishStoresFiftyEight)
{
    Start(kCommandsProfile);
    wxTEST_DIALOG(frame->Menu(idMenuEnglish),
                  ExpectMessageBox("will take place after restart", "Language Setting"));
    EXPECT_NE(Saved().find(rq::test::NativeLines("lang=58\n")), std::string::npos);
}

TEST_F(MenuTest, PickingAModelStoresItButKeepsTheLoadedProfile)
{
    Start(kCommandsProfile);
    frame->ModelChoice->SetStringSelection("N");
    wxCommandEvent choice(wxEVT_CHOICE, frame->ModelChoice->GetId());
    choice.SetEventObject(frame->ModelChoice);
    wxTEST_DIALOG(frame->ModelChoice->GetEventHandler()->ProcessEvent(choice),
                  ExpectMessageBox("will take place after restart", "Model Setting"));
    EXPECT_EQ(frame->profile.model, "RQ-M4T");
    EXPECT_TRUE(frame->BlackButton->IsEnabled());
    EXPECT_NE(Saved().find(rq::test::NativeLines("Mode=N\n")), std::string::npos);
}

TEST_F(MenuTest, SerialSettingsTakeOverThePortAndRateTheDialogHandsBack)
{
    SimController sim;
    rq::platform::SetCandidatePortNames({sim.PortPath()});
    Start(kCommandsProfile, "[SerialPort]\nBSP=9600\n");
    // The profile's rate is the one in use, and the dialog shows it.
    wxTEST_DIALOG(frame->Click(frame->ComSetButton), AnswerSerialSettings(sim.PortPath(), "19200 ", false));
    EXPECT_EQ(frame->comPort, sim.PortPath());
    EXPECT_EQ(frame->ComPortText->GetValue(), sim.PortPath());
    EXPECT_EQ(frame->baud, 19200);
    // The next transaction uses the new port.
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_EQ(sim.RecordedFrames().size(), 1u);
    const std::string file = Saved();
    EXPECT_NE(file.find(rq::test::NativeLines("COM=" + sim.PortPath() + "\n")), std::string::npos);
    EXPECT_NE(file.find(rq::test::NativeLines("BSP=19200\n")), std::string::npos);
}

#ifndef _WIN32  // stable adapter names are a Linux thing
TEST_F(MenuTest, AStableAdapterNameIsStoredAndDrivesTheNextTransaction)
{
    SimController sim;
    // The adapter's stable name, in a by-id directory of the test's own.
    dir.WriteFile("by-id/.keep", "");
    const std::string stable = dir.Path() + "/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    ASSERT_EQ(symlink(sim.PortPath().c_str(), stable.c_str()), 0);
    rq::platform::SetCandidatePortNames({sim.PortPath()});
    rq::platform::SetStableNameDirectory(dir.Path() + "/by-id");
    Start(kCommandsProfile, "[SerialPort]\nCOM=" + sim.PortPath() + "\nBSP=9600\n");
    wxTEST_DIALOG(frame->Click(frame->ComSetButton), AnswerSerialSettings(stable, "19200 ", false));
    EXPECT_EQ(frame->comPort, stable);
    EXPECT_EQ(frame->ComPortText->GetValue(), stable);
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_EQ(sim.RecordedFrames().size(), 1u);
    EXPECT_NE(frame->LogView->GetValue().find("Open : " + stable + " ,19200 "), wxString::npos);
    EXPECT_NE(Saved().find("COM=" + stable + "\n"), std::string::npos);
}
#endif

TEST_F(MenuTest, QuittingTheDialogChangesNothing)
{
    Start(kCommandsProfile, "[SerialPort]\nCOM=/dev/pts/nothing\nBSP=9600\n");
    wxTEST_DIALOG(frame->Menu(idMenuComSettings), AnswerSerialSettings("", "19200 ", false));
    EXPECT_EQ(frame->comPort, "/dev/pts/nothing");
    EXPECT_EQ(frame->baud, 19200);
    const std::string file = Saved();
    EXPECT_NE(file.find(rq::test::NativeLines("COM=/dev/pts/nothing\nBSP=9600\n")), std::string::npos);
}

TEST_F(MenuTest, LockedBaudRateOpensTheDialogLocked)
{
    Start("[Model]\nModel=RQ-M4T\n[App]\nBSP=38400\nLockBsp=1\n");
    wxTEST_DIALOG(frame->Menu(idMenuComSettings), AnswerSerialSettings("", "38400 ", true));
}

TEST_F(MenuTest, SerialSettingsAreRefusedWhileATransactionRuns)
{
    SimController sim({"--delay", "300"});
    Start(kCommandsProfile, "[SerialPort]\nCOM=" + sim.PortPath() + "\n");
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(frame->IsBusy());
    wxTEST_DIALOG(frame->Click(frame->ComSetButton), ExpectMessageBox("Serial port is occupied", "Message"));
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_EQ(frame->LogView->GetLineText(frame->LogView->GetNumberOfLines() - 3), std::string(17, ' ') + "Success");
}

// Only probes reach the bus; "Use" puts the chosen sign's ID into the ID field.
TEST_F(MenuTest, FindSignsListsTheIdsThatAnswerAndUseFillsTheIdField)
{
    SimController sim({"--address", "on", "--ids", "3,7,9"});
    Start("[Model]\nModel=RQ-M4T\n[App]\nBSP=19200\n[Lock]\nid=0\n", "[SerialPort]\nCOM=" + sim.PortPath() + "\n");
    wxTEST_DIALOG(frame->Menu(idMenuFindSigns),
                  AnswerFindSigns("1-9", false,
                                  {"ID 3 at 19200 baud: F1 Undefined instruction", "ID 7 at 19200 baud: F1 Undefined instruction",
                                   "ID 9 at 19200 baud: F1 Undefined instruction"},
                                  1));
    EXPECT_EQ(frame->IdText->GetValue(), "7");
    for (const std::string& probe : sim.RecordedFrames()) EXPECT_NE(probe.find(" D5 "), std::string::npos) << probe;
}

// A sign at another rate: found there when every rate is tried, and "Use"
// offers its rate for the next transactions.
TEST_F(MenuTest, FindSignsAtEveryRateOffersTheSignsRate)
{
    SimController sim({"--address", "on", "--ids", "7", "--baud", "9600"});
    Start("[Model]\nModel=RQ-M4T\n[App]\nBSP=19200\n[Lock]\nid=0\n", "[SerialPort]\nCOM=" + sim.PortPath() + "\n");
    wxTEST_DIALOG(frame->Menu(idMenuFindSigns),
                  AnswerFindSigns("6-7", true, {"ID 7 at 9600 baud: F1 Undefined instruction"}, 0), TakeTheRate());
    EXPECT_EQ(frame->IdText->GetValue(), "7");
    EXPECT_NE(Saved().find(rq::test::NativeLines("BSP=9600\n")), std::string::npos);
}

TEST_F(MenuTest, AboutRunsTheAboutDialog)
{
    Start(kCommandsProfile);
    wxTEST_DIALOG(frame->Menu(idMenuAbout), AnswerAbout());
}
