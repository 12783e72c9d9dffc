// What the Set buttons store before they send, as it reaches the settings file.
#include "gui/frame_fixture.h"

using rq::test::DestroyNow;
using rq::test::TestableFrame;
using rq::test::WorkDir;

namespace {

// Every feature unlocked, but a model without commands: the handlers store
// their values and the log says "undefined symbol", with no port involved.
const char* const kUnlockedOtherModel =
    "[Model]\nModel=Other\n[Lock]\nSize=0\nScan=0\nScroll=0\nid=0\n[Bright]\nAuto=1\nLeve=4\n"
    "[Function]\nBlack=1\nAlign=1\nBlinking=1\nScroll=1\n[Text]\nmsgChoice1=A,B\nButton1=Send\n";

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.WriteFile("Modes/Other.ini", kUnlockedOtherModel);
        dir.WriteFile("Config/Config.ini", "[LED]\nWidth=80\n");
        frame = new TestableFrame;
    }
    // Closes the window and returns what it saved.
    std::string Saved()
    {
        DestroyNow(frame);
        frame = nullptr;
        return dir.ReadFile("Config/Config.ini");
    }
    void TearDown() override
    {
        if (frame) DestroyNow(frame);
    }
    static bool Has(const std::string& file, const std::string& line)
    {
        return file.find(rq::test::NativeLines(line + "\n")) != std::string::npos;
    }
    WorkDir dir;
    TestableFrame* frame = nullptr;
};

}  // namespace

TEST_F(HandlerTest, LedSetStoresWhatParsesAndStillAttemptsTheCommand)
{
    frame->WidthText->SetValue("abc");
    frame->HighText->SetValue("32");
    frame->ScanChoice->SetSelection(0);
    frame->ScrollLevelChoice->SetSelection(5);
    frame->ScrollSpeedChoice->SetSelection(6);
    frame->Click(frame->LedSetButton);
    EXPECT_EQ(frame->LogView->GetLineText(0), "               =========  LED Set  =========");
    EXPECT_EQ(frame->LogView->GetLineText(1), "undefined symbol");
    EXPECT_EQ(frame->ledWidth, 80);
    EXPECT_EQ(frame->ledHigh, 32);
    const std::string file = Saved();
    EXPECT_TRUE(Has(file, "Width=80"));
    EXPECT_TRUE(Has(file, "High=32"));
    EXPECT_TRUE(Has(file, "Scan=P10"));
    EXPECT_TRUE(Has(file, "ScrollLevel=5"));
    EXPECT_TRUE(Has(file, "ScrollSpeed=6"));
}

TEST_F(HandlerTest, BlinkingSetAlwaysStoresTheTickEvenWithEmptyIntervals)
{
    frame->BlinkingEnableCheck->SetValue(false);
    frame->OnIntervalText->SetValue("");
    frame->OffIntervalText->SetValue(" 40");
    frame->Click(frame->BlinkingSetButton);
    const std::string file = Saved();
    EXPECT_TRUE(Has(file, "[Blinking]\nEnable=0"));
    EXPECT_EQ(file.find("Oninterval"), std::string::npos);
    EXPECT_TRUE(Has(file, "Offinterval=40"));
}

TEST_F(HandlerTest, BrightSetWithNothingSelectedStoresAnEmptyText)
{
    frame->BrightCombo->SetSelection(wxNOT_FOUND);
    frame->BrightCombo->SetValue("7");  // typed text is not a list entry
    frame->Click(frame->BrightSetButton);
    EXPECT_EQ(frame->brightText, "");
    EXPECT_TRUE(Has(Saved(), "Bright="));
}

TEST_F(HandlerTest, ScrollSetAndAlignAndMessageStoreTheirValues)
{
    frame->ElapsedText->SetValue("-5");
    frame->RollSpeedText->SetValue("9x");
    frame->Click(frame->ScrollSetButton);
    frame->AlignChoice->SetSelection(0);
    frame->Click(frame->AlignSetButton);
    frame->MessageChoice->SetSelection(1);
    frame->Click(frame->SendMessageButton);
    const std::string file = Saved();
    EXPECT_TRUE(Has(file, "Elapsed=-5"));
    EXPECT_EQ(file.find(rq::test::NativeLines("[Roll]\nElapsed=-5\nSpeed")), std::string::npos);
    EXPECT_TRUE(Has(file, "Align=Left"));
    EXPECT_TRUE(Has(file, "Choice1=1"));
}

TEST_F(HandlerTest, EveryClickOfAModelWithoutCommandsStaysIdle)
{
    for (int i = 0; i < 2; ++i) {
        frame->Click(frame->BlackButton);
        EXPECT_EQ(frame->LogView->GetLineText(1), "undefined symbol");
        EXPECT_FALSE(frame->IsBusy());
    }
}
