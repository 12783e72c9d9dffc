#include "platform/running_mark.h"

#include <windows.h>

namespace rq::app {

// A named mutex lives while a process holds a handle to it; the installer
// only asks whether it exists. Without it the program still runs.
RunningMark::RunningMark() : handle(CreateMutexW(nullptr, FALSE, kRunningMarkName)) {}

RunningMark::~RunningMark()
{
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
}

}  // namespace rq::app
