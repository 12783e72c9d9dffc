#pragma once
// The serial port settings dialog: lists the ports (the system's own list
// where it keeps one, else those that open at this moment), test-opens the
// chosen one and hands a port name and a baud rate back. The caller runs it
// modally, then reads `portName` and `baudRate`; an empty `portName` means
// "change nothing". The dialog never keeps a port open.

#include <memory>
#include <string>
#include <vector>

#include <wx/bmpbuttn.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "line/serial_port.h"

class _CommunSet : public wxDialog {
public:
    // `flags`: only the bit of value 2 counts; without it the baud rate is
    // shown but cannot be changed. `baud` is also the start of `baudRate`,
    // 9600 when it is 0 or negative, so a box showing "******" (no rate yet)
    // still hands back and scans with a usable rate.
    _CommunSet(wxWindow* parent, const wxString& title, const wxString& port, int baud,
               const wxString& imageFile, int flags);
    ~_CommunSet() override;

    // Sets `portName` from `name` (narrow, current locale's encoding) and reads
    // `baudRate` again from the number at the start of BaudCombo's text; text
    // without such a number leaves `baudRate` as it was.
    void SetPortFromName(const wxString& name);
    void ClosePort();
    // Opens `portName` at 9600 and closes it again; on failure tells the
    // operator in a message box and returns false. The open runs off the
    // window's thread, under a busy cursor with the buttons disabled, while
    // the dialog keeps handling its events.
    bool TestOpen();
    // Fills PortChoice: where the system lists its ports (Windows), with
    // those, described and opening none; elsewhere with the candidate ports
    // that open at the shown rate.
    void ScanPorts();
    // Selects the entry of the port named `name` (a plain name, as saved);
    // false when none is listed.
    bool SelectListedPort(const wxString& name);
    // The plain name of the entry shown, or the text typed.
    wxString ChosenPortName() const;
    // The line below the port list that names the group to join; the scan
    // calls it when a port was refused for lack of permission.
    void ShowPermissionHint(const std::string& group);
    // Moves the fields clear of their labels, widens PortChoice to its
    // longest name (as far as the screen's work area allows) and grows the
    // client area, never below its usual size, until the fields, the buttons
    // and the hint fit whole.
    void FitToContent();
    // The part of the dialog's screen that windows may cover (no panels or docks).
    wxRect WorkArea() const;
    // The chosen name whole, for when the list is narrower than it.
    void ShowChosenPortInTooltip();

    // What the caller reads after the modal run.
    std::string portName;
    unsigned long baudRate = 9600;

    wxComboBox* PortChoice = nullptr;
    wxBitmapButton* OkButton = nullptr;
    wxBitmapButton* ApplyButton = nullptr;
    wxBitmapButton* QuitButton = nullptr;
    wxStaticText* PortLabel = nullptr;
    wxStaticText* BaudLabel = nullptr;
    wxStaticBitmap* DeviceBitmap = nullptr;
    wxComboBox* BaudCombo = nullptr;
    rq::platform::SerialLine* activePort = nullptr;
    std::unique_ptr<rq::platform::SerialLine> serialPort;
    bool portIsOpen = false;
    bool testOpenRunning = false;

    // Shown below the port list only when a port exists but the operator may
    // not open it and joining its group would help; none otherwise.
    wxStaticText* PermissionHint = nullptr;

private:
    void OnPortChoice(wxCommandEvent& event);
    void OnBaudChange(wxCommandEvent& event);
    void OnApplyButton(wxCommandEvent& event);
    void OnOkButton(wxCommandEvent& event);
    void OnQuitButton(wxCommandEvent& event);

    // Apply and OK share this: take the selected port, test it, and set the
    // buttons by the result.
    bool ApplySelectedPort();
    bool OpenAwayFromTheWindow();
    wxStaticText* MakeLabel(const wxString& text, const wxPoint& position);
    wxBitmapButton* MakeButton(wxWindowID id, const wxString& imageFile, const wxString& label, const wxPoint& position);

    std::vector<std::string> listedPortNames;  // the plain name of each entry of PortChoice
    wxString hintText;      // the hint unwrapped
    int hintWrapWidth = 0;  // the width it was last wrapped to
};
