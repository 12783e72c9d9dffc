#include "app/rq_m4t_app.h"

#include <cstdint>
#include <memory>

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include "config/ini_file.h"
#include "config/language.h"
#include "config/settings_keys.h"
#include "app/stop_signals.h"
#include "dialogs/named_icon.h"
#include "platform/forward_requests.h"
#include "platform/native_window.h"
#include "platform/version.h"
#include "ui/rq_m4t_frame.h"

using namespace rq::config;

namespace {

// Where the catalogue "Language" is looked for, relative to the working directory.
const char* const kCatalogPrefix = "locale/";

// The toolkit refuses a locale whose system locale is not generated (common on
// Linux) and says so in a modal box, although the catalogue still loads. That
// is no news an operator can act on at every start: send it to standard error.
class StderrLogScope {
public:
    StderrLogScope() : previous(wxLog::SetActiveTarget(&stderrTarget)) {}
    ~StderrLogScope() { wxLog::SetActiveTarget(previous); }

private:
    wxLogStderr stderrTarget;
    wxLog* previous;
};

// One message for a settings file that was read as GBK or did not parse
// cleanly: the encoding, the first problem (naming the file and line), how
// many more there are, and what becomes of the file.
wxString StartupSettingsMessage(const IniFile& settings)
{
    wxString text;
    if (settings.readAsGbk) {
        wxFileName fullName(settings.path);
        fullName.MakeAbsolute();
        text = wxString::Format(_("The settings file '%s' is not UTF-8 text: it was read as GBK (Chinese) and is "
                                  "saved as UTF-8 at exit."),
                                fullName.GetFullPath());
    }
    if (!settings.ParsedCleanly()) {
        if (!text.empty()) text += wxS("\n");
        text += settings.problems.front();
        if (settings.problems.size() > 1) {
            text += wxS("\n") +
                    wxString::Format(_("(further problems in the same file: %zu)"), settings.problems.size() - 1);
        }
    }
    text += wxS("\n\n") + _("The settings are saved at exit as usual; the file as it is now is kept beside it, "
                              "in a copy whose name ends in \".bad\".");
    return text;
}

// The folder whose settings this start reads and writes, absolute. As the
// lock's key (`asKey`) one text for every way of reaching it (relative, "..",
// letter case on Windows); otherwise in the letters the user gave it.
wxString SettingsFolder(bool asKey)
{
    wxFileName folder = wxFileName::DirName(wxFileName(kSettingsPath).GetPath());
    folder.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE | wxPATH_NORM_LONG | (asKey ? wxPATH_NORM_CASE : 0));
    return folder.GetFullPath();
}

// A name for the instance lock that a file name and a Windows mutex name both
// accept (no separators), different for each settings folder.
wxString InstanceName(const wxString& folder)
{
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char byte : folder.utf8_string()) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
    }
    return wxString::Format("rq-m4x-led-test-%016llx", static_cast<unsigned long long>(hash));
}

}  // namespace

RQ_M4TApp::RQ_M4TApp()
{
    language = 1;
}

bool RQ_M4TApp::OnInit()
{
    // The base OnInit would parse the command line; arguments are ignored.
    // Boxes the toolkit titles itself ("... Warning") carry the program's name.
    SetAppDisplayName(RQ_PRODUCT_NAME);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);

    instanceName = InstanceName(SettingsFolder(true)).utf8_string();
    folderLock = std::make_unique<rq::app::FolderLock>(instanceName);
    alreadyRunningHere = folderLock->AnotherCopyRunning();

    IniFile startupSettings(kSettingsPath);
    language = ResolveLanguageNumber(startupSettings.config->ReadLong(keys::Lang, kLanguageEnglish), language);

    {
        StderrLogScope toStderr;
        bool localeSet = false;
        bool catalogueLoaded = false;
        {
            // The toolkit's own complaint names no language when the system
            // chooses it; it is said below, or not at all.
            wxLogNull quiet;
            localeSet = locale.Init(ToolkitLanguage(language), 0);
            wxLocale::AddCatalogLookupPathPrefix(kCatalogPrefix);
            catalogueLoaded = locale.AddCatalog("Language");
        }
        // English is the program's own language and needs no system locale;
        // where the catalogue loaded, the texts are translated all the same.
        const int shown =
            ToolkitLanguage(language) == wxLANGUAGE_DEFAULT ? SystemLanguage() : ToolkitLanguage(language);
        if (!localeSet && !catalogueLoaded && MenuLanguage(language, shown) != kLanguageEnglish) {
            wxLogWarning(_("Cannot set locale to language \"%s\"."), wxLocale::GetLanguageName(shown));
        }
    }

    if (alreadyRunningHere) {
        // Its settings would be overwritten by whichever window closed last.
        folderLock.reset();
        // The running window comes forward, as a desktop program's does;
        // where it cannot (another user's session holds the folder), say so.
        if (rq::app::BringRunningCopyForward(instanceName)) return true;
        wxMessageBox(wxString::Format(_("The program is already running with the settings in %s"), SettingsFolder(false)),
                     RQ_PRODUCT_NAME, wxOK | wxICON_INFORMATION | wxCENTRE, nullptr);
        return true;
    }

    runningMark = std::make_unique<rq::app::RunningMark>();
    auto* frame = new RQ_M4TFrame(nullptr, language);
    {
        wxLogNull quiet;  // a missing icon changes nothing else
        const wxIcon icon = LoadNamedIcon("aaaa");
        if (icon.IsOk()) frame->SetIcon(icon);
    }
    rq::app::PrepareFirstShow(frame);
    frame->Show();
    forwardRequests = std::make_unique<rq::app::ForwardRequests>(instanceName, frame);
    rq::app::CloseWindowOnStopSignals();
    // The window reads the file again for itself, quietly: say it once, here.
    if (!startupSettings.ParsedCleanly() || startupSettings.readAsGbk) {
        wxLogWarning("%s", StartupSettingsMessage(startupSettings));
    }
    startupSettings.Close();
    return true;
}

int RQ_M4TApp::OnRun()
{
    // The running window keeps the folder; this start has nothing left to do.
    if (alreadyRunningHere) return 0;
    const int status = wxApp::OnRun();
    rq::app::EndAfterLastWindow(status);
    return status;
}
