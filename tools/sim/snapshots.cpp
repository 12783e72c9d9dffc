#include "sim/snapshots.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <wx/filefn.h>
#include <wx/string.h>

#include "sim/board.h"

namespace rq::sim {

SnapshotWriter::SnapshotWriter(std::string folder, const BitmapFont& font)
    : folder(std::move(folder)), font(font), thread([this] { Run(); })
{
}

SnapshotWriter::~SnapshotWriter()
{
    {
        std::lock_guard lock(mutex);
        ending = true;
    }
    wake.notify_one();
    thread.join();
}

void SnapshotWriter::Queue(long frame, std::map<int, SignState> signs, std::int64_t nowMs)
{
    {
        std::lock_guard lock(mutex);
        if (waiting)
            std::fprintf(stderr, "rq-m4x-sim: snapshots of frame %ld skipped: the drawing fell behind\n",
                         waiting->frame);
        waiting = Job{frame, std::move(signs), nowMs};
    }
    wake.notify_one();
}

void SnapshotWriter::Run()
{
    for (;;) {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return waiting || ending; });
        if (!waiting) return;
        const Job job = std::move(*waiting);
        waiting.reset();
        lock.unlock();
        Write(job);
    }
}

void SnapshotWriter::Write(const Job& job) const
{
    for (const auto& [id, sign] : job.signs) {
        const std::string name =
            folder + "/sign-" + (id < 0 ? "" : std::to_string(id) + "-") + std::to_string(job.frame) + ".png";
        const PanelImage image = DrawSnapshot(sign, font, job.nowMs);
        if (image.width == 0 || image.height == 0) {
            std::fprintf(stderr, "rq-m4x-sim: no snapshot %s: the panel has no dots to draw (%d x %d)\n",
                         name.c_str(), sign.widthDots, sign.heightDots);
            continue;
        }
        // Written under another name and renamed: a reader never sees half a picture.
        // Names are UTF-8: on Windows only the toolkit's calls take them whole.
        const std::string part = name + ".part";
        if (!WritePng(image, part) ||
            !wxRenameFile(wxString::FromUTF8(part.c_str()), wxString::FromUTF8(name.c_str()), true)) {
            wxRemoveFile(wxString::FromUTF8(part.c_str()));
            std::fprintf(stderr, "rq-m4x-sim: cannot write %s\n", name.c_str());
        }
    }
}

PanelImage DrawSnapshot(const SignState& sign, const BitmapFont& font, std::int64_t nowMs)
{
    const int width = sign.widthDots;
    const std::int64_t textWidth = font.TextWidth(sign.message);
    if (width <= 0 || textWidth <= width || !TextLit(sign, nowMs)) return DrawPanel(sign, font, nowMs);
    const std::int64_t cycle = width + textWidth;
    const std::int64_t speed = ScrollDotsPerSecond(sign);
    const std::int64_t moved = std::max<std::int64_t>(0, nowMs - sign.shownSinceMs) * speed / 1000;
    if (moved % cycle >= width) return DrawPanel(sign, font, nowMs);
    // The first moment of this pass at which the start has moved a panel's width.
    const std::int64_t atEdge = moved / cycle * cycle + width;
    // Lit now: the other moment only places the text.
    SignState still = sign;
    still.blinking = false;
    return DrawPanel(still, font, sign.shownSinceMs + (atEdge * 1000 + speed - 1) / speed);
}

}  // namespace rq::sim
