#pragma once
// One table of commands with the frames they must produce, shared by the
// test that runs rq-m4x-send against the simulated controller and by the test
// that sets the same values in the window: both must build these bytes, so
// the tool and the window cannot drift apart. The frames were worked out by
// hand from the frame layout, not printed by either program.

#include <string>
#include <vector>

namespace rq::test {

struct CommandCase {
    const char* name;               // test name suffix
    std::vector<std::string> args;  // the subcommand and its arguments, as typed
    const char* id;                 // --id, and IdText with ID addressing; nullptr: no address
    std::string frame;              // the frame; empty: neither may build one (nothing is sent)
};

inline std::string RepeatedText(char c, std::size_t count)
{
    return std::string(count, c);
}

// The frame around `body` (address, code, payload) in hex, for the cases too
// long to write out: start, length, inverted length, body, sum, end.
inline std::string FrameAround(const std::vector<unsigned>& body)
{
    std::vector<unsigned> bytes = {0xA1, static_cast<unsigned>(body.size() + 5),
                                   0xFFu - static_cast<unsigned>(body.size() + 5)};
    bytes.insert(bytes.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (unsigned b : bytes) sum += b;
    bytes.push_back(sum & 0xFFu);
    bytes.push_back(0x51);
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned b : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += digits[(b >> 4) & 0xF];
        hex += digits[b & 0xF];
    }
    return hex;
}

inline std::vector<unsigned> Body(std::vector<unsigned> head, char c, std::size_t count)
{
    head.insert(head.end(), count, static_cast<unsigned char>(c));
    return head;
}

inline const std::vector<CommandCase>& CommandCases()
{
    static const std::vector<CommandCase> cases = {
        // LED parameters: size / 8, reserved zeros, scan byte, level * 16 + speed.
        {"LedDefaults", {"led", "64", "16", "P7.62", "3", "3"}, "1", "A1 0E F1 01 41 08 02 00 00 00 00 33 1F 51"},
        {"LedP10", {"led", "128", "32", "P10", "15", "0"}, "1", "A1 0E F1 01 41 10 04 00 00 00 41 F0 27 51"},
        {"LedP475NoAddress", {"led", "96", "48", "P4.75", "7", "12"}, nullptr, "A1 0D F2 41 0C 06 00 00 00 00 7C 6F 51"},
        {"LedWidthWraps", {"led", "2048", "24", "P7.62", "0", "0"}, "1", "A1 0E F1 01 41 00 03 00 00 00 00 00 E5 51"},
        {"LedNegativeWidthWraps", {"led", "-8", "16", "P7.62", "3", "3"}, "1", "A1 0E F1 01 41 FF 02 00 00 00 00 33 16 51"},
        {"LedWidthNotNumber", {"led", "abc", "32", "P7.62", "3", "3"}, "1", ""},
        {"LedHighEmpty", {"led", "64", "", "P7.62", "3", "3"}, nullptr, ""},
        // Brightness: levels 0..15, 255 and auto; larger levels become 15.
        {"Bright8", {"bright", "8"}, "1", "A1 08 F7 01 43 08 EC 51"},
        {"Bright8NoAddress", {"bright", "8"}, nullptr, "A1 07 F8 43 08 EB 51"},
        {"Bright20IsHighest", {"bright", "20"}, "1", "A1 08 F7 01 43 0F F3 51"},
        {"Bright255", {"bright", "255"}, "1", "A1 08 F7 01 43 FF E3 51"},
        {"BrightAuto", {"bright", "auto"}, nullptr, "A1 07 F8 43 FF E2 51"},
        {"Bright0", {"bright", "0"}, "7", "A1 08 F7 07 43 00 EA 51"},
        {"BrightIdNotNumber", {"bright", "8"}, "abc", ""},
        // Commands without payload; an ID outside 0..255 is refused, not cut to its low byte.
        {"Black", {"black"}, nullptr, "A1 06 F9 63 03 51"},
        {"BlackId255", {"black"}, "255", "A1 07 F8 FF 63 02 51"},
        {"BlackId257", {"black"}, "257", ""},
        {"BlackIdNegative", {"black"}, "-1", ""},
        {"Reset", {"reset"}, nullptr, "A1 06 F9 99 39 51"},
        {"ResetId5", {"reset"}, "5", "A1 07 F8 05 99 3E 51"},
        {"Defaults", {"defaults"}, nullptr, "A1 06 F9 9A 3A 51"},
        // Alignment: Left 1, Center 4, Right 2.
        {"AlignLeft", {"align", "left"}, "1", "A1 08 F7 01 6A 01 0C 51"},
        {"AlignCenter", {"align", "center"}, "1", "A1 08 F7 01 6A 04 0F 51"},
        {"AlignRight", {"align", "right"}, nullptr, "A1 07 F8 6A 02 0C 51"},
        // Blinking and timed scroll: 16-bit fields low byte first, lenient text.
        {"BlinkingOn", {"blinking", "on", "1000", "1000"}, "1", "A1 0C F3 01 60 01 E8 03 E8 03 D8 51"},
        {"BlinkingOffWide", {"blinking", "off", "250", "70000"}, nullptr, "A1 0B F4 60 00 FA 00 70 11 7B 51"},
        {"BlinkingLenient", {"blinking", "on", "12abc", "x"}, nullptr, "A1 0B F4 60 01 0C 00 00 00 0D 51"},
        {"Scroll", {"scroll", "3000", "50"}, "1", "A1 0B F4 01 65 B8 0B 32 00 FB 51"},
        {"ScrollEmptyElapsed", {"scroll", "", "7"}, nullptr, "A1 0A F5 65 00 00 07 00 0C 51"},
        // A number beyond 32 bits goes out as 0; one within keeps its low 16 bits.
        {"ScrollBeyond32Bits", {"scroll", "4294967297", "65537"}, nullptr, "A1 0A F5 65 00 00 01 00 06 51"},
        // Change ID: only to an addressed controller.
        {"ChangeId", {"change-id", "2"}, "1", "A1 08 F7 01 21 02 C4 51"},
        {"ChangeIdTo256", {"change-id", "256"}, "9", ""},
        {"ChangeIdWithoutAddress", {"change-id", "2"}, nullptr, ""},
        {"ChangeIdNotNumber", {"change-id", "x"}, "1", ""},
        // Messages: encoding 1 is the controller's code page (GBK), 2 UTF-16LE.
        {"Message", {"message", "abc"}, "1", "A1 0A F5 01 01 61 62 63 C8 51"},
        {"MessageUnicode", {"message", "--unicode", "abc"}, "1", "A1 0D F2 01 02 61 00 62 00 63 00 C9 51"},
        {"MessageChinese", {"message", "\xE4\xB8\xAD\xE6\x96\x87"}, nullptr, "A1 0A F5 01 D6 D0 CE C4 D9 51"},
        {"MessageChineseUnicode", {"message", "--unicode", "\xE4\xB8\xAD\xE6\x96\x87"}, nullptr,
         "A1 0A F5 02 2D 4E 87 65 09 51"},
        {"MessageEmpty", {"message", ""}, nullptr, "A1 06 F9 01 A1 51"},
        // After the command word, "-h" is the text, not a request for help.
        {"MessageDashH", {"message", "-h"}, nullptr, "A1 08 F7 01 2D 68 36 51"},
        // The euro sign has no pair in the controller's code page; in UTF-16 it goes.
        {"MessageEuro", {"message", "A\xE2\x82\xAC"}, nullptr, ""},
        {"MessageEuroUnicode", {"message", "--unicode", "A\xE2\x82\xAC"}, nullptr, "A1 0A F5 02 41 00 AC 20 AF 51"},
        {"DefaultMessage", {"default-message", "abc"}, "1", "A1 0B F4 01 20 01 61 62 63 E8 51"},
        {"DefaultMessageUnicode", {"default-message", "--unicode", "\xE4\xB8\xAD\xE6\x96\x87"}, nullptr,
         "A1 0B F4 20 02 2D 4E 87 65 29 51"},
        // One frame holds at most 255 bytes: 249 text bytes for a message
        // without address; 124 UTF-16 characters with one.
        {"MessageLongest", {"message", RepeatedText('a', 249)}, nullptr, FrameAround(Body({0x01}, 'a', 249))},
        {"MessageTooLong", {"message", RepeatedText('a', 250)}, nullptr, ""},
        {"DefaultMessageLongestAddressed", {"default-message", RepeatedText('b', 247)}, "3",
         FrameAround(Body({0x03, 0x20, 0x01}, 'b', 247))},
        {"DefaultMessageTooLong", {"default-message", RepeatedText('a', 249)}, nullptr, ""},
        {"MessageUnicodeTooLong", {"message", "--unicode", RepeatedText('a', 125)}, "1", ""},
    };
    return cases;
}

}  // namespace rq::test
