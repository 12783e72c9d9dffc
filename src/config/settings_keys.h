#pragma once
// Every key of the settings file and of the model profiles, written once.
// The texts, with their odd cases and spellings ("LED/id" beside
// "LED/NewId", "Bright/Leve", "Function/DefultSet"), are the file format:
// never correct them.
//
// Numeric defaults are `long` so that wxConfigBase::Read(key, default) picks
// its integer overload without a cast.

namespace rq::config {

// Relative to the working directory.
inline constexpr char kSettingsPath[] = "Config/Config.ini";
// Profiles: one "<model>.ini" per model in this directory.
inline constexpr char kModesDirectory[] = "Modes";
inline constexpr char kProfileExtension[] = ".ini";

// Settings file keys.
namespace keys {
inline constexpr char Lang[] = "Setting/lang";            // integer, language number
inline constexpr char Mode[] = "Setting/Mode";            // text, selected model name
inline constexpr char ComPort[] = "SerialPort/COM";       // text
inline constexpr char Baud[] = "SerialPort/BSP";          // integer
inline constexpr char Width[] = "LED/Width";              // integer, dots
inline constexpr char High[] = "LED/High";                // integer, dots
inline constexpr char Scan[] = "LED/Scan";                // text: "P10", "P7.62" or "P4.75"
inline constexpr char ScrollLevel[] = "LED/ScrollLevel";  // integer, list index
inline constexpr char ScrollSpeed[] = "LED/ScrollSpeed";  // integer, list index
inline constexpr char LedId[] = "LED/id";                 // integer, controller address in use
inline constexpr char NewId[] = "LED/NewId";              // integer, never written
inline constexpr char Bright[] = "LED/Bright";            // text, default translated "Auto"
inline constexpr char Align[] = "LED/Align";              // text, default translated "Center"
inline constexpr char BlinkEnable[] = "Blinking/Enable";  // integer, 0 or 1
inline constexpr char BlinkOn[] = "Blinking/Oninterval";  // integer
inline constexpr char BlinkOff[] = "Blinking/Offinterval";// integer
inline constexpr char RollElapsed[] = "Roll/Elapsed";     // integer
inline constexpr char RollSpeed[] = "Roll/Speed";         // integer
inline constexpr char MessageIndex[] = "Text/Choice1";    // integer, list index
inline constexpr char LogFile[] = "Log/File";             // text, the window's log file; empty: none
}  // namespace keys

// Defaults of the settings file when a key is missing or not a number.
// "Auto" and "Center" are looked up in the catalogue at the moment of
// reading, so the window writes them as _("Auto") and _("Center").
namespace defaults {
inline constexpr long Lang = 58;  // English
inline constexpr long Baud = 9600;
inline constexpr long Width = 64;
inline constexpr long High = 16;
inline constexpr char Scan[] = "P7.62";
inline constexpr long ScrollLevel = 3;
inline constexpr long ScrollSpeed = 3;
inline constexpr long LedId = 255;
inline constexpr long NewId = 1;
inline constexpr long BlinkEnable = 0;
inline constexpr long BlinkOn = 1000;
inline constexpr long BlinkOff = 1000;
inline constexpr long RollElapsed = 3000;
inline constexpr long RollSpeed = 50;
inline constexpr long MessageIndex = 0;
}  // namespace defaults

// Model profile keys, in the order the loader reads them.
namespace profile_keys {
inline constexpr char Baud[] = "App/BSP";                 // integer, default: the baud rate in use
inline constexpr char LockBaud[] = "App/LockBsp";         // integer
inline constexpr char Model[] = "Model/Model";            // text, model identifier
inline constexpr char OutTime[] = "Model/OutTime";        // integer, kept only
inline constexpr char LockSize[] = "Lock/Size";           // integer, 0 = editable
inline constexpr char LockScan[] = "Lock/Scan";
inline constexpr char LockScroll[] = "Lock/Scroll";
inline constexpr char LockId[] = "Lock/id";               // 0 = frames carry the ID
inline constexpr char BrightAuto[] = "Bright/Auto";       // non-zero: "Auto" heads the list
inline constexpr char BrightLevels[] = "Bright/Leve";     // number of levels "0".."n-1"
inline constexpr char BrightAutoValue[] = "Bright/AutoValue";  // read, no effect
inline constexpr char Black[] = "Function/Black";
inline constexpr char AlignFeature[] = "Function/Align";
inline constexpr char ResetCommand[] = "App/ResetCMD";    // text, non-empty: reset offered
inline constexpr char Blinking[] = "Function/Blinking";
inline constexpr char Scroll[] = "Function/Scroll";
inline constexpr char DefaultSet[] = "Function/DefultSet";
inline constexpr char Messages[] = "Text/msgChoice1";     // text, comma-separated names
inline constexpr char Button1[] = "Text/Button1";         // text, "Send Message" is translated
inline constexpr char Button2[] = "Text/Button2";         // text, "Default MSG" is translated
}  // namespace profile_keys

// Defaults of the profile keys: everything locked, no optional feature.
namespace profile_defaults {
inline constexpr long LockBaud = 0;
inline constexpr long OutTime = 1000;
inline constexpr long Lock = 1;     // Lock/Size, Lock/Scan, Lock/Scroll, Lock/id
inline constexpr long Feature = 0;  // Bright/*, Function/*
}  // namespace profile_defaults

}  // namespace rq::config
