#pragma once
// The console around rq-m4x-send, one file per OS (console_posix.cpp,
// console_win32.cpp).

#include <string>
#include <vector>

namespace rq::cli {

// Whether standard output is a terminal that shows ANSI colours. On Windows
// this also switches the console to escape sequences and UTF-8 output.
bool PrepareColourOutput();

// The program's arguments, without its name, as UTF-8 text.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace rq::cli
