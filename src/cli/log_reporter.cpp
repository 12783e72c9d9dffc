#include "cli/log_reporter.h"

#include "cli/reporter.h"

namespace rq::cli {

namespace {

HumanReporter::Style LogStyle(bool headings, const std::string& scriptName, bool ports)
{
    HumanReporter::Style style;
    style.ports = ports;
    style.headings = headings;
    style.scriptName = scriptName;
    return style;
}

}  // namespace

std::string LogHeader(const std::string& localTime, const std::vector<LoggedLine>& lines,
                      const std::string& commandLine)
{
    std::string header = "==== " + localTime;
    for (const LoggedLine& line : lines) header += "  port " + line.port + "  baud " + std::to_string(line.baud);
    return header + "  " + commandLine;
}

LogFileReporter::LogFileReporter(std::FILE* file, const std::string& header, bool headings,
                                 const std::string& scriptName, bool ports)
    : HumanReporter(file, LogStyle(headings, scriptName, ports)), file(file)
{
    std::fputs((header + "\n").c_str(), file);
    std::fflush(file);
}

LogFileReporter::~LogFileReporter()
{
    Close();
}

bool LogFileReporter::WrittenSoFar() const
{
    return file && std::ferror(file) == 0;
}

bool LogFileReporter::Close()
{
    if (!file) return false;
    const bool written = CloseWritten(file);
    file = nullptr;
    return written;
}

}  // namespace rq::cli
