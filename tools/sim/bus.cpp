// What the bus makes of a frame: which controller answers it, with what and
// how late, and what each sign takes from it; then the state lines and
// snapshots.

#include "sim/simulator.h"

#include <vector>

namespace rq::sim {

bool Simulator::HandleFrame(const Bytes& frame, Clock::time_point complete)
{
    ++frames;
    if (!Record(frame)) std::perror("rq-m4x-sim: record");
    if (options.hangupBefore) return false;

    const bool last = options.hangupAfter || (options.count > 0 && frames >= options.count);
    // Sent at another rate than the controller's, the bytes are noise to it.
    if (options.baud && ClientRate() > 0 && ClientRate() != options.baud) return !last;
    const FrameReading reading = ReadFrame(frame, options.addressing);
    if (options.silent) {
        TakeIntoSigns(frame, reading, -1);
        return !last;
    }

    std::uint8_t status = reading.status;
    int delayMs = options.delayMs;
    if (bus) {
        const std::optional<std::uint8_t> answer = BusAnswer(frame, reading, delayMs);
        if (!answer) {
            TakeIntoSigns(frame, reading, -1);
            return !last;
        }
        status = *answer;
    }
    Bytes reply;
    if (options.reply) reply = *options.reply;
    else reply.push_back(options.status ? *options.status : status);
    TakeIntoSigns(frame, reading, reply[0]);
    pending.push_back({complete + std::chrono::milliseconds(delayMs), reply, last, ByteTime()});
    return true;
}

std::optional<std::uint8_t> Simulator::BusAnswer(const Bytes& frame, const FrameReading& reading, int& delayMs)
{
    // No controller can trust the address byte of a frame that fails the
    // envelope's checks, and every controller takes a frame without an
    // address: the bus answers either as one controller would.
    if (!reading.address) return reading.status;
    const auto controller = bus->find(*reading.address);
    if (controller == bus->end()) return std::nullopt;  // an absent sign
    if (controller->second.delayMs) delayMs = *controller->second.delayMs;
    if (controller->second.failure) return *controller->second.failure;
    if (reading.status == STATUS_SUCCESS && frame[reading.code] == CODE_CHANGE_ID) {
        // The controller answers to its new ID from now on, as late as before.
        const int newId = frame[reading.code + 1];
        const Controller moved = controller->second;
        bus->erase(controller);
        (*bus)[newId] = moved;
    }
    return reading.status;
}

void Simulator::TakeIntoSigns(const Bytes& frame, const FrameReading& reading, int status)
{
    const std::int64_t now = WallMs();
    const bool good = reading.status == STATUS_SUCCESS;
    const int addressed = reading.address ? *reading.address : -1;
    std::map<int, SignState> observed;
    {
        std::lock_guard lock(board.mutex);
        // The signs the frame is for: the lone sign takes every frame; on a
        // bus the addressed one, or all of them when there is no address.
        std::vector<int> takers;
        if (!bus) {
            takers.push_back(-1);
        } else if (!good) {
            // No sign can tell whom it was for: the bus shows it.
            board.lastBusFrame = HexLine(frame);
            board.lastBusStatus = status;
        } else if (addressed < 0) {
            for (const auto& entry : board.signs) takers.push_back(entry.first);
        } else if (board.signs.count(addressed)) {
            takers.push_back(addressed);
        }
        for (const int id : takers) {
            rq::sim::SignState& sign = board.signs[id];
            sign.lastFrame = HexLine(frame);
            sign.lastStatus = status;
            // Only a frame the sign judged good changes it.
            if (status != STATUS_SUCCESS || !good) continue;
            ApplyCommand(sign, frame.data() + reading.code, frame.size() - 2 - reading.code, now);
            // Without an address the bus does not move its signs (see BusAnswer).
            if (bus && !reading.address) sign.id = id;
            if (bus && sign.id != id) {
                // "Change ID" moved it: the state goes with it.
                rq::sim::SignState moved = sign;
                board.signs.erase(id);
                board.signs[moved.id] = moved;
            }
        }
        if (stateFile || snapshots) observed = board.signs;
    }
    ++board.changes;
    // The state lines cost little and are there when the reply is; the
    // pictures are drawn after it.
    if (stateFile) {
        for (const auto& entry : observed)
            std::fprintf(stateFile, "%s\n", rq::sim::StateJson(entry.second, now).c_str());
        std::fflush(stateFile);
    }
    if (snapshots) snapshotDue = Snapshot{frames, std::move(observed), now};
}

// Hands the pictures of the last frame to the writer, once its reply is out
// (or due later).
void Simulator::QueueSnapshots()
{
    if (!snapshotDue) return;
    snapshots->Queue(snapshotDue->frame, std::move(snapshotDue->signs), snapshotDue->nowMs);
    snapshotDue.reset();
}

}  // namespace rq::sim
