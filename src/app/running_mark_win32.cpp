#include "app/running_mark.h"

#include <windows.h>

namespace rq::app {

// A named mutex lives while a process holds a handle to it; the installer
// only asks whether it exists. Without it the program still runs.
RunningMark::RunningMark() : handle(CreateMutexW(nullptr, FALSE, kRunningMarkName)) {}

RunningMark::~RunningMark()
{
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
}

struct FolderLock::Impl {
    HANDLE handle = nullptr;
};

FolderLock::FolderLock(const std::string& name) : impl(std::make_unique<Impl>())
{
    const std::string full = "Global\\" + name;
    const std::wstring wide(full.begin(), full.end());  // the name is ASCII
    impl->handle = CreateMutexW(nullptr, FALSE, wide.c_str());
    anotherCopy = HeldByAnotherCopy(impl->handle != nullptr, GetLastError());
}

FolderLock::~FolderLock()
{
    if (impl->handle) CloseHandle(impl->handle);
}

}  // namespace rq::app
