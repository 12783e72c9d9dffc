// Menu commands: language and model for the next start, About, and the
// serial port settings for the next transaction.
#include "ui/rq_m4t_frame.h"

#include <wx/msgdlg.h>

#include "config/ini_file.h"
#include "config/language.h"
#include "config/settings_keys.h"
#include "dialogs/commun_set.h"
#include "dialogs/kq_about.h"
#include "ui/find_signs_dialog.h"

using namespace rq::config;

namespace {

// Bits of the serial settings dialog's flags.
const int kBaudLocked = 1;
const int kBaudChangeable = 2;

void ShowMessage(const wxString& message, const wxString& caption)
{
    wxMessageBox(message, caption, wxOK | wxCENTRE);
}

}  // namespace

void RQ_M4TFrame::TickLanguage(int number)
{
    MenuBar->Check(idMenuEnglish, number == kLanguageEnglish);
    MenuBar->Check(idMenuChinese, number == kLanguageChinese);
}

void RQ_M4TFrame::SetLanguage(int number)
{
    TickLanguage(number);
    settings->config->Write(keys::Lang, static_cast<long>(number));
    ShowMessage(_("will take place after restart"), _("Language Setting"));
}

void RQ_M4TFrame::OnEnglish(wxCommandEvent& event)
{
    event.Skip();
    SetLanguage(kLanguageEnglish);
}

void RQ_M4TFrame::OnChinese(wxCommandEvent& event)
{
    event.Skip();
    SetLanguage(kLanguageChinese);
}

void RQ_M4TFrame::OnModelChoice(wxCommandEvent& event)
{
    event.Skip();
    settings->config->Write(keys::Mode, ModelChoice->GetStringSelection());
    ShowMessage(_("will take place after restart"), _("Model Setting"));
}

void RQ_M4TFrame::OnAbout(wxCommandEvent&)
{
    const wxString title = _("About RQ-M4x - LED Test");
    _KQ_About dialog(this, title, title);
    dialog.ShowModal();
}

void RQ_M4TFrame::OnComSettings(wxCommandEvent& event)
{
    event.Skip();
    if (worker) {
        wxMessageBox(_("Serial port is occupied"), wxMessageBoxCaptionStr, wxOK | wxCENTRE);
        return;
    }
    _CommunSet dialog(nullptr, _("Serial port settings"), wxString(comPort.c_str(), wxConvLibc), baud,
                      "img//devices64.png", profile.lockBaud != 0 ? kBaudLocked : kBaudChangeable);
    dialog.ShowModal();
    if (!dialog.portName.empty()) {
        comPort = dialog.portName;
        baud = static_cast<int>(dialog.baudRate);
        const wxString shown(comPort.c_str(), wxConvLibc);
        settings->config->Write(keys::ComPort, shown);
        ComPortText->SetValue(shown);
        FitWidthsToContent();
        settings->config->Write(keys::Baud, static_cast<long>(baud));
    }
}

void RQ_M4TFrame::OnFindSigns(wxCommandEvent& event)
{
    event.Skip();
    if (worker) {
        wxMessageBox(_("Serial port is occupied"), wxMessageBoxCaptionStr, wxOK | wxCENTRE);
        return;
    }
    FindSignsDialog dialog(this, comPort, baud, idAddressing != 0);
    if (dialog.ShowModal() != wxID_OK || !dialog.chosen) return;
    const rq::serial::FoundSign sign = *dialog.chosen;
    if (sign.id) IdText->SetValue(wxString::Format("%d", static_cast<int>(*sign.id)));
    if (sign.baud == baud) return;
    // As the serial settings dialog would: the rate changes unless the
    // model's profile fixes it.
    if (profile.lockBaud != 0) {
        ShowMessage(wxString::Format(_("The sign answers at %d baud; the model's profile fixes %d baud."), sign.baud,
                                     baud),
                    _("Find Signs"));
        return;
    }
    const int answer = wxMessageBox(
        wxString::Format(_("The sign answers at %d baud, the serial settings say %d baud. Use %d baud?"), sign.baud,
                         baud, sign.baud),
        _("Find Signs"), wxYES_NO | wxCENTRE);
    if (answer != wxYES) return;
    baud = sign.baud;
    settings->config->Write(keys::Baud, static_cast<long>(baud));
}
