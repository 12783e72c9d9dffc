#pragma once
// --log FILE: the same lines as the terminal shows, without colour and never
// shortened by --quiet, appended to a file after one header line per run, so
// a production line keeps what each sign received.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/human_reporter.h"
#include "serial/log_line.h"

namespace rq::cli {

// The header line: "==== <date time>  port <port>  baud <baud>  <command line>",
// with a "port <port>  baud <baud>" for each line of a run over several.
using rq::serial::LoggedLine;
using rq::serial::LogHeader;
using rq::serial::LogHeaderTime;

class LogFileReporter : public HumanReporter {
public:
    // Takes the open file and writes the header at once.
    LogFileReporter(std::FILE* file, const std::string& header, bool headings, const std::string& scriptName,
                    bool ports = false);
    ~LogFileReporter() override;
    LogFileReporter(const LogFileReporter&) = delete;
    LogFileReporter& operator=(const LogFileReporter&) = delete;

    // Whether every line so far reached the file, as far as the flushes tell.
    bool WrittenSoFar() const;
    // Flushes and closes the file (once); false when any line was lost.
    bool Close();

private:
    std::FILE* file;
};

}  // namespace rq::cli
