#include "dialogs/kq_about.h"

#include <algorithm>

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/filefn.h>
#include <wx/font.h>
#include <wx/intl.h>

#include "platform/version.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/named_icon.h"

using namespace rq::dialogs;

namespace {

// The maker's details are fixed at start-up, before any catalogue is loaded,
// so they read the same in every language.
const wxString kMakerName = RQ_MAKER_NAME;
const wxString kMakerEmail = "support@telvo.example";
const wxString kMakerMessaging = "QQ: 800012345";
const wxString kMakerWeb = "www.telvo.example";
const wxString kMakerNotice = RQ_MAKER_NOTICE;

const long kVersionMajor = RQ_VERSION_MAJOR;
const long kVersionMinor = RQ_VERSION_MINOR;
const long kVersionRelease = RQ_VERSION_RELEASE;
const long kVersionBuild = RQ_VERSION_BUILD;
const char* const kBuildYear = "2015";
const char* const kBuildMonth = "08";
const char* const kBuildDay = "21";

wxString Decimal(long number)
{
    return wxString::Format("%ld", number);
}

}  // namespace

_KQ_About::_KQ_About(wxWindow* parent, const wxString& title, const wxString& heading)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition,
               wxWindow::FromDIP(wxSize(450, 280), parent), wxDEFAULT_DIALOG_STYLE)
{
    const wxIcon icon = LoadNamedIcon("RC_About");
    if (icon.IsOk()) SetIcon(icon);
    Centre(wxBOTH);

    // The file test goes through the catalogue (a language may name its own
    // picture), the load does not.
    if (wxFileExists(_("img//about.bmp"))) {
        AboutBitmap = new wxStaticBitmap(this, wxID_ANY, wxBitmap("img//about.bmp", wxBITMAP_TYPE_ANY),
                                         wxDefaultPosition, FromDIP(wxSize(100, 200)));
    }

    AboutOkButton = new wxButton(this, AboutOkButtonId, _("&OK"), FromDIP(wxPoint(330, 210)), FromDIP(wxSize(96, 24)), 0,
                                 wxDefaultValidator, "ID_BUTTON_OK");
    AboutText = new wxRichTextCtrl(this, AboutTextId, wxEmptyString, FromDIP(wxPoint(100, 0)), FromDIP(wxSize(350, 200)),
                                   wxRE_MULTILINE | wxRE_READONLY, wxDefaultValidator, "ID_RICHTC_M");
    AboutText->SetFont(wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                              "Microsoft Yahei Font"));
    WriteAboutText(heading);

    // The size given includes the frame, which Windows and window managers
    // take from the client area: grow until the text and the button show whole.
    const wxSize needed(std::max(AboutText->GetRect().GetRight(), AboutOkButton->GetRect().GetRight()) + 1,
                        AboutOkButton->GetRect().GetBottom() + 1);
    const wxSize client = GetClientSize();
    if (client.GetWidth() < needed.GetWidth() || client.GetHeight() < needed.GetHeight()) {
        SetClientSize(wxSize(std::max(client.GetWidth(), needed.GetWidth()), std::max(client.GetHeight(), needed.GetHeight())));
        Centre(wxBOTH);
    }
    AboutOkButton->SetDefault();
    // Nothing to cancel: Esc is OK (SetEscapeId would make the close box
    // press OK, whose Close() would then be swallowed).
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_ESCAPE) return event.Skip();
        wxCommandEvent ok(wxEVT_BUTTON, AboutOkButtonId);
        ok.SetEventObject(AboutOkButton);
        AboutOkButton->GetEventHandler()->ProcessEvent(ok);
    });
    Bind(wxEVT_BUTTON, &_KQ_About::OnAboutOkButton, this, AboutOkButtonId);
}

_KQ_About::~_KQ_About() = default;

void _KQ_About::WriteAboutText(const wxString& heading)
{
    wxRichTextBuffer& buffer = AboutText->GetBuffer();

    buffer.BeginBold();
    buffer.BeginFontSize(18);
    AboutText->WriteText(heading);
    buffer.EndStyle();
    buffer.EndStyle();
    AboutText->Newline();
    AboutText->Newline();

    wxString version = _("Version : ");
    version << Decimal(kVersionMajor) << _(".") << Decimal(kVersionMinor) << _(".") << Decimal(kVersionRelease)
            << _(".") << Decimal(kVersionBuild);
    AboutText->WriteText(version);
    AboutText->Newline();

    wxString date = _("Date : ");
    date << kBuildYear << _(".") << kBuildMonth << _(".") << kBuildDay << _("  ");
    AboutText->WriteText(date);
    AboutText->WriteText(_("R&D : TELVO"));
    AboutText->Newline();
    AboutText->Newline();

    AboutText->WriteText(kMakerName);
    const wxString contact = kMakerEmail + _("  ") + kMakerMessaging;
    AboutText->Newline();
    AboutText->WriteText(contact);
    AboutText->Newline();

    buffer.BeginTextColour(wxColour(0, 0, 255, 255));
    buffer.BeginURL(kMakerWeb, wxEmptyString);
    AboutText->WriteText(kMakerWeb);
    buffer.EndStyle();
    buffer.BeginTextColour(wxColour(0, 0, 0, 255));
    AboutText->Newline();
    AboutText->Newline();
    AboutText->WriteText(kMakerNotice);
}

void _KQ_About::OnAboutOkButton(wxCommandEvent& /*event*/)
{
    Close(true);
}
