#include "cli/id_list.h"

#include <bitset>

namespace rq::cli {

namespace {

constexpr int kHighestId = 255;

// A whole decimal number of at most three digits within the address byte.
bool ParseId(const std::string& text, int& id)
{
    if (text.empty() || text.size() > 3) return false;
    id = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        id = id * 10 + (c - '0');
    }
    return id <= kHighestId;
}

}  // namespace

IdListResult ParseIdList(const std::string& text)
{
    IdListResult result;
    auto fail = [&result, &text](const std::string& why) {
        result.ids.clear();
        result.error = "--ids \"" + text + "\": " + why;
        return result;
    };
    if (text.empty()) return fail("the list is empty");

    std::bitset<kHighestId + 1> seen;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty()) return fail("an empty item (two commas, or a comma at an end)");

        const std::size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        const std::string firstText = item.substr(0, dash);
        const std::string lastText = dash == std::string::npos ? firstText : item.substr(dash + 1);
        if (!ParseId(firstText, first) || !ParseId(lastText, last))
            return fail("\"" + item + "\" is not an ID from 0 to 255 or a range such as 1-16");
        if (first > last) return fail("the range \"" + item + "\" runs backwards");
        for (int id = first; id <= last; ++id) {
            if (seen[static_cast<std::size_t>(id)]) return fail("ID " + std::to_string(id) + " is listed twice");
            seen[static_cast<std::size_t>(id)] = true;
            result.ids.push_back(static_cast<std::uint8_t>(id));
        }

        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return result;
}

}  // namespace rq::cli
