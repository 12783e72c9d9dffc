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
