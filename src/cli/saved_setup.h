#pragma once
// Reads what the window would show after starting in a working directory: its
// settings file Config/Config.ini and the selected profile in Modes/, with the
// window's defaults and its rules for selecting list items by text. Nothing
// is created or written there: a missing settings file just gives defaults.

#include <optional>
#include <string>

#include "cli/send_request.h"

namespace rq::cli {

struct SavedSetupResult {
    std::optional<SavedSetup> setup;
    std::string error;  // set when `directory` is not a directory
};

// `directory` is UTF-8 text, as given to --from.
SavedSetupResult ReadSavedSetup(const std::string& directory);

}  // namespace rq::cli
