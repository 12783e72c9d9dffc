#pragma once
// Waiting, bounded in time, until written bytes have left the line. The loop
// is plain C++ over what it asks of the driver and of the clock, so that a
// queue that empties slowly, or never, can be shown without a slow device.

#include <chrono>
#include <optional>

namespace rq::platform {

// What a drain asks of an open port. Each OS answers from its driver; tests
// answer from a script.
class OutputQueue {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~OutputQueue() = default;

    // Bytes the driver still holds for sending; false when it cannot be
    // asked (the port keeps the reason).
    virtual bool QueuedBytes(long& count) = 0;
    // Whether the transmitter has shifted out its last bit, where the driver
    // tells (a built-in UART on Linux); nothing where it does not.
    virtual std::optional<bool> TransmitterEmpty() = 0;
    virtual Clock::time_point Now() = 0;
    // Waits about `period` before the next question.
    virtual void Pause(std::chrono::milliseconds period) = 0;
};

enum class DrainResult { Sent, TimedOut, Failed };

// Asks at once, then about once a millisecond, until neither the queue nor
// the transmitter holds a byte, or `timeoutMs` have passed: a wedged adapter
// must not hold the transaction for ever.
DrainResult WaitUntilSent(OutputQueue& queue, int timeoutMs);

}  // namespace rq::platform
