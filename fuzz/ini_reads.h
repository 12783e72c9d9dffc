#pragma once
// The reads the window makes from its settings file and from a model profile,
// key by key with the same defaults, for the fuzz targets that feed
// rq::config::IniFile arbitrary bytes. They run without a window, so what the
// window does with each value is mirrored here only as far as it touches
// memory (list sizes, tokens).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <wx/confbase.h>
#include <wx/string.h>

namespace rq::fuzz {

// Aborts with a message when `condition` is false (a finding).
void Check(bool condition, const char* what);

// Start-up for every target: the toolkit's base library, no log output, asserts fatal.
void InitialiseToolkit();

// A private directory for this process's files, made once.
const std::string& ScratchDirectory();

// Writes `size` bytes to `path`, replacing it.
void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

// Every value the window and the start-up read from the settings file.
struct SettingsValues {
    long lang = 0;
    wxString mode, comPort;
    long baud = 0, width = 0, high = 0, scrollLevel = 0, scrollSpeed = 0, ledId = 0, newId = 0;
    wxString scan, bright, align;
    long blinkEnable = 0, blinkOn = 0, blinkOff = 0, rollElapsed = 0, rollSpeed = 0, messageIndex = 0;
    bool operator==(const SettingsValues& other) const;
};
SettingsValues ReadSettings(wxConfigBase& config);

// Every value the profile loader reads, and the lists the window makes of them.
struct ProfileValues {
    long baud = 0, lockBaud = 0, outTime = 0, lockSize = 0, lockScan = 0, lockScroll = 0, lockId = 0;
    wxString model, resetCommand, button1, button2;
    long brightAuto = 0, brightLevels = 0, brightAutoValue = 0, black = 0, align = 0, blinking = 0, scroll = 0,
         defaultSet = 0;
    std::vector<wxString> brightEntries;
    std::vector<wxString> messageNames;
};
ProfileValues ReadProfile(wxConfigBase& config, long baudInUse);

}  // namespace rq::fuzz
