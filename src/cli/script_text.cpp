#include "cli/script_text.h"

#include <cstring>

#include "protocol/message_text.h"

namespace rq::cli {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Characters that never need quoting.
bool IsPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-_./:=,+@%", c) != nullptr || static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

SplitResult SplitWords(const std::string& line)
{
    SplitResult result;
    std::string word;
    bool inWord = false;  // a word has begun, even an empty quoted one
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inWord) result.words.push_back(word);
            word.clear();
            inWord = false;
            ++i;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                result.error = "a single quote is not closed";
                return result;
            }
            word.append(line, i + 1, close - i - 1);
            inWord = true;
            i = close + 1;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (;; ++j) {
                if (j >= line.size()) {
                    result.error = "a double quote is not closed";
                    return result;
                }
                if (line[j] == '"') break;
                if (line[j] == '\\' && j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\')) ++j;
                word += line[j];
            }
            inWord = true;
            i = j + 1;
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                result.error = "a backslash ends the line (a command takes one line)";
                return result;
            }
            word += line[i + 1];
            inWord = true;
            i += 2;
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord) result.words.push_back(word);
    return result;
}

ScriptDecoding DecodeScript(const std::string& bytes)
{
    ScriptDecoding result;
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0;
    const bool big = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (!little && !big) {
        result.text = bytes;
        return result;
    }
    const std::string name = little ? "UTF-16 (little endian)" : "UTF-16 (big endian)";
    if (bytes.size() % 2 != 0) {
        result.error = "the text is " + name + " and ends in half a character";
        return result;
    }
    const auto unitAt = [&](std::size_t i) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return little ? (char32_t{second} << 8 | first) : (char32_t{first} << 8 | second);
    };
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        char32_t code = unitAt(i);
        if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 &&
            unitAt(i + 2) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            result.error = "the text is " + name + " and holds half a character (a lone surrogate)";
            result.text.clear();
            return result;
        }
        rq::protocol::AppendUtf8(result.text, code);
    }
    return result;
}

ScriptResult SplitScript(const std::string& text)
{
    ScriptResult result;
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int number = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        ++number;

        SplitResult split = SplitWords(line);
        if (!split.error.empty()) {
            result.lines.clear();
            result.errorLine = number;
            result.error = split.error;
            return result;
        }
        if (!split.words.empty()) result.lines.push_back({number, std::move(split.words)});
    }
    return result;
}

std::string JoinQuoted(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        bool plain = !word.empty();
        for (char c : word) plain = plain && IsPlain(c);
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (char c : word) {
            if (c == '\'') line += "'\\''";
            else line += c;
        }
        line += '\'';
    }
    return line;
}

}  // namespace rq::cli
