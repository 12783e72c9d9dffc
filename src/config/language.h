#pragma once
// Language numbers as the settings file stores them (Setting/lang). They are
// the toolkit's language identifiers of its 3.0 release and belong to the
// file format; later releases renumbered the enumeration, so they are mapped
// here explicitly and never passed to the toolkit as they are.

namespace rq::config {

inline constexpr int kLanguageEnglish = 58;  // also the default when the key is missing
inline constexpr int kLanguageChinese = 46;  // Chinese (Simplified)
inline constexpr int kLanguageUnknown = 1;   // treated as the system default
inline constexpr int kLanguageSystem = 0;    // the system's default language
inline constexpr long kLanguageNotSet = -1;  // keep the language in force

// The language number to use at start-up, given the stored number and the
// application's current one: -1 keeps `current`, any other value replaces
// it, and 1 then becomes 0. A stored number outside the int range is no
// language the menu writes and becomes 0.
int ResolveLanguageNumber(long stored, int current);

// The toolkit's language identifier (a wxLanguage value) for a resolved
// number: 58 English, 46 Chinese (Simplified), 1 unknown, 0 and every other
// number the system default.
int ToolkitLanguage(int number);

// The Language menu's item to tick for a resolved number: 58 or 46, the one
// the system's language (a wxLanguage value) stands for where the number
// leaves the choice to the system, or 0 when the language in force is neither
// of the two (the menu then ticks nothing).
int MenuLanguage(int number, int systemLanguage);

// The language the system asks programs to speak (a wxLanguage value), from
// its settings even where no locale is generated for it; unknown without one.
int SystemLanguage();

}  // namespace rq::config
