// rq-m4x-sim: a simulated LED sign controller on a pseudo-terminal.
//
// Prints the terminal's path on stdout, then answers every command frame that
// arrives with one status byte, as a controller does. The frame checks are
// written on their own, not borrowed from the program, so that a fault in the
// program's frame encoder shows up as a wrong status instead of being
// mirrored. Options make it misbehave for tests: stay silent, answer late,
// answer other bytes, or hang up. With --ids it is a bus of controllers, each
// answering to its own ID, as the signs of one RS-485 line do. With --paced
// bytes take their time on the wire both ways, as on a real line: a
// pseudo-terminal passes them at once. Each sign keeps what its commands set
// (tools/sim/sign.*): --state, --snapshot and --show let one see it.
//
// Its rooms (tools/sim/): the options (options.*), the frame checks
// (frame_check.*), the line and the answering loop (simulator.*), what the
// bus makes of a frame (bus.cpp).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/running_mark.h"
#include "sim/board.h"
#include "sim/line.h"
#include "sim/options.h"
#include "sim/panel.h"
#include "sim/simulator.h"

using rq::sim::Options;
using rq::sim::ParseOptions;
using rq::sim::Simulator;
using rq::sim::USAGE;

namespace {

// What the window's thread needs when the display goes away under it.
struct Serving {
    std::thread* line = nullptr;
    Simulator* simulator = nullptr;
    const int* status = nullptr;
} serving;

// The display gone under the open window: the line serves on without it
// until it is stopped; then the program ends here, its link removed. The
// window's thread never returns to the toolkit.
void ServeWithoutWindow()
{
    std::fputs("rq-m4x-sim: the display went away; serving without the window\n", stderr);
    serving.line->join();
    serving.simulator->Shutdown();
    std::fflush(nullptr);
    std::_Exit(*serving.status);
}

}  // namespace

int main(int argc, char** narrowArgv)
{
    // Every name in UTF-8: Windows' narrow argv holds only what its ANSI code
    // page can say.
    std::vector<std::string> arguments = rq::sim::Arguments(argc, narrowArgv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    char** argv = pointers.data();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("rq-m4x-sim " RQ_VERSION "\n", stdout);
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "rq-m4x-sim: %s\n", error.c_str());
        return 2;
    }
    // Without a terminal only a TCP line can be served.
    if (!options.listen && !rq::sim::HasPseudoTerminal()) {
        std::fputs("rq-m4x-sim: Windows has no pseudo-terminal: give --listen tcp://HOST:PORT or\n"
                   "rfc2217://HOST:PORT, e.g.\n"
                   "  rq-m4x-sim --listen tcp://127.0.0.1:0\n",
                   stderr);
        return 2;
    }
    if (!rq::sim::InstallStopWaker()) return 1;
    // An installer started meanwhile waits instead of replacing this program.
    const rq::app::RunningMark runningMark;

    rq::sim::BitmapFont font;
    const bool drawing = options.show || !options.snapshotDir.empty();
    if (drawing && !font.Load(options.fontPath))
        std::fprintf(stderr, "rq-m4x-sim: cannot read the font %s: characters are drawn as boxes\n",
                     options.fontPath.c_str());
    rq::sim::Board board;
    Simulator simulator(options, board, font);
    if (!simulator.Start()) return 1;
    // The toolkit aborts without a display: serve on without the window.
    const bool display = rq::sim::DisplayAvailable();
    if (options.show && !display)
        std::fputs("rq-m4x-sim: no display for --show; serving without the window\n", stderr);
    if (!options.show || !display) return simulator.Run();

    // The line on a thread of its own; the window on the main thread, as the
    // toolkit wants. Closing the window stops the line, and a stopped line
    // closes the window.
    int status = 0;
    std::thread line([&] {
        status = simulator.Run();
        rq::sim::CloseWindow();
    });
    serving = {&line, &simulator, &status};
    const int shown = rq::sim::ShowWindow(argc, argv, board, font, rq::sim::RequestStop, ServeWithoutWindow);
    if (shown < 0) std::fputs("rq-m4x-sim: the window did not open; serving without it\n", stderr);
    line.join();
    return shown > 0 ? shown : status;
}
