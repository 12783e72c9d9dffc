// What the bus makes of a frame: which controller answers it and with what,
// and what each sign takes from it; then the state lines and snapshots.

#include "sim/simulator.h"

#include <vector>

namespace rq::sim {

bool Simulator::HandleFrame(const Bytes& frame, Clock::time_point complete)
{
    ++frames;
    if (!Record(frame)) std::perror("rq-m4x-sim: record");
    if (options.hangupBefore) return false;

    const bool last = options.hangupAfter || (options.count > 0 && frames >= options.count);
    if (options.silent) {
        TakeIntoSigns(frame, -1);
        return !last;
    }

    std::uint8_t status = Judge(frame);
    if (bus) {
        const std::optional<std::uint8_t> answer = BusAnswer(frame);
        if (!answer) {
            TakeIntoSigns(frame, -1);
            return !last;
        }
        status = *answer;
    }
    Bytes reply;
    if (options.reply) reply = *options.reply;
    else reply.push_back(options.status ? *options.status : status);
    TakeIntoSigns(frame, reply[0]);
    pending.push_back({complete + std::chrono::milliseconds(options.delayMs), reply, last, ByteTime()});
    return true;
}

std::optional<std::uint8_t> Simulator::BusAnswer(const Bytes& frame)
{
    const std::uint8_t status = Judge(frame);
    // No controller can trust the address byte of a frame that fails the
    // checks; the bus answers it as one controller would.
    if (status != STATUS_SUCCESS) return status;
    const std::optional<std::uint8_t> address = AddressOf(frame);
    // Every controller takes a frame without an address; one answers it.
    if (!address) return status;
    const auto controller = bus->find(*address);
    if (controller == bus->end()) return std::nullopt;  // an absent sign
    if (controller->second) return *controller->second;
    if (frame[4] == CODE_CHANGE_ID) {
        // The controller answers to its new ID from now on.
        const int newId = frame[5];
        bus->erase(controller);
        (*bus)[newId] = std::nullopt;
    }
    return status;
}

void Simulator::TakeIntoSigns(const Bytes& frame, int status)
{
    const std::int64_t now = WallMs();
    const bool good = Judge(frame) == STATUS_SUCCESS;
    const std::optional<std::uint8_t> address = good ? AddressOf(frame) : std::nullopt;
    const int addressed = address ? *address : -1;
    {
        std::lock_guard lock(board.mutex);
        // The signs the frame is for: the lone sign takes every frame; on a
        // bus the addressed one, or all of them when there is no address.
        std::vector<int> takers;
        if (!bus) {
            takers.push_back(-1);
        } else if (good) {
            if (addressed < 0) {
                for (const auto& entry : board.signs) takers.push_back(entry.first);
            } else if (board.signs.count(addressed)) {
                takers.push_back(addressed);
            }
        }
        for (const int id : takers) {
            rq::sim::SignState& sign = board.signs[id];
            sign.lastFrame = HexLine(frame);
            sign.lastStatus = status;
            // Only a frame the sign judged good changes it.
            if (status != STATUS_SUCCESS || !good) continue;
            const std::size_t code = address ? 4 : 3;
            ApplyCommand(sign, frame.data() + code, frame.size() - 2 - code, now);
            // Without an address the bus does not move its signs (see BusAnswer).
            if (bus && !address) sign.id = id;
            if (bus && sign.id != id) {
                // "Change ID" moved it: the state goes with it.
                rq::sim::SignState moved = sign;
                board.signs.erase(id);
                board.signs[moved.id] = moved;
            }
        }
    }
    ++board.changes;
    Observe();
}

// The state lines and snapshots of every sign after a frame.
void Simulator::Observe()
{
    if (!stateFile && options.snapshotDir.empty()) return;
    const std::int64_t now = WallMs();
    std::lock_guard lock(board.mutex);
    for (const auto& [id, sign] : board.signs) {
        if (stateFile) std::fprintf(stateFile, "%s\n", rq::sim::StateJson(sign, now).c_str());
        if (!options.snapshotDir.empty()) {
            const std::string name = options.snapshotDir + "/sign-" + (id < 0 ? "" : std::to_string(id) + "-") +
                                     std::to_string(frames) + ".png";
            if (!rq::sim::WritePng(rq::sim::DrawPanel(sign, font, now), name))
                std::fprintf(stderr, "rq-m4x-sim: cannot write %s\n", name.c_str());
        }
    }
    if (stateFile) std::fflush(stateFile);
}

}  // namespace rq::sim
