#include "config/language.h"

#include <climits>

#include <wx/intl.h>
#include <wx/language.h>
#include <wx/uilocale.h>

namespace rq::config {

int ResolveLanguageNumber(long stored, int current)
{
    int number = current;
    if (stored != kLanguageNotSet) {
        // Narrowing would alias a huge number onto 46 or 58.
        number = (stored < INT_MIN || stored > INT_MAX) ? kLanguageSystem : static_cast<int>(stored);
    }
    if (number == kLanguageUnknown) number = kLanguageSystem;
    return number;
}

int ToolkitLanguage(int number)
{
    switch (number) {
    case kLanguageEnglish: return wxLANGUAGE_ENGLISH;
    case kLanguageChinese: return wxLANGUAGE_CHINESE_SIMPLIFIED;
    case kLanguageUnknown: return wxLANGUAGE_UNKNOWN;
    default: return wxLANGUAGE_DEFAULT;  // 0, and numbers the menu never writes
    }
}

int MenuLanguage(int number, int systemLanguage)
{
    if (number == kLanguageEnglish || number == kLanguageChinese) return number;
    // A system whose language is unknown (the "C" locale) shows the program's own texts.
    if (systemLanguage == wxLANGUAGE_UNKNOWN || systemLanguage == wxLANGUAGE_DEFAULT) return kLanguageEnglish;
    const wxString name = wxLocale::GetLanguageCanonicalName(systemLanguage);
    if (name.StartsWith("en")) return kLanguageEnglish;
    if (name == "zh_CN") return kLanguageChinese;  // the catalogue's language
    return 0;
}

int SystemLanguage()
{
    const auto preferred = wxUILocale::GetPreferredUILanguages();
    const wxLanguageInfo* info = preferred.empty() ? nullptr : wxUILocale::FindLanguageInfo(preferred[0]);
    return info ? info->Language : wxLANGUAGE_UNKNOWN;
}

}  // namespace rq::config
