#pragma once
// Shared helpers for tests of the main window: a frame whose protected state
// tests may read, event pumping with an upper bound, and log inspection.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/richtext/richtextctrl.h>

#include "support/work_dir.h"
#include "ui/rq_m4t_frame.h"

namespace rq::test {

class TestableFrame : public RQ_M4TFrame {
public:
    explicit TestableFrame(int language = 58) : RQ_M4TFrame(nullptr, language) {}

    using GUIFrame::AlignChoice;
    using GUIFrame::AlignSetButton;
    using GUIFrame::BlackButton;
    using GUIFrame::BlinkingEnableCheck;
    using GUIFrame::BlinkingPanel;
    using GUIFrame::BlinkingSetButton;
    using GUIFrame::BrightCombo;
    using GUIFrame::BrightLabel;
    using GUIFrame::BrightSetButton;
    using GUIFrame::ChangeIdButton;
    using GUIFrame::ComPortText;
    using GUIFrame::ComSetButton;
    using GUIFrame::DefaultMessageButton;
    using GUIFrame::DefaultSetButton;
    using GUIFrame::ElapsedText;
    using GUIFrame::HighLabel;
    using GUIFrame::HighText;
    using GUIFrame::IdLabel;
    using GUIFrame::IdText;
    using GUIFrame::LedSetButton;
    using GUIFrame::LogView;
    using GUIFrame::LowerPanel;
    using GUIFrame::MainPanel;
    using GUIFrame::MenuBar;
    using GUIFrame::MessageChoice;
    using GUIFrame::MessageText;
    using GUIFrame::ModelChoice;
    using GUIFrame::NewIdPanel;
    using GUIFrame::NewIdText;
    using GUIFrame::OffIntervalText;
    using GUIFrame::OnIntervalText;
    using GUIFrame::ResetButton;
    using GUIFrame::RollPanel;
    using GUIFrame::RollSpeedText;
    using GUIFrame::ScanChoice;
    using GUIFrame::ScanLabel;
    using GUIFrame::ScrollLabel;
    using GUIFrame::ScrollLevelChoice;
    using GUIFrame::ScrollSetButton;
    using GUIFrame::ScrollSpeedChoice;
    using GUIFrame::SendMessageButton;
    using GUIFrame::SpeedLabel;
    using GUIFrame::StatusBar;
    using GUIFrame::WidthLabel;
    using GUIFrame::WidthText;

    using RQ_M4TFrame::AppendLog;
    using RQ_M4TFrame::BeginFrame;
    using RQ_M4TFrame::BuildAlignment;
    using RQ_M4TFrame::BuildBlank;
    using RQ_M4TFrame::BuildBlinking;
    using RQ_M4TFrame::BuildBrightness;
    using RQ_M4TFrame::BuildChangeId;
    using RQ_M4TFrame::BuildDefaultMessage;
    using RQ_M4TFrame::BuildFactoryDefaults;
    using RQ_M4TFrame::BuildLedParameters;
    using RQ_M4TFrame::BuildMessage;
    using RQ_M4TFrame::BuildReset;
    using RQ_M4TFrame::BuildTimedScroll;
    using RQ_M4TFrame::OnThreadEvent;
    using RQ_M4TFrame::SendCommand;
    using RQ_M4TFrame::alignText;
    using RQ_M4TFrame::baud;
    using RQ_M4TFrame::blinkEnable;
    using RQ_M4TFrame::blinkOff;
    using RQ_M4TFrame::blinkOn;
    using RQ_M4TFrame::brightText;
    using RQ_M4TFrame::comPort;
    using RQ_M4TFrame::idAddressing;
    using RQ_M4TFrame::ledHigh;
    using RQ_M4TFrame::ledId;
    using RQ_M4TFrame::ledScan;
    using RQ_M4TFrame::ledWidth;
    using RQ_M4TFrame::messageIndex;
    using RQ_M4TFrame::newId;
    using RQ_M4TFrame::profile;
    using RQ_M4TFrame::replyBuffer;
    using RQ_M4TFrame::replyDecoder;
    using RQ_M4TFrame::replyLength;
    using RQ_M4TFrame::resetCommand;
    using RQ_M4TFrame::rollElapsed;
    using RQ_M4TFrame::rollSpeed;
    using RQ_M4TFrame::scrollLevel;
    using RQ_M4TFrame::scrollSpeed;
    using RQ_M4TFrame::worker;

    // Sends a button click through the toolkit, as the operator would.
    void Click(wxButton* button);
    // Sends a menu command by identifier.
    void Menu(int id);
};

// Pumps the event loop until `done` holds or `timeoutMs` passes; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Destroys a top-level window the toolkit's way and runs the pending deletion,
// so its destructor (which saves the settings) has run when this returns.
void DestroyNow(wxWindow* window);

// One line of the log pane: its text, the colour and weight of its first
// character, and the background it is drawn on.
struct LogLine {
    std::string text;
    wxColour colour;
    bool bold = false;
    wxColour background;
};
std::vector<LogLine> ReadLog(wxRichTextCtrl* log);

// Frame bytes as "A1 07 F8 ..." (the simulated controller records this way).
std::string Hex(const std::uint8_t* bytes, std::size_t count);

const wxColour kPlum(98, 53, 98), kOlive(128, 128, 0), kGreen(0, 128, 0), kMagenta(190, 0, 190),
    kBlue(0, 0, 255), kOrange(219, 71, 0), kRed(255, 0, 0), kMaroon(128, 0, 0);

}  // namespace rq::test
