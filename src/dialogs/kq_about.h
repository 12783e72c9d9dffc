#pragma once
// The About dialog: the program's name, version, build date and the maker's
// contact lines in a read-only rich text pane, beside a picture when
// img/about.bmp exists. It hands nothing back.

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/richtext/richtextctrl.h>
#include <wx/statbmp.h>

class _KQ_About : public wxDialog {
public:
    _KQ_About(wxWindow* parent, const wxString& title, const wxString& heading);
    ~_KQ_About() override;

    wxStaticBitmap* AboutBitmap = nullptr;  // none when the picture is missing
    wxButton* AboutOkButton = nullptr;
    wxRichTextCtrl* AboutText = nullptr;

private:
    void OnAboutOkButton(wxCommandEvent& event);
    void WriteAboutText(const wxString& heading);
};
