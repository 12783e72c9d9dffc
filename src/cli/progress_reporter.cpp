#include "cli/progress_reporter.h"

#include "cli/console.h"

namespace rq::cli {

namespace {

std::string MinutesAndSeconds(double seconds)
{
    const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

ProgressReporter::ProgressReporter(std::FILE* out, std::size_t total)
    : out(out), total(total), start(std::chrono::steady_clock::now())
{
}

std::string ProgressReporter::Text(std::size_t done, std::size_t total, std::size_t failed, double elapsedSeconds)
{
    std::string text = std::to_string(done) + "/" + std::to_string(total) + "  failed " + std::to_string(failed) +
                       "  elapsed " + MinutesAndSeconds(elapsedSeconds);
    if (done > 0 && done < total)
        text += "  left " + MinutesAndSeconds(elapsedSeconds / static_cast<double>(done) *
                                              static_cast<double>(total - done));
    return text;
}

void ProgressReporter::TransactionFinished(const PlannedTransaction& /*transaction*/, const TransactionRecord& record)
{
    ++done;
    if (record.outcome != Outcome::Success) ++failed;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string text = Text(done, total, failed, elapsed);
    // Written over from the line's start; the cursor stays at its end.
    PrintText(out, "\r" + text);
    std::fflush(out);
    shown = text.size();
}

void ProgressReporter::Erase()
{
    if (shown == 0) return;
    // Blanks over the line, not an escape sequence: every console takes them.
    PrintText(out, "\r" + std::string(shown, ' ') + "\r");
    std::fflush(out);
    shown = 0;
}

}  // namespace rq::cli
