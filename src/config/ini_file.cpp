#include "config/ini_file.h"

#include <cstring>
#include "config/surrogates.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include <wx/buffer.h>
#include <wx/convauto.h>
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/strconv.h>
#include <wx/thread.h>

namespace fs = std::filesystem;

namespace rq::config {

namespace {

// wxString::fn_str() yields the OS's own file-name characters: narrow on
// POSIX, wide on Windows. One of these overloads takes it as it is.
[[maybe_unused]] fs::path OsPath(const char* name) { return fs::path(name); }
[[maybe_unused]] fs::path OsPath(const wchar_t* name) { return fs::path(name); }

// Replaces the file at `target` with `size` bytes at `data` so that the file
// is always either its complete old or its complete new content: the bytes go
// to a temporary file in the same directory (same file system, so the rename
// is atomic), are forced to disk, and only then renamed over the target.
bool ReplaceFileContent(const wxString& target, const void* data, size_t size)
{
    const fs::path targetPath = OsPath(target.fn_str());

    // A read-only settings file is how an operator freezes it: refuse, as
    // writing in place would, although the rename could replace it.
    if (wxFileName::FileExists(target) && !wxFileName::IsFileWritable(target)) {
        wxLogError(wxS("Can't save '%s': the file is read-only."), target);
        return false;
    }

    wxFileName absolute(target);
    absolute.MakeAbsolute();
    const wxString prefix = absolute.GetPathWithSep() + wxS(".") + absolute.GetFullName() + wxS(".");
    wxFile file;
    const wxString temporary = wxFileName::CreateTempFileName(prefix, &file);
    if (temporary.empty()) return false;  // the toolkit has logged why
    const fs::path temporaryPath = OsPath(temporary.fn_str());

    bool complete = (size == 0 || file.Write(data, size) == size);
    complete = complete && file.Flush();  // fsync: the data is on disk before the rename
    complete = file.Close() && complete;

    std::error_code error;
    if (complete) {
        // The temporary file is created private; give it the old file's mode.
        const fs::file_status old = fs::status(targetPath, error);
        const fs::perms mode = fs::exists(old)
            ? old.permissions()
            : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
        fs::permissions(temporaryPath, mode, error);  // best effort: the content matters more

        fs::rename(temporaryPath, targetPath, error);
        if (error) {
            wxLogError(wxS("Can't replace '%s': %s"), target, wxString::FromUTF8(error.message().c_str()));
            complete = false;
        }
    }
    if (!complete) fs::remove(temporaryPath, error);
    return complete;
}

// What is left of `in`, whole.
wxMemoryBuffer ReadAll(wxInputStream& in)
{
    constexpr size_t chunk = 64 * 1024;
    wxMemoryBuffer bytes;
    do {
        in.Read(bytes.GetAppendBuf(chunk), chunk);
        bytes.UngetAppendBuf(in.LastRead());
    } while (in.LastRead() > 0 && in.GetLastError() == wxSTREAM_NO_ERROR);
    return bytes;
}

// UTF-16 with a damaged unit, decoded unit by unit: a surrogate without its
// partner becomes U+FFFD and the rest of the text is kept.
wxString DecodeUtf16Leniently(const char* data, size_t units, bool bigEndian)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    const auto unitAt = [&](size_t i) -> wxUint32 {
        const wxUint32 first = bytes[2 * i];
        const wxUint32 second = bytes[2 * i + 1];
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    wxString text;
    text.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        const wxUint32 unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const wxUint32 low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                text += wxUniChar(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        text += (unit >= 0xD800 && unit <= 0xDFFF) ? wxUniChar(0xFFFD) : wxUniChar(unit);
    }
    return text;
}

// Notepad's "ANSI" on Chinese Windows and many Chinese editors save in GBK
// (code page 936). The toolkit converts through iconv on Linux and through
// the system's code page tables on Windows, as the message encoder does.
bool DecodeGbk(const char* data, size_t length, wxString& text)
{
    const wxCSConv gbk(wxFONTENCODING_CP936);
    if (!gbk.IsOk() || gbk.ToWChar(nullptr, 0, data, length) == wxCONV_FAILED) return false;
    text = wxString(data, gbk, length);
    return !text.empty();
}

// The text of an INI file: a byte-order mark chooses the encoding, without
// one the bytes are UTF-8, else GBK when they read whole as GBK, else a
// single-byte encoding.
wxString DecodeIni(const char* data, size_t length, bool& lossy, bool& gbk)
{
    lossy = false;
    gbk = false;
    if (length == 0) return wxString();
    const wxBOM leading = wxConvAuto::DetectBOM(data, length);
    if ((leading == wxBOM_None || leading == wxBOM_Unknown) &&
        wxMBConvStrictUTF8().ToWChar(nullptr, 0, data, length) == wxCONV_FAILED) {
        wxString text;
        if (DecodeGbk(data, length, text)) {
            gbk = true;
            return text;
        }
    }
    wxString text(data, wxConvAuto(), length);
    if (!text.empty()) return text;
    size_t onlyMark = 0;
    const wxBOM found = wxConvAuto::DetectBOM(data, length);
    if (found != wxBOM_None && found != wxBOM_Unknown && wxConvAuto::GetBOMChars(found, &onlyMark) &&
        onlyMark == length) {
        return wxString();  // a mark and nothing else: an empty file
    }
    lossy = true;

    // Only a mark whose encoding the bytes then break gets here. An empty
    // text would let the next save wipe the file, so keep what can be kept:
    // a cut-off last UTF-16 or UTF-32 unit is dropped, invalid UTF-8 becomes
    // private-use characters, a lone UTF-16 surrogate U+FFFD, anything else is read byte by byte.
    const wxBOM mark = wxConvAuto::DetectBOM(data, length);
    size_t markLength = 0;
    // The toolkit asserts when asked for the bytes of no mark at all.
    if (mark == wxBOM_None || mark == wxBOM_Unknown || !wxConvAuto::GetBOMChars(mark, &markLength)) markLength = 0;
    const size_t unit = (mark == wxBOM_UTF16LE || mark == wxBOM_UTF16BE) ? 2
                      : (mark == wxBOM_UTF32LE || mark == wxBOM_UTF32BE) ? 4 : 1;
    const size_t whole = length - (length - markLength) % unit;
    if (whole != length) {
        text = wxString(data, wxConvAuto(), whole);
        if (!text.empty()) return text;
    }
    if (mark == wxBOM_UTF8) {
        return wxString(data + markLength, wxMBConvUTF8(wxMBConvUTF8::MAP_INVALID_UTF8_TO_PUA), length - markLength);
    }
    if (unit == 2) return DecodeUtf16Leniently(data + markLength, (whole - markLength) / 2, mark == wxBOM_UTF16BE);
    return wxString(data + markLength, wxCSConv(wxFONTENCODING_ISO8859_1), length - markLength);
}

// A damaged UTF-16 file can hold a lone surrogate, which has no UTF-8 form:
// converting the whole text would then fail and leave the config empty, and
// the save at exit would write that emptiness over the file. The string's own
// units are cleaned, so a valid pair (two units on Windows) stays whole.
wxString WithoutLoneSurrogates(const wxString& text)
{
    const wxWCharBuffer units = text.wc_str();
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) {
        const std::u16string clean = rq::config::WithoutLoneSurrogates(
            std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.length()));
        return wxString(reinterpret_cast<const wchar_t*>(clean.data()), clean.size());
    } else {
        const std::u32string clean = rq::config::WithoutLoneSurrogates(
            std::u32string_view(reinterpret_cast<const char32_t*>(units.data()), units.length()));
        return wxString(reinterpret_cast<const wchar_t*>(clean.data()), clean.size());
    }
}

// wxFileConfig asserts on a group header that appears twice and on an entry
// line without a name, although it reads both sensibly (the groups merge, the
// line is kept). A hand-edited file must not bring up an assertion box.
class QuietAsserts {
public:
    QuietAsserts() : previous(wxSetAssertHandler(nullptr)) {}
    ~QuietAsserts() { wxSetAssertHandler(previous); }
    QuietAsserts(const QuietAsserts&) = delete;
    QuietAsserts& operator=(const QuietAsserts&) = delete;

private:
    wxAssertHandler_t previous;
};

// Collects what the parser logs, whether or not the caller has logging off,
// so that the file's problems reach the store instead of a box of their own.
class ParserMessages : public wxLog {
public:
    ParserMessages()
        : main(wxThread::IsMain()),
          previous(main ? wxLog::SetActiveTarget(this) : wxLog::SetThreadActiveTarget(this)),
          wasEnabled(wxLog::EnableLogging(true))
    {
    }
    ~ParserMessages() override
    {
        wxLog::EnableLogging(wasEnabled);
        if (main) {
            wxLog::SetActiveTarget(previous);
        } else {
            wxLog::SetThreadActiveTarget(previous);
        }
    }
    ParserMessages(const ParserMessages&) = delete;
    ParserMessages& operator=(const ParserMessages&) = delete;

    wxArrayString messages;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo&) override
    {
        if (level <= wxLOG_Warning) messages.Add(message);
    }

private:
    bool main;
    wxLog* previous;
    bool wasEnabled;
};

// Whether the parser reads `line` as blank, a comment, a [group] or a
// name=value entry; a backslash escapes the character after it, as there.
bool ParserReadsLine(const wxString& line)
{
    auto at = line.begin();
    while (at != line.end() && wxIsspace(*at)) ++at;
    if (at == line.end() || *at == ';' || *at == '#') return true;
    const wxUniChar wanted = *at == '[' ? ']' : '=';
    for (; at != line.end(); ++at) {
        if (*at == '\\') {
            if (++at == line.end()) return false;
        } else if (*at == wanted) {
            return true;
        }
    }
    return false;
}

// A line the parser cannot read would stay in the file at every save and
// bring the same warning at every start: it is kept for the user as a
// comment instead, under a note saying why.
wxString CommentOutUnreadLines(const wxString& text)
{
    wxString out;
    size_t start = 0;
    while (start < text.length()) {
        const size_t end = text.find(wxUniChar('\n'), start);
        const size_t next = end == wxString::npos ? text.length() : end + 1;
        const wxString line = text.substr(start, next - start);
        wxString bare = line;
        bare.Trim();
        if (!ParserReadsLine(bare)) {
            out += wxS("; The line below was not read: it is neither a [group] nor a name=value setting.\n; ");
        }
        out += line;
        start = next;
    }
    return out;
}

std::unique_ptr<wxFileConfig> ParseIni(const wxMemoryBuffer& bytes, wxArrayString& problems, bool& lossy, bool& gbk)
{
    // Decoded here rather than by wxFileConfig, which reads no UTF-16 from a
    // stream although the converter would.
    const wxString decoded = DecodeIni(static_cast<const char*>(bytes.GetData()), bytes.GetDataLen(), lossy, gbk);
    const wxString text = WithoutLoneSurrogates(decoded);
    // The parser reads no further than a NUL: what follows it would be lost.
    lossy = lossy || text != decoded || text.find(wxUniChar(0)) != wxString::npos;
    const wxScopedCharBuffer utf8 = text.utf8_str();
    wxMemoryInputStream in(utf8.data(), utf8.length());
    QuietAsserts quiet;
    ParserMessages parser;
    auto config = std::make_unique<wxFileConfig>(in, wxMBConvUTF8());
    problems = parser.messages;
    if (!problems.empty()) {
        const wxString keptText = CommentOutUnreadLines(text);
        const wxScopedCharBuffer kept = keptText.utf8_str();
        wxMemoryInputStream keptIn(kept.data(), kept.length());
        config = std::make_unique<wxFileConfig>(keptIn, wxMBConvUTF8());
    }
    return config;
}

}  // namespace

IniFile::IniFile(const wxString& filePath)
    : path(filePath)
{
    EnsureFileExists(path);
    stream = std::make_unique<wxFileInputStream>(path);
    // A stream that never opened is already logged; reading it would only
    // add asserts, so the config then starts empty.
    const wxMemoryBuffer bytes = stream->IsOk() ? ReadAll(*stream) : wxMemoryBuffer();
    wxArrayString parserMessages;
    bool lossy = false;
    config = ParseIni(bytes, parserMessages, lossy, readAsGbk);

    wxFileName fullName(path);
    fullName.MakeAbsolute();
    const wxString fullPath = fullName.GetFullPath();
    for (const wxString& message : parserMessages) problems.Add(NameTheFile(message, fullPath));
    if (lossy) {
        problems.Add(wxString::Format(_("file '%s': some bytes are not valid text and were replaced."), fullPath));
    }
    if (NeedsKeptCopy()) original = bytes;
}

IniFile::~IniFile()
{
    Close();
}

void IniFile::Close()
{
    config.reset();
    stream.reset();
}

bool IniFile::KeepCopyOfOriginal()
{
    // A file that stays damaged would otherwise gain a copy at every exit:
    // an earlier copy holding the same bytes already keeps them.
    const auto holdsOriginal = [this](const wxString& name) {
        wxFile earlier;
        wxLogNull quiet;
        if (!earlier.Open(name) || earlier.Length() != static_cast<wxFileOffset>(original.GetDataLen())) return false;
        const size_t size = original.GetDataLen();
        std::vector<char> bytes(size);
        return size == 0 || (earlier.Read(bytes.data(), size) == static_cast<ssize_t>(size) &&
                             std::memcmp(bytes.data(), original.GetData(), size) == 0);
    };
    for (unsigned long n = 0; n < 10000; ++n) {
        const wxString name = CopyName(path, n);
        if (wxFileName::Exists(name, wxFILE_EXISTS_ANY | wxFILE_EXISTS_NO_FOLLOW)) {
            if (!holdsOriginal(name)) continue;
            keptCopyPath = name;
            original.Clear();
            return true;
        }
        // Created exclusively: a copy made meanwhile by another program is
        // never overwritten; the next name is tried instead.
        wxFile copy;
        {
            wxLogNull quiet;
            if (!copy.Create(name, false, wxS_DEFAULT)) {
                if (wxFileName::Exists(name, wxFILE_EXISTS_ANY | wxFILE_EXISTS_NO_FOLLOW)) continue;
                break;
            }
        }
        const size_t size = original.GetDataLen();
        bool complete = size == 0 || copy.Write(original.GetData(), size) == size;
        complete = complete && copy.Flush();
        complete = copy.Close() && complete;
        if (complete) {
            keptCopyPath = name;
            original.Clear();
            return true;
        }
        wxRemoveFile(name);
        break;
    }
    wxLogError(_("Can't keep a copy of '%s' before saving it: the file is left as it is."), path);
    return false;
}

bool IniFile::Save()
{
    if (!config) return false;
    if (NeedsKeptCopy() && keptCopyPath.empty() && !KeepCopyOfOriginal()) return false;
    // A fresh converter writes UTF-8 without a byte-order mark, whatever the
    // file was read as.
    wxMemoryOutputStream content;
    if (!config->Save(content, wxConvAuto())) return false;
    // The whole file is in memory; Windows refuses to replace a file that is
    // still open for reading.
    stream.reset();
    return ReplaceFileContent(path, content.GetOutputStreamBuffer()->GetBufferStart(),
                              static_cast<size_t>(content.GetLength()));
}

wxString CopyName(const wxString& path, unsigned long n)
{
    return n == 0 ? path + wxS(".bad") : wxString::Format(wxS("%s.bad.%lu"), path, n);
}

wxString NameTheFile(const wxString& message, const wxString& fullPath)
{
    wxString named = message;
    if (!named.Replace(wxS("''"), wxS("'") + fullPath + wxS("'"), false)) named = fullPath + wxS(": ") + message;
    return named;
}

bool EnsureFileExists(const wxString& path)
{
    const wxString directory = wxFileName(path).GetPath(wxPATH_GET_VOLUME);
    // Only the last level: a missing parent makes this fail, as intended.
    if (!directory.empty() && !wxFileName::Exists(directory)) wxFileName::Mkdir(directory, wxS_DIR_DEFAULT, 0);
    if (!wxFileName::FileExists(path)) {
        wxFile file;
        file.Create(path, false, wxS_DEFAULT);
    }
    return wxFileName::FileExists(path);
}

}  // namespace rq::config
