#include "serial/log_line.h"

#include <cstdio>

namespace rq::serial {

wxString TimePrefix(const wxDateTime& time)
{
    // One conversion to local time for all four fields.
    const wxDateTime::Tm local = time.GetTm();
    return wxString::Format("%.2d:%.2d:%.2d.%.3d     ", static_cast<int>(local.hour),
                            static_cast<int>(local.min), static_cast<int>(local.sec),
                            static_cast<int>(local.msec));
}

std::optional<double> PrefixTimeMs(const std::string& line)
{
    int hours = 0, minutes = 0, seconds = 0, millis = 0;
    if (line.size() < 12 || std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d", &hours, &minutes, &seconds, &millis) != 4)
        return std::nullopt;
    return ((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0 + millis;
}

wxString BlankPrefix()
{
    return wxString(' ', TIME_PREFIX_WIDTH);
}

wxString HexDump(const std::uint8_t* bytes, std::size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    wxString dump;
    if (bytes == nullptr)
        return dump;
    dump.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        dump += ' ';
        dump += digits[bytes[i] >> 4];
        dump += digits[bytes[i] & 0x0F];
    }
    return dump;
}

wxString BannerText(const wxString& title)
{
    return "               =========  " + title + "  =========";
}

std::string LogHeader(const std::string& localTime, const std::vector<LoggedLine>& lines, const std::string& what)
{
    std::string header = "==== " + localTime;
    for (const LoggedLine& line : lines) header += "  port " + line.port + "  baud " + std::to_string(line.baud);
    return header + "  " + what;
}

std::string LogHeaderTime(const wxDateTime& time)
{
    return time.FormatISOCombined(' ').utf8_string();
}

}  // namespace rq::serial
