// The folder lock; rq-m4x-send has only the running mark (running_mark_posix.cpp).
#include "platform/running_mark.h"

#include <wx/defs.h>  // snglinst.h needs the setup first
#include <wx/snglinst.h>

namespace rq::app {

struct FolderLock::Impl {
    wxSingleInstanceChecker checker;
};

FolderLock::FolderLock(const std::string& name) : impl(std::make_unique<Impl>())
{
    anotherCopy = impl->checker.Create(wxString::FromUTF8(name)) && impl->checker.IsAnotherRunning();
}

FolderLock::~FolderLock() = default;

}  // namespace rq::app
