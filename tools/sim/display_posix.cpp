// The window's display on X11: a server that goes away under an open window
// makes Xlib call its I/O error handler, which must not return (the
// toolkit's own ends the program at once, leaving the link behind).

#include "sim/board.h"

#include <X11/Xlib.h>

namespace rq::sim {

namespace {

void (*displayLost)() = nullptr;

int OnIoError(Display*)
{
    if (displayLost) displayLost();
    return 0;
}

}  // namespace

void WhenDisplayLost(void (*lost)())
{
    displayLost = lost;
    XSetIOErrorHandler(OnIoError);
}

}  // namespace rq::sim
