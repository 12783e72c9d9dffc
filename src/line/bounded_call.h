#pragma once
// A blocking call that cannot be given a time-out of its own (a name lookup),
// made on a thread of its own so that the caller waits only as long as it
// may. Both OS files of the TCP socket use it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace rq::platform {

// Runs `work` and returns its result, or nothing when it has not finished
// within `timeoutMs`. A result that comes after the caller gave up is handed
// to `dispose` on the helper thread, which then ends: it shares nothing with
// the caller but the state it owns a reference to. Where no thread can be
// started, `work` runs on the caller's.
template <typename Result>
std::optional<Result> CallWithin(std::function<Result()> work, std::function<void(Result&)> dispose, int timeoutMs)
{
    struct Shared {
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<Result> result;
        bool abandoned = false;
    };
    auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work, dispose] {
            Result result = work();
            std::unique_lock<std::mutex> lock(shared->mutex);
            if (shared->abandoned) {
                lock.unlock();
                dispose(result);
                return;
            }
            shared->result = std::move(result);
            shared->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return work();
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                                   [&] { return shared->result.has_value(); })) {
        shared->abandoned = true;
        return std::nullopt;
    }
    return std::move(shared->result);
}

}  // namespace rq::platform
