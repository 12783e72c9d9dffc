#pragma once
// One INI file read whole into a wxFileConfig, changed in memory and written
// back only by Save(). Used for the settings file and the model profiles.
//
// The config is parsed from what `stream` read, never from a file name, so
// the toolkit never writes the file by itself.

#include <memory>

#include <wx/fileconf.h>
#include <wx/string.h>
#include <wx/wfstream.h>

namespace rq::config {

class IniFile {
public:
    // Makes sure the file exists (creating its directory and an empty file
    // when needed, result ignored), then reads it whole. A file that cannot
    // be opened gives an empty config: every read yields its default.
    explicit IniFile(const wxString& path);
    // Closes without saving.
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Destroys config, then stream. Harmless when already closed.
    void Close();

    // Writes the whole config to `path` as UTF-8 without byte-order mark.
    // The new content goes to a temporary file beside the target, is flushed
    // to disk and then renamed over the target, so the file on disk is always
    // either the complete old or the complete new content. Returns false
    // (with the reason in the toolkit's log) when the store is closed or the
    // file could not be replaced; the old file is then left untouched.
    bool Save();

    // Callers read and write through `config` directly ("Group/Entry" keys).
    std::unique_ptr<wxFileInputStream> stream;
    std::unique_ptr<wxFileConfig> config;
    wxString path;
};

// Makes sure a file exists at `path`: creates the containing directory (the
// last level only, not missing parents) and an empty file when needed.
// Returns whether a file exists at `path` afterwards.
bool EnsureFileExists(const wxString& path);

}  // namespace rq::config
