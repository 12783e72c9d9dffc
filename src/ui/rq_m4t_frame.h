#pragma once
// The working main window: holds every setting in memory, applies the model
// profile, builds command frames from the controls and runs one transaction
// at a time through the UASD worker. Its files are split by concern:
// frame_startup.cpp (construction, close, destruction), frame_profile.cpp
// (model list and profile), frame_handlers.cpp (Set buttons),
// frame_builders.cpp (command frames), frame_dispatch.cpp (transactions and
// log), frame_menu.cpp (menu commands), frame_log_file.cpp (the log file and
// the log pane's context menu).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <wx/colour.h>
#include <wx/event.h>

#include "ui/gui_frame.h"

namespace rq::config {
class IniFile;
}
namespace rq::serial {
class UASD;
}

// The loaded model profile.
struct ModelProfile {
    wxString name;   // model name it was loaded under (file name without ".ini")
    int baud = 0;    // App/BSP
    int lockBaud = 0;  // App/LockBsp
    wxString model;  // Model/Model: only "RQ-M4T" has commands
    int outTime = 1000;  // Model/OutTime: kept, not used by transactions
};

class RQ_M4TFrame : public GUIFrame {
public:
    // A command builder fills the frame buffer and returns the frame length;
    // 0 means a value could not be used ("Parameter error").
    using CommandBuilder = std::size_t (RQ_M4TFrame::*)(std::uint8_t* frame);
    using ReplyDecoder = void (RQ_M4TFrame::*)(int received, const wxString& prefix);

    RQ_M4TFrame(wxWindow* parent, int language);
    ~RQ_M4TFrame() override;

    // True while a transaction runs.
    bool IsBusy() const { return worker != nullptr; }

protected:
    void OnClose(wxCloseEvent& event) override;
    void OnQuit(wxCommandEvent& event) override;
    void OnEnglish(wxCommandEvent& event) override;
    void OnChinese(wxCommandEvent& event) override;
    void OnComSettings(wxCommandEvent& event) override;
    void OnFindSigns(wxCommandEvent& event) override;
    void OnAbout(wxCommandEvent& event) override;
    void OnModelChoice(wxCommandEvent& event) override;
    void OnLedSet(wxCommandEvent& event) override;
    void OnBrightSet(wxCommandEvent& event) override;
    void OnBlack(wxCommandEvent& event) override;
    void OnAlignSet(wxCommandEvent& event) override;
    void OnResetLed(wxCommandEvent& event) override;
    void OnDefaultSet(wxCommandEvent& event) override;
    void OnBlinkingSet(wxCommandEvent& event) override;
    void OnScrollSet(wxCommandEvent& event) override;
    void OnChangeId(wxCommandEvent& event) override;
    void OnSendMessage(wxCommandEvent& event) override;
    void OnDefaultMessage(wxCommandEvent& event) override;
    void OnLogToFile(wxCommandEvent& event) override;
    void OnLogContextMenu(wxContextMenuEvent& event) override;
    void OnLogCopy(wxCommandEvent& event) override;
    void OnLogSelectAll(wxCommandEvent& event) override;
    void OnLogSaveAs(wxCommandEvent& event) override;
    virtual void OnThreadEvent(wxThreadEvent& event);

    // Model profiles.
    void ListModels();
    bool LoadProfile(const wxString& modelName, ModelProfile& record);
    void ApplyProfile(rq::config::IniFile& store);

    // Command frames.
    // The position of the command code, or 0 when the ID does not parse.
    std::size_t BeginFrame(std::uint8_t* frame);
    std::size_t FinishFrame(std::uint8_t* frame, std::size_t start, std::size_t checksumPos);
    std::size_t BuildLedParameters(std::uint8_t* frame);
    std::size_t BuildBrightness(std::uint8_t* frame);
    std::size_t BuildBlank(std::uint8_t* frame);
    std::size_t BuildAlignment(std::uint8_t* frame);
    std::size_t BuildReset(std::uint8_t* frame);
    std::size_t BuildFactoryDefaults(std::uint8_t* frame);
    std::size_t BuildBlinking(std::uint8_t* frame);
    std::size_t BuildTimedScroll(std::uint8_t* frame);
    std::size_t BuildChangeId(std::uint8_t* frame);
    std::size_t BuildMessage(std::uint8_t* frame);
    std::size_t BuildDefaultMessage(std::uint8_t* frame);
    void DecodeStatus(int received, const wxString& prefix);

    // Transactions and the log.
    void SendCommand(CommandBuilder builder, const wxString& title);
    void StartTransaction(const std::uint8_t* frame, std::size_t length);
    void AppendLog(const wxString& text, const wxColour& colour, bool bold);

    // The log file: each transaction's lines, after a header with the date,
    // appended while it runs. A file that cannot be written is said once in
    // the pane; the transaction goes on.
    void OpenLogRecord(const wxString& title);
    void WriteLogRecord(const wxString& text);
    void CloseLogRecord();
    void SayLogFileFailed();

    // Language menu: one item ticked at most, none for another language.
    void TickLanguage(int number);
    void SetLanguage(int number);

    // Members, in the order the window keeps them.
    std::unique_ptr<rq::config::IniFile> settings;
    int idAddressing = 0;
    std::string comPort;
    int baud = 0;
    ModelProfile profile;
    int ledWidth = 0;
    int ledHigh = 0;
    wxString ledScan;
    int scrollLevel = 0;
    int scrollSpeed = 0;
    int rollElapsed = 0;
    int rollSpeed = 0;
    int ledId = 0;
    int newId = 0;
    wxString brightText;
    wxString resetCommand;
    wxString alignText;
    int blinkEnable = 0;
    int blinkOn = 0;
    int blinkOff = 0;
    int messageIndex = 0;
    rq::serial::UASD* worker = nullptr;
    std::unique_ptr<std::uint8_t[]> replyBuffer;
    std::uint32_t replyLength = 0;
    ReplyDecoder replyDecoder = nullptr;
    // Why the last builder built nothing, when "Parameter error" would not
    // tell the operator what to change.
    wxString refusal;
    // The log file's name (Log/File), empty for none, and the file while a
    // transaction is written to it.
    wxString logFileName;
    std::FILE* logRecord = nullptr;
    bool logRecordFailed = false;
    wxString logRecordReason;  // the system's words for the failure

private:
    void ReadSettings();
    void ShowSettingsInControls();
    // The handlers' shared tail: pick the builder by model, send with the label.
    void SendForModel(CommandBuilder builder, wxButton* button);
    // Stores a parsed integer field into member and key; untouched when it does not parse.
    void StoreIntegerField(wxTextCtrl* field, int& member, const wxString& key);
};
