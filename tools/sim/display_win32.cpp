// The window's display on Windows is always there.

#include "sim/board.h"

namespace rq::sim {

void WhenDisplayLost(void (*)())
{
}

}  // namespace rq::sim
