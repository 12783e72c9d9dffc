#pragma once
// Settings > "Find Signs...": probes the configured port at the model's rate
// (or at every rate the serial settings dialog offers) on a thread of its own,
// shows the progress, can be stopped, and lists the signs that answered.
// "Use" ends the dialog with the chosen sign; the window takes its ID and
// rate. Nothing but probes is sent.

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "serial/sign_search.h"

class FindSignsDialog : public wxDialog {
public:
    // `addressed`: the model's frames carry the ID, so every ID is probed;
    // otherwise one probe a rate.
    FindSignsDialog(wxWindow* parent, const std::string& port, int baud, bool addressed);
    ~FindSignsDialog() override;

    // What the buttons do, for the operator and for tests.
    void StartSearch();
    void StopSearch();
    bool IsSearching() const { return searching; }
    // The list's lines, as shown.
    std::vector<wxString> ListedSigns() const;

    // The sign chosen with "Use".
    std::optional<rq::serial::FoundSign> chosen;

    wxTextCtrl* IdsText;  // "0-255", or one ID, or a range of them
    wxCheckBox* EveryRateCheck;
    wxButton* FindButton;
    wxButton* UseButton;
    wxListBox* SignList;

private:
    void OnFind(wxCommandEvent& event);
    void OnUse(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCloseButton(wxCommandEvent& event);
    void ShowProgress(std::size_t done, std::size_t total, int baud, std::optional<std::uint8_t> id);
    void SearchEnded(const rq::serial::SearchResult& result);
    void Join();

    const std::string port;
    const int baud;
    const bool addressed;
    wxStaticText* StatusText;
    wxGauge* ProgressGauge;
    std::thread search;
    std::atomic<bool> stop{false};
    bool searching = false;
    std::vector<rq::serial::FoundSign> found;
};

// "ID 7 at 19200 baud: F1 Undefined instruction in 14 ms", translated.
wxString FoundSignText(const rq::serial::FoundSign& sign);
