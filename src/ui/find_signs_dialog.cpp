#include "ui/find_signs_dialog.h"

#include <cmath>
#include <cstdio>

#include <wx/intl.h>
#include <wx/sizer.h>

#include "protocol/probe.h"
#include "protocol/status.h"
#include "serial/probe_session.h"

namespace {

// The longest a sign may take to answer (the window's reply wait), and the
// wait of each probe in a search of every ID.
const int kLongestAnswerMs = 500;
const int kProbeWaitMs = 60;

}  // namespace

wxString FoundSignText(const rq::serial::FoundSign& sign)
{
    const rq::protocol::StatusMeaning meaning = rq::protocol::DecodeStatusByte(sign.status);
    const wxString status = wxString::Format("%02X ", sign.status) + wxGetTranslation(meaning.text);
    const int ms = static_cast<int>(std::lround(sign.replyMs));
    if (!sign.id) return wxString::Format(_("The sign (no address) at %d baud: %s in %d ms"), sign.baud, status, ms);
    return wxString::Format(_("ID %d at %d baud: %s in %d ms"), static_cast<int>(*sign.id), sign.baud, status, ms);
}

FindSignsDialog::FindSignsDialog(wxWindow* parent, const std::string& port, int baud, bool addressed)
    : wxDialog(parent, wxID_ANY, _("Find Signs"), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      port(port), baud(baud), addressed(addressed)
{
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY,
                                wxString::Format(_("Port %s, %d baud"), wxString::FromUTF8(port.c_str()), baud)),
               0, wxALL, 8);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticText(this, wxID_ANY, _("IDs:")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    IdsText = new wxTextCtrl(this, wxID_ANY, "0-255");
    IdsText->Enable(addressed);
    row->Add(IdsText, 0, wxRIGHT, 12);
    EveryRateCheck = new wxCheckBox(this, wxID_ANY, _("Try every rate"));
    row->Add(EveryRateCheck, 0, wxALIGN_CENTER_VERTICAL);
    sizer->Add(row, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    ProgressGauge = new wxGauge(this, wxID_ANY, 100);
    sizer->Add(ProgressGauge, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
    StatusText = new wxStaticText(this, wxID_ANY, _("Probes change nothing on the signs."));
    sizer->Add(StatusText, 0, wxEXPAND | wxALL, 8);
    SignList = new wxListBox(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(420, 160)));
    sizer->Add(SignList, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    FindButton = new wxButton(this, wxID_ANY, _("Find"));
    UseButton = new wxButton(this, wxID_ANY, _("Use"));
    UseButton->Disable();
    buttons->Add(FindButton, 0, wxRIGHT, 8);
    buttons->Add(UseButton, 0, wxRIGHT, 8);
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CLOSE, _("Close")));
    sizer->Add(buttons, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(sizer);

    FindButton->Bind(wxEVT_BUTTON, &FindSignsDialog::OnFind, this);
    UseButton->Bind(wxEVT_BUTTON, &FindSignsDialog::OnUse, this);
    SignList->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { UseButton->Enable(SignList->GetSelection() != wxNOT_FOUND && !searching); });
    SignList->Bind(wxEVT_LISTBOX_DCLICK, &FindSignsDialog::OnUse, this);
    Bind(wxEVT_BUTTON, &FindSignsDialog::OnCloseButton, this, wxID_CLOSE);
    Bind(wxEVT_CLOSE_WINDOW, &FindSignsDialog::OnClose, this);
    SetEscapeId(wxID_CLOSE);
}

FindSignsDialog::~FindSignsDialog()
{
    Join();
}

void FindSignsDialog::Join()
{
    stop = true;
    if (search.joinable()) search.join();
}

std::vector<wxString> FindSignsDialog::ListedSigns() const
{
    std::vector<wxString> lines;
    for (unsigned i = 0; i < SignList->GetCount(); ++i) lines.push_back(SignList->GetString(i));
    return lines;
}

void FindSignsDialog::StartSearch()
{
    if (searching) return;
    // One ID or a range of them.
    unsigned first = 0, last = 0;
    char extra = 0;
    const std::string ids = IdsText->GetValue().utf8_string();
    const int read = std::sscanf(ids.c_str(), "%u - %u %c", &first, &last, &extra);
    if (read == 1) last = first;
    if (addressed && (read < 1 || read > 2 || first > last || last > 255)) {
        StatusText->SetLabel(_("IDs: one ID from 0 to 255, or a range such as 1-32"));
        return;
    }
    Join();
    stop = false;
    searching = true;
    found.clear();
    SignList->Clear();
    UseButton->Disable();
    EveryRateCheck->Disable();
    FindButton->SetLabel(_("Stop"));

    rq::serial::SearchSettings settings;
    if (addressed) {
        for (unsigned id = first; id <= last; ++id) settings.ids.push_back(static_cast<std::uint8_t>(id));
    } else {
        settings.ids.push_back(std::nullopt);
    }
    settings.bauds = EveryRateCheck->GetValue() ? rq::serial::RatesOwnFirst(baud) : std::vector<int>{baud};
    settings.waitMs = kProbeWaitMs;
    settings.fullWaitMs = kLongestAnswerMs;
    settings.probeCode = rq::protocol::kProbeCode;
    settings.secondCode = rq::protocol::kSecondProbeCode;
    ProgressGauge->SetValue(0);

    search = std::thread([this, settings] {
        rq::serial::ProbeSession session(port, kProbeWaitMs);
        const rq::serial::Prober probe = [&session](std::optional<std::uint8_t> id, int rate, int waitMs,
                                                    std::uint8_t code) {
            return session.Probe(id, rate, waitMs, code);
        };
        const rq::serial::SearchProgress progress = [this](std::size_t done, std::size_t total, int rate,
                                                           std::optional<std::uint8_t> id,
                                                           const std::vector<rq::serial::FoundSign>&) {
            // Queued to the dialog's thread; the dialog joins this thread
            // before it goes, and its pending calls go with it.
            CallAfter([this, done, total, rate, id] { ShowProgress(done, total, rate, id); });
            return !stop;
        };
        const rq::serial::SearchResult result = rq::serial::FindSigns(settings, probe, progress);
        session.End();
        CallAfter([this, result] { SearchEnded(result); });
    });
}

void FindSignsDialog::StopSearch()
{
    stop = true;
}

void FindSignsDialog::ShowProgress(std::size_t done, std::size_t total, int rate, std::optional<std::uint8_t> id)
{
    if (!searching) return;
    ProgressGauge->SetRange(static_cast<int>(total));
    ProgressGauge->SetValue(static_cast<int>(std::min(done, total)));
    StatusText->SetLabel(id ? wxString::Format(_("Probing ID %d at %d baud"), static_cast<int>(*id), rate)
                            : wxString::Format(_("Probing at %d baud"), rate));
}

void FindSignsDialog::SearchEnded(const rq::serial::SearchResult& result)
{
    if (search.joinable()) search.join();
    searching = false;
    found = result.found;
    for (const rq::serial::FoundSign& sign : found) SignList->Append(FoundSignText(sign));
    if (!found.empty()) SignList->SetSelection(0);
    UseButton->Enable(!found.empty());
    EveryRateCheck->Enable();
    FindButton->SetLabel(_("Find"));
    ProgressGauge->SetValue(ProgressGauge->GetRange());
    wxString status = wxString::Format(_("Signs found: %d"), static_cast<int>(found.size()));
    if (result.stopped) status += ": " + _("stopped");
    if (!result.failure.empty()) status = wxString::FromUTF8(result.failure.c_str());
    StatusText->SetLabel(status);
    Layout();
}

void FindSignsDialog::OnFind(wxCommandEvent&)
{
    if (searching)
        StopSearch();
    else
        StartSearch();
}

void FindSignsDialog::OnUse(wxCommandEvent&)
{
    const int selection = SignList->GetSelection();
    if (searching || selection == wxNOT_FOUND || static_cast<std::size_t>(selection) >= found.size()) return;
    chosen = found[static_cast<std::size_t>(selection)];
    if (IsModal()) EndModal(wxID_OK);
}

void FindSignsDialog::OnCloseButton(wxCommandEvent&)
{
    Join();
    if (IsModal()) EndModal(wxID_CANCEL);
}

void FindSignsDialog::OnClose(wxCloseEvent&)
{
    Join();
    if (IsModal()) EndModal(wxID_CANCEL);
}
