#include "platform/running_mark.h"

namespace rq::app {

// Package managers replace a running program's files safely: nothing to mark.
RunningMark::RunningMark() = default;
RunningMark::~RunningMark() = default;

}  // namespace rq::app
