#pragma once
// The main window's layout: every control, its sizers and menus, and one
// virtual handler per command. Handlers here only let the event go on;
// RQ_M4TFrame overrides them. No logic and no data besides the controls.

#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/richtext/richtextctrl.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

// Menu item identifiers; stored nowhere, but fixed so that tests and
// accelerators can name them.
enum MenuId {
    idMenuQuit = 1000,
    idMenuEnglish = 1001,
    idMenuChinese = 1002,
    idMenuComSettings = 1003,
    idMenuAbout = 1004,
    idMenuLogToFile = 1005,
    idMenuFindSigns = 1006,
    // The log pane's context menu.
    idMenuLogCopy = 1007,
    idMenuLogSelectAll = 1008,
    idMenuLogSaveAs = 1009,
};

class GUIFrame : public wxFrame {
public:
    GUIFrame(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
             const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
             long style = wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL);
    ~GUIFrame() override;

protected:
    wxMenuBar* MenuBar;
    wxMenu* FileMenu;
    wxMenu* SettingsMenu;
    wxMenu* LanguageMenu;
    wxMenu* HelpMenu;
    wxStatusBar* StatusBar;
    wxPanel* MainPanel;
    wxStaticText* ModelLabel;
    wxChoice* ModelChoice;
    wxStaticText* IdLabel;
    wxTextCtrl* IdText;
    wxStaticText* TopSpacerLabel;
    wxStaticText* ComPortLabel;
    wxTextCtrl* ComPortText;
    wxButton* ComSetButton;
    wxStaticText* WidthLabel;
    wxTextCtrl* WidthText;
    wxStaticText* HighLabel;
    wxTextCtrl* HighText;
    wxStaticText* ScanLabel;
    wxChoice* ScanChoice;
    wxStaticText* ScrollLabel;
    wxChoice* ScrollLevelChoice;
    wxStaticText* SpeedLabel;
    wxChoice* ScrollSpeedChoice;
    wxStaticText* LedSpacerLabel;
    wxButton* LedSetButton;
    wxStaticText* BrightLabel;
    wxComboBox* BrightCombo;
    wxButton* BrightSetButton;
    wxStaticLine* BrightSeparator;
    wxButton* BlackButton;
    wxStaticLine* BlackSeparator;
    wxChoice* AlignChoice;
    wxButton* AlignSetButton;
    wxStaticLine* AlignSeparator;
    wxButton* ResetButton;
    wxStaticLine* ResetSeparator;
    wxButton* DefaultSetButton;
    wxStaticLine* BasicSeparator1;
    wxPanel* BlinkingPanel;
    wxStaticText* BlinkingLabel;
    wxCheckBox* BlinkingEnableCheck;
    wxStaticText* OnIntervalLabel;
    wxTextCtrl* OnIntervalText;
    wxStaticText* OffIntervalLabel;
    wxTextCtrl* OffIntervalText;
    wxButton* BlinkingSetButton;
    wxStaticLine* BasicSeparator2;
    wxPanel* LowerPanel;
    wxPanel* RollPanel;
    wxStaticText* ElapsedLabel;
    wxTextCtrl* ElapsedText;
    wxStaticText* RollSpeedLabel;
    wxTextCtrl* RollSpeedText;
    wxButton* ScrollSetButton;
    wxStaticLine* RollSeparator;
    wxPanel* NewIdPanel;
    wxStaticText* NewIdLabel;
    wxTextCtrl* NewIdText;
    wxButton* ChangeIdButton;
    wxChoice* MessageChoice;
    wxButton* SendMessageButton;
    wxButton* DefaultMessageButton;
    wxTextCtrl* MessageText;
    wxRichTextCtrl* LogView;

    // The fixed widths above suit the controls' look on Windows; where the
    // toolkit draws a control wider (GTK's combo arrows, longer port paths),
    // widen it to show its content, never narrower than the fixed width. The
    // port field widens only so far and shows a long name's end.
    void FitWidthsToContent();

    virtual void OnClose(wxCloseEvent& event) { event.Skip(); }
    virtual void OnQuit(wxCommandEvent& event) { event.Skip(); }
    virtual void OnEnglish(wxCommandEvent& event) { event.Skip(); }
    virtual void OnChinese(wxCommandEvent& event) { event.Skip(); }
    virtual void OnComSettings(wxCommandEvent& event) { event.Skip(); }
    virtual void OnFindSigns(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLogToFile(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLogContextMenu(wxContextMenuEvent& event) { event.Skip(); }
    virtual void OnLogCopy(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLogSelectAll(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLogSaveAs(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAbout(wxCommandEvent& event) { event.Skip(); }
    virtual void OnModelChoice(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLedSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnBrightSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnBlack(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAlignSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnResetLed(wxCommandEvent& event) { event.Skip(); }
    virtual void OnDefaultSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnBlinkingSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnScrollSet(wxCommandEvent& event) { event.Skip(); }
    virtual void OnChangeId(wxCommandEvent& event) { event.Skip(); }
    virtual void OnSendMessage(wxCommandEvent& event) { event.Skip(); }
    virtual void OnDefaultMessage(wxCommandEvent& event) { event.Skip(); }

private:
    void BuildMenus();
    void BuildTopRow(wxBoxSizer* mainSizer);
    void BuildLedGroup(wxBoxSizer* mainSizer);
    void BuildBasicGroup(wxBoxSizer* mainSizer);
    void BuildMessageGroup(wxBoxSizer* mainSizer);
    void BindHandlers();
    void UnbindHandlers();
    std::vector<wxWindow*> OneLineFields() const;
    void OnOneLineFieldEnter(wxCommandEvent& event);

};
