#include "ui/gui_frame.h"

#include <algorithm>

#include <wx/settings.h>
#include <wx/statbox.h>

namespace {

// Sizer flags shared by the rows.
const int kLabelFlags = wxALL | wxALIGN_CENTER_VERTICAL;
const int kControlFlags = wxALL;
const int kSeparatorFlags = wxEXPAND | wxALL;

// The most the port field takes: room for the end of a stable name such as
// /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0, which is
// what tells two adapters apart, while the top row keeps within the window.
const int kPortFieldMaxWidth = 240;

wxStaticText* MakeLabel(wxWindow* parent, const wxString& text)
{
    auto* label = new wxStaticText(parent, wxID_ANY, text);
    label->Wrap(-1);
    return label;
}

wxArrayString NumberItems(int count)
{
    wxArrayString items;
    for (int i = 0; i < count; ++i) items.Add(wxString::Format("%d", i));
    return items;
}

}  // namespace

GUIFrame::GUIFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                   const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style)
{
    BuildMenus();
    StatusBar = CreateStatusBar(2, wxSTB_SIZEGRIP);

    MainPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* mainSizer = new wxBoxSizer(wxVERTICAL);
    BuildTopRow(mainSizer);
    BuildLedGroup(mainSizer);
    BuildBasicGroup(mainSizer);
    BuildMessageGroup(mainSizer);

    LogView = new wxRichTextCtrl(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                 wxRE_READONLY | wxHSCROLL | wxVSCROLL | wxBORDER_NONE | wxWANTS_CHARS |
                                     wxTE_AUTO_URL);
    // The log's line colours are made for a light page: keep the page light
    // and its plain text dark under any theme, a dark one included.
    LogView->SetBackgroundColour(*wxWHITE);
    wxRichTextAttr basic = LogView->GetBasicStyle();
    basic.SetTextColour(*wxBLACK);
    LogView->SetBasicStyle(basic);
    mainSizer->Add(LogView, 1, wxEXPAND | wxALL, 5);

    MainPanel->SetSizer(mainSizer);
    MainPanel->Layout();
    mainSizer->Fit(MainPanel);

    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(MainPanel, 1, wxEXPAND | wxALL, 1);
    SetSizer(frameSizer);
    Layout();

    BindHandlers();
}

GUIFrame::~GUIFrame()
{
    UnbindHandlers();
}

void GUIFrame::BuildMenus()
{
    MenuBar = new wxMenuBar(0);

    FileMenu = new wxMenu();
    FileMenu->Append(new wxMenuItem(FileMenu, idMenuLogToFile, "Log to &File...",
                                    "Append every transaction to a file", wxITEM_CHECK));
    FileMenu->AppendSeparator();
    FileMenu->Append(new wxMenuItem(FileMenu, idMenuQuit, wxString("&Quit") + "\t" + "Alt+F4",
                                    "Quit the application", wxITEM_NORMAL));
    MenuBar->Append(FileMenu, "&File");

    SettingsMenu = new wxMenu();
    LanguageMenu = new wxMenu();
    LanguageMenu->Append(new wxMenuItem(LanguageMenu, idMenuEnglish, "&English", wxEmptyString, wxITEM_CHECK));
    LanguageMenu->Append(
        new wxMenuItem(LanguageMenu, idMenuChinese, "Chinese(&Simplified)", wxEmptyString, wxITEM_CHECK));
    SettingsMenu->Append(new wxMenuItem(SettingsMenu, wxID_ANY, "&Language", wxEmptyString, wxITEM_NORMAL,
                                        LanguageMenu));
    SettingsMenu->Append(
        new wxMenuItem(SettingsMenu, idMenuComSettings, "&COM Settings", wxEmptyString, wxITEM_NORMAL));
    SettingsMenu->Append(new wxMenuItem(SettingsMenu, idMenuFindSigns, "&Find Signs...",
                                        "Find which IDs answer on the line, and at which rate", wxITEM_NORMAL));
    MenuBar->Append(SettingsMenu, "&Settings");

    HelpMenu = new wxMenu();
    HelpMenu->Append(new wxMenuItem(HelpMenu, idMenuAbout, wxString("&About") + "\t" + "F1",
                                    "Show info about this application", wxITEM_NORMAL));
    MenuBar->Append(HelpMenu, "&Help");

    SetMenuBar(MenuBar);
}

void GUIFrame::BuildTopRow(wxBoxSizer* mainSizer)
{
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    ModelLabel = MakeLabel(MainPanel, "Model:");
    row->Add(ModelLabel, 0, kLabelFlags, 5);
    ModelChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(100, -1)));
    ModelChoice->SetSelection(0);  // no items yet: selects nothing
    row->Add(ModelChoice, 0, kControlFlags, 5);
    IdLabel = MakeLabel(MainPanel, "ID:");
    row->Add(IdLabel, 0, kLabelFlags, 5);
    IdText = new wxTextCtrl(MainPanel, wxID_ANY, "255", wxDefaultPosition, FromDIP(wxSize(45, -1)), 0);
    row->Add(IdText, 0, kControlFlags, 5);
    TopSpacerLabel = MakeLabel(MainPanel, wxEmptyString);
    row->Add(TopSpacerLabel, 1, kControlFlags, 5);
    ComPortLabel = MakeLabel(MainPanel, "COM Port:");
    row->Add(ComPortLabel, 0, kLabelFlags, 5);
    ComPortText = new wxTextCtrl(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)),
                                 wxTE_READONLY);
    row->Add(ComPortText, 0, kControlFlags, 5);
    ComSetButton = new wxButton(MainPanel, wxID_ANY, "COM Set");
    row->Add(ComSetButton, 0, kControlFlags, 5);
    mainSizer->Add(row, 0, wxEXPAND, 5);
}

void GUIFrame::BuildLedGroup(wxBoxSizer* mainSizer)
{
    auto* group = new wxStaticBoxSizer(new wxStaticBox(MainPanel, wxID_ANY, "LED Setting"), wxHORIZONTAL);
    WidthLabel = MakeLabel(MainPanel, "Width(Dot)");
    group->Add(WidthLabel, 0, kLabelFlags, 5);
    WidthText = new wxTextCtrl(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(40, -1)), 0);
    group->Add(WidthText, 0, kLabelFlags, 1);
    HighLabel = MakeLabel(MainPanel, "High(Dot)");
    group->Add(HighLabel, 0, kLabelFlags, 5);
    HighText = new wxTextCtrl(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(40, -1)), 0);
    group->Add(HighText, 0, kLabelFlags, 1);
    ScanLabel = MakeLabel(MainPanel, "Scan");
    group->Add(ScanLabel, 0, kLabelFlags, 5);
    const wxString scanItems[] = {"P10", "P7.62", "P4.75"};
    ScanChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, 3, scanItems, 0);
    ScanChoice->SetSelection(1);
    group->Add(ScanChoice, 0, kLabelFlags, 5);
    ScrollLabel = MakeLabel(MainPanel, "Scroll");
    group->Add(ScrollLabel, 0, kLabelFlags, 5);
    ScrollLevelChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, NumberItems(16), 0);
    ScrollLevelChoice->SetSelection(0);
    group->Add(ScrollLevelChoice, 0, kControlFlags, 5);
    SpeedLabel = MakeLabel(MainPanel, "Speed");
    group->Add(SpeedLabel, 0, kLabelFlags, 5);
    ScrollSpeedChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, NumberItems(16), 0);
    ScrollSpeedChoice->SetSelection(0);
    group->Add(ScrollSpeedChoice, 0, kControlFlags, 5);
    LedSpacerLabel = MakeLabel(MainPanel, wxEmptyString);
    group->Add(LedSpacerLabel, 1, kLabelFlags, 5);
    LedSetButton = new wxButton(MainPanel, wxID_ANY, "LED Set");
    group->Add(LedSetButton, 0, kControlFlags, 5);
    mainSizer->Add(group, 0, wxEXPAND, 5);
}

void GUIFrame::BuildBasicGroup(wxBoxSizer* mainSizer)
{
    auto* group = new wxStaticBoxSizer(new wxStaticBox(MainPanel, wxID_ANY, "Basic Setting"), wxVERTICAL);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    BrightLabel = MakeLabel(MainPanel, "Bright:");
    row->Add(BrightLabel, 0, kLabelFlags, 5);
    BrightCombo = new wxComboBox(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)), 0,
                                 nullptr, 0);
    row->Add(BrightCombo, 0, kControlFlags, 5);
    BrightSetButton = new wxButton(MainPanel, wxID_ANY, "Bright Set");
    row->Add(BrightSetButton, 0, kControlFlags, 5);
    BrightSeparator = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    row->Add(BrightSeparator, 0, kSeparatorFlags, 5);
    BlackButton = new wxButton(MainPanel, wxID_ANY, "Black");
    row->Add(BlackButton, 0, kControlFlags, 5);
    BlackSeparator = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    row->Add(BlackSeparator, 0, kSeparatorFlags, 5);
    const wxString alignItems[] = {"Left", "Center", "Right"};
    AlignChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(60, -1)), 3, alignItems, 0);
    AlignChoice->SetSelection(1);
    row->Add(AlignChoice, 0, kControlFlags, 5);
    AlignSetButton = new wxButton(MainPanel, wxID_ANY, "Align Set");
    row->Add(AlignSetButton, 0, kControlFlags, 5);
    AlignSeparator = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    row->Add(AlignSeparator, 0, kSeparatorFlags, 5);
    ResetButton = new wxButton(MainPanel, wxID_ANY, "Reset LED");
    row->Add(ResetButton, 0, kControlFlags, 5);
    ResetSeparator = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    row->Add(ResetSeparator, 0, kSeparatorFlags, 5);
    DefaultSetButton = new wxButton(MainPanel, wxID_ANY, "Defult Set");
    row->Add(DefaultSetButton, 0, kControlFlags, 5);
    group->Add(row, 1, wxEXPAND, 5);

    BasicSeparator1 = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL);
    group->Add(BasicSeparator1, 0, wxEXPAND | wxALL, 0);

    BlinkingPanel = new wxPanel(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* blinkSizer = new wxBoxSizer(wxHORIZONTAL);
    BlinkingLabel = MakeLabel(BlinkingPanel, "Blinking:");
    blinkSizer->Add(BlinkingLabel, 0, kLabelFlags, 5);
    BlinkingEnableCheck = new wxCheckBox(BlinkingPanel, wxID_ANY, "Enable.");
    blinkSizer->Add(BlinkingEnableCheck, 0, kLabelFlags, 5);
    OnIntervalLabel = MakeLabel(BlinkingPanel, "On interval");
    blinkSizer->Add(OnIntervalLabel, 0, kLabelFlags, 5);
    OnIntervalText = new wxTextCtrl(BlinkingPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)), 0);
    blinkSizer->Add(OnIntervalText, 0, kLabelFlags, 5);
    OffIntervalLabel = MakeLabel(BlinkingPanel, "Off interval");
    blinkSizer->Add(OffIntervalLabel, 0, kLabelFlags, 5);
    OffIntervalText = new wxTextCtrl(BlinkingPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)), 0);
    blinkSizer->Add(OffIntervalText, 0, kControlFlags, 5);
    BlinkingSetButton = new wxButton(BlinkingPanel, wxID_ANY, "Blinking Set");
    blinkSizer->Add(BlinkingSetButton, 0, kControlFlags, 5);
    BlinkingPanel->SetSizer(blinkSizer);
    BlinkingPanel->Layout();
    blinkSizer->Fit(BlinkingPanel);
    group->Add(BlinkingPanel, 1, wxEXPAND | wxALL, 0);

    BasicSeparator2 = new wxStaticLine(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL);
    group->Add(BasicSeparator2, 0, wxEXPAND | wxALL, 0);

    LowerPanel = new wxPanel(MainPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* lowerSizer = new wxBoxSizer(wxHORIZONTAL);

    RollPanel = new wxPanel(LowerPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* rollSizer = new wxBoxSizer(wxHORIZONTAL);
    ElapsedLabel = MakeLabel(RollPanel, "Elapsed time:");
    rollSizer->Add(ElapsedLabel, 0, kLabelFlags, 5);
    ElapsedText = new wxTextCtrl(RollPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)), 0);
    rollSizer->Add(ElapsedText, 0, kControlFlags, 5);
    RollSpeedLabel = MakeLabel(RollPanel, "Speed:");
    rollSizer->Add(RollSpeedLabel, 0, kLabelFlags, 5);
    RollSpeedText = new wxTextCtrl(RollPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(50, -1)), 0);
    rollSizer->Add(RollSpeedText, 0, kControlFlags, 5);
    ScrollSetButton = new wxButton(RollPanel, wxID_ANY, "Scroll Set");
    rollSizer->Add(ScrollSetButton, 0, kControlFlags, 5);
    RollPanel->SetSizer(rollSizer);
    RollPanel->Layout();
    rollSizer->Fit(RollPanel);
    lowerSizer->Add(RollPanel, 0, wxEXPAND | wxALL, 0);

    RollSeparator = new wxStaticLine(LowerPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_VERTICAL);
    lowerSizer->Add(RollSeparator, 0, wxEXPAND | wxALL, 5);

    NewIdPanel = new wxPanel(LowerPanel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* newIdSizer = new wxBoxSizer(wxHORIZONTAL);
    NewIdLabel = MakeLabel(NewIdPanel, "New ID:");
    newIdSizer->Add(NewIdLabel, 0, kLabelFlags, 5);
    NewIdText = new wxTextCtrl(NewIdPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(45, -1)), 0);
    newIdSizer->Add(NewIdText, 0, kControlFlags, 5);
    ChangeIdButton = new wxButton(NewIdPanel, wxID_ANY, "Change ID");
    newIdSizer->Add(ChangeIdButton, 0, kControlFlags, 5);
    NewIdPanel->SetSizer(newIdSizer);
    NewIdPanel->Layout();
    newIdSizer->Fit(NewIdPanel);
    lowerSizer->Add(NewIdPanel, 1, wxEXPAND | wxALL, 0);

    LowerPanel->SetSizer(lowerSizer);
    LowerPanel->Layout();
    lowerSizer->Fit(LowerPanel);
    group->Add(LowerPanel, 1, wxEXPAND | wxALL, 0);

    mainSizer->Add(group, 0, wxEXPAND, 5);
}

void GUIFrame::BuildMessageGroup(wxBoxSizer* mainSizer)
{
    auto* group = new wxStaticBoxSizer(new wxStaticBox(MainPanel, wxID_ANY, "Message Send"), wxVERTICAL);

    auto* row = new wxBoxSizer(wxHORIZONTAL);
    MessageChoice = new wxChoice(MainPanel, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(90, -1)));
    MessageChoice->SetSelection(0);  // no items yet: selects nothing
    row->Add(MessageChoice, 0, kControlFlags, 5);
    SendMessageButton = new wxButton(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(90, -1)), 0);
    SendMessageButton->SetDefault();
    row->Add(SendMessageButton, 0, kControlFlags, 5);
    DefaultMessageButton = new wxButton(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(90, -1)), 0);
    row->Add(DefaultMessageButton, 0, kControlFlags, 5);
    group->Add(row, 0, wxEXPAND, 5);

    auto* textSizer = new wxBoxSizer(wxVERTICAL);
    MessageText = new wxTextCtrl(MainPanel, wxID_ANY, wxEmptyString, wxDefaultPosition, FromDIP(wxSize(-1, 120)),
                                 wxTE_MULTILINE);
    textSizer->Add(MessageText, 0, wxEXPAND | wxALL, 5);
    group->Add(textSizer, 1, wxEXPAND, 1);

    mainSizer->Add(group, 0, wxEXPAND, 5);
}

namespace {

// The width the control's content needs. A Windows push button's best size
// adds a wide margin to its label (under wxMSW "Send Message" asks for 98
// pixels); a label with a character's room on either side fits, so the
// layout's fixed button widths hold there.
int ContentWidth(wxWindow* control)
{
#ifdef __WXMSW__
    if (auto* button = dynamic_cast<wxButton*>(control))
        return button->GetTextExtent(button->GetLabelText()).GetWidth() + 2 * button->GetCharWidth();
#endif
    control->InvalidateBestSize();
    int width = control->GetBestSize().GetWidth();
    // A combo box's best size can leave its longest entry too little room
    // beside the drop button at 150 % or 200 % ("Autc"): measured here, in
    // the box's own font and the button's width at its scale.
    if (auto* combo = dynamic_cast<wxComboBox*>(control)) {
        int longest = combo->GetTextExtent(combo->GetValue()).GetWidth();
        for (unsigned k = 0; k < combo->GetCount(); ++k)
            longest = std::max(longest, combo->GetTextExtent(combo->GetString(k)).GetWidth());
        const int button = wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, combo);
        width = std::max(width, longest + button + 2 * combo->GetCharWidth());
    }
    return width;
}

// The fixed width unless the content needs more. Measured without the size
// an earlier call set, so a shorter text (another language) narrows it again.
void WidenToBestSize(wxWindow* control, int fixedWidth)
{
    control->SetMinSize(wxDefaultSize);
    // The fixed widths are for 96 DPI; Windows at 150 % or 200 % needs more.
    const int width = std::max(control->FromDIP(fixedWidth), ContentWidth(control));
    control->SetMinSize(wxSize(width, -1));
}

}  // namespace

void GUIFrame::FitWidthsToContent()
{
    WidenToBestSize(ModelChoice, 100);
    WidenToBestSize(BrightCombo, 50);
    WidenToBestSize(AlignChoice, 60);
    WidenToBestSize(MessageChoice, 90);
    WidenToBestSize(SendMessageButton, 90);
    WidenToBestSize(DefaultMessageButton, 90);
    // A text field's best size ignores its text: measure the port name. A
    // long name gets a bounded field that shows its end; the tooltip holds it whole.
    const wxString port = ComPortText->GetValue();
    const int textWidth = ComPortText->GetTextExtent(port + "MM").GetWidth();
    ComPortText->SetMinSize(wxSize(std::clamp(textWidth, ComPortText->FromDIP(50), FromDIP(kPortFieldMaxWidth)), -1));
    if (port.empty()) {
        ComPortText->UnsetToolTip();
    } else {
        ComPortText->SetToolTip(port);
    }
    MainPanel->Layout();
    ComPortText->SetInsertionPointEnd();  // scrolls the field to the name's end
}

void GUIFrame::OnOneLineFieldEnter(wxCommandEvent& event)
{
    // Handled, not skipped: the key goes no further, so the window's default
    // button ("Send Message") is not pressed. It moves on to the next field.
    if (auto* field = dynamic_cast<wxWindow*>(event.GetEventObject())) field->Navigate();
}

std::vector<wxWindow*> GUIFrame::OneLineFields() const
{
    return {IdText,       ComPortText,    WidthText,   HighText,      BrightCombo,
            OnIntervalText, OffIntervalText, ElapsedText, RollSpeedText, NewIdText};
}

void GUIFrame::BindHandlers()
{
    Bind(wxEVT_CLOSE_WINDOW, &GUIFrame::OnClose, this);
    // Moved to a monitor of another scale: fonts and fixed widths change, so
    // every width is measured again once the toolkit has rescaled them.
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        CallAfter([this] { FitWidthsToContent(); });
    });
    Bind(wxEVT_MENU, &GUIFrame::OnQuit, this, idMenuQuit);
    Bind(wxEVT_MENU, &GUIFrame::OnEnglish, this, idMenuEnglish);
    Bind(wxEVT_MENU, &GUIFrame::OnChinese, this, idMenuChinese);
    Bind(wxEVT_MENU, &GUIFrame::OnComSettings, this, idMenuComSettings);
    ComSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnComSettings, this);
    Bind(wxEVT_MENU, &GUIFrame::OnAbout, this, idMenuAbout);
    Bind(wxEVT_MENU, &GUIFrame::OnFindSigns, this, idMenuFindSigns);
    Bind(wxEVT_MENU, &GUIFrame::OnLogToFile, this, idMenuLogToFile);
    Bind(wxEVT_MENU, &GUIFrame::OnLogCopy, this, idMenuLogCopy);
    Bind(wxEVT_MENU, &GUIFrame::OnLogSelectAll, this, idMenuLogSelectAll);
    Bind(wxEVT_MENU, &GUIFrame::OnLogSaveAs, this, idMenuLogSaveAs);
    LogView->Bind(wxEVT_CONTEXT_MENU, &GUIFrame::OnLogContextMenu, this);
    ModelChoice->Bind(wxEVT_CHOICE, &GUIFrame::OnModelChoice, this);
    LedSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnLedSet, this);
    BrightSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnBrightSet, this);
    BlackButton->Bind(wxEVT_BUTTON, &GUIFrame::OnBlack, this);
    AlignSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnAlignSet, this);
    ResetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnResetLed, this);
    DefaultSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnDefaultSet, this);
    BlinkingSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnBlinkingSet, this);
    ScrollSetButton->Bind(wxEVT_BUTTON, &GUIFrame::OnScrollSet, this);
    ChangeIdButton->Bind(wxEVT_BUTTON, &GUIFrame::OnChangeId, this);
    SendMessageButton->Bind(wxEVT_BUTTON, &GUIFrame::OnSendMessage, this);
    DefaultMessageButton->Bind(wxEVT_BUTTON, &GUIFrame::OnDefaultMessage, this);
    // Enter in a one-line field would otherwise press the default button and
    // send the message to the sign; the multi-line message box keeps its Enter.
    for (wxWindow* field : OneLineFields()) {
        field->SetWindowStyleFlag(field->GetWindowStyleFlag() | wxTE_PROCESS_ENTER);
        field->Bind(wxEVT_TEXT_ENTER, &GUIFrame::OnOneLineFieldEnter, this);
    }
}

void GUIFrame::UnbindHandlers()
{
    Unbind(wxEVT_CLOSE_WINDOW, &GUIFrame::OnClose, this);
    Unbind(wxEVT_MENU, &GUIFrame::OnQuit, this, idMenuQuit);
    Unbind(wxEVT_MENU, &GUIFrame::OnEnglish, this, idMenuEnglish);
    Unbind(wxEVT_MENU, &GUIFrame::OnChinese, this, idMenuChinese);
    Unbind(wxEVT_MENU, &GUIFrame::OnComSettings, this, idMenuComSettings);
    ComSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnComSettings, this);
    Unbind(wxEVT_MENU, &GUIFrame::OnAbout, this, idMenuAbout);
    Unbind(wxEVT_MENU, &GUIFrame::OnFindSigns, this, idMenuFindSigns);
    Unbind(wxEVT_MENU, &GUIFrame::OnLogToFile, this, idMenuLogToFile);
    Unbind(wxEVT_MENU, &GUIFrame::OnLogCopy, this, idMenuLogCopy);
    Unbind(wxEVT_MENU, &GUIFrame::OnLogSelectAll, this, idMenuLogSelectAll);
    Unbind(wxEVT_MENU, &GUIFrame::OnLogSaveAs, this, idMenuLogSaveAs);
    LogView->Unbind(wxEVT_CONTEXT_MENU, &GUIFrame::OnLogContextMenu, this);
    ModelChoice->Unbind(wxEVT_CHOICE, &GUIFrame::OnModelChoice, this);
    LedSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnLedSet, this);
    BrightSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnBrightSet, this);
    BlackButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnBlack, this);
    AlignSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnAlignSet, this);
    ResetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnResetLed, this);
    DefaultSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnDefaultSet, this);
    BlinkingSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnBlinkingSet, this);
    ScrollSetButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnScrollSet, this);
    ChangeIdButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnChangeId, this);
    SendMessageButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnSendMessage, this);
    DefaultMessageButton->Unbind(wxEVT_BUTTON, &GUIFrame::OnDefaultMessage, this);
    for (wxWindow* field : OneLineFields()) field->Unbind(wxEVT_TEXT_ENTER, &GUIFrame::OnOneLineFieldEnter, this);
}
