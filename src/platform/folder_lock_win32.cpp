// The folder lock; rq-m4x-send has only the running mark (running_mark_win32.cpp).
#include "platform/running_mark.h"

#include <windows.h>

namespace rq::app {

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
