#include "line/output_drain.h"

#include <algorithm>

namespace rq::platform {

namespace {

constexpr std::chrono::milliseconds kPollPeriod{1};

}  // namespace

DrainResult WaitUntilSent(OutputQueue& queue, int timeoutMs)
{
    const auto deadline = queue.Now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        long queued = 0;
        if (!queue.QueuedBytes(queued)) return DrainResult::Failed;
        if (queued <= 0) {
            // The queue may be empty while the last byte is still being shifted out.
            const std::optional<bool> empty = queue.TransmitterEmpty();
            if (!empty || *empty) return DrainResult::Sent;
        }
        const auto now = queue.Now();
        if (now >= deadline) return DrainResult::TimedOut;
        // Rounded up, so that a fraction of a millisecond left is still waited.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        queue.Pause(std::min(kPollPeriod, left));
    }
}

}  // namespace rq::platform
