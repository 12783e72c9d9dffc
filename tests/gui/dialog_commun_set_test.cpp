// The serial port settings dialog, driven by events without a modal loop
// (one test runs it modally). Every test gives the scan pseudo-terminals or
// made-up paths as candidates: no test touches the machine's real devices.
#include <gtest/gtest.h>

#include <type_traits>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#ifndef _WIN32
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <wx/app.h>
#include <wx/display.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/timer.h>

#include "dialogs/commun_set.h"
#include "gui/expect_message_box.h"
#include "dialogs/dialog_ids.h"
#include "platform/port_names.h"
#include "line/serial_line.h"
#include "line/serial_port.h"
#ifndef _WIN32
#include "support/ser2net_server.h"
#endif
#include "support/sim_controller.h"
#include "support/work_dir.h"
#include "gui/frame_fixture.h"
#include "gui/key_press.h"

namespace {

std::string Narrow(const wxString& text)
{
    return text.utf8_string();
}

#ifdef _WIN32
// Under Wine a port that opens is a simulated controller's COM name (no
// other COM name is mapped); stopping the controller removes the port.
class Pty {
public:
    Pty() : sim(std::make_unique<rq::test::SimController>()), path(sim->PortPath()) {}
    void Vanish() { sim->Stop(); }

private:
    std::unique_ptr<rq::test::SimController> sim;

public:
    std::string path;
};
#else
// A pseudo-terminal whose slave path stays openable while the master is held.
class Pty {
public:
    Pty()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        close(slave);
        path = name;
    }
    ~Pty() { Vanish(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Closing the master removes the slave node: the port is gone.
    void Vanish()
    {
        if (master >= 0) close(master);
        master = -1;
    }

    std::string path;

private:
    int master = -1;
};
#endif

using rq::test::ExpectMessageBox;

// Any other modal box fails the test instead of blocking it; the dialog under
// test itself may run modally.
class RefuseUnexpectedModal : public wxModalDialogHook {
public:
    RefuseUnexpectedModal() { Register(); }

protected:
    int Enter(wxDialog* dialog) override
    {
        if (dynamic_cast<_CommunSet*>(dialog)) return wxID_NONE;
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        ADD_FAILURE() << "unexpected modal dialog: " << Narrow(box ? box->GetMessage() : dialog->GetTitle());
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

// Counts what the toolkit logs while it is the active target.
class CountingLog : public wxLog {
public:
    int messages = 0;

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++messages; }
};

void Press(wxButton* button)
{
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

// A list entry chosen as the operator does: a wxChoice reports wxEVT_CHOICE,
// the port field (a combo box) wxEVT_COMBOBOX.
template <class Control>
void Choose(Control* choice, int index)
{
    choice->SetSelection(index);  // raises no event by itself
    wxCommandEvent event(std::is_same_v<Control, wxComboBox> ? wxEVT_COMBOBOX : wxEVT_CHOICE, choice->GetId());
    event.SetEventObject(choice);
    event.SetInt(index);
    event.SetString(choice->GetString(index));
    choice->GetEventHandler()->ProcessEvent(event);
}

// The default button the dialog chose. On Windows a button that has the focus
// stands in for it while focused (the temporary default), set aside here.
wxWindow* ChosenDefault(wxDialog* dialog)
{
    wxWindow* focused = dialog->SetTmpDefaultItem(nullptr);
    wxWindow* chosen = dialog->GetDefaultItem();
    dialog->SetTmpDefaultItem(focused);
    return chosen;
}

std::vector<std::string> Items(const wxItemContainerImmutable* choice)
{
    std::vector<std::string> items;
    for (unsigned k = 0; k < choice->GetCount(); ++k) items.push_back(Narrow(choice->GetString(k)));
    return items;
}

class CommunSetTest : public testing::Test {
protected:
    void SetUp() override { rq::platform::SetCandidatePortNames({}); }
    // An empty list, not the machine's: a later test that forgets to set its
    // candidates must not open real devices.
    void TearDown() override
    {
        rq::platform::SetCandidatePortNames({});
        rq::platform::SetPortDescriptionSource(nullptr);
        rq::platform::SetSerialLineMaker(nullptr);
    }

    std::unique_ptr<_CommunSet> Make(const std::string& port, int baud = 9600, int flags = 2)
    {
        return std::make_unique<_CommunSet>(nullptr, "Serial port settings", wxString::FromUTF8(port), baud,
                                            "img//devices64.png", flags);
    }

    rq::test::WorkDir work;
    RefuseUnexpectedModal refuseOthers;
};

TEST_F(CommunSetTest, ScanListsExactlyTheOpenableCandidatesInOrder)
{
    rq::test::SimController sim;
    Pty first;
    Pty held;
    Pty last;
    rq::platform::SerialPort holder;  // another program using the port
    ASSERT_TRUE(holder.Open(held.path, 9600)) << holder.LastErrorMessage();
    rq::platform::SetCandidatePortNames(
        {last.path, work.Path() + "/no-such-port", held.path, sim.PortPath(), first.path});

    auto dialog = Make(first.path);

    std::vector<std::string> openable = {last.path, sim.PortPath(), first.path};
    if (rq::platform::SystemListsPorts()) {
        // Windows' own list, opened by nobody: the held port and the one
        // that is gone are there too; only Apply and OK test-open.
        EXPECT_EQ(Items(dialog->PortChoice),
                  (std::vector<std::string>{last.path, work.Path() + "/no-such-port", held.path, sim.PortPath(), first.path}));
        EXPECT_EQ(dialog->PortChoice->GetSelection(), 4);
        EXPECT_EQ(dialog->portName, first.path);
        EXPECT_FALSE(dialog->portIsOpen);
        EXPECT_TRUE(sim.RecordedFrames().empty());
        return;
    }
    EXPECT_EQ(Items(dialog->PortChoice), openable);
    EXPECT_EQ(dialog->PortChoice->GetSelection(), static_cast<int>(openable.size()) - 1);
    // The caller's name, not the last name scanned.
    EXPECT_EQ(dialog->portName, first.path);
    EXPECT_FALSE(dialog->portIsOpen);
    EXPECT_EQ(dialog->activePort, nullptr);
    // Nothing the scan opened is still held: each listed port opens again.
    for (const std::string& path : openable) {
        rq::platform::SerialPort again;
        EXPECT_TRUE(again.Open(path, 9600)) << path << ": " << again.LastErrorMessage();
    }
    // A refused open for another reason than permission names no group.
    EXPECT_EQ(dialog->PermissionHint, nullptr);
    EXPECT_TRUE(sim.Running());
    EXPECT_TRUE(sim.RecordedFrames().empty());  // opening sends nothing
}

#ifndef _WIN32  // stable adapter names are a Linux thing
TEST_F(CommunSetTest, StableNamesThatOpenFollowThePlainNames)
{
    Pty plain;
    Pty onlyStable;
    Pty held;
    rq::platform::SerialPort holder;
    ASSERT_TRUE(holder.Open(held.path, 9600)) << holder.LastErrorMessage();
    // A by-id directory of the test's own, as udev names adapters.
    const std::string byId = work.Path() + "/by-id";
    ASSERT_EQ(mkdir(byId.c_str(), 0755), 0);
    const auto link = [&](const std::string& name, const std::string& target) {
        const std::string path = byId + "/" + name;
        EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
        return path;
    };
    const std::string samePort = link("usb-FTDI_FT232R_USB_UART_A10-if00-port0", plain.path);
    const std::string otherPort = link("usb-FTDI_FT232R_USB_UART_A9-if00-port0", onlyStable.path);
    link("usb-Prolific_PL2303-if00-port0", work.Path() + "/unplugged");  // leads nowhere
    link("usb-WCH_CH340-if00-port0", held.path);                         // in use elsewhere
    rq::platform::SetCandidatePortNames({plain.path});
    rq::platform::SetStableNameDirectory(byId);

    auto dialog = Make(otherPort);

    EXPECT_EQ(Items(dialog->PortChoice), (std::vector<std::string>{plain.path, otherPort, samePort}));
    EXPECT_EQ(Narrow(dialog->PortChoice->GetStringSelection()), otherPort);
    Choose(dialog->PortChoice, 2);
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->portName, samePort) << "the stable name is handed back, not the device it leads to";
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
}
#endif

TEST_F(CommunSetTest, PermissionHintNamesTheGroupUnderTheButtons)
{
    auto dialog = Make("COM1");
    ASSERT_EQ(dialog->PermissionHint, nullptr);
    const std::size_t children = dialog->GetChildren().GetCount();
    dialog->ShowPermissionHint("dialout");
    dialog->ShowPermissionHint("dialout");  // one line, however often the scan asks
    ASSERT_NE(dialog->PermissionHint, nullptr);
    EXPECT_EQ(dialog->GetChildren().GetCount(), children + 1);
    wxString shown = dialog->PermissionHint->GetLabel();
    shown.Replace("\n", " ");  // wrapped to the dialog's width
    EXPECT_EQ(Narrow(shown), "Permission denied: add your user to the group \"dialout\" and log in again");
    const wxRect hint = dialog->PermissionHint->GetRect();
    EXPECT_GE(hint.GetTop(), dialog->OkButton->GetRect().GetBottom());
    EXPECT_LE(hint.GetRight(), 350);
}

TEST_F(CommunSetTest, ApplyOnAPortHeldByAnotherProgramSaysItIsInUse)
{
    Pty held;
    rq::platform::SerialPort holder;  // another program using the port
    ASSERT_TRUE(holder.Open(held.path, 9600)) << holder.LastErrorMessage();
    {
        rq::platform::SerialPort second;
        if (second.Open(held.path, 9600)) GTEST_SKIP() << "a second open succeeds here (Wine does not refuse it)";
    }
    auto dialog = Make(held.path);
    dialog->PortChoice->SetValue(held.path);
    wxTEST_DIALOG(Press(dialog->ApplyButton),
                  ExpectMessageBox(held.path + " is in use by another program", "Serial setting error!"));
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
    EXPECT_FALSE(dialog->portIsOpen);
}

// A line that opens whatever it is given and counts the opens.
class CountingLine : public rq::platform::SerialLine {
public:
    explicit CountingLine(std::vector<std::string>& opened) : opened(opened) {}
    bool Open(const std::string& name, long) override
    {
        opened.push_back(name);
        return open = true;
    }
    bool IsOpen() const override { return open; }
    std::size_t Write(const std::uint8_t*, std::size_t length, int) override { return length; }
    bool Drain(int) override { return true; }
    bool DiscardInput() override { return true; }
    std::size_t Read(std::uint8_t*, std::size_t, int) override { return 0; }
    void Close() override { open = false; }
    const std::string& LastErrorMessage() const override { return none; }
    int LastErrorCode() const override { return 0; }

private:
    std::vector<std::string>& opened;
    bool open = false;
    std::string none;
};

// Opening a port raises DTR and RTS, which resets a board on it: where the
// system lists its ports, listing them opens none; only Apply opens, and
// only the chosen one.
TEST_F(CommunSetTest, ListingOpensNoPortWhereTheSystemListsThem)
{
    std::vector<std::string> opened;
    rq::platform::SetSerialLineMaker([&](const std::string&) { return std::make_unique<CountingLine>(opened); });
    rq::platform::SetCandidatePortNames({"COM3", "COM4"});
    auto dialog = Make("COM4");
    EXPECT_EQ(Items(dialog->PortChoice), (std::vector<std::string>{"COM3", "COM4"}));
    const std::vector<std::string> listingOpens =
        rq::platform::SystemListsPorts() ? std::vector<std::string>{} : std::vector<std::string>{"COM3", "COM4"};
    EXPECT_EQ(opened, listingOpens);
    Press(dialog->ApplyButton);
    std::vector<std::string> withApply = listingOpens;
    withApply.push_back("COM4");
    EXPECT_EQ(opened, withApply);
    EXPECT_EQ(dialog->portName, "COM4");
}

// A Bluetooth port takes seconds to open. The line here opens after 3 s, or
// as soon as the dialog has handled an event queued before Apply: that
// happens only if the window's thread is not the one waiting.
class SlowLine : public CountingLine {
public:
    SlowLine(std::vector<std::string>& opened, std::atomic<bool>& opening, std::promise<void>& go)
        : CountingLine(opened), opening(opening), go(go.get_future().share())
    {
    }
    bool Open(const std::string& name, long rate) override
    {
        opening = true;
        go.wait_for(std::chrono::seconds(3));
        opening = false;
        return CountingLine::Open(name, rate);
    }

private:
    std::atomic<bool>& opening;
    std::shared_future<void> go;
};

TEST_F(CommunSetTest, ASlowTestOpenLeavesTheDialogHandlingEvents)
{
    std::vector<std::string> opened;
    std::atomic<bool> opening{false};
    std::promise<void> go;
    rq::platform::SetSerialLineMaker([&](const std::string&) { return std::make_unique<CountingLine>(opened); });
    rq::platform::SetCandidatePortNames({"COM4"});
    auto dialog = Make("COM4");
    rq::platform::SetSerialLineMaker(
        [&](const std::string&) { return std::make_unique<SlowLine>(opened, opening, go); });
    dialog->Show();
    bool handledDuringOpen = false;
    bool busyWithButtonsOff = false;
    // Asked again while the open has not begun yet: the dialog may handle
    // its events before the line's thread is under way (Windows does).
    const auto askUntil = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::function<void()> whileOpening = [&] {
        if (!opening.load() && std::chrono::steady_clock::now() < askUntil) {
            dialog->CallAfter(whileOpening);
            return;
        }
        handledDuringOpen = opening.load();
        busyWithButtonsOff = wxIsBusy() && !dialog->ApplyButton->IsEnabled() && !dialog->OkButton->IsEnabled() &&
                             !dialog->QuitButton->IsEnabled();
        dialog->Move(dialog->GetPosition() + wxPoint(8, 8));
        // Esc meanwhile changes nothing: the port being applied is handed back.
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        dialog->GetEventHandler()->ProcessEvent(escape);
        go.set_value();
    };
    dialog->CallAfter(whileOpening);
    Press(dialog->ApplyButton);
    EXPECT_TRUE(handledDuringOpen) << "the dialog handled no event while the port was opening";
    EXPECT_TRUE(busyWithButtonsOff);
    EXPECT_FALSE(wxIsBusy());
    EXPECT_EQ(dialog->portName, "COM4");
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    EXPECT_TRUE(dialog->QuitButton->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->OkButton);
}

// Windows: the entries show the ports' friendly names, nothing is opened to
// list them, and the plain name is what OK hands back to be saved.
TEST_F(CommunSetTest, FriendlyNamesAreShownAndThePlainNameIsHandedBack)
{
    if (!rq::platform::SystemListsPorts()) GTEST_SKIP() << "Linux lists the ports that open, by their names";
    rq::test::SimController sim;
    const std::string port = sim.PortPath();
    const std::string friendly = "USB-SERIAL CH340 (" + port + ")";
    rq::platform::SetCandidatePortNames({"COM2", port});
    rq::platform::SetPortDescriptionSource([&] { return rq::platform::PortDescriptions{{port, friendly}}; });

    auto dialog = Make(port);
    EXPECT_EQ(Items(dialog->PortChoice), (std::vector<std::string>{"COM2", friendly}));
    EXPECT_EQ(dialog->PortChoice->GetSelection(), 1) << "the saved plain name selects its entry";
    Choose(dialog->PortChoice, 1);
    dialog->Show();
    Press(dialog->OkButton);
    EXPECT_EQ(dialog->portName, port);
    EXPECT_TRUE(sim.RecordedFrames().empty());
}

TEST_F(CommunSetTest, NoCandidateOpensLeavesTheListEmptyAndApplyTestsAnEmptyName)
{
    if (rq::platform::SystemListsPorts()) GTEST_SKIP() << "Windows lists its ports without opening them";
    rq::platform::SetCandidatePortNames({work.Path() + "/gone-1", work.Path() + "/gone-2"});
    auto dialog = Make("COM1");
    EXPECT_EQ(dialog->PortChoice->GetCount(), 0u);
    EXPECT_EQ(dialog->PortChoice->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->portName, "COM1");

    wxTEST_DIALOG(Press(dialog->ApplyButton), ExpectMessageBox("Open failed", "Serial setting error!"));
    EXPECT_EQ(dialog->portName, "");
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
}

TEST_F(CommunSetTest, ControlsAtTheirPlacesWithTheirTexts)
{
    auto dialog = Make("COM1");
    EXPECT_EQ(Narrow(dialog->GetTitle()), "Serial port settings");
    EXPECT_EQ(dialog->OkButton->GetPosition(), wxPoint(50, 110));
    EXPECT_EQ(dialog->ApplyButton->GetPosition(), wxPoint(150, 110));
    EXPECT_EQ(dialog->QuitButton->GetPosition(), wxPoint(250, 110));
    EXPECT_EQ(dialog->DeviceBitmap->GetPosition(), wxPoint(2, 25));
    EXPECT_EQ(dialog->PortLabel->GetPosition(), wxPoint(75, 20));
    // The rate's row keeps its place unless a taller port list (GTK) would
    // be drawn over it; its label stays level with it.
    const int baudTop = std::max(48, dialog->PortChoice->GetRect().GetBottom() + 1 + 6);
    EXPECT_EQ(dialog->BaudLabel->GetPosition(), wxPoint(75, baudTop + 2));
    EXPECT_FALSE(dialog->PortChoice->GetRect().Intersects(dialog->BaudCombo->GetRect()));
    // The fields keep their place unless the labels' font pushes them right.
    const int labelsEnd = std::max(dialog->PortLabel->GetRect().GetRight(), dialog->BaudLabel->GetRect().GetRight());
    const int fieldsAt = std::max(154, labelsEnd + 1 + 6);
    EXPECT_EQ(dialog->BaudCombo->GetPosition(), wxPoint(fieldsAt, baudTop));
    EXPECT_EQ(dialog->PortChoice->GetPosition(), wxPoint(fieldsAt, 18));
    EXPECT_EQ(dialog->OkButton->GetSize(), wxSize(80, 32));
    EXPECT_EQ(dialog->ApplyButton->GetSize(), wxSize(80, 32));
    EXPECT_EQ(dialog->QuitButton->GetSize(), wxSize(80, 32));
    EXPECT_EQ(dialog->BaudCombo->GetSize().GetWidth(), 120);
    EXPECT_GE(dialog->PortChoice->GetSize().GetWidth(), 120);
    EXPECT_EQ(dialog->GetSize(), wxSize(350, 200)) << "nothing to grow for";

    EXPECT_EQ(Narrow(dialog->OkButton->GetLabel()), "&OK");
    EXPECT_EQ(Narrow(dialog->ApplyButton->GetLabel()), "&Apply");
    EXPECT_EQ(Narrow(dialog->QuitButton->GetLabel()), "&Quit");
    EXPECT_FALSE(dialog->OkButton->HasFlag(wxBU_NOTEXT));
    EXPECT_EQ(Narrow(dialog->PortLabel->GetLabel()), "COM Set:");
    EXPECT_EQ(Narrow(dialog->BaudLabel->GetLabel()), "Baud Rate:");
    EXPECT_EQ(dialog->PortLabel->GetFont().GetPointSize(), 12);
    EXPECT_EQ(dialog->BaudLabel->GetFont().GetPointSize(), 12);

    std::vector<std::string> rates;
    for (unsigned k = 0; k < dialog->BaudCombo->GetCount(); ++k) rates.push_back(Narrow(dialog->BaudCombo->GetString(k)));
    EXPECT_EQ(rates, (std::vector<std::string>{"9600", "14400", "19200", "38400", "56000", "57600", "115200", "128000"}));

    EXPECT_FALSE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->ApplyButton);

    // The handlers hang on these identifiers; none is the toolkit's OK or
    // cancel, so the close box cannot reach a button handler.
    EXPECT_EQ(dialog->ApplyButton->GetId(), rq::dialogs::ApplyButtonId);
    EXPECT_EQ(dialog->OkButton->GetId(), rq::dialogs::OkButtonId);
    EXPECT_EQ(dialog->QuitButton->GetId(), rq::dialogs::QuitButtonId);
    EXPECT_EQ(dialog->PortChoice->GetId(), rq::dialogs::PortChoiceId);
    EXPECT_EQ(dialog->BaudCombo->GetId(), rq::dialogs::BaudComboId);
    const std::vector<wxWindowID> ids = {rq::dialogs::ApplyButtonId, rq::dialogs::OkButtonId,
                                         rq::dialogs::QuitButtonId, rq::dialogs::PortChoiceId,
                                         rq::dialogs::BaudComboId};
    for (std::size_t k = 0; k < ids.size(); ++k) {
        EXPECT_NE(ids[k], wxID_OK);
        EXPECT_NE(ids[k], wxID_CANCEL);
        if (k > 0) {
            EXPECT_LT(ids[k - 1], ids[k]) << "drawn in order";
        }
    }
}

TEST_F(CommunSetTest, MissingImagesGiveNoMessageAndPresentOnesAreShown)
{
    CountingLog counter;
    wxLog* previous = wxLog::SetActiveTarget(&counter);
    {
        auto bare = Make("COM1");
        EXPECT_FALSE(bare->DeviceBitmap->GetBitmap().IsOk());
        EXPECT_FALSE(bare->OkButton->GetBitmap().IsOk());
    }
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(counter.messages, 0);

    wxImage picture(64, 64);
    picture.SetRGB(wxRect(0, 0, 64, 64), 0, 128, 0);
    work.WriteFile("img/.keep", "");
    ASSERT_TRUE(picture.SaveFile("img/devices64.png", wxBITMAP_TYPE_PNG));
    ASSERT_TRUE(picture.Scale(24, 24).SaveFile("img/OK.png", wxBITMAP_TYPE_PNG));
    ASSERT_TRUE(picture.Scale(24, 24).SaveFile("img/Application.png", wxBITMAP_TYPE_PNG));
    ASSERT_TRUE(picture.Scale(24, 24).SaveFile("img/exit.png", wxBITMAP_TYPE_PNG));
    auto dialog = Make("COM1");
    EXPECT_EQ(dialog->DeviceBitmap->GetBitmap().GetSize(), wxSize(64, 64));
    EXPECT_EQ(dialog->OkButton->GetBitmap().GetSize(), wxSize(24, 24));
    EXPECT_EQ(dialog->ApplyButton->GetBitmap().GetSize(), wxSize(24, 24));
    EXPECT_EQ(dialog->QuitButton->GetBitmap().GetSize(), wxSize(24, 24));
    EXPECT_EQ(Narrow(dialog->OkButton->GetLabel()), "&OK");  // image and label both
}

struct ShownRateCase {
    int callerRate;
    int flags;
    std::string shown;
    unsigned long baudRate;
    bool comboEnabled;
};

class ShownRateTest : public CommunSetTest, public testing::WithParamInterface<ShownRateCase> {};

TEST_P(ShownRateTest, ShowsTheCallersRateAsTypedText)
{
    const ShownRateCase& c = GetParam();
    auto dialog = Make("COM1", c.callerRate, c.flags);
    EXPECT_EQ(Narrow(dialog->BaudCombo->GetValue()), c.shown);
    // The trailing blank keeps the text from matching any entry.
    EXPECT_EQ(dialog->BaudCombo->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(dialog->baudRate, c.baudRate);
    EXPECT_EQ(dialog->BaudCombo->IsEnabled(), c.comboEnabled);
    // Showing the caller's rate is no change: OK stays disabled.
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ShownRateTest,
    testing::Values(ShownRateCase{9600, 2, "9600 ", 9600, true},
                    ShownRateCase{115200, 2, "115200 ", 115200, true},
                    ShownRateCase{31250, 2, "31250 ", 31250, true},
                    ShownRateCase{0, 2, "******", 9600, true},          // no rate yet: the start value
                    ShownRateCase{-5, 2, "-5 ", 9600, true},            // no sign in a rate: the start value
                    ShownRateCase{19200, 1, "19200 ", 19200, false},    // locked by the profile
                    ShownRateCase{19200, 3, "19200 ", 19200, true},     // only the bit of 2 counts
                    ShownRateCase{19200, 0, "19200 ", 19200, false}));

TEST_F(CommunSetTest, ApplyOnAGoodPortEnablesOkAndMakesItDefault)
{
    Pty one;
    Pty two;
    rq::platform::SetCandidatePortNames({one.path, two.path});
    auto dialog = Make(one.path);
    Choose(dialog->PortChoice, 1);
    dialog->OkButton->Disable();  // as if the choice had not enabled it: Apply alone must
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->portName, two.path);
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->OkButton);
    EXPECT_FALSE(dialog->portIsOpen);
    rq::platform::SerialPort again;
    EXPECT_TRUE(again.Open(two.path, 9600)) << "the test-open must close the port";
}

#ifndef _WIN32
// Debian's ser2net serves the simulated controller on the loopback.
TEST_F(CommunSetTest, ATypedDeviceServerIsTestOpenedByApplyAndHandedBack)
{
    Pty listed;
    rq::platform::SetCandidatePortNames({listed.path});
    rq::test::SimController sim;
    rq::test::Ser2netServer server(sim.PortPath(), rq::test::Ser2netServer::Mode::Rfc2217);
    auto dialog = Make(listed.path);
    dialog->OkButton->Disable();
    dialog->PortChoice->SetValue(server.PortName());  // typed: raises wxEVT_TEXT
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    dialog->OkButton->Disable();
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->portName, server.PortName());
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    EXPECT_FALSE(dialog->portIsOpen);

    // Nobody at that address any more: the name before the text, as for a port.
    const std::string gone = "rfc2217://127.0.0.1:" + std::to_string(rq::test::UnusedLoopbackPort());
    dialog->PortChoice->SetValue(gone);
    wxTEST_DIALOG(Press(dialog->ApplyButton), ExpectMessageBox(gone + "Open failed", "Serial setting error!"));
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(sim.RecordedFrames().size(), 0u);
}

TEST_F(CommunSetTest, AConfiguredDeviceServerIsShownAndKeptByOk)
{
    Pty listed;
    rq::platform::SetCandidatePortNames({listed.path});
    rq::test::SimController sim;
    rq::test::Ser2netServer server(sim.PortPath(), rq::test::Ser2netServer::Mode::Rfc2217);
    auto dialog = Make(server.PortName());
    EXPECT_EQ(dialog->PortChoice->GetValue().utf8_string(), server.PortName());
    dialog->OkButton->Enable();  // as after a rate change: OK itself test-opens what the field shows
    dialog->Show();
    Press(dialog->OkButton);
    EXPECT_EQ(dialog->portName, server.PortName());
}
#endif

TEST_F(CommunSetTest, ApplyOnAVanishedPortFailsWithTheNameBeforeTheText)
{
    Pty port;
    const std::string path = port.path;
    rq::platform::SetCandidatePortNames({path});
    auto dialog = Make(path);
    Press(dialog->ApplyButton);
    ASSERT_TRUE(dialog->OkButton->IsEnabled());

    port.Vanish();
    wxTEST_DIALOG(Press(dialog->ApplyButton), ExpectMessageBox(path + "Open failed", "Serial setting error!"));
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->ApplyButton);
    EXPECT_FALSE(dialog->portIsOpen);

    // The title-bar close box runs no handler: the failed name is handed back.
    dialog->Close();
    EXPECT_EQ(dialog->portName, path);
    EXPECT_EQ(dialog->baudRate, 9600u);
}

TEST_F(CommunSetTest, FailedOkKeepsTheDialogOpenAndDisablesOk)
{
    Pty port;
    const std::string path = port.path;
    rq::platform::SetCandidatePortNames({path});
    auto dialog = Make(path);
    Choose(dialog->PortChoice, 0);
    ASSERT_TRUE(dialog->OkButton->IsEnabled());
    port.Vanish();
    dialog->Show();
    wxTEST_DIALOG(Press(dialog->OkButton), ExpectMessageBox(path + "Open failed", "Serial setting error!"));
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_FALSE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->ApplyButton);
    EXPECT_EQ(dialog->portName, path);
}

TEST_F(CommunSetTest, QuitAfterAPassedApplyHandsBackNoName)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make(port.path);
    dialog->Show();
    Press(dialog->ApplyButton);
    ASSERT_EQ(dialog->portName, port.path);
    Press(dialog->QuitButton);
    EXPECT_EQ(dialog->portName, "");
    EXPECT_FALSE(dialog->IsShown());
}

TEST_F(CommunSetTest, CallersPortMissingShowsTheFirstButHandsTheCallersNameBack)
{
    Pty one;
    Pty two;
    rq::platform::SetCandidatePortNames({one.path, two.path});
    auto dialog = Make("COM7", 19200);
    EXPECT_EQ(dialog->PortChoice->GetSelection(), 0);
    EXPECT_EQ(Narrow(dialog->PortChoice->GetStringSelection()), one.path);
    dialog->Close();
    EXPECT_EQ(dialog->portName, "COM7");
    EXPECT_EQ(dialog->baudRate, 19200u);
}

TEST_F(CommunSetTest, TypedRateEnablesOkAndAPassedOkHandsItBack)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make(port.path);
    dialog->Show();
    dialog->BaudCombo->SetValue("31250");  // not one of the entries
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    EXPECT_EQ(ChosenDefault(dialog.get()), dialog->OkButton);
    Press(dialog->OkButton);
    EXPECT_FALSE(dialog->IsShown());
    EXPECT_EQ(dialog->portName, port.path);
    EXPECT_EQ(dialog->baudRate, 31250u);
}

TEST_F(CommunSetTest, ChosenEntryEnablesOkAndIsReadAtApply)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make(port.path);
    dialog->BaudCombo->SetSelection(6);  // no event by itself
    ASSERT_FALSE(dialog->OkButton->IsEnabled());
    wxCommandEvent chosen(wxEVT_COMBOBOX, dialog->BaudCombo->GetId());
    chosen.SetEventObject(dialog->BaudCombo);
    chosen.SetInt(6);
    dialog->BaudCombo->GetEventHandler()->ProcessEvent(chosen);
    EXPECT_TRUE(dialog->OkButton->IsEnabled());
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->baudRate, 115200u);
}

TEST_F(CommunSetTest, TextWithoutANumberKeepsTheLastRate)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make(port.path, 19200);
    for (const char* text : {"fast", "", "  ", "-9600", "99999999999999999999"}) {
        dialog->BaudCombo->SetValue(text);
        Press(dialog->ApplyButton);
        EXPECT_EQ(dialog->baudRate, 19200u) << text;
    }
    dialog->BaudCombo->SetValue("  4800 baud");
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->baudRate, 4800u);
}

TEST_F(CommunSetTest, LockedRateIsStillReadAtEveryApply)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make(port.path, 19200, 1);
    ASSERT_FALSE(dialog->BaudCombo->IsEnabled());
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->baudRate, 19200u);
    dialog->BaudCombo->ChangeValue("38400");  // the program may still change a disabled box
    Press(dialog->ApplyButton);
    EXPECT_EQ(dialog->baudRate, 38400u);
}

TEST_F(CommunSetTest, ModalRunEndsWithOkAndHandsBackTheSelection)
{
    rq::test::SimController sim;
    rq::platform::SetCandidatePortNames({sim.PortPath()});
    auto dialog = Make("COM3", 0);
    ASSERT_EQ(Narrow(dialog->BaudCombo->GetValue()), "******");

    bool pressed = false;
    dialog->CallAfter([&] {
        Choose(dialog->PortChoice, 0);
        Press(dialog->OkButton);
        pressed = true;
    });
    // Should OK fail to end the loop, end it here and fail the test.
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        ADD_FAILURE() << "OK did not end the modal run";
        dialog->EndModal(wxID_ABORT);
    });
    guard.StartOnce(20000);
    dialog->ShowModal();
    guard.Stop();

    EXPECT_TRUE(pressed);
    EXPECT_EQ(dialog->portName, sim.PortPath());
    EXPECT_EQ(dialog->baudRate, 9600u);  // the start value: the box never showed a number
}

// ---- the keyboard: real key presses where they reach the dialog ----

class CommunSetKeyboard : public CommunSetTest {
protected:
    void SetUp() override
    {
        CommunSetTest::SetUp();
        if (!rq::test::KeyboardReachesWindows()) GTEST_SKIP() << "key presses need a window manager";
    }

    // What the operator would call the control, for readable failures.
    static std::string Role(const _CommunSet& dialog, const wxWindow* control)
    {
        if (control == dialog.PortChoice) return "port";
        if (control == dialog.BaudCombo) return "baud rate";
        if (control == dialog.ApplyButton) return "Apply";
        if (control == dialog.OkButton) return "OK";
        if (control == dialog.QuitButton) return "Quit";
        return control ? "other" : "none";
    }
};

TEST_F(CommunSetKeyboard, TabFollowsTheLayoutThroughEveryControl)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make("COM3");
    Choose(dialog->PortChoice, 0);  // OK takes part once something was chosen
    ASSERT_TRUE(dialog->OkButton->IsEnabled());

    // As the operator meets it: run modally, from the focus it opens with.
    std::vector<std::string> visited;
    dialog->CallAfter([&] {
        wxWindow* focus = rq::test::FocusedChild(dialog.get());
        visited.push_back(Role(*dialog, focus));
        // GTK's combo box stops Tab twice, at its entry and at its arrow: one
        // control to the operator, one entry here.
        for (int press = 0; press < 8 && focus && visited.size() < 6; ++press) {
            rq::test::PressKey(WXK_TAB, dialog.get());
            focus = rq::test::FocusedChild(dialog.get());
            if (Role(*dialog, focus) != visited.back()) visited.push_back(Role(*dialog, focus));
        }
        dialog->EndModal(wxID_CANCEL);
    });
    dialog->ShowModal();
    EXPECT_EQ(visited, (std::vector<std::string>{"port", "baud rate", "Apply", "OK", "Quit", "port"}));
}

TEST_F(CommunSetKeyboard, EscLeavesAsQuitDoesAndChangesNothing)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto dialog = Make("COM3");
    Choose(dialog->PortChoice, 0);
    ASSERT_TRUE(dialog->OkButton->IsEnabled());

    dialog->CallAfter([&] {
        rq::test::FocusedChild(dialog.get());
        rq::test::PressKey(WXK_ESCAPE);
    });
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        ADD_FAILURE() << "Esc did not end the modal run";
        dialog->EndModal(wxID_ABORT);
    });
    guard.StartOnce(10000);
    const int code = dialog->ShowModal();
    guard.Stop();

    EXPECT_NE(code, wxID_ABORT);
    EXPECT_EQ(dialog->portName, "");  // what Quit hands back: change nothing
}

// ---- on a desktop: a title bar, long port names, both languages ----
//
// Run bare and under a window manager (tests/desktop/with_window_manager.sh,
// which sets RQ_WINDOW_MANAGER); there the client area is smaller than the
// size the dialog is given, so everything is checked against GetClientSize().

bool UnderWindowManager()
{
    return std::getenv("RQ_WINDOW_MANAGER") != nullptr;
}

// How much narrower than the work area a dialog that fills it may be: the
// list's width and the window frame leave a few pixels.
const int kMarginTolerance = 12;

// What does not show whole in the shown dialog; empty when all fits.
std::vector<std::string> Misfits(_CommunSet& dialog)
{
    std::vector<std::string> misfits;
    const wxRect client(wxPoint(0, 0), dialog.GetClientSize());
    const auto inside = [&](wxWindow* control, const char* name) {
        if (!client.Contains(control->GetRect())) {
            const wxRect r = control->GetRect();
            misfits.push_back(std::string(name) + " at " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                              std::to_string(r.width) + "x" + std::to_string(r.height) + " outside the client area " +
                              std::to_string(client.width) + "x" + std::to_string(client.height));
        }
    };
    inside(dialog.OkButton, "OkButton");
    inside(dialog.ApplyButton, "ApplyButton");
    inside(dialog.QuitButton, "QuitButton");
    inside(dialog.DeviceBitmap, "DeviceBitmap");
    inside(dialog.PortLabel, "PortLabel");
    inside(dialog.BaudLabel, "BaudLabel");
    inside(dialog.PortChoice, "PortChoice");
    inside(dialog.BaudCombo, "BaudCombo");
    if (dialog.PermissionHint) {
        inside(dialog.PermissionHint, "PermissionHint");
        if (dialog.PermissionHint->GetRect().GetTop() <= dialog.OkButton->GetRect().GetBottom()) {
            misfits.push_back("PermissionHint overlaps the buttons");
        }
    }
    // Each label whole and clear of its field.
    for (auto [label, field, name] : {std::make_tuple(dialog.PortLabel, static_cast<wxWindow*>(dialog.PortChoice), "PortLabel"),
                                      std::make_tuple(dialog.BaudLabel, static_cast<wxWindow*>(dialog.BaudCombo), "BaudLabel")}) {
        if (label->GetRect().GetRight() >= field->GetRect().GetLeft()) misfits.push_back(std::string(name) + " runs under its field");
        if (label->GetSize().GetWidth() < label->GetTextExtent(label->GetLabel()).GetWidth()) {
            misfits.push_back(std::string(name) + " narrower than its text");
        }
    }
    // Every listed name whole: the choice is at least as wide as it asks to
    // be for its longest entry.
    dialog.PortChoice->InvalidateBestSize();
    int widest = 0;
    for (unsigned k = 0; k < dialog.PortChoice->GetCount(); ++k) {
        widest = std::max(widest, dialog.PortChoice->GetTextExtent(dialog.PortChoice->GetString(k)).GetWidth());
    }
    // Only the screen's work area may make it narrower; then the chosen name
    // shows whole in its tooltip.
    const wxRect area = wxDisplay(0u).GetClientArea();
    const bool atScreenWidth = dialog.GetSize().GetWidth() >= area.GetWidth() - 2 * kMarginTolerance;
    if (dialog.PortChoice->GetSize().GetWidth() < std::max(dialog.PortChoice->GetBestSize().GetWidth(), widest)) {
        if (!atScreenWidth) misfits.push_back("PortChoice narrower than its longest name");
        if (dialog.PortChoice->GetToolTipText() != dialog.PortChoice->GetStringSelection()) {
            misfits.push_back("PortChoice cut short without the chosen name in its tooltip");
        }
    }
    if (!area.Contains(dialog.GetScreenRect())) {
        const wxRect r = dialog.GetScreenRect();
        misfits.push_back("the dialog at " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                          std::to_string(r.width) + "x" + std::to_string(r.height) + " leaves the work area " +
                          std::to_string(area.width) + "x" + std::to_string(area.height));
    }
    if (dialog.GetSize().GetWidth() < 350 || dialog.GetSize().GetHeight() < 200) {
        misfits.push_back("below 350 x 200: " + std::to_string(dialog.GetSize().GetWidth()) + " x " +
                          std::to_string(dialog.GetSize().GetHeight()));
    }
    if (UnderWindowManager() && dialog.GetSize().GetHeight() <= dialog.GetClientSize().GetHeight()) {
        misfits.push_back("no title bar yet");
    }
    return misfits;
}

// Shows the dialog and lets the window manager frame it; the layout may
// change once more when the frame sizes arrive.
void ShowAndSettle(_CommunSet& dialog)
{
    dialog.Show();
    rq::test::PumpUntil([&] { return dialog.IsShownOnScreen() && Misfits(dialog).empty(); }, 10000);
}

// A screenshot for a person to look at, when RQ_SCREENSHOT_DIR names a folder.
void Screenshot(const std::string& name)
{
    const char* folder = std::getenv("RQ_SCREENSHOT_DIR");
    if (!folder) return;
    // Drawn, not only laid out: the X server paints on its own time, and
    // nothing tells when. Only for the picture, never for a check.
    for (int k = 0; k < 20; ++k) {
        for (wxWindow* window : wxTopLevelWindows) window->Update();
        wxTheApp->Yield(true);
        wxMilliSleep(25);
    }
    const std::string command = "import -window root '" + std::string(folder) + "/" + name + ".png'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

struct DesktopCase {
    const char* name;
    wxLanguage language;
};

class CommunSetDesktop : public CommunSetTest, public testing::WithParamInterface<DesktopCase> {
protected:
    void SetUp() override
    {
        CommunSetTest::SetUp();
        if (GetParam().language == wxLANGUAGE_ENGLISH) return;
        work.CopyRuntimeData(false, false, true);
        locale = std::make_unique<wxLocale>();
        {
            wxLogNull quiet;  // the system locale may not be generated; the catalogue still loads
            locale->Init(GetParam().language, 0);
        }
        wxLocale::AddCatalogLookupPathPrefix("locale/");
        ASSERT_TRUE(locale->AddCatalog("Language"));
        ASSERT_NE(Narrow(wxGetTranslation("Baud Rate:")), "Baud Rate:");
    }
    void TearDown() override
    {
        locale.reset();
        CommunSetTest::TearDown();
    }

    std::string Shot(const char* what) const { return std::string(what) + "-" + GetParam().name; }

    std::unique_ptr<wxLocale> locale;
};

#ifndef _WIN32  // links under /dev/serial/by-id: Linux names
// Names as /dev/serial/by-id gives them: long, and alike up to their last
// characters.
TEST_P(CommunSetDesktop, LongPortNamesAndTheHintShowWholeInTheClientArea)
{
    Pty first;
    Pty second;
    const std::filesystem::path byId = std::filesystem::path(work.Path()) / "serial/by-id";
    std::filesystem::create_directories(byId);
    const std::string one = (byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string();
    const std::string two = (byId / "usb-FTDI_FT232R_USB_UART_A50285BJ-if00-port0").string();
    std::filesystem::create_symlink(first.path, one);
    std::filesystem::create_symlink(second.path, two);
    rq::platform::SetCandidatePortNames({one, two});

    auto dialog = Make(two);
    ASSERT_EQ(Items(dialog->PortChoice), (std::vector<std::string>{one, two}));
    dialog->ShowPermissionHint("dialout");
    ShowAndSettle(*dialog);
    EXPECT_EQ(Joined(Misfits(*dialog)), "");
    EXPECT_GT(dialog->GetSize().GetWidth(), 350) << "the dialog widened for the names";
    wxString hint = dialog->PermissionHint->GetLabel();
    hint.Replace("\n", " ");
    EXPECT_EQ(hint, wxString::Format(wxGetTranslation("Permission denied: add your user to the group \"%s\" and log in again"),
                                     "dialout"));
    Screenshot(Shot("long-names-and-hint"));
}
#endif

#ifndef _WIN32  // links under /dev/serial/by-id: Linux names
// Names longer than the screen is wide: the dialog stops at the screen's work
// area, every control stays inside it, and the chosen name shows whole in the
// list's tooltip.
TEST_P(CommunSetDesktop, NamesWiderThanTheScreenKeepTheDialogInTheWorkArea)
{
    Pty first;
    Pty second;
    const std::filesystem::path byId = std::filesystem::path(work.Path()) / "serial/by-id";
    std::filesystem::create_directories(byId);
    // A serial number long enough that the name alone is wider than the work
    // area (checked below), within the 255 bytes of a file name.
    const int areaWidth = wxDisplay(0u).GetClientArea().GetWidth();
    std::string serial;
    while (serial.size() < 210) serial += "A50285B";
    const std::string one = (byId / ("usb-FTDI_FT232R_USB_UART_" + serial + "I-if00-port0")).string();
    const std::string two = (byId / ("usb-FTDI_FT232R_USB_UART_" + serial + "J-if00-port0")).string();
    std::filesystem::create_symlink(first.path, one);
    std::filesystem::create_symlink(second.path, two);
    rq::platform::SetCandidatePortNames({one, two});

    auto dialog = Make(two);
    ASSERT_EQ(Items(dialog->PortChoice), (std::vector<std::string>{one, two}));
    ASSERT_GT(dialog->PortChoice->GetTextExtent(wxString::FromUTF8(two)).GetWidth(), areaWidth);
    ShowAndSettle(*dialog);
    EXPECT_EQ(Joined(Misfits(*dialog)), "");
    EXPECT_LE(dialog->GetSize().GetWidth(), areaWidth);
    EXPECT_EQ(Narrow(dialog->PortChoice->GetToolTipText()), two);
    Choose(dialog->PortChoice, 0);
    EXPECT_EQ(Narrow(dialog->PortChoice->GetToolTipText()), one);
    Screenshot(Shot("names-wider-than-the-screen"));
}
#endif

// The dialog grows for the hint and only for it.
TEST_P(CommunSetDesktop, OnlyTheHintMakesTheDialogTaller)
{
    Pty port;
    rq::platform::SetCandidatePortNames({port.path});
    auto plain = Make(port.path);
    ShowAndSettle(*plain);
    EXPECT_EQ(Joined(Misfits(*plain)), "");
    EXPECT_EQ(plain->GetSize(), wxSize(350, 200));
    const wxSize plainClient = plain->GetClientSize();
    plain.reset();

    auto hinted = Make(port.path);
    hinted->ShowPermissionHint("dialout");
    ShowAndSettle(*hinted);
    EXPECT_EQ(Joined(Misfits(*hinted)), "");
    // Taller for wrapped lines, wider for a line that cannot wrap (Chinese
    // has no blanks), and just enough: a small margin after the hint.
    const wxSize client = hinted->GetClientSize();
    const wxRect hint = hinted->PermissionHint->GetRect();
    const bool grew = client.GetHeight() > plainClient.GetHeight() || client.GetWidth() > plainClient.GetWidth();
    // It grows exactly when the usual client area cannot hold the hint and
    // its margin; under a title bar it never can.
    const bool fitsUsual = hint.GetRight() + 8 < plainClient.GetWidth() && hint.GetBottom() + 8 < plainClient.GetHeight();
    EXPECT_EQ(grew, !fitsUsual);
    if (UnderWindowManager()) {
        EXPECT_TRUE(grew);
    }
    EXPECT_GE(client.GetWidth(), plainClient.GetWidth());
    EXPECT_GE(client.GetHeight(), plainClient.GetHeight());
    if (client.GetHeight() > plainClient.GetHeight()) {
        EXPECT_LE(client.GetHeight() - hint.GetBottom(), 24);
    }
    if (client.GetWidth() > plainClient.GetWidth()) {
        EXPECT_LE(client.GetWidth() - hint.GetRight(), 24);
    }
    Screenshot(Shot("hint"));
}

// A real scan as an operator outside the port's group: the node named by
// RQ_DENIED_PORT (made by tests/desktop/test_permission_hint.sh, which runs
// this as a throwaway user) exists and may not be opened. Only that node is
// tried, so no other device of the machine is touched.
TEST_P(CommunSetDesktop, RealScanRefusedForPermissionShowsTheWholeHint)
{
    const char* denied = std::getenv("RQ_DENIED_PORT");
    if (!denied) GTEST_SKIP() << "run by tests/desktop/test_permission_hint.sh";
    const std::vector<std::string> system = rq::platform::SystemPortNames();
    ASSERT_NE(std::find(system.begin(), system.end(), denied), system.end()) << denied << " not among the system's ports";
    rq::platform::SetCandidatePortNames({denied});

    auto dialog = Make(denied);
    EXPECT_EQ(dialog->PortChoice->GetCount(), 0u);
    ASSERT_NE(dialog->PermissionHint, nullptr) << "no hint after the refused open";
    ShowAndSettle(*dialog);
    EXPECT_EQ(Joined(Misfits(*dialog)), "");
    EXPECT_NE(dialog->PermissionHint->GetLabel().Find("dialout"), wxNOT_FOUND);
    Screenshot(Shot("real-scan"));
}

INSTANTIATE_TEST_SUITE_P(Languages, CommunSetDesktop,
                         testing::Values(DesktopCase{"English", wxLANGUAGE_ENGLISH},
                                         DesktopCase{"Chinese", wxLANGUAGE_CHINESE_SIMPLIFIED}),
                         [](const testing::TestParamInfo<DesktopCase>& info) { return std::string(info.param.name); });

}  // namespace
