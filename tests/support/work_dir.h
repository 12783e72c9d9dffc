#pragma once
// A fresh temporary directory made the current working directory for the
// lifetime of the object; the previous directory is restored and the
// temporary one removed afterwards. The program reads and writes relative to
// its working directory, so every test that starts it gets one of these.

#include <string>

namespace rq::test {

class WorkDir {
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& Path() const { return path; }

    // Writes `content` to `relative` (creating parent directories).
    void WriteFile(const std::string& relative, const std::string& content) const;
    // The whole content of `relative`; empty when it does not exist.
    std::string ReadFile(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

    // Copies the bundled runtime data (Modes/, img/, locale/) of the build.
    void CopyRuntimeData(bool modes = true, bool images = true, bool locale = true) const;

private:
    std::string previous;
    std::string path;
};

// `text` with the line ends the settings store writes on this platform: the
// toolkit ends an INI file's lines with CRLF on Windows, as Windows programs
// do, and with LF elsewhere.
std::string NativeLines(const std::string& text);

// Whether a file without write permission refuses this process's writes.
// Not for root on Linux, nor under Wine run by root (Windows itself refuses
// every user).
bool ReadOnlyFilesRefuseWriting();

}  // namespace rq::test
