#pragma once
// find-signs as a plan: the ports, the IDs, the rates, the wait and the probe's
// code, all checked before the first probe is sent. Plain C++.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/send_arguments.h"
#include "cli/send_request.h"
#include "serial/sign_search.h"

namespace rq::cli {

inline constexpr char kFindSignsWord[] = "find-signs";

// A probe's wait when --wait is not given: 256 probes and their settles at
// one rate (each waits again as long for the line to fall quiet after a
// silent probe) in about 35 s, under the 40 s a technician will wait.
inline constexpr int kDefaultProbeWaitMs = 60;
// The longest a sign may take to answer: the window's reply wait.
inline constexpr int kLongestAnswerMs = 500;

struct FindPlan {
    std::vector<std::string> ports;  // one bus each
    rq::serial::SearchSettings search;
    std::uint8_t probeCode = 0;
    bool parallel = false;  // the ports at once (more than one)
    std::string error;      // set when nothing may be sent
};

// `saved` is given with --from.
FindPlan PlanFindSigns(const Arguments& arguments, const SavedSetup* saved);

}  // namespace rq::cli
