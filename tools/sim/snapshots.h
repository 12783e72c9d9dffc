#pragma once
// The PNG snapshots, written on a thread of their own after the reply has
// gone out: an answer never waits for drawing or files. When frames come
// faster than the pictures can be written, the ones still waiting are
// skipped, and standard error says so.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/panel.h"
#include "sim/sign.h"

namespace rq::sim {

class SnapshotWriter {
public:
    SnapshotWriter(std::string folder, const BitmapFont& font);
    // Writes what is still waiting, then ends the thread.
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    // The signs after frame `frame`, as they were at `nowMs`.
    void Queue(long frame, std::map<int, SignState> signs, std::int64_t nowMs);

private:
    struct Job {
        long frame;
        std::map<int, SignState> signs;
        std::int64_t nowMs;
    };
    void Run();
    void Write(const Job& job) const;

    const std::string folder;
    const BitmapFont& font;
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Job> waiting;
    bool ending = false;
    std::thread thread;
};

// The picture a snapshot holds at `nowMs`: the panel as shown then, except
// that a scrolling text still coming in from the right edge is drawn where
// its start reaches the left edge, so that the picture shows the text.
PanelImage DrawSnapshot(const SignState& sign, const BitmapFont& font, std::int64_t nowMs);

}  // namespace rq::sim
