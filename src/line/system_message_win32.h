#pragma once
// The system's text for a Windows or Winsock error code, in the user's
// language, as UTF-8 (FormatMessageW, so a Chinese Windows' text survives
// whatever its ANSI code page). Windows only.

#include <string>

namespace rq::platform {

// "Error N" when the system has no text for the code.
std::string SystemMessage(unsigned long code);

}  // namespace rq::platform
