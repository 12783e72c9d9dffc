#pragma once
// The list of controller IDs that --ids takes: numbers and ranges such as
// "1-16,20,255", each an address byte from 0 to 255. Plain C++.

#include <cstdint>
#include <string>
#include <vector>

namespace rq::cli {

struct IdListResult {
    std::vector<std::uint8_t> ids;  // in the order written
    std::string error;              // set when the list is malformed
};

// Items are separated by commas; an item is a decimal number or two joined by
// a hyphen, the first not above the second. An ID listed twice is refused: on
// a bus it is a typing mistake far more often than a wish.
IdListResult ParseIdList(const std::string& text);

}  // namespace rq::cli
