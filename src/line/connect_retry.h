#pragma once
// When a connect that has had no answer is started again. Where a refused
// connect is to be reported at once, Windows also stops sending the SYN
// again, so one SYN (or its answer) lost on the way would end the open;
// instead the connect is started anew on a doubling schedule within the
// time it has: at 0, 250, 750, 1750 ms ... Plain arithmetic, no OS calls.

namespace rq::platform {

// Milliseconds from the first attempt to the start of attempt `attempt`
// (0 is the first), or -1 when it would not start before `budgetMs` has
// passed. The first attempt always starts.
inline int ConnectAttemptStartMs(int attempt, int budgetMs)
{
    constexpr long long kFirstRetryMs = 250;
    long long start = 0;
    long long gap = kFirstRetryMs;
    for (int i = 0; i < attempt; ++i, gap *= 2) {
        start += gap;
        if (start >= budgetMs) return -1;
    }
    return static_cast<int>(start);
}

}  // namespace rq::platform
