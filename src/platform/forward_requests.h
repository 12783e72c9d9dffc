#pragma once
// A second start in a settings folder that a window already keeps brings that
// window forward instead of opening one of its own, as desktop programs do.
// One file per platform (forward_requests_posix.cpp, _win32.cpp).

#include <memory>
#include <string>

class wxTopLevelWindow;

namespace rq::app {

// Held by the copy that keeps the folder whose lock is named `name`, for as
// long as `window` is open: a later start may then bring it forward.
class ForwardRequests {
public:
    ForwardRequests(const std::string& name, wxTopLevelWindow* window);
    ~ForwardRequests();
    ForwardRequests(const ForwardRequests&) = delete;
    ForwardRequests& operator=(const ForwardRequests&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Asks the copy holding `name` to bring its window forward. False where no
// copy of this user's session answers (another user's session holds the
// folder, or the window is still starting): the caller then says so instead.
bool BringRunningCopyForward(const std::string& name);

}  // namespace rq::app
