// The window and rq-m4x-send build the same frames: every case of the shared
// table is set into the window's controls and built by its builder, and built
// by the tool's request code, and both must give the table's bytes (or both
// refuse). A working directory set up in the window gives the tool, through
// --from, the frames the window builds right after it starts there.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/saved_setup.h"
#include "cli/send_arguments.h"
#include "cli/send_request.h"
#include "gui/frame_fixture.h"
#include "platform/text_encoding.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "support/command_cases.h"

using rq::test::CommandCase;
using rq::test::DestroyNow;
using rq::test::Hex;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

// A profile that offers every control, lists brightness levels up to 255 and
// both message encodings, and addresses by ID.
const char* const kOpenProfile =
    "[Model]\nModel=RQ-M4T\n"
    "[Lock]\nSize=0\nScan=0\nScroll=0\nid=0\n"
    "[Bright]\nAuto=1\nLeve=256\n"
    "[Function]\nBlack=1\nAlign=1\nBlinking=1\nScroll=1\nDefultSet=1\n"
    "[App]\nResetCMD=reset\n"
    "[Text]\nmsgChoice1=GBK,UNICODE\nButton1=Send Message\nButton2=Default MSG\n";

// The tool's frame for `words` (a subcommand and its arguments after the
// options), or "" when it refuses.
std::string ToolFrame(std::vector<std::string> options, const std::vector<std::string>& words,
                      const rq::cli::SavedSetup* saved = nullptr)
{
    options.insert(options.end(), words.begin(), words.end());
    const rq::cli::ParsedArguments parsed = rq::cli::ParseArguments(options);
    if (!parsed.error.empty()) return "";
    const rq::cli::RequestResult result =
        rq::cli::BuildRequest(parsed.arguments, saved, &rq::platform::ToControllerMultibyte);
    if (!result.request) return "";
    std::uint8_t frame[rq::protocol::kFrameBufferSize];
    const std::size_t length = rq::protocol::EncodeCommand(result.request->command, result.request->address, frame);
    return Hex(frame, length);
}

int IndexOf(wxItemContainerImmutable* list, const std::string& text)
{
    return list->FindString(wxString::FromUTF8(text.c_str()), true);
}

// Sets the case's values into the window's controls as an operator would and
// returns the frame of the button's builder ("" when it builds none).
std::string WindowFrame(TestableFrame& f, const CommandCase& c)
{
    f.idAddressing = c.id != nullptr;
    // Without ID addressing the builders must not read the ID field at all.
    f.IdText->SetValue(c.id ? wxString::FromUTF8(c.id) : wxString("not read"));

    std::vector<std::string> w;
    bool unicode = false;
    for (const std::string& word : c.args) {
        if (word == "--unicode")
            unicode = true;
        else
            w.push_back(word);
    }
    const auto text = [](const std::string& s) { return wxString::FromUTF8(s.c_str()); };

    std::uint8_t buffer[rq::protocol::kFrameBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    std::size_t length = 0;
    const std::string& command = w[0];
    if (command == "led") {
        f.WidthText->SetValue(text(w[1]));
        f.HighText->SetValue(text(w[2]));
        EXPECT_TRUE(f.ScanChoice->SetStringSelection(text(w[3])));
        f.ScrollLevelChoice->SetSelection(std::stoi(w[4]));
        f.ScrollSpeedChoice->SetSelection(std::stoi(w[5]));
        length = f.BuildLedParameters(buffer);
    } else if (command == "bright") {
        const int index = IndexOf(f.BrightCombo, w[1] == "auto" ? "Auto" : w[1]);
        EXPECT_NE(index, wxNOT_FOUND) << w[1];
        f.BrightCombo->SetSelection(index);
        length = f.BuildBrightness(buffer);
    } else if (command == "black") {
        length = f.BuildBlank(buffer);
    } else if (command == "reset") {
        length = f.BuildReset(buffer);
    } else if (command == "defaults") {
        length = f.BuildFactoryDefaults(buffer);
    } else if (command == "align") {
        const char* items[] = {"left", "center", "right"};
        for (int i = 0; i < 3; ++i) {
            if (w[1] == items[i]) f.AlignChoice->SetSelection(i);
        }
        length = f.BuildAlignment(buffer);
    } else if (command == "blinking") {
        f.BlinkingEnableCheck->SetValue(w[1] == "on");
        f.OnIntervalText->SetValue(text(w[2]));
        f.OffIntervalText->SetValue(text(w[3]));
        length = f.BuildBlinking(buffer);
    } else if (command == "scroll") {
        f.ElapsedText->SetValue(text(w[1]));
        f.RollSpeedText->SetValue(text(w[2]));
        length = f.BuildTimedScroll(buffer);
    } else if (command == "change-id") {
        f.NewIdText->SetValue(text(w[1]));
        length = f.BuildChangeId(buffer);
    } else if (command == "message" || command == "default-message") {
        EXPECT_TRUE(f.MessageChoice->SetStringSelection(unicode ? "UNICODE" : "GBK"));
        f.MessageText->SetValue(text(w[1]));
        length = command == "message" ? f.BuildMessage(buffer) : f.BuildDefaultMessage(buffer);
    } else {
        ADD_FAILURE() << "no window control for " << command;
    }
    return Hex(buffer, length);
}

class CliParity : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override
    {
        dir.WriteFile("Config/Config.ini", "[Setting]\nMode=RQ-M4T\n");
        dir.WriteFile("Modes/RQ-M4T.ini", kOpenProfile);
        frame = new TestableFrame;
    }
    void TearDown() override { DestroyNow(frame); }

    WorkDir dir;
    TestableFrame* frame = nullptr;
};

}  // namespace

TEST_P(CliParity, WindowAndToolBuildTheSameFrame)
{
    const CommandCase& c = GetParam();
    ASSERT_EQ(frame->profile.model, "RQ-M4T");
    const std::string window = WindowFrame(*frame, c);
    std::vector<std::string> options = {"--port", "/dev/null"};
    if (c.id) {
        options.push_back("--id");
        options.push_back(c.id);
    }
    const std::string tool = ToolFrame(options, c.args);
    EXPECT_EQ(window, c.frame);
    EXPECT_EQ(tool, window);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliParity, ::testing::ValuesIn(rq::test::CommandCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The window started in a working directory, its builders called before any
// control is touched, against the tool reading the same directory.
class CliFromParity : public ::testing::Test {
protected:
    void Start(const std::string& settings, const std::string& profile)
    {
        dir.WriteFile("Config/Config.ini", settings);
        dir.WriteFile("Modes/RQ-M4T.ini", profile);
        frame = new TestableFrame;
        const rq::cli::SavedSetupResult read = rq::cli::ReadSavedSetup(dir.Path());
        ASSERT_TRUE(read.setup) << read.error;
        saved = *read.setup;
    }
    void TearDown() override
    {
        if (frame) DestroyNow(frame);
    }

    std::string Window(std::size_t (TestableFrame::*builder)(std::uint8_t*))
    {
        std::uint8_t buffer[rq::protocol::kFrameBufferSize];
        std::memset(buffer, 0, sizeof buffer);
        return Hex(buffer, (frame->*builder)(buffer));
    }
    // --hex: the frame alone, so a directory without a port will do.
    std::string Tool(const std::string& subcommand) { return ToolFrame({"--hex"}, {subcommand}, &saved); }

    WorkDir dir;
    TestableFrame* frame = nullptr;
    rq::cli::SavedSetup saved;
};

TEST_F(CliFromParity, StartUpValuesGiveTheSameFrames)
{
    // Values that the window's lists select by text: a lower-case scan, a
    // level no item matches, an alignment in another case.
    Start("[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=/dev/null\nBSP=9600\n"
          "[LED]\nWidth=96\nHigh=32\nScan=p10\nScrollLevel=20\nScrollSpeed=5\nid=254\nNewId=9\nAlign=RIGHT\n"
          "[Blinking]\nEnable=1\nOninterval=-5\nOffinterval=70000\n"
          "[Roll]\nElapsed=123\nSpeed=4\n",
          kOpenProfile);
    EXPECT_EQ(saved.baud, 9600);
    EXPECT_TRUE(saved.idAddressing);
    const std::vector<std::pair<const char*, std::size_t (TestableFrame::*)(std::uint8_t*)>> builders = {
        {"led", &TestableFrame::BuildLedParameters}, {"align", &TestableFrame::BuildAlignment},
        {"blinking", &TestableFrame::BuildBlinking}, {"scroll", &TestableFrame::BuildTimedScroll},
        {"change-id", &TestableFrame::BuildChangeId}, {"black", &TestableFrame::BuildBlank},
        {"reset", &TestableFrame::BuildReset},        {"defaults", &TestableFrame::BuildFactoryDefaults},
    };
    for (const auto& [subcommand, builder] : builders) {
        const std::string window = Window(builder);
        EXPECT_NE(window, "") << subcommand;
        EXPECT_EQ(Tool(subcommand), window) << subcommand;
    }
}

TEST_F(CliFromParity, DefaultsOfAnEmptySettingsFile)
{
    Start("", "[Model]\nModel=RQ-M4T\n");
    EXPECT_FALSE(saved.idAddressing);
    EXPECT_EQ(Tool("led"), Window(&TestableFrame::BuildLedParameters));
    EXPECT_EQ(Tool("led"), "A1 0D F2 41 08 02 00 00 00 00 33 1E 51");
    EXPECT_EQ(Tool("blinking"), Window(&TestableFrame::BuildBlinking));
    EXPECT_EQ(Tool("scroll"), Window(&TestableFrame::BuildTimedScroll));
    EXPECT_EQ(Tool("align"), Window(&TestableFrame::BuildAlignment));
}

TEST_F(CliFromParity, StoredBrightnessIsTheOneTheOperatorChose)
{
    Start("[Setting]\nMode=RQ-M4T\n[SerialPort]\nCOM=/dev/null\n[LED]\nid=1\nBright=8\n", kOpenProfile);
    // The stored level is the selected entry, so both send what the box shows.
    EXPECT_EQ(frame->BrightCombo->GetStringSelection(), "8");
    EXPECT_EQ(Tool("bright"), Window(&TestableFrame::BuildBrightness));
    EXPECT_EQ(Tool("bright"), "A1 08 F7 01 43 08 EC 51");
}

TEST_F(CliFromParity, ModelWithoutAutoSendsItsFirstLevel)
{
    // The stored default "Auto" is no entry of this model.
    Start("", "[Model]\nModel=RQ-M4T\n[Bright]\nLeve=16\n");
    EXPECT_EQ(frame->BrightCombo->GetValue(), "0");
    EXPECT_EQ(Tool("bright"), Window(&TestableFrame::BuildBrightness));
    EXPECT_EQ(Tool("bright"), "A1 07 F8 43 00 E3 51");
}
