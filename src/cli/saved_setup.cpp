#include "cli/saved_setup.h"

#include <algorithm>
#include <memory>

#include <wx/dir.h>
#include <wx/fileconf.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/tokenzr.h>

#include "config/ini_file.h"
#include "config/settings_keys.h"
#include "protocol/numbers.h"

namespace rq::cli {

using namespace rq::config;

namespace {

// An INI file read through the window's own IniFile, so both parse it alike;
// only an existing file is opened, because IniFile creates a missing one. A
// missing file reads as an empty one.
class ReadOnlyIni {
public:
    explicit ReadOnlyIni(const wxString& path)
    {
        if (wxFileExists(path)) file = std::make_unique<IniFile>(path);
        // The store reports what it could not read instead of logging it.
        if (file) {
            for (const wxString& problem : file->problems) wxLogWarning("%s", problem);
        }
        if (!file || !file->config) {
            wxMemoryInputStream nothing("", 0);
            empty = std::make_unique<wxFileConfig>(nothing, wxConvAuto());
        }
    }
    wxConfigBase* operator->() const { return empty ? static_cast<wxConfigBase*>(empty.get()) : file->config.get(); }

private:
    std::unique_ptr<IniFile> file;
    std::unique_ptr<wxFileConfig> empty;
};

std::string Decimal(long value)
{
    // The window keeps these values in 32-bit integers and shows them with "%d".
    return wxString::Format("%d", static_cast<int>(value)).utf8_string();
}

// The first entry the window lists in its model choice: every entry of the
// directory, in listing order, named without its last extension.
wxString FirstListedModel(const wxString& modesPath)
{
    if (!wxDirExists(modesPath)) return wxString();
    wxLogNull quiet;
    wxDir dir(modesPath);
    wxString entry;
    if (!dir.IsOpened() || !dir.GetFirst(&entry, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN))
        return wxString();
    const int dot = entry.Find('.', true);
    return dot == wxNOT_FOUND ? entry : entry.Left(dot);
}

// A list's selection by text, ignoring case; `keep` when no item matches.
int SelectByText(const wxArrayString& items, const wxString& text, int keep)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].IsSameAs(text, false)) return static_cast<int>(i);
    }
    return keep;
}

}  // namespace

SavedSetupResult ReadSavedSetup(const std::string& directory)
{
    SavedSetupResult result;
    const wxString root = wxString::FromUTF8(directory.c_str());
    if (directory.empty() || !wxDirExists(root)) {
        result.error = "--from \"" + directory + "\" is not a directory";
        return result;
    }

    SavedSetup saved;
    saved.directory = directory;
    const wxString sep = wxFILE_SEP_PATH;
    const ReadOnlyIni settings(root + sep + "Config" + sep + "Config.ini");

    // The values the window's constructor reads, with its defaults. "Auto" and
    // "Center" stay English: this tool loads no translation.
    const wxString mode = settings->Read(keys::Mode, wxString());
    saved.port = settings->Read(keys::ComPort, wxString()).utf8_string();
    const long settingsBaud = static_cast<int>(settings->ReadLong(keys::Baud, defaults::Baud));
    saved.widthText = Decimal(settings->ReadLong(keys::Width, defaults::Width));
    saved.highText = Decimal(settings->ReadLong(keys::High, defaults::High));
    const wxString scan = settings->Read(keys::Scan, defaults::Scan);
    const int scrollLevel = static_cast<int>(settings->ReadLong(keys::ScrollLevel, defaults::ScrollLevel));
    const int scrollSpeed = static_cast<int>(settings->ReadLong(keys::ScrollSpeed, defaults::ScrollSpeed));
    saved.idText = Decimal(settings->ReadLong(keys::LedId, defaults::LedId));
    saved.brightText = settings->Read(keys::Bright, "Auto").utf8_string();
    saved.newIdText = Decimal(settings->ReadLong(keys::NewId, defaults::NewId));
    const wxString align = settings->Read(keys::Align, "Center");
    saved.blinkEnable = static_cast<int>(settings->ReadLong(keys::BlinkEnable, defaults::BlinkEnable)) != 0;
    saved.blinkOnText = Decimal(settings->ReadLong(keys::BlinkOn, defaults::BlinkOn));
    saved.blinkOffText = Decimal(settings->ReadLong(keys::BlinkOff, defaults::BlinkOff));
    saved.elapsedText = Decimal(settings->ReadLong(keys::RollElapsed, defaults::RollElapsed));
    saved.rollSpeedText = Decimal(settings->ReadLong(keys::RollSpeed, defaults::RollSpeed));
    const int messageIndex = static_cast<int>(settings->ReadLong(keys::MessageIndex, defaults::MessageIndex));

    // The lists select by text; without a match they keep the layout's
    // selection: "P7.62", "0", "0" and "Center".
    wxArrayString scans;
    scans.Add("P10");
    scans.Add("P7.62");
    scans.Add("P4.75");
    saved.scanText = scans[SelectByText(scans, scan, 1)].utf8_string();
    wxArrayString levels;
    for (int i = 0; i < 16; ++i) levels.Add(wxString::Format("%d", i));
    saved.scrollLevel = SelectByText(levels, wxString::Format("%d", scrollLevel), 0);
    saved.scrollSpeed = SelectByText(levels, wxString::Format("%d", scrollSpeed), 0);
    wxArrayString aligns;
    aligns.Add("Left");
    aligns.Add("Center");
    aligns.Add("Right");
    saved.alignIndex = SelectByText(aligns, align, 1);

    // The model profile: Setting/Mode, or the first entry the window lists.
    const wxString modesPath = root + sep + kModesDirectory + sep;
    const wxString profileName = mode.empty() ? FirstListedModel(modesPath) : mode;
    saved.profileName = profileName.utf8_string();
    saved.baud = settingsBaud;
    const wxString profilePath = modesPath + profileName + kProfileExtension;
    if (!profileName.empty() && wxFileExists(profilePath)) {
        saved.profileLoaded = true;
        const ReadOnlyIni profile(profilePath);
        saved.baud = static_cast<int>(profile->ReadLong(profile_keys::Baud, settingsBaud));
        saved.model = profile->Read(profile_keys::Model, wxString()).utf8_string();
        saved.idAddressing = profile->ReadLong(profile_keys::LockId, profile_defaults::Lock) == 0;

        // The brightness entry the window selects: the stored one when the
        // model lists it (a stored word stands for its "Auto"), else the
        // model's first entry.
        const bool brightAuto = profile->ReadLong(profile_keys::BrightAuto, 0) != 0;
        const long brightLevels = profile->ReadLong(profile_keys::BrightLevels, 0);
        const auto level = rq::protocol::ParseSigned(saved.brightText);
        const bool listed = level ? *level >= 0 && *level < std::min(brightLevels, 256L) &&
                                        std::to_string(*level) == saved.brightText
                                  : brightAuto;
        if (!listed && (brightAuto || brightLevels > 0)) saved.brightText = brightAuto ? "Auto" : "0";

        // The message list: comma-separated names, empty ones kept, a trailing
        // comma adding none; the stored index selects one when in range.
        wxArrayString messages;
        wxStringTokenizer tokens(profile->Read(profile_keys::Messages, wxString()), ",");
        while (tokens.HasMoreTokens()) messages.Add(tokens.GetNextToken());
        saved.unicode = messageIndex >= 0 && static_cast<std::size_t>(messageIndex) < messages.size() &&
                        messages[static_cast<std::size_t>(messageIndex)] == "UNICODE";
        saved.sendMessageLabel = profile->Read(profile_keys::Button1, wxString()).utf8_string();
        saved.defaultMessageLabel = profile->Read(profile_keys::Button2, wxString()).utf8_string();
    }

    result.setup = std::move(saved);
    return result;
}

}  // namespace rq::cli
