#include "config/language.h"

#include <climits>

#include <wx/language.h>

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

}  // namespace rq::config
