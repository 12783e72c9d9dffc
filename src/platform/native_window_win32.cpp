#include "platform/native_window.h"

namespace rq::app {

// Windows shows a window at its size at once: nothing to prepare.
void PrepareFirstShow(wxTopLevelWindow*) {}

}  // namespace rq::app
