#include "dialogs/commun_set.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <wx/app.h>
#include <wx/bmpbndl.h>
#include <wx/utils.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/font.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include "dialogs/dialog_ids.h"
#include "dialogs/named_icon.h"
#include "line/network_line.h"
#include "platform/port_names.h"
#include "line/serial_line.h"
#include "protocol/numbers.h"

using namespace rq::dialogs;

namespace {

// The rate a test-open uses, whatever the box shows: the port only has to open.
const long kTestBaudRate = 9600;

// The start of `baudRate` when the caller has no usable rate.
const unsigned long kFallbackBaudRate = 9600;

// Sizes and places at 96 DPI; the dialog scales them to the display's.
const wxSize kDialogSize(350, 200);
const wxSize kButtonSize(80, 32);
const wxSize kFieldSize(120, 24);
// Where the fields start when the labels leave room, and the room kept
// between a label and its field, and around the content.
const int kFieldLeft = 154;
const int kBaudTop = 48;
const int kLabelGap = 6;
const int kMargin = 12;
const wxPoint kHintPosition(8, 148);

wxFont LabelFont()
{
    return wxFont(12, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false, "Microsoft Yahei Font");
}

wxString FromNarrow(const std::string& text)
{
    return wxString(text.c_str(), wxConvLibc);
}

std::string ToNarrow(const wxString& text)
{
    const wxScopedCharBuffer narrow = text.mb_str(wxConvLibc);
    return std::string(narrow.data(), narrow.length());
}

// A button's image with its twice-as-large drawing ("OK@2x.png" beside
// "OK.png") where there is one: the toolkit shows that one on a screen scaled
// to 200 %, where the small one would be enlarged and blurred.
wxBitmapBundle ButtonImage(const wxString& file)
{
    const wxBitmap normal(file, wxBITMAP_TYPE_PNG);
    if (!normal.IsOk()) return {};
    wxVector<wxBitmap> bitmaps(1, normal);
    wxFileName twice(file);
    twice.SetName(twice.GetName() + "@2x");
    if (twice.FileExists()) {
        const wxBitmap large(twice.GetFullPath(), wxBITMAP_TYPE_PNG);
        if (large.IsOk() && large.GetSize() == normal.GetSize() * 2) bitmaps.push_back(large);
    }
    return wxBitmapBundle::FromBitmaps(bitmaps);
}

}  // namespace

_CommunSet::_CommunSet(wxWindow* parent, const wxString& title, const wxString& port, int baud,
                       const wxString& imageFile, int flags)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxWindow::FromDIP(kDialogSize, parent),
               wxDEFAULT_DIALOG_STYLE)
{
    // Missing images or icon leave their controls empty without a message.
    wxLogNull quiet;

    const wxIcon icon = LoadNamedIcon("RC_Comm");
    if (icon.IsOk()) SetIcon(icon);
    Centre(wxBOTH);

    OkButton = MakeButton(OkButtonId, _("img//OK.png"), _("&OK"), FromDIP(wxPoint(50, 110)));
    OkButton->Disable();
    ApplyButton = MakeButton(ApplyButtonId, "img//Application.png", _("&Apply"), FromDIP(wxPoint(150, 110)));
    QuitButton = MakeButton(QuitButtonId, _("img//exit.png"), _("&Quit"), FromDIP(wxPoint(250, 110)));

    DeviceBitmap = new wxStaticBitmap(this, wxID_ANY, wxBitmap(imageFile, wxBITMAP_TYPE_ANY),
                                      FromDIP(wxPoint(2, 25)), FromDIP(wxSize(64, 64)));

    PortLabel = MakeLabel(_("COM Set:"), FromDIP(wxPoint(75, 20)));
    BaudLabel = MakeLabel(_("Baud Rate:"), FromDIP(wxPoint(75, 50)));

    BaudCombo = new wxComboBox(this, BaudComboId, wxEmptyString, FromDIP(wxPoint(kFieldLeft, kBaudTop)), FromDIP(kFieldSize),
                               0, nullptr, 0);
    for (const char* rate : {"9600", "14400", "19200", "38400", "56000", "57600", "115200", "128000"}) {
        BaudCombo->Append(wxGetTranslation(rate));
    }

    // The shown rate carries a trailing blank, so it matches no list entry and
    // stands as typed text; a rate of 0 means "none yet".
    const wxString shownRate = wxString::Format("%i ", baud);
    if (!BaudCombo->SetStringSelection(shownRate)) {
        BaudCombo->SetValue(baud != 0 ? shownRate : wxString("******"));
    }
    if (!(flags & 2)) BaudCombo->Disable();
    baudRate = baud > 0 ? static_cast<unsigned long>(baud) : kFallbackBaudRate;

    // Bound only now, so that showing the caller's rate above counts as no change.
    Bind(wxEVT_TEXT, &_CommunSet::OnBaudChange, this, BaudComboId);
    Bind(wxEVT_COMBOBOX, &_CommunSet::OnBaudChange, this, BaudComboId);
    Bind(wxEVT_BUTTON, &_CommunSet::OnApplyButton, this, ApplyButtonId);
    Bind(wxEVT_BUTTON, &_CommunSet::OnOkButton, this, OkButtonId);
    Bind(wxEVT_BUTTON, &_CommunSet::OnQuitButton, this, QuitButtonId);

    activePort = nullptr;
    portIsOpen = false;
    serialPort = std::make_unique<rq::platform::SerialPort>();
    // Editable: a device server's address ("rfc2217://HOST:PORT") is typed in.
    PortChoice = new wxComboBox(this, PortChoiceId, wxEmptyString, FromDIP(wxPoint(154, 18)), FromDIP(kFieldSize), 0,
                                nullptr, wxCB_DROPDOWN);
    ScanPorts();

    if (!SelectListedPort(port)) {
        // A device server's address is in no scan: show it as typed, so that
        // OK keeps it instead of swapping in the first serial port.
        if (rq::platform::IsNetworkPortName(port.utf8_string())) {
            PortChoice->SetValue(port);
        } else if (PortChoice->GetCount() > 0) {
            PortChoice->SetSelection(0);
        }
    }
    // Bound only now: showing the selection above is no choice of the operator's.
    Bind(wxEVT_COMBOBOX, &_CommunSet::OnPortChoice, this, PortChoiceId);
    Bind(wxEVT_TEXT, &_CommunSet::OnPortChoice, this, PortChoiceId);
    // The caller's own name stands until Apply or OK, even when the list shows
    // another port: closing with the title-bar box changes nothing.
    SetPortFromName(port);

    // Tab follows the layout, top to bottom and left to right, not the order
    // of creation; Esc leaves as Quit does, changing nothing.
    BaudCombo->MoveAfterInTabOrder(PortChoice);
    ApplyButton->MoveAfterInTabOrder(BaudCombo);
    OkButton->MoveAfterInTabOrder(ApplyButton);
    QuitButton->MoveAfterInTabOrder(OkButton);
    // Not through SetEscapeId: the close box goes the escape way too, and
    // Quit's own Close() would then be swallowed and leave the dialog open.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_ESCAPE) return event.Skip();
        if (testOpenRunning) return;
        wxCommandEvent quit(wxEVT_BUTTON, QuitButtonId);
        quit.SetEventObject(QuitButton);
        QuitButton->GetEventHandler()->ProcessEvent(quit);
    });

    // The port being test-opened is the dialog's: it stays until the open ends.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (testOpenRunning && event.CanVeto()) return event.Veto();
        event.Skip();
    });

    ApplyButton->SetDefault();
    FitToContent();
    // A window manager's title bar, known only once the dialog is shown,
    // takes its height from the client area: fit again then.
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        FitToContent();
    });
    // Moved to a monitor of another scale: placed again in the new sizes.
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        CallAfter([this] { FitToContent(); });
    });
}

_CommunSet::~_CommunSet()
{
    if (portIsOpen) ClosePort();
}

wxBitmapButton* _CommunSet::MakeButton(wxWindowID id, const wxString& imageFile, const wxString& label,
                                       const wxPoint& position)
{
    const wxBitmapBundle image = ButtonImage(imageFile);
    auto* button = new wxBitmapButton(this, id, image, position, FromDIP(kButtonSize));
    // An image button hides its label; this one shows both.
    button->SetWindowStyleFlag(button->GetWindowStyleFlag() & ~wxBU_NOTEXT);
    button->SetLabel(label);
    // GTK gives a labelled button its image in another place than an image-only
    // one: set the image again now that the button has a label.
    if (image.IsOk()) button->SetBitmap(image);
    return button;
}

wxStaticText* _CommunSet::MakeLabel(const wxString& text, const wxPoint& position)
{
    auto* label = new wxStaticText(this, wxID_ANY, text, position);
    label->SetFont(LabelFont());
    // Its natural size was measured with the default font (GTK applies the
    // new one only when it next draws): measure the text in the new font.
    const wxSize textSize = label->GetTextExtent(text);
    wxSize size = label->GetBestSize();
    size.IncTo(textSize);
    label->SetSize(size);
    return label;
}

void _CommunSet::SetPortFromName(const wxString& name)
{
    portName = ToNarrow(name);
    const std::string rateText = BaudCombo->GetValue().utf8_string();
    if (const auto rate = rq::protocol::ParseLeadingUnsigned(rateText)) {
        baudRate = *rate;
    }
}

void _CommunSet::ClosePort()
{
    portIsOpen = false;
    if (activePort) activePort->Close();
    activePort = nullptr;
}

bool _CommunSet::OpenAwayFromTheWindow()
{
    // A Bluetooth port can take 20 s to open, a device server 2 s: the open
    // runs on a thread of its own while this one goes on handling events, so
    // the dialog repaints and moves. Nothing that could start another test or
    // close the dialog is allowed meanwhile.
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool opened = false;
    rq::platform::SerialLine& line = *serialPort;
    const std::string name = portName;
    std::thread opener([&] {
        const bool result = line.Open(name, kTestBaudRate);
        {
            std::lock_guard<std::mutex> guard(lock);
            opened = result;
            done = true;
        }
        finished.notify_all();
        wxWakeUpIdle();
    });
    testOpenRunning = true;
    const bool okWasEnabled = OkButton->IsEnabled();
    for (wxWindow* button : {static_cast<wxWindow*>(ApplyButton), static_cast<wxWindow*>(OkButton),
                             static_cast<wxWindow*>(QuitButton)})
        button->Disable();
    {
        wxBusyCursor busy;
        std::unique_lock<std::mutex> guard(lock);
        while (!done) {
            guard.unlock();
            wxTheApp->Yield(true);
            guard.lock();
            finished.wait_for(guard, std::chrono::milliseconds(20), [&] { return done; });
        }
    }
    opener.join();
    ApplyButton->Enable();
    OkButton->Enable(okWasEnabled);
    QuitButton->Enable();
    testOpenRunning = false;
    return opened;
}

bool _CommunSet::TestOpen()
{
    serialPort = rq::platform::MakeSerialLine(portName);
    if (OpenAwayFromTheWindow()) {
        portIsOpen = true;
        activePort = serialPort.get();
        ClosePort();
        return true;
    }
    portIsOpen = false;
    const wxString text = rq::platform::PortHeldByAnotherProgram(serialPort->LastErrorCode())
                              ? wxString::Format(_("%s is in use by another program"), FromNarrow(portName))
                              : FromNarrow(portName) + _("Open failed");
    wxMessageBox(text, _("Serial setting error!"), wxOK | wxCENTRE, nullptr);
    return false;
}

void _CommunSet::ScanPorts()
{
    listedPortNames.clear();
    if (rq::platform::SystemListsPorts()) {
        // The system's own list, described: nothing is opened to fill it, so
        // no board on another port is reset and a port held elsewhere is
        // still shown. The chosen one is test-opened by Apply and OK.
        for (const rq::platform::ListedPort& listed : rq::platform::DescribedPorts()) {
            PortChoice->Append(wxString::FromUTF8(rq::platform::DisplayedPortName(listed)));
            listedPortNames.push_back(listed.name);
        }
        return;
    }
    std::string hintGroup;
    for (const std::string& candidate : rq::platform::CandidatePortNames()) {
        const wxString name = FromNarrow(candidate);
        SetPortFromName(name);
        if (portIsOpen) ClosePort();
        // A rate beyond what the port layer takes cannot open any port.
        const long rate = baudRate > static_cast<unsigned long>(LONG_MAX) ? -1L : static_cast<long>(baudRate);
        serialPort = rq::platform::MakeSerialLine(portName);
        if (serialPort->Open(portName, rate)) {
            portIsOpen = true;
            activePort = serialPort.get();
            ClosePort();
            PortChoice->Append(name);
            listedPortNames.push_back(candidate);
        } else if (hintGroup.empty()) {
            hintGroup = rq::platform::GroupGrantingAccess(portName, serialPort->LastErrorCode());
        }
    }
    if (!hintGroup.empty()) ShowPermissionHint(hintGroup);
}

void _CommunSet::ShowPermissionHint(const std::string& group)
{
    const wxString text =
        wxString::Format(_("Permission denied: add your user to the group \"%s\" and log in again"), FromNarrow(group));
    // Under the buttons, where the fixed layout leaves a free strip.
    if (!PermissionHint) PermissionHint = new wxStaticText(this, wxID_ANY, wxEmptyString, FromDIP(kHintPosition));
    hintText = text;
    PermissionHint->SetLabel(text);
    hintWrapWidth = 0;
    FitToContent();
}

void _CommunSet::FitToContent()
{
    // The fields start right of the wider label (the fallback for the
    // labels' font can be wider than the font named), never left of their
    // usual place.
    const int labelRight = std::max(PortLabel->GetRect().GetRight(), BaudLabel->GetRect().GetRight());
    const int fieldLeft = std::max(FromDIP(kFieldLeft), labelRight + 1 + FromDIP(kLabelGap));
    // Wide enough for the longest port name: two adapters must be told apart.
    // Never wider than the screen's work area lets the dialog be; a name cut
    // short there shows whole in the tooltip.
    PortChoice->InvalidateBestSize();
    // The toolkit sizes the field for its list; a name typed or saved in it
    // (a device server's address) is in no list and gets the room it needs.
    int widestListed = 0;
    for (unsigned int k = 0; k < PortChoice->GetCount(); ++k) {
        widestListed = std::max(widestListed, PortChoice->GetTextExtent(PortChoice->GetString(k)).GetWidth());
    }
    const int shownWidth = PortChoice->GetTextExtent(PortChoice->GetValue()).GetWidth();
    const int bestWidth = PortChoice->GetBestSize().GetWidth() + std::max(0, shownWidth - widestListed);
    const int frameWidth = GetSize().GetWidth() - GetClientSize().GetWidth();
    const int roomForChoice = WorkArea().GetWidth() - frameWidth - fieldLeft - FromDIP(kMargin);
    const int choiceWidth = std::max(FromDIP(kFieldSize).GetWidth(), std::min(bestWidth, roomForChoice));
    ShowChosenPortInTooltip();
    PortChoice->SetSize(fieldLeft, PortChoice->GetPosition().y, choiceWidth, -1);
    // GTK's choice can be taller than its row: the rate's row then moves down
    // clear of it, its label with it, rather than being drawn over.
    const int baudTop = std::max(FromDIP(kBaudTop), PortChoice->GetRect().GetBottom() + 1 + FromDIP(kLabelGap));
    BaudLabel->Move(BaudLabel->GetPosition().x, BaudLabel->GetPosition().y + baudTop - BaudCombo->GetPosition().y);
    BaudCombo->Move(fieldLeft, baudTop);

    wxSize needed(std::max({PortChoice->GetRect().GetRight(), BaudCombo->GetRect().GetRight(),
                            QuitButton->GetRect().GetRight()}) + 1 + FromDIP(kMargin),
                  QuitButton->GetRect().GetBottom() + 1 + FromDIP(kMargin));
    if (PermissionHint) {
        // A long text wraps to the dialog's width; a line without blanks
        // (Chinese) stays whole and the dialog widens for it.
        const int hintMargin = FromDIP(kHintPosition).x;
        const int wrapWidth = std::max(FromDIP(kDialogSize).GetWidth(), needed.GetWidth()) - 3 * hintMargin;
        if (wrapWidth != hintWrapWidth) {
            PermissionHint->SetLabel(hintText);
            PermissionHint->Wrap(wrapWidth);
            hintWrapWidth = wrapWidth;
        }
        const wxRect hint = PermissionHint->GetRect();
        needed.IncTo(wxSize(hint.GetRight() + 1 + hintMargin, hint.GetBottom() + 1 + hintMargin));
    }

    // Grow only, and only by what is missing; never below the usual size,
    // which the toolkit trims by the frame's borders on a first showing.
    const wxSize client = GetClientSize();
    const wxSize size = GetSize();
    const wxSize usual = FromDIP(kDialogSize);
    const wxSize missing(std::max({0, needed.GetWidth() - client.GetWidth(), usual.GetWidth() - size.GetWidth()}),
                         std::max({0, needed.GetHeight() - client.GetHeight(), usual.GetHeight() - size.GetHeight()}));
    if (missing == wxSize(0, 0)) return;
    SetSize(size + missing);
    if (!IsShown()) Centre(wxBOTH);
    // Centred on a small screen, or grown once shown: keep the whole dialog
    // within the work area.
    const wxRect area = WorkArea();
    wxRect rect = GetRect();
    if (!area.Contains(rect)) {
        rect.x = std::max(area.GetLeft(), std::min(rect.x, area.GetRight() + 1 - rect.width));
        rect.y = std::max(area.GetTop(), std::min(rect.y, area.GetBottom() + 1 - rect.height));
        Move(rect.GetPosition());
    }
}

wxRect _CommunSet::WorkArea() const
{
    const int index = wxDisplay::GetFromWindow(this);
    return wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
}

void _CommunSet::ShowChosenPortInTooltip()
{
    const wxString chosen = PortChoice->GetValue();
    if (chosen.empty()) {
        PortChoice->UnsetToolTip();
    } else {
        PortChoice->SetToolTip(chosen);
    }
}

void _CommunSet::OnPortChoice(wxCommandEvent& /*event*/)
{
    ShowChosenPortInTooltip();
    OkButton->Enable();
    OkButton->SetDefault();
}

void _CommunSet::OnBaudChange(wxCommandEvent& /*event*/)
{
    OkButton->Enable();
    OkButton->SetDefault();
}

bool _CommunSet::SelectListedPort(const wxString& name)
{
    const std::string wanted = ToNarrow(name);
    for (std::size_t k = 0; k < listedPortNames.size(); ++k) {
        if (listedPortNames[k] != wanted) continue;
        PortChoice->SetSelection(static_cast<int>(k));
        return true;
    }
    return false;
}

wxString _CommunSet::ChosenPortName() const
{
    // An entry shows the port's description; the port is its plain name.
    const wxString shown = PortChoice->GetValue();
    for (std::size_t k = 0; k < listedPortNames.size(); ++k) {
        if (PortChoice->GetString(static_cast<unsigned>(k)) == shown) return FromNarrow(listedPortNames[k]);
    }
    return shown;
}

bool _CommunSet::ApplySelectedPort()
{
    // The entry chosen or the name typed.
    SetPortFromName(ChosenPortName());
    if (portIsOpen) ClosePort();
    if (TestOpen()) return true;
    OkButton->Disable();
    ApplyButton->SetDefault();
    return false;
}

void _CommunSet::OnApplyButton(wxCommandEvent& /*event*/)
{
    if (ApplySelectedPort()) {
        OkButton->Enable();
        OkButton->SetDefault();
    }
}

void _CommunSet::OnOkButton(wxCommandEvent& /*event*/)
{
    if (ApplySelectedPort()) Close();
}

void _CommunSet::OnQuitButton(wxCommandEvent& /*event*/)
{
    portName.clear();
    Close();
}
