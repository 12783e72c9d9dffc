#include "app/running_mark.h"

#include <wx/snglinst.h>

namespace rq::app {

// Package managers replace a running program's files safely: nothing to mark.
RunningMark::RunningMark() = default;
RunningMark::~RunningMark() = default;

struct FolderLock::Impl {
    wxSingleInstanceChecker checker;
};

FolderLock::FolderLock(const std::string& name) : impl(std::make_unique<Impl>())
{
    anotherCopy = impl->checker.Create(wxString::FromUTF8(name)) && impl->checker.IsAnotherRunning();
}

FolderLock::~FolderLock() = default;

}  // namespace rq::app
