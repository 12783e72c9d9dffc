// The Set buttons: store the group's values, then send the command.
#include "ui/rq_m4t_frame.h"

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "protocol/numbers.h"

using namespace rq::config;

namespace {

// Only this model identifier has commands; compared exactly, case-sensitive.
const char* const kModelWithCommands = "RQ-M4T";

}  // namespace

void RQ_M4TFrame::StoreIntegerField(wxTextCtrl* field, int& member, const wxString& key)
{
    const auto value = rq::protocol::ParseSigned(field->GetValue().utf8_string());
    if (!value) return;  // an unparsable field leaves member and key as they were
    member = *value;
    settings->config->Write(key, static_cast<long>(member));
}

void RQ_M4TFrame::SendForModel(CommandBuilder builder, wxButton* button)
{
    SendCommand(profile.model == kModelWithCommands ? builder : nullptr, button->GetLabel());
}

void RQ_M4TFrame::OnLedSet(wxCommandEvent& event)
{
    event.Skip();
    StoreIntegerField(WidthText, ledWidth, keys::Width);
    StoreIntegerField(HighText, ledHigh, keys::High);
    ledScan = ScanChoice->GetStringSelection();
    settings->config->Write(keys::Scan, ledScan);
    scrollLevel = ScrollLevelChoice->GetSelection();
    settings->config->Write(keys::ScrollLevel, static_cast<long>(scrollLevel));
    scrollSpeed = ScrollSpeedChoice->GetSelection();
    settings->config->Write(keys::ScrollSpeed, static_cast<long>(scrollSpeed));
    SendForModel(&RQ_M4TFrame::BuildLedParameters, LedSetButton);
}

void RQ_M4TFrame::OnBrightSet(wxCommandEvent& event)
{
    event.Skip();
    brightText = BrightCombo->GetStringSelection();
    settings->config->Write(keys::Bright, brightText);
    SendForModel(&RQ_M4TFrame::BuildBrightness, BrightSetButton);
}

void RQ_M4TFrame::OnBlack(wxCommandEvent& event)
{
    event.Skip();
    SendForModel(&RQ_M4TFrame::BuildBlank, BlackButton);
}

void RQ_M4TFrame::OnAlignSet(wxCommandEvent& event)
{
    event.Skip();
    alignText = AlignChoice->GetStringSelection();
    settings->config->Write(keys::Align, alignText);
    SendForModel(&RQ_M4TFrame::BuildAlignment, AlignSetButton);
}

void RQ_M4TFrame::OnResetLed(wxCommandEvent& event)
{
    event.Skip();
    SendForModel(&RQ_M4TFrame::BuildReset, ResetButton);
}

void RQ_M4TFrame::OnDefaultSet(wxCommandEvent& event)
{
    event.Skip();
    SendForModel(&RQ_M4TFrame::BuildFactoryDefaults, DefaultSetButton);
}

void RQ_M4TFrame::OnBlinkingSet(wxCommandEvent& event)
{
    event.Skip();
    blinkEnable = BlinkingEnableCheck->IsChecked() ? 1 : 0;
    settings->config->Write(keys::BlinkEnable, static_cast<long>(blinkEnable));
    StoreIntegerField(OnIntervalText, blinkOn, keys::BlinkOn);
    StoreIntegerField(OffIntervalText, blinkOff, keys::BlinkOff);
    SendForModel(&RQ_M4TFrame::BuildBlinking, BlinkingSetButton);
}

void RQ_M4TFrame::OnScrollSet(wxCommandEvent& event)
{
    event.Skip();
    StoreIntegerField(ElapsedText, rollElapsed, keys::RollElapsed);
    StoreIntegerField(RollSpeedText, rollSpeed, keys::RollSpeed);
    SendForModel(&RQ_M4TFrame::BuildTimedScroll, ScrollSetButton);
}

void RQ_M4TFrame::OnChangeId(wxCommandEvent& event)
{
    event.Skip();
    // The new ID becomes the ID in use; SendCommand then records the typed
    // IdText over it when that parses.
    StoreIntegerField(NewIdText, ledId, keys::LedId);
    SendForModel(&RQ_M4TFrame::BuildChangeId, ChangeIdButton);
}

void RQ_M4TFrame::OnSendMessage(wxCommandEvent& event)
{
    event.Skip();
    messageIndex = MessageChoice->GetSelection();
    settings->config->Write(keys::MessageIndex, static_cast<long>(messageIndex));
    SendForModel(&RQ_M4TFrame::BuildMessage, SendMessageButton);
}

void RQ_M4TFrame::OnDefaultMessage(wxCommandEvent& event)
{
    event.Skip();
    SendForModel(&RQ_M4TFrame::BuildDefaultMessage, DefaultMessageButton);
}
