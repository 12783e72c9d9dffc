#pragma once
// The batch file of --script: one command per line, written as on the command
// line. Words are split the way a POSIX shell splits them, without expansion:
// single quotes keep everything, double quotes keep everything but \" and \\,
// a backslash outside quotes keeps the next character, and "#" at the start
// of a word begins a comment. Plain C++ over UTF-8 text.

#include <string>
#include <vector>

namespace rq::cli {

struct SplitResult {
    std::vector<std::string> words;
    std::string error;  // set when a quote is left open or a backslash ends the line
};

SplitResult SplitWords(const std::string& line);

struct ScriptLine {
    int number = 0;  // counted from 1
    std::vector<std::string> words;
};

struct ScriptResult {
    std::vector<ScriptLine> lines;  // blank and comment-only lines left out
    int errorLine = 0;              // the line of `error`
    std::string error;
};

struct ScriptDecoding {
    std::string text;   // UTF-8
    std::string error;  // set when the bytes promise UTF-16 and break it
};

// A script's bytes as text. UTF-16 with a byte-order mark (little or big
// endian: Notepad's "Unicode", PowerShell's redirections) is converted to
// UTF-8; anything else, UTF-8 with or without its mark, is taken as it is.
ScriptDecoding DecodeScript(const std::string& bytes);

// Splits a whole script. A byte-order mark at the start and a carriage return
// before each line end are ignored, so files saved by Windows editors read alike.
ScriptResult SplitScript(const std::string& text);

// The words joined into one line that SplitWords reads back as the same
// words: a word with characters the shell treats specially goes in single quotes.
std::string JoinQuoted(const std::vector<std::string>& words);

}  // namespace rq::cli
