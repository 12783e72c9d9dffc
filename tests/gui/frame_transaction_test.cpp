// Every Set button end to end: the frame on the wire, the log lines and
// colours, and the window's busy/idle states, against the simulated controller.
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <wx/msgdlg.h>
#include <wx/evtloop.h>
#include <wx/testing.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "gui/frame_fixture.h"
#include "support/sim_controller.h"
#ifndef _WIN32
#include "support/ser2net_server.h"
#endif

using rq::test::DestroyNow;
using rq::test::LogLine;
using rq::test::PumpUntil;
using rq::test::ReadLog;
using rq::test::SimController;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

const std::string kBlanks(17, ' ');

// A working directory with the bundled profiles and a settings file that
// points at the simulated controller, with the values of the wire examples.
class TransactionTest : public ::testing::Test {
protected:
    // The controller is told what the profile says: RQ-M4T's frames carry the ID.
    void StartWith(std::vector<std::string> simArgs, const std::string& extraSettings = "")
    {
        simArgs.insert(simArgs.end(), {"--address", "on"});
        sim = std::make_unique<SimController>(std::move(simArgs));
        StartOn(sim->PortPath(), extraSettings);
    }

#ifndef _WIN32
    // The controller behind Debian's ser2net on the loopback; the settings
    // name the server.
    void StartThroughServer(rq::test::Ser2netServer::Mode mode, std::vector<std::string> simArgs = {})
    {
        simArgs.insert(simArgs.end(), {"--address", "on"});
        sim = std::make_unique<SimController>(std::move(simArgs));
        server = std::make_unique<rq::test::Ser2netServer>(sim->PortPath(), mode);
        StartOn(server->PortName());
    }
    std::unique_ptr<rq::test::Ser2netServer> server;
#endif

    void StartOn(const std::string& port, const std::string& extraSettings = "")
    {
        dir.CopyRuntimeData();
        dir.WriteFile("Config/Config.ini",
                      "[Setting]\nMode=RQ-M4T\n"
                      "[SerialPort]\nCOM=" + port + "\nBSP=9600\n"
                      "[LED]\nWidth=64\nHigh=16\nScan=P7.62\nScrollLevel=3\nScrollSpeed=3\nid=1\nNewId=2\n"
                      "Align=Center\n"
                      "[Blinking]\nEnable=1\nOninterval=1000\nOffinterval=1000\n"
                      "[Roll]\nElapsed=3000\nSpeed=50\n" + extraSettings);
        frame = new TestableFrame;
    }

    void TearDown() override
    {
        if (frame) {
            PumpUntil([&] { return !frame->IsBusy(); });
            DestroyNow(frame);
        }
    }

    // Clicks and waits until the transaction has ended.
    void ClickAndWait(wxButton* button)
    {
        frame->Click(button);
        ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    }

    std::vector<LogLine> Log() { return ReadLog(frame->LogView); }

    std::string LastFrame()
    {
        sim->WaitForFrames(1);
        const auto frames = sim->RecordedFrames();
        return frames.empty() ? std::string() : frames.back();
    }

    WorkDir dir;
    std::unique_ptr<SimController> sim;
    TestableFrame* frame = nullptr;
};

int IndexOf(wxItemContainerImmutable* list, const wxString& text)
{
    return list->FindString(text, true);
}

struct ButtonCase {
    const char* name;
    std::function<wxButton*(TestableFrame&)> prepare;  // sets controls, returns the button
    const char* expectedFrame;
};

class EveryButton : public TransactionTest, public ::testing::WithParamInterface<ButtonCase> {};

}  // namespace

static void ExpectTheButtonsFrameAndSuccess(TestableFrame* frame, const ButtonCase& c, const std::function<std::string()>& lastFrame)
{
    ASSERT_EQ(frame->profile.model, "RQ-M4T");
    ASSERT_EQ(frame->idAddressing, 1);
    wxButton* button = c.prepare(*frame);
    ASSERT_TRUE(button->IsEnabled()) << button->GetLabel();
    frame->Click(button);
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_EQ(lastFrame(), c.expectedFrame);
    const auto log = ReadLog(frame->LogView);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].text, "               =========  " + button->GetLabel().utf8_string() + "  =========");
    EXPECT_EQ(log[log.size() - 2].text, kBlanks + "Success");
    EXPECT_EQ(log[log.size() - 2].colour, rq::test::kBlue);
    EXPECT_EQ(log.back().text, kBlanks + "Close: " + frame->comPort);
}

TEST_P(EveryButton, PutsTheExactFrameOnTheWireAndEndsInSuccess)
{
    StartWith({});
    ExpectTheButtonsFrameAndSuccess(frame, GetParam(), [&] { return LastFrame(); });
}

#ifndef _WIN32
TEST_P(EveryButton, ThroughAnRfc2217Server)
{
    StartThroughServer(rq::test::Ser2netServer::Mode::Rfc2217);
    ExpectTheButtonsFrameAndSuccess(frame, GetParam(), [&] { return LastFrame(); });
}

TEST_P(EveryButton, ThroughARawTcpServer)
{
    StartThroughServer(rq::test::Ser2netServer::Mode::Raw);
    ExpectTheButtonsFrameAndSuccess(frame, GetParam(), [&] { return LastFrame(); });
}
#endif

INSTANTIATE_TEST_SUITE_P(
    BundledProfile, EveryButton,
    ::testing::Values(
        ButtonCase{"LedSet", [](TestableFrame& f) { return f.LedSetButton; },
                   "A1 0E F1 01 41 08 02 00 00 00 00 33 1F 51"},
        ButtonCase{"LedSetP10",
                   [](TestableFrame& f) {
                       f.WidthText->SetValue("128");
                       f.HighText->SetValue("32");
                       f.ScanChoice->SetStringSelection("P10");
                       f.ScrollLevelChoice->SetSelection(15);
                       f.ScrollSpeedChoice->SetSelection(0);
                       return f.LedSetButton;
                   },
                   "A1 0E F1 01 41 10 04 00 00 00 41 F0 27 51"},
        ButtonCase{"BrightSet",
                   [](TestableFrame& f) {
                       f.BrightCombo->SetSelection(IndexOf(f.BrightCombo, "8"));
                       return f.BrightSetButton;
                   },
                   "A1 08 F7 01 43 08 EC 51"},
        ButtonCase{"BrightAuto",
                   [](TestableFrame& f) {
                       f.BrightCombo->SetSelection(0);  // the translated "Auto"
                       return f.BrightSetButton;
                   },
                   "A1 08 F7 01 43 FF E3 51"},
        ButtonCase{"Black", [](TestableFrame& f) { return f.BlackButton; }, "A1 07 F8 01 63 04 51"},
        ButtonCase{"AlignCenter", [](TestableFrame& f) { return f.AlignSetButton; }, "A1 08 F7 01 6A 04 0F 51"},
        ButtonCase{"Reset", [](TestableFrame& f) { return f.ResetButton; }, "A1 07 F8 01 99 3A 51"},
        ButtonCase{"FactoryDefaults", [](TestableFrame& f) { return f.DefaultSetButton; },
                   "A1 07 F8 01 9A 3B 51"},
        ButtonCase{"Blinking", [](TestableFrame& f) { return f.BlinkingSetButton; },
                   "A1 0C F3 01 60 01 E8 03 E8 03 D8 51"},
        ButtonCase{"TimedScroll", [](TestableFrame& f) { return f.ScrollSetButton; },
                   "A1 0B F4 01 65 B8 0B 32 00 FB 51"},
        ButtonCase{"ChangeId", [](TestableFrame& f) { return f.ChangeIdButton; }, "A1 08 F7 01 21 02 C4 51"},
        ButtonCase{"SendMessage",
                   [](TestableFrame& f) {
                       f.MessageChoice->SetSelection(0);
                       f.MessageText->SetValue("abc");
                       return f.SendMessageButton;
                   },
                   "A1 0A F5 01 01 61 62 63 C8 51"},
        ButtonCase{"SendMessageUnicode",
                   [](TestableFrame& f) {
                       f.MessageChoice->SetStringSelection("UNICODE");
                       f.MessageText->SetValue("abc");
                       return f.SendMessageButton;
                   },
                   "A1 0D F2 01 02 61 00 62 00 63 00 C9 51"},
        ButtonCase{"DefaultMessage",
                   [](TestableFrame& f) {
                       f.MessageChoice->SetSelection(0);
                       f.MessageText->SetValue("abc");
                       return f.DefaultMessageButton;
                   },
                   "A1 0B F4 01 20 01 61 62 63 E8 51"},
        ButtonCase{"ChineseMessageInGbk",
                   [](TestableFrame& f) {
                       f.MessageChoice->SetSelection(0);
                       f.MessageText->SetValue(wxString::FromUTF8("中文"));
                       return f.SendMessageButton;
                   },
                   // 中文 in GBK is D6 D0 CE C4
                   "A1 0B F4 01 01 D6 D0 CE C4 DA 51"}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return std::string(info.param.name); });

TEST_F(TransactionTest, SuccessfulCommandWritesTheFullSequenceInItsColours)
{
    StartWith({});
    frame->BrightCombo->SetSelection(IndexOf(frame->BrightCombo, "8"));
    ClickAndWait(frame->BrightSetButton);
    const auto log = Log();
    ASSERT_EQ(log.size(), 8u);
    const std::string port = sim->PortPath();
    EXPECT_EQ(log[0].text, "               =========  Bright Set  =========");
    EXPECT_EQ(log[0].colour, rq::test::kPlum);
    EXPECT_TRUE(log[0].bold);
    // Time-stamped lines: hh:mm:ss.mmm and five blanks, then the message.
    const auto stamped = [](const LogLine& line, const std::string& message) {
        return line.text.size() == 17 + message.size() && line.text.substr(17) == message &&
               line.text[2] == ':' && line.text[5] == ':' && line.text[8] == '.' &&
               line.text.substr(12, 5) == "     ";
    };
    EXPECT_TRUE(stamped(log[1], "Open : " + port + " ,9600 ")) << log[1].text;
    EXPECT_EQ(log[1].colour, rq::test::kOlive);
    EXPECT_TRUE(stamped(log[2], "Write : 8 Bytes")) << log[2].text;
    EXPECT_EQ(log[2].colour, rq::test::kGreen);
    EXPECT_EQ(log[3].text, kBlanks + "DATA :  A1 08 F7 01 43 08 EC 51");
    EXPECT_EQ(log[3].colour, rq::test::kMagenta);
    EXPECT_TRUE(stamped(log[4], "Read : 1 Bytes")) << log[4].text;
    EXPECT_EQ(log[4].colour, rq::test::kBlue);
    EXPECT_EQ(log[5].text, kBlanks + "DATA :  0F");
    EXPECT_EQ(log[5].colour, rq::test::kOrange);
    EXPECT_EQ(log[6].text, kBlanks + "Success");
    EXPECT_EQ(log[6].colour, rq::test::kBlue);
    EXPECT_FALSE(log[6].bold);
    EXPECT_EQ(log[7].text, kBlanks + "Close: " + port);
    EXPECT_EQ(log[7].colour, rq::test::kMaroon);
    EXPECT_EQ(frame->replyLength, 1u);
}

TEST_F(TransactionTest, ErrorStatusesAreShownInRed)
{
    StartWith({"--status", "F0"});
    ClickAndWait(frame->BlackButton);
    auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].text, kBlanks + "Checksum error");
    EXPECT_EQ(log[log.size() - 2].colour, rq::test::kRed);
}

TEST_F(TransactionTest, SilentControllerTimesOutWithoutResultLine)
{
    StartWith({"--silent"});
    const auto start = std::chrono::steady_clock::now();
    ClickAndWait(frame->BlackButton);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto log = Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4].text.substr(17), "The request has timed out");
    EXPECT_EQ(log[4].colour, rq::test::kRed);
    EXPECT_EQ(log[5].text, kBlanks + "Close: " + sim->PortPath());
    // The wait is bounded: about half a second, never the seconds an
    // unbounded wait would take (its accuracy is measured in bench/).
    EXPECT_GE(seconds, 0.45);
    EXPECT_LT(seconds, 5.0);
    EXPECT_FALSE(frame->IsBusy());
}

TEST_F(TransactionTest, OpenFailureIsARedLineAndTheSystemsReasonWithoutClose)
{
    StartWith({});
    frame->comPort = dir.Path() + "/no-such-port";
    ClickAndWait(frame->BlackButton);
    const auto log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].text, kBlanks + "Open Failed : " + frame->comPort + " ,9600 ");
    EXPECT_EQ(log[1].colour, rq::test::kRed);
#ifdef _WIN32
    // In the user's language (Wine's words under the suites' Chinese locale).
    EXPECT_EQ(log[2].text, kBlanks + (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                          ? "\u627e\u4e0d\u5230\u6587\u4ef6\u3002"
                                          : "The system cannot find the file specified."));
#else
    EXPECT_EQ(log[2].text, kBlanks + "No such file or directory");
#endif
    EXPECT_EQ(log[2].colour, rq::test::kRed);
    EXPECT_FALSE(log[2].bold);
}

TEST_F(TransactionTest, HangUpDuringTheTransactionEndsWithTheLinesReason)
{
    StartWith({"--hangup-before"});
    ClickAndWait(frame->BlackButton);
    const auto log = Log();
    ASSERT_GE(log.size(), 3u);
#ifdef _WIN32
    // Wine reads a pseudo-terminal that hangs up before the read as a silent
    // line, one that hangs up during it as a failed read (ERROR_NOT_READY).
    const std::string reason = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                                   ? "\u672a\u5c31\u7eea\u3002"
                                   : "The device is not ready.";
    const std::string ended = log[log.size() - 2].text;
    EXPECT_TRUE(ended == kBlanks + reason || ended.substr(17) == "The request has timed out") << ended;
#else
    EXPECT_EQ(log[log.size() - 2].text, kBlanks + "Input/output error");
#endif
    EXPECT_FALSE(frame->IsBusy());
}

#ifndef _WIN32
TEST_F(TransactionTest, ServerGoneDuringTheTransactionSaysSoAndTheWindowIsIdle)
{
    StartThroughServer(rq::test::Ser2netServer::Mode::Rfc2217, {"--silent"});
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(sim->WaitForFrames(1));
    server->Stop();
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    const auto log = Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4].text, kBlanks + "Connection closed by the server");
    EXPECT_EQ(log[4].colour, rq::test::kRed);
    EXPECT_EQ(log[5].text, kBlanks + "Close: " + server->PortName());

    // The next click finds no server: one red line.
    ClickAndWait(frame->BlackButton);
    const auto next = Log();
    ASSERT_EQ(next.size(), 3u);
    EXPECT_EQ(next[1].text, kBlanks + "Open Failed : " + server->PortName() + " ,9600 ");
    EXPECT_EQ(next[1].colour, rq::test::kRed);
    EXPECT_EQ(next[2].text, kBlanks + "Connection refused");
    EXPECT_EQ(next[2].colour, rq::test::kRed);
    EXPECT_FALSE(frame->IsBusy());
}
#endif

TEST_F(TransactionTest, SecondClickWhileBusyIsRefusedAndTheFirstCompletes)
{
    StartWith({"--delay", "300"});
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(frame->IsBusy());
    frame->IdText->SetValue("7");
    wxTEST_DIALOG(frame->Click(frame->ResetButton),
                  wxExpectModal<wxMessageDialog>(wxID_OK).Describe("Serial port is occupied"));
    EXPECT_EQ(frame->ledId, 7);  // the typed ID is recorded before the refusal
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    const auto log = Log();
    EXPECT_EQ(log[0].text, "               =========  Black  =========");
    EXPECT_EQ(log[log.size() - 2].text, kBlanks + "Success");
    EXPECT_EQ(sim->RecordedFrames().size(), 1u);
}

TEST_F(TransactionTest, CloseIsRefusedWhileBusyAndAcceptedAfter)
{
    StartWith({"--delay", "300"});
    frame->Click(frame->BlackButton);
    ASSERT_TRUE(frame->IsBusy());
    EXPECT_FALSE(frame->Close());
    wxTheApp->ProcessIdle();
    ASSERT_NE(wxTopLevelWindows.Find(frame), nullptr);  // still there, not destroyed
    EXPECT_FALSE(frame->IsBeingDeleted());
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_TRUE(frame->Close());
    wxTheApp->ProcessIdle();
    frame = nullptr;
    EXPECT_NE(dir.ReadFile("Config/Config.ini").find("id=1"), std::string::npos);
}

TEST_F(TransactionTest, ChangeIdKeepsTheTypedIdInUse)
{
    StartWith({});
    frame->NewIdText->SetValue("7");
    frame->IdText->SetValue("3");
    ClickAndWait(frame->ChangeIdButton);
    EXPECT_EQ(LastFrame(), "A1 08 F7 03 21 07 CB 51");
    EXPECT_EQ(frame->ledId, 3);
    DestroyNow(frame);
    frame = nullptr;
    EXPECT_NE(dir.ReadFile("Config/Config.ini").find(rq::test::NativeLines("id=3\n")), std::string::npos);
}

TEST_F(TransactionTest, UnparsableIdRefusesWithParameterErrorWhenAddressed)
{
    StartWith({});
    frame->IdText->SetValue("1a");
    ClickAndWait(frame->BlackButton);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].text, "Parameter error");
    EXPECT_EQ(log[1].colour, rq::test::kRed);
    EXPECT_EQ(frame->ledId, 1);
    EXPECT_TRUE(sim->RecordedFrames().empty());
}

TEST_F(TransactionTest, RequiredFieldThatDoesNotParseSendsNothing)
{
    StartWith({});
    frame->WidthText->SetValue("");
    ClickAndWait(frame->LedSetButton);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].text, "Parameter error");
}

TEST_F(TransactionTest, TooLongMessageIsRefused)
{
    StartWith({});
    frame->MessageChoice->SetStringSelection("UNICODE");
    frame->MessageText->SetValue(wxString('x', 125));  // 124 characters fit with an address
    ClickAndWait(frame->SendMessageButton);
    EXPECT_EQ(Log().back().text, "Parameter error");
    frame->MessageText->SetValue(wxString('x', 124));
    ClickAndWait(frame->SendMessageButton);
    EXPECT_EQ(Log()[Log().size() - 2].text, kBlanks + "Success");
}

TEST_F(TransactionTest, TextTheCodePageCannotCarryIsRefusedNotSentEmpty)
{
    StartWith({});
    frame->MessageChoice->SetSelection(0);  // the multibyte encoding
    // No GBK form, and the code page's single byte 0x80 that would take the 5 as its pair.
    frame->MessageText->SetValue(wxString::FromUTF8("\xE2\x82\xAC" "5 OK"));
    ClickAndWait(frame->DefaultMessageButton);
    EXPECT_EQ(Log().back().text, "The character \"\xE2\x82\xAC\" (U+20AC) cannot be sent in GBK: choose UNICODE");
    EXPECT_EQ(Log().back().colour, rq::test::kRed);
    frame->MessageText->SetValue(wxString::FromUTF8("LED \xF0\x9F\x98\x80"));
    ClickAndWait(frame->SendMessageButton);
    EXPECT_EQ(Log().back().text, "The character \"\xF0\x9F\x98\x80\" (U+1F600) cannot be sent in GBK: choose UNICODE");
    EXPECT_TRUE(sim->RecordedFrames().empty());
    frame->MessageChoice->SetStringSelection("UNICODE");
    ClickAndWait(frame->SendMessageButton);
    EXPECT_EQ(LastFrame(), "A1 13 EC 01 02 4C 00 45 00 44 00 20 00 3D D8 00 DE 8B 51");
}

TEST_F(TransactionTest, TwoCommandsInARowShowOnlyTheSecond)
{
    StartWith({});
    ClickAndWait(frame->BlackButton);
    ClickAndWait(frame->ResetButton);
    const auto log = Log();
    EXPECT_EQ(log[0].text, "               =========  Reset LED  =========");
    for (const auto& line : log) EXPECT_EQ(line.text.find("Black"), std::string::npos);
}

// Log/File: each transaction appended after a dated header, the pane's lines
// without colour; unticking the menu item stops the record.
TEST_F(TransactionTest, LogFileKeepsEveryTransactionUntilUnticked)
{
    StartWith({}, "[Log]\nFile=station.log\n");
    EXPECT_TRUE(frame->MenuBar->IsChecked(idMenuLogToFile));
    frame->BrightCombo->SetSelection(IndexOf(frame->BrightCombo, "8"));
    ClickAndWait(frame->BrightSetButton);
    ClickAndWait(frame->BlackButton);
    std::vector<std::string> lines;
    std::istringstream record(dir.ReadFile("station.log"));
    for (std::string line; std::getline(record, line);) lines.push_back(line);
    const auto pane = Log();
    ASSERT_EQ(lines.size(), 2 * (pane.size() + 1));
    const std::regex header("==== \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  port " + sim->PortPath() +
                            "  baud 9600  (Bright Set|Black)");
    EXPECT_TRUE(std::regex_match(lines[0], header)) << lines[0];
    EXPECT_EQ(lines[1], "               =========  Bright Set  =========");
    EXPECT_EQ(lines[3].substr(17), "Write : 8 Bytes");
    EXPECT_EQ(lines[4], kBlanks + "DATA :  A1 08 F7 01 43 08 EC 51");
    EXPECT_EQ(lines[7], kBlanks + "Success");
    EXPECT_TRUE(std::regex_match(lines[pane.size() + 1], header)) << lines[pane.size() + 1];
    for (std::size_t i = 0; i < pane.size(); ++i) EXPECT_EQ(lines[pane.size() + 2 + i], pane[i].text);

    frame->MenuBar->Check(idMenuLogToFile, false);
    frame->Menu(idMenuLogToFile);
    ClickAndWait(frame->BlackButton);
    EXPECT_EQ(dir.ReadFile("station.log").size(), record.str().size());
    DestroyNow(frame);
    frame = nullptr;
    std::string settings = dir.ReadFile("Config/Config.ini");
    settings.erase(std::remove(settings.begin(), settings.end(), '\r'), settings.end());  // CRLF on Windows
    EXPECT_NE(settings.find("[Log]\nFile=\n"), std::string::npos) << settings;
}

TEST_F(TransactionTest, LogFileThatCannotBeWrittenIsOneRedLineAndTheTransactionSucceeds)
{
    StartWith({}, "[Log]\nFile=no-such-folder/station.log\n");
    ClickAndWait(frame->BlackButton);
    const auto log = Log();
    int said = 0;
    for (const auto& line : log) {
        if (line.text.rfind(kBlanks + "Cannot write to the log file no-such-folder/station.log: ", 0) != 0) continue;
        ++said;
        EXPECT_EQ(line.colour, rq::test::kRed);
    }
    EXPECT_EQ(said, 1);
    EXPECT_EQ(LastFrame(), "A1 07 F8 01 63 04 51");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].text, kBlanks + "Success");
}

TEST_F(TransactionTest, OtherModelsHaveNoCommands)
{
    StartWith({}, "");
    frame->profile.model = "rq-m4t";  // the gate compares exactly
    ClickAndWait(frame->BlackButton);
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].text, "undefined symbol");
    EXPECT_EQ(log[1].colour, rq::test::kRed);
    EXPECT_FALSE(frame->IsBusy());
    EXPECT_TRUE(sim->RecordedFrames().empty());
}

TEST_F(TransactionTest, WorkerEventsAreDecodedByIdentifier)
{
    StartWith({});
    frame->LogView->Clear();
    wxThreadEvent blue(wxEVT_THREAD, 1);
    blue.SetInt(16711680);
    blue.SetString("blue line");
    frame->OnThreadEvent(blue);
    wxThreadEvent red(wxEVT_THREAD, 1);
    red.SetInt(255);
    red.SetString("red line");
    frame->OnThreadEvent(red);
    // A reply while none is expected.
    wxThreadEvent reply(wxEVT_THREAD, 2);
    reply.SetInt(1);
    reply.SetString(kBlanks);
    frame->OnThreadEvent(reply);
    wxThreadEvent finished(wxEVT_THREAD, -1);
    frame->OnThreadEvent(finished);  // no worker: nothing happens
    const auto log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].colour, rq::test::kBlue);
    EXPECT_EQ(log[1].colour, rq::test::kRed);
    EXPECT_EQ(log[2].text, kBlanks + "System error");
    EXPECT_EQ(log[2].colour, rq::test::kRed);
}

// ---- Enter in a field: typed on the keyboard, through the toolkit ----

namespace {

struct FieldCase {
    const char* name;
    std::function<wxWindow*(TestableFrame&)> field;
};

class KeyboardTest : public TransactionTest {
protected:
    // Gives `field` the keyboard focus and presses Enter there as the operator
    // would: a real key event from the display server, through the toolkit's
    // own key handling. Returns once the window has handled the key.
    ::testing::AssertionResult PressEnterIn(wxWindow* field)
    {
        frame->Show();
        frame->Raise();
        if (!PumpUntil([&] { return field->IsShownOnScreen(); }, 10000)) {
            return ::testing::AssertionFailure() << "the window did not show";
        }
        field->SetFocus();
        if (!PumpUntil([&] { return HasFocus(field); }, 5000)) {
            return ::testing::AssertionFailure() << "the field did not take the focus";
        }
        const wxString before = TextOf(field);
        // Enter either moves on (the focus leaves the field) or changes the
        // field's text, or it presses a button (GTK clicks a default button a
        // moment after the key) and a command starts.
        const auto answered = [&] {
            return !HasFocus(field) || TextOf(field) != before || frame->IsBusy() || !Log().empty();
        };
#ifdef __WXMSW__
        // Windows translates keys, and presses a default button, only in a
        // running event loop's dispatch: a bare Yield leaves the key queued.
        const bool done = RunLoopUntil(answered, [] { wxUIActionSimulator().Char(WXK_RETURN); }, 5000);
#else
        wxUIActionSimulator keyboard;
        // Without a window manager the keys go to the window under the pointer.
        keyboard.MouseMove(field->GetScreenRect().GetLeftTop() + wxPoint(3, 3));
        keyboard.Char(WXK_RETURN);
        const bool done = PumpUntil(answered, 5000);
#endif
        if (!done) return ::testing::AssertionFailure() << "the Enter key had no effect at all";
        return ::testing::AssertionSuccess();
    }

    // Starts an event loop, does `action` from inside it and runs it until
    // `done` holds or `timeoutMs` has passed.
    static bool RunLoopUntil(const std::function<bool()>& done, const std::function<void()>& action, int timeoutMs)
    {
        wxGUIEventLoop loop;
        wxTimer poll;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            if (done() || std::chrono::steady_clock::now() > deadline) loop.Exit();
        });
        wxTheApp->CallAfter([&] {
            action();
            poll.Start(10);
        });
        loop.Run();
        poll.Stop();
        return done();
    }

    static wxString TextOf(wxWindow* field)
    {
        auto* entry = dynamic_cast<wxTextEntry*>(field);
        return entry ? entry->GetValue() : wxString();
    }

    static bool HasFocus(wxWindow* field)
    {
        for (wxWindow* focus = wxWindow::FindFocus(); focus; focus = focus->GetParent()) {
            if (focus == field) return true;
        }
        return false;
    }
};

class EnterInField : public KeyboardTest, public ::testing::WithParamInterface<FieldCase> {};

}  // namespace

// Enter in a one-line field sends nothing to the sign: the window's default
// button ("Send Message") stays unpressed, whatever the message box holds.
TEST_P(EnterInField, SendsNothing)
{
    StartWith({});
    ASSERT_EQ(frame->profile.model, "RQ-M4T");
    frame->LogView->Clear();
    wxWindow* field = GetParam().field(*frame);
    ASSERT_TRUE(PressEnterIn(field));
    EXPECT_FALSE(frame->IsBusy());
    EXPECT_TRUE(Log().empty()) << Log().front().text;
    EXPECT_FALSE(HasFocus(field)) << "Enter moves on to the next field";
    ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, 10000));
    EXPECT_EQ(sim->RecordedFrames(), std::vector<std::string>{});
    // The message button stays the window's default; Windows lends the part
    // to a button only while that button holds the focus.
    wxWindow* const lent = frame->GetTmpDefaultItem();
    EXPECT_TRUE(lent == nullptr || lent == wxWindow::FindFocus());
    frame->SetTmpDefaultItem(nullptr);
    EXPECT_EQ(frame->GetDefaultItem(), frame->SendMessageButton);
}

INSTANTIATE_TEST_SUITE_P(
    OneLineFields, EnterInField,
    ::testing::Values(FieldCase{"Id", [](TestableFrame& f) -> wxWindow* { return f.IdText; }},
                      FieldCase{"ComPort", [](TestableFrame& f) -> wxWindow* { return f.ComPortText; }},
                      FieldCase{"Width", [](TestableFrame& f) -> wxWindow* { return f.WidthText; }},
                      FieldCase{"High", [](TestableFrame& f) -> wxWindow* { return f.HighText; }},
                      FieldCase{"Bright", [](TestableFrame& f) -> wxWindow* { return f.BrightCombo; }},
                      FieldCase{"OnInterval", [](TestableFrame& f) -> wxWindow* { return f.OnIntervalText; }},
                      FieldCase{"OffInterval", [](TestableFrame& f) -> wxWindow* { return f.OffIntervalText; }},
                      FieldCase{"Elapsed", [](TestableFrame& f) -> wxWindow* { return f.ElapsedText; }},
                      FieldCase{"RollSpeed", [](TestableFrame& f) -> wxWindow* { return f.RollSpeedText; }},
                      FieldCase{"NewId", [](TestableFrame& f) -> wxWindow* { return f.NewIdText; }}),
    [](const ::testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

// In the message box Enter starts a new line, as before, and sends nothing.
TEST_F(KeyboardTest, EnterInTheMessageBoxStartsANewLine)
{
    StartWith({});
    frame->MessageText->SetValue("abc");
    frame->MessageText->SetInsertionPointEnd();
    frame->LogView->Clear();
    ASSERT_TRUE(PressEnterIn(frame->MessageText));
    EXPECT_TRUE(PumpUntil([&] { return frame->MessageText->GetValue() == "abc\n"; }, 5000))
        << frame->MessageText->GetValue().utf8_string();
    EXPECT_FALSE(frame->IsBusy());
    EXPECT_TRUE(Log().empty());
}
