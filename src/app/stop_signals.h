#pragma once
// A stop asked of the process from outside (Ctrl-C in the terminal that
// started it, or a service manager's stop) closes the window as its Quit
// would, so that the settings are saved. One file per platform.

namespace rq::app {

void CloseWindowOnStopSignals();

}  // namespace rq::app
