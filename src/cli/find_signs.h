#pragma once
// rq-m4x-send find-signs: every port of the plan searched through the session
// over the window's worker (one bus per port, at once for a list), then one
// line or JSON record per sign found and a summary. --log keeps every probe's
// lines.

#include <string>

#include "cli/find_plan.h"

namespace rq::cli {

// Returns the exit status: 0 when a sign answered, 7 when none did, the
// line's own status (8, 10) when it failed before any answered.
int RunFindSigns(const Arguments& arguments, const FindPlan& plan, const std::string& commandLine);

}  // namespace rq::cli
