#pragma once
// Named objects that tell who is running. The running mark tells the Windows
// installer and uninstaller that the program (the window or rq-m4x-send) is
// running, for as long as the object lives, so that they neither replace nor
// remove an executable in use. The folder lock keeps one window per settings
// folder. One file per platform (running_mark_posix.cpp, _win32.cpp).

#include <memory>
#include <string>

namespace rq::app {

// The name the installer looks for (data/windows/installer.nsi).
inline constexpr wchar_t kRunningMarkName[] = L"RQ-M4x-LED-Test.Running";

// Whether creating a named object showed another copy holding it, from
// whether a handle came back and the error code then: one that existed
// already (ERROR_ALREADY_EXISTS), or one whose access list keeps this copy
// out (ERROR_ACCESS_DENIED: a copy started as administrator made it).
inline bool HeldByAnotherCopy(bool gotHandle, unsigned long lastError)
{
    constexpr unsigned long kAccessDenied = 5;
    constexpr unsigned long kAlreadyExists = 183;
    return gotHandle ? lastError == kAlreadyExists : lastError == kAccessDenied;
}

class RunningMark {
public:
    RunningMark();
    ~RunningMark();
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    void* handle = nullptr;
};

// Held while this copy keeps the settings folder whose lock is named `name`
// (no separators). Windows: a mutex in the Global\ namespace, so that two
// remote-desktop sessions on one shared folder also get one window between
// them; elsewhere the toolkit's lock file.
class FolderLock {
public:
    explicit FolderLock(const std::string& name);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool AnotherCopyRunning() const { return anotherCopy; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
    bool anotherCopy = false;
};

}  // namespace rq::app
