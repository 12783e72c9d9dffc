#pragma once
// Tells the Windows installer and uninstaller that the program is running, for
// as long as the object lives, so that they neither replace nor remove an
// executable in use. One file per platform (running_mark_posix.cpp, _win32.cpp).

namespace rq::app {

// The name the installer looks for (data/windows/installer.nsi).
inline constexpr wchar_t kRunningMarkName[] = L"RQ-M4x-LED-Test.Running";

class RunningMark {
public:
    RunningMark();
    ~RunningMark();
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    void* handle = nullptr;
};

}  // namespace rq::app
