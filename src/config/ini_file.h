#pragma once
// One INI file read whole into a wxFileConfig, changed in memory and written
// back only by Save(). Used for the settings file and the model profiles.
//
// The config is parsed from what `stream` read, never from a file name, so
// the toolkit never writes the file by itself.

#include <memory>

#include <wx/arrstr.h>
#include <wx/buffer.h>
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

    // What the parser could not read, one text per problem, each naming the
    // file by its full path (and the line, where there is one); empty for a
    // clean file. Reported here rather than logged, so that the caller says
    // it once however often the file is read.
    wxArrayString problems;
    bool ParsedCleanly() const { return problems.empty(); }

    // The file had no byte-order mark and was not UTF-8 but read whole as
    // GBK, as Chinese editors save it. Save() writes UTF-8, so the first one
    // keeps the bytes as they were, as for a file that did not parse cleanly.
    bool readAsGbk = false;

    // Where the bytes of a file that did not parse cleanly, or was read as
    // GBK, were kept by the first Save(); empty until then and for a clean
    // UTF-8 file.
    wxString keptCopyPath;

    // Writes the whole config to `path` as UTF-8 without byte-order mark.
    // The new content goes to a temporary file beside the target, is flushed
    // to disk and then renamed over the target, so the file on disk is always
    // either the complete old or the complete new content. Returns false
    // (with the reason in the toolkit's log) when the store is closed or the
    // file could not be replaced; the old file is then left untouched.
    // A file that did not parse cleanly or was read as GBK is first kept as
    // it was read, beside itself under a name no file has yet
    // ("Config.ini.bad", then "Config.ini.bad.1", ...), once per store and
    // not again when an earlier copy holds the same bytes; if no copy can be
    // made the file is not replaced.
    bool Save();

    // Callers read and write through `config` directly ("Group/Entry" keys).
    std::unique_ptr<wxFileInputStream> stream;
    std::unique_ptr<wxFileConfig> config;
    wxString path;

private:
    bool NeedsKeptCopy() const { return !problems.empty() || readAsGbk; }
    bool KeepCopyOfOriginal();

    // The bytes as read, held only while a copy may still be due.
    wxMemoryBuffer original;
};

// Makes sure a file exists at `path`: creates the containing directory (the
// last level only, not missing parents) and an empty file when needed.
// Returns whether a file exists at `path` afterwards.
bool EnsureFileExists(const wxString& path);

// The name of the n-th copy of `path`: "PATH.bad" for 0, else "PATH.bad.n".
wxString CopyName(const wxString& path, unsigned long n);

// A parser message about a file read from a stream names the file as '':
// put `fullPath` there, or in front when the message has no such place.
wxString NameTheFile(const wxString& message, const wxString& fullPath);

}  // namespace rq::config
