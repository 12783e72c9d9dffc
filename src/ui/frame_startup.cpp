// Construction, close and destruction of the main window.
#include "ui/rq_m4t_frame.h"

#include <wx/intl.h>
#include <wx/utils.h>

#include "config/ini_file.h"
#include "config/language.h"
#include "config/settings_keys.h"
#include "serial/uasd.h"

using namespace rq::config;

namespace {

// The port name the serial layer takes is narrow text in the locale's
// encoding; a name that does not convert becomes empty.
std::string ToNarrow(const wxString& text)
{
    const wxCharBuffer converted = text.mb_str(wxConvLibc);
    return converted.data() ? std::string(converted.data()) : std::string();
}

}  // namespace

RQ_M4TFrame::RQ_M4TFrame(wxWindow* parent, int language)
    : GUIFrame(parent, wxID_ANY, "RQ-M4x - LED Test", wxDefaultPosition,
               wxWindow::FromDIP(wxSize(800, 650), parent),
               wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL)
{
    Centre(wxBOTH);
    SetStatusText(_("Welcome!"), 0);
    // Names the toolkit version the program was built with, e.g. "wxWidgets 3.2.2".
    SetStatusText(wxVERSION_STRING, 1);

    idAddressing = 0;
    settings = std::make_unique<IniFile>(kSettingsPath);

    TickLanguage(MenuLanguage(language, SystemLanguage()));

    ModelChoice->Clear();
    ListModels();

    ReadSettings();
    ShowSettingsInControls();

    if (ModelChoice->GetCount() > 0) {
        if (profile.name.empty()) profile.name = ModelChoice->GetString(0);
        ModelChoice->SetStringSelection(profile.name);
        LoadProfile(profile.name, profile);
    } else {
        MainPanel->Disable();
    }

    FitWidthsToContent();

    worker = nullptr;
    replyBuffer.reset();
    replyLength = 0;
    replyDecoder = nullptr;

    Bind(wxEVT_THREAD, &RQ_M4TFrame::OnThreadEvent, this);
}

RQ_M4TFrame::~RQ_M4TFrame()
{
    settings->Save();
    settings.reset();
    if (logRecord) std::fclose(logRecord);
    Unbind(wxEVT_THREAD, &RQ_M4TFrame::OnThreadEvent, this);
    // The last worker may still be deleting itself after its final event; the
    // process must not end under it.
    rq::serial::UASD::WaitForWorkersToEnd(2000);
}

void RQ_M4TFrame::ReadSettings()
{
    wxConfigBase& config = *settings->config;
    profile.name = config.Read(keys::Mode, wxString());
    comPort = ToNarrow(config.Read(keys::ComPort, wxString()));
    ComPortText->SetValue(wxString(comPort.c_str(), wxConvLibc));
    baud = config.ReadLong(keys::Baud, defaults::Baud);
    ledWidth = config.ReadLong(keys::Width, defaults::Width);
    ledHigh = config.ReadLong(keys::High, defaults::High);
    ledScan = config.Read(keys::Scan, defaults::Scan);
    scrollLevel = config.ReadLong(keys::ScrollLevel, defaults::ScrollLevel);
    scrollSpeed = config.ReadLong(keys::ScrollSpeed, defaults::ScrollSpeed);
    ledId = config.ReadLong(keys::LedId, defaults::LedId);
    brightText = config.Read(keys::Bright, _("Auto"));
    newId = config.ReadLong(keys::NewId, defaults::NewId);
    alignText = config.Read(keys::Align, _("Center"));
    blinkEnable = config.ReadLong(keys::BlinkEnable, defaults::BlinkEnable);
    blinkOn = config.ReadLong(keys::BlinkOn, defaults::BlinkOn);
    blinkOff = config.ReadLong(keys::BlinkOff, defaults::BlinkOff);
    rollElapsed = config.ReadLong(keys::RollElapsed, defaults::RollElapsed);
    rollSpeed = config.ReadLong(keys::RollSpeed, defaults::RollSpeed);
    messageIndex = config.ReadLong(keys::MessageIndex, defaults::MessageIndex);
    logFileName = config.Read(keys::LogFile, wxString());
    MenuBar->Check(idMenuLogToFile, !logFileName.empty());
}

void RQ_M4TFrame::ShowSettingsInControls()
{
    WidthText->SetValue(wxString::Format("%d", ledWidth));
    HighText->SetValue(wxString::Format("%d", ledHigh));
    // Selection by text ignores case; no match keeps the layout's selection
    // while the member keeps the value read.
    ScanChoice->SetStringSelection(ledScan);
    ScrollLevelChoice->SetStringSelection(wxString::Format("%d", scrollLevel));
    ScrollSpeedChoice->SetStringSelection(wxString::Format("%d", scrollSpeed));
    IdText->SetValue(wxString::Format("%d", ledId));
}

void RQ_M4TFrame::OnClose(wxCloseEvent& event)
{
    // A running transaction owns the reply buffer: the window stays until it ends.
    if (worker) {
        if (event.CanVeto()) event.Veto();
        return;
    }
    Destroy();
}

void RQ_M4TFrame::OnQuit(wxCommandEvent&)
{
    if (worker) return;
    Destroy();
}
