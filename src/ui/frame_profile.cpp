// Model profiles: which models exist, and what the selected one allows.
#include "ui/rq_m4t_frame.h"

#include <algorithm>

#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/tokenzr.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"

using namespace rq::config;

namespace {

// The brightness byte carries 0 to 255, so a profile never lists more levels.
const long kMaxBrightLevels = 256;

wxString ModesDirectory()
{
    return wxGetCwd() + wxFILE_SEP_PATH + "Modes" + wxFILE_SEP_PATH;
}

// The entry name without its last extension (the text from the last dot on).
wxString WithoutLastExtension(const wxString& name)
{
    const int dot = name.Find('.', true);
    return dot == wxNOT_FOUND ? name : name.Left(dot);
}

}  // namespace

void RQ_M4TFrame::ListModels()
{
    const wxString path = ModesDirectory();
    if (!wxDirExists(path)) return;
    wxLogNull quiet;  // an unreadable directory just lists nothing
    wxDir dir(path);
    if (!dir.IsOpened()) return;

    wxString entry;
    // Every entry, files and directories, hidden ones too, in listing order.
    bool more = dir.GetFirst(&entry, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
    while (more) {
        ModelChoice->Append(WithoutLastExtension(entry));
        more = dir.GetNext(&entry);
    }
}

bool RQ_M4TFrame::LoadProfile(const wxString& modelName, ModelProfile& record)
{
    if (modelName.empty()) return false;
    const wxString path = ModesDirectory() + modelName + ".ini";
    if (!wxFileExists(path)) return false;

    IniFile store(path);
    // The store reports what it could not read instead of logging it.
    for (const wxString& problem : store.problems) wxLogWarning("%s", problem);
    if (modelName != record.name) record.name = modelName;
    wxConfigBase& config = *store.config;
    record.baud = config.ReadLong(profile_keys::Baud, baud);
    record.lockBaud = config.ReadLong(profile_keys::LockBaud, 0);
    record.model = config.Read(profile_keys::Model, wxString());
    record.outTime = config.ReadLong(profile_keys::OutTime, 1000);

    ApplyProfile(store);
    store.Close();
    baud = record.baud;
    return true;
}

void RQ_M4TFrame::ApplyProfile(IniFile& store)
{
    wxConfigBase& config = *store.config;

    const long lockSize = config.ReadLong(profile_keys::LockSize, 1);
    for (wxWindow* w : {static_cast<wxWindow*>(WidthLabel), static_cast<wxWindow*>(WidthText),
                        static_cast<wxWindow*>(HighLabel), static_cast<wxWindow*>(HighText)})
        w->Enable(lockSize == 0);

    const long lockScan = config.ReadLong(profile_keys::LockScan, 1);
    ScanChoice->Enable(lockScan == 0);
    ScanLabel->Enable(lockScan == 0);

    const long lockScroll = config.ReadLong(profile_keys::LockScroll, 1);
    for (wxWindow* w : {static_cast<wxWindow*>(ScrollLevelChoice), static_cast<wxWindow*>(ScrollLabel),
                        static_cast<wxWindow*>(SpeedLabel), static_cast<wxWindow*>(ScrollSpeedChoice)})
        w->Enable(lockScroll == 0);

    LedSetButton->Enable(lockSize == 0 || lockScan == 0 || lockScroll == 0);

    const long lockId = config.ReadLong(profile_keys::LockId, 1);
    idAddressing = (lockId == 0);
    NewIdPanel->Enable(lockId == 0);
    NewIdText->SetValue(wxString::Format("%d", newId));
    IdLabel->Enable(lockId == 0);
    IdText->Enable(lockId == 0);

    BrightCombo->Clear();
    const long brightAuto = config.ReadLong(profile_keys::BrightAuto, 0);
    if (brightAuto != 0) BrightCombo->Append(_("Auto"));
    const long brightLevels = config.ReadLong(profile_keys::BrightLevels, 0);
    wxArrayString levels;
    for (long i = 0; i < std::min(brightLevels, kMaxBrightLevels); ++i) levels.Add(wxString::Format("%d", int(i)));
    if (!levels.empty()) BrightCombo->Append(levels);
    config.ReadLong(profile_keys::BrightAutoValue, 0);  // read, without effect
    const bool brightEnabled = (brightLevels | brightAuto) != 0;
    BrightLabel->Enable(brightEnabled);
    BrightCombo->Enable(brightEnabled);
    BrightSetButton->Enable(brightEnabled);
    BrightCombo->SetValue(brightText);
    // Show the stored level as the selected entry, so that "Bright Set" sends
    // the level the box shows. A stored text the model does not list (its
    // "Auto" on a model without one) would be sent as automatic brightness,
    // which such a model does not offer: its first entry is selected instead.
    const int storedEntry = BrightCombo->FindString(brightText, true);
    if (storedEntry != wxNOT_FOUND)
        BrightCombo->SetSelection(storedEntry);
    else if (BrightCombo->GetCount() > 0)
        BrightCombo->SetSelection(0);
    // Its entries differ from model to model: room for the longest one.
    FitWidthsToContent();

    BlackButton->Enable(config.ReadLong(profile_keys::Black, 0) != 0);

    const long align = config.ReadLong(profile_keys::AlignFeature, 0);
    AlignChoice->SetStringSelection(alignText);
    AlignChoice->Enable(align != 0);
    AlignSetButton->Enable(align != 0);

    resetCommand = config.Read(profile_keys::ResetCommand, wxString());
    ResetButton->Enable(!resetCommand.empty());

    BlinkingPanel->Enable(config.ReadLong(profile_keys::Blinking, 0) != 0);
    BlinkingEnableCheck->SetValue(blinkEnable != 0);
    OnIntervalText->SetValue(wxString::Format("%d", blinkOn));
    OffIntervalText->SetValue(wxString::Format("%d", blinkOff));

    RollPanel->Enable(config.ReadLong(profile_keys::Scroll, 0) != 0);
    ElapsedText->SetValue(wxString::Format("%d", rollElapsed));
    RollSpeedText->SetValue(wxString::Format("%d", rollSpeed));

    DefaultSetButton->Show(config.ReadLong(profile_keys::DefaultSet, 0) != 0);

    const wxString messageNames = config.Read(profile_keys::Messages, wxString());
    MessageChoice->Enable(!messageNames.empty());
    MessageChoice->Clear();
    // A non-blank delimiter yields empty tokens between adjacent commas; a
    // trailing comma adds none.
    wxStringTokenizer tokens(messageNames, ",");
    while (tokens.HasMoreTokens()) MessageChoice->Append(tokens.GetNextToken());
    if (messageIndex >= 0 && static_cast<unsigned>(messageIndex) < MessageChoice->GetCount())
        MessageChoice->SetSelection(messageIndex);
    else
        MessageChoice->SetSelection(wxNOT_FOUND);

    const wxString button1 = config.Read(profile_keys::Button1, wxString());
    SendMessageButton->Enable(!button1.empty());
    SendMessageButton->SetLabel(button1 == "Send Message" ? _("Send Message") : button1);

    const wxString button2 = config.Read(profile_keys::Button2, wxString());
    DefaultMessageButton->Enable(!button2.empty());
    DefaultMessageButton->SetLabel(button2 == "Default MSG" ? _("Default MSG") : button2);

    MainPanel->Layout();
}
