// What each model profile key does to the window's controls.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <wx/log.h>

#include "gui/frame_fixture.h"

using rq::test::DestroyNow;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

// A window started on a profile written by the test.
class ProfileTest : public ::testing::Test {
protected:
    TestableFrame& Start(const std::string& profile, const std::string& settings = "")
    {
        dir.WriteFile("Modes/M.ini", profile);
        dir.WriteFile("Config/Config.ini", settings);
        frame = new TestableFrame;
        return *frame;
    }
    void TearDown() override
    {
        if (frame) DestroyNow(frame);
    }
    WorkDir dir;
    TestableFrame* frame = nullptr;
};

bool Usable(wxWindow* w)
{
    return w->IsEnabled();
}

std::vector<std::string> Items(wxItemContainerImmutable* list)
{
    std::vector<std::string> items;
    for (unsigned i = 0; i < list->GetCount(); ++i) items.push_back(list->GetString(i).utf8_string());
    return items;
}

struct KeyCase {
    const char* name;
    const char* profile;
    std::function<void(TestableFrame&)> check;
};

class ProfileKey : public ProfileTest, public ::testing::WithParamInterface<KeyCase> {};

}  // namespace

TEST_P(ProfileKey, ChangesItsControls)
{
    GetParam().check(Start(GetParam().profile));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ProfileKey,
    ::testing::Values(
        KeyCase{"OnlyModelLocksEverything", "[Model]\nModel=RQ-M4T\n",
                [](TestableFrame& f) {
                    for (wxWindow* w : std::initializer_list<wxWindow*>{
                             f.WidthText, f.HighText, f.ScanChoice, f.ScrollLevelChoice, f.ScrollSpeedChoice,
                             f.IdText, f.LedSetButton, f.BrightCombo, f.BrightSetButton, f.BlackButton,
                             f.AlignChoice, f.AlignSetButton, f.ResetButton, f.BlinkingSetButton,
                             f.ScrollSetButton, f.ChangeIdButton, f.MessageChoice, f.SendMessageButton,
                             f.DefaultMessageButton})
                        EXPECT_FALSE(Usable(w)) << w->GetName();
                    EXPECT_FALSE(f.DefaultSetButton->IsShown());
                    EXPECT_EQ(f.idAddressing, 0);
                    EXPECT_EQ(f.BrightCombo->GetCount(), 0u);
                    EXPECT_TRUE(Usable(f.ModelChoice));
                    EXPECT_TRUE(Usable(f.ComSetButton));
                    EXPECT_EQ(f.profile.model, "RQ-M4T");
                }},
        KeyCase{"SizeUnlockedAlone", "[Lock]\nSize=0\nScan=1\nScroll=1\n",
                [](TestableFrame& f) {
                    EXPECT_TRUE(Usable(f.WidthText));
                    EXPECT_TRUE(Usable(f.HighLabel));
                    EXPECT_TRUE(Usable(f.LedSetButton));
                    EXPECT_FALSE(Usable(f.ScanChoice));
                    EXPECT_FALSE(Usable(f.ScrollSpeedChoice));
                }},
        KeyCase{"ScrollUnlockedEnablesLedSet", "[Lock]\nScroll=0\n",
                [](TestableFrame& f) {
                    EXPECT_TRUE(Usable(f.ScrollLevelChoice));
                    EXPECT_TRUE(Usable(f.SpeedLabel));
                    EXPECT_TRUE(Usable(f.LedSetButton));
                    EXPECT_FALSE(Usable(f.WidthText));
                }},
        KeyCase{"WordInLockSizeLocks", "[Lock]\nSize=open\n",
                [](TestableFrame& f) { EXPECT_FALSE(Usable(f.WidthText)); }},
        KeyCase{"IdUnlockedTurnsAddressingOn", "[Lock]\nid=0\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(f.idAddressing, 1);
                    EXPECT_TRUE(Usable(f.IdText));
                    EXPECT_TRUE(Usable(f.ChangeIdButton));
                    EXPECT_EQ(f.NewIdText->GetValue(), "1");
                }},
        KeyCase{"AutoAndSixteenLevels", "[Bright]\nAuto=1\nLeve=16\n",
                [](TestableFrame& f) {
                    std::vector<std::string> expected{"Auto"};
                    for (int i = 0; i < 16; ++i) expected.push_back(std::to_string(i));
                    EXPECT_EQ(Items(f.BrightCombo), expected);
                    EXPECT_TRUE(Usable(f.BrightSetButton));
                    EXPECT_EQ(f.BrightCombo->GetValue(), "Auto");
                }},
        KeyCase{"LevelsWithoutAuto", "[Bright]\nLeve=3\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(Items(f.BrightCombo), (std::vector<std::string>{"0", "1", "2"}));
                    EXPECT_TRUE(Usable(f.BrightLabel));
                    // The stored default "Auto" is no entry here: the first one is shown and sent.
                    EXPECT_EQ(f.BrightCombo->GetValue(), "0");
                    EXPECT_EQ(f.BrightCombo->GetSelection(), 0);
                }},
        KeyCase{"HugeLevelCountIsCappedAtTheWireByte", "[Bright]\nLeve=2000000000\n",
                [](TestableFrame& f) {
                    ASSERT_EQ(f.BrightCombo->GetCount(), 256u);
                    EXPECT_EQ(f.BrightCombo->GetString(255), "255");
                }},
        KeyCase{"NegativeLevelsAppendNothing", "[Bright]\nLeve=-4\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(f.BrightCombo->GetCount(), 0u);
                    EXPECT_TRUE(Usable(f.BrightCombo));  // -4 | 0 is non-zero
                }},
        KeyCase{"Features", "[Function]\nBlack=1\nAlign=1\nBlinking=1\nScroll=1\nDefultSet=1\n[App]\nResetCMD=R\n",
                [](TestableFrame& f) {
                    EXPECT_TRUE(Usable(f.BlackButton));
                    EXPECT_TRUE(Usable(f.AlignSetButton));
                    EXPECT_EQ(f.AlignChoice->GetStringSelection(), "Center");
                    EXPECT_TRUE(Usable(f.ResetButton));
                    EXPECT_EQ(f.resetCommand, "R");
                    EXPECT_TRUE(Usable(f.BlinkingSetButton));
                    EXPECT_TRUE(Usable(f.ScrollSetButton));
                    EXPECT_TRUE(f.DefaultSetButton->IsShown());
                    EXPECT_EQ(f.OnIntervalText->GetValue(), "1000");
                    EXPECT_EQ(f.ElapsedText->GetValue(), "3000");
                    EXPECT_EQ(f.RollSpeedText->GetValue(), "50");
                    EXPECT_FALSE(f.BlinkingEnableCheck->IsChecked());
                }},
        KeyCase{"MessageButtons", "[Text]\nmsgChoice1=GBK,UNICODE\nButton1=Send Message\nButton2=Push it\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(Items(f.MessageChoice), (std::vector<std::string>{"GBK", "UNICODE"}));
                    EXPECT_EQ(f.MessageChoice->GetSelection(), 0);
                    EXPECT_EQ(f.SendMessageButton->GetLabel(), "Send Message");
                    EXPECT_EQ(f.DefaultMessageButton->GetLabel(), "Push it");
                    EXPECT_TRUE(Usable(f.SendMessageButton));
                    EXPECT_TRUE(Usable(f.MessageChoice));
                }},
        KeyCase{"AdjacentCommasGiveAnEmptyItem", "[Text]\nmsgChoice1=A,,B\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(Items(f.MessageChoice), (std::vector<std::string>{"A", "", "B"}));
                }},
        KeyCase{"TrailingCommaAddsNoItem", "[Text]\nmsgChoice1=A,B,\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(Items(f.MessageChoice), (std::vector<std::string>{"A", "B"}));
                }},
        KeyCase{"LeadingCommaGivesAnEmptyFirstItem", "[Text]\nmsgChoice1=,A\n",
                [](TestableFrame& f) {
                    EXPECT_EQ(Items(f.MessageChoice), (std::vector<std::string>{"", "A"}));
                }},
        KeyCase{"ModelInLowerCaseHasNoCommands", "[Model]\nModel=rq-m4t\n[Function]\nBlack=1\n",
                [](TestableFrame& f) {
                    f.Click(f.BlackButton);
                    EXPECT_EQ(f.LogView->GetLineText(1), "undefined symbol");
                }}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(ProfileTest, StoredMessageIndexOutsideTheListSelectsNothing)
{
    Start("[Text]\nmsgChoice1=A,B,C\n", "[Text]\nChoice1=5\n");
    EXPECT_EQ(frame->MessageChoice->GetCount(), 3u);
    EXPECT_EQ(frame->MessageChoice->GetSelection(), wxNOT_FOUND);
}

TEST_F(ProfileTest, ProfileBaudReplacesTheStoredRateButIsNotWritten)
{
    Start("[App]\nBSP=19200\nLockBsp=1\n", "[SerialPort]\nBSP=9600\n");
    EXPECT_EQ(frame->baud, 19200);
    EXPECT_EQ(frame->profile.lockBaud, 1);
    DestroyNow(frame);
    frame = nullptr;
    EXPECT_NE(dir.ReadFile("Config/Config.ini").find("BSP=9600"), std::string::npos);
}

TEST_F(ProfileTest, StoredValuesFillTheProfileControls)
{
    Start("[Lock]\nid=0\n[Function]\nBlinking=1\nAlign=1\n",
          "[LED]\nNewId=12\nAlign=right\n[Blinking]\nEnable=1\nOninterval=250\nOffinterval=750\n");
    EXPECT_EQ(frame->NewIdText->GetValue(), "12");
    EXPECT_EQ(frame->AlignChoice->GetStringSelection(), "Right");
    EXPECT_TRUE(frame->BlinkingEnableCheck->IsChecked());
    EXPECT_EQ(frame->OnIntervalText->GetValue(), "250");
    EXPECT_EQ(frame->OffIntervalText->GetValue(), "750");
}

TEST_F(ProfileTest, TextEntriesExpandEnvironmentVariables)
{
    wxSetEnv("RQ_TEST_BUTTON", "Go");
    Start("[Text]\nButton1=$RQ_TEST_BUTTON\n");
    EXPECT_EQ(frame->SendMessageButton->GetLabel(), "Go");
}

TEST_F(ProfileTest, StoredBrightnessIsTheSelectedEntrySoBrightSetSendsWhatIsShown)
{
    Start("[Model]\nModel=RQ-M4T\n[Bright]\nAuto=1\nLeve=16\n", "[LED]\nBright=8\n");
    EXPECT_EQ(frame->BrightCombo->GetValue(), "8");
    EXPECT_EQ(frame->BrightCombo->GetStringSelection(), "8");
    std::uint8_t buffer[256] = {};
    ASSERT_EQ(frame->BuildBrightness(buffer), 7u);
    EXPECT_EQ(rq::test::Hex(buffer, 7), "A1 07 F8 43 08 EB 51");
}

TEST_F(ProfileTest, StoredTextThatIsNoEntrySelectsTheFirst)
{
    Start("[Bright]\nLeve=4\n", "[LED]\nBright=9\n");
    EXPECT_EQ(frame->BrightCombo->GetValue(), "0");
    EXPECT_EQ(frame->BrightCombo->GetSelection(), 0);
}

// A profile the parser cannot read whole is still applied as far as it can
// be read, and the operator learns which file and line, once per problem.
TEST_F(ProfileTest, DamagedProfileIsNamedWithItsLine)
{
    struct Recording : wxLog {
        std::vector<std::string> warnings;
        void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override
        {
            if (level <= wxLOG_Warning) warnings.push_back(text.utf8_string());
        }
    } log;
    wxLog* previous = wxLog::SetActiveTarget(&log);
    Start("[App]\nBSP=19200\nhand edit without equals\n");
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(frame->baud, 19200);
    ASSERT_EQ(log.warnings.size(), 1u);
    const std::string path = (std::filesystem::path(dir.Path()) / "Modes/M.ini").make_preferred().string();
    EXPECT_EQ(log.warnings[0], "file '" + path + "', line 3: '=' expected.");
}
