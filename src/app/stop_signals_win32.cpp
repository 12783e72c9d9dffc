#include "app/stop_signals.h"

namespace rq::app {

// A windowed program has no console whose Ctrl-C could reach it.
void CloseWindowOnStopSignals() {}

}  // namespace rq::app
