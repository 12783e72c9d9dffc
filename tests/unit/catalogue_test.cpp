// The Chinese catalogue: every text the program looks up has a translation
// with the same printf placeholders in the same order, every _("...") in the
// sources has an entry, and the compiled catalogue the build puts beside the
// program really translates.

#include "support/work_dir.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/translation.h>

namespace fs = std::filesystem;

namespace {

const char kCataloguePath[] = RQ_SOURCE_DIR "/data/locale/zh_CN/Language.po";

// Every text that passes through the translation lookup and is translated.
const std::vector<std::string> kTranslatedTexts = {
    "Welcome!",
    "Auto",
    "Center",
    "Send Message",
    "Default MSG",
    "will take place after restart",
    "Language Setting",
    "Model Setting",
    "Serial port is occupied",
    "About RQ-M4x - LED Test",
    "Serial port settings",
    "undefined symbol",
    "Parameter error",
    "Open Failed : %s ,%d ",
    "Open : %s ,%d ",
    "Write : %d Bytes",
    "DATA : ",
    "Read : %d Bytes",
    "System error",
    "The request has timed out",
    "Close: %s",
    "Success",
    "Checksum error",
    "Undefined instruction",
    "Length error",
    "Unknown error",
    "&OK",
    "&Apply",
    "&Quit",
    "COM Set:",
    "Baud Rate:",
    "Open failed",
    "Serial setting error!",
    "Version : ",
    "Date : ",
    "R&D : TELVO",
    "The transaction could not be started",
    "Permission denied: add your user to the group \"%s\" and log in again",
};

// Looked up, but must read the same in every language: a catalogue entry,
// if any, repeats the original.
const std::set<std::string> kKeptTexts = {
    "img//OK.png", "img//Application.png", "img//exit.png", "img//about.bmp", "img//devices64.png",
    "9600", "14400", "19200", "38400", "56000", "57600", "115200", "128000",
    ".", "  ",
};

struct PoEntry {
    std::string msgid;
    std::string msgstr;
    bool fuzzy = false;
    bool cFormat = false;
    bool hasContextOrPlural = false;
    int line = 0;
};

// Reads one C string literal starting at `text[at]` == '"'; returns the
// position after its closing quote and appends the unescaped characters.
size_t ReadLiteral(const std::string& text, size_t at, std::string& out)
{
    size_t i = at + 1;
    while (i < text.size() && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char escaped = text[++i];
            switch (escaped) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '0': out += '\0'; break;
            default: out += escaped; break;  // \" \\ \'
            }
        } else {
            out += text[i];
        }
        ++i;
    }
    return i < text.size() ? i + 1 : i;
}

std::vector<PoEntry> ParsePo(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<PoEntry> entries;
    PoEntry current;
    std::string* target = nullptr;
    bool pendingFuzzy = false;
    bool pendingCFormat = false;
    auto finish = [&] {
        if (target) entries.push_back(current);
        current = PoEntry();
        target = nullptr;
    };
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#,", 0) == 0) {
            finish();
            pendingFuzzy = line.find("fuzzy") != std::string::npos;
            pendingCFormat = line.find(" c-format") != std::string::npos;
        } else if (line.rfind("msgid ", 0) == 0) {
            finish();
            current.fuzzy = pendingFuzzy;
            current.cFormat = pendingCFormat;
            current.line = number;
            pendingFuzzy = pendingCFormat = false;
            target = &current.msgid;
            ReadLiteral(line, line.find('"'), *target);
        } else if (line.rfind("msgstr ", 0) == 0) {
            target = &current.msgstr;
            ReadLiteral(line, line.find('"'), *target);
        } else if (line.rfind("msgctxt", 0) == 0 || line.rfind("msgid_plural", 0) == 0 ||
                   line.rfind("msgstr[", 0) == 0) {
            current.hasContextOrPlural = true;
        } else if (!line.empty() && line[0] == '"' && target) {
            ReadLiteral(line, 0, *target);
        }
    }
    finish();
    return entries;
}

// The printf conversions of a format text, in order ("%%" is none).
std::vector<std::string> Placeholders(const std::string& text)
{
    static const std::regex conversion(
        R"(%(%|[-+ #0']*(\*|[0-9]+)?(\.(\*|[0-9]+))?(hh|h|ll|l|L|j|z|t)?[diouxXeEfFgGaAcspn]))");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator(); ++it) {
        if (it->str() != "%%") found.push_back(it->str());
    }
    return found;
}

const std::vector<PoEntry>& Catalogue()
{
    static const std::vector<PoEntry> entries = ParsePo(kCataloguePath);
    return entries;
}

const PoEntry* Find(const std::string& msgid)
{
    for (const PoEntry& entry : Catalogue()) {
        if (entry.msgid == msgid) return &entry;
    }
    return nullptr;
}

struct SourceText {
    std::string text;
    std::string where;
};

// Every literal handed to _(), wxGetTranslation() or one of the markers of
// texts looked up later (wxTRANSLATE, gettext_noop, N_) in `root`, with
// adjacent literals joined as the compiler joins them.
std::vector<SourceText> LookedUpTexts(const fs::path& root)
{
    static const std::vector<std::string> callers = {"_(", "wxGetTranslation(", "wxTRANSLATE(", "gettext_noop(",
                                                     "N_("};
    std::vector<SourceText> found;
    for (const auto& file : fs::recursive_directory_iterator(root)) {
        const std::string extension = file.path().extension().string();
        if (!file.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
        std::ifstream in(file.path(), std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        const std::string source = buffer.str();
        for (const std::string& caller : callers) {
            for (size_t at = source.find(caller); at != std::string::npos; at = source.find(caller, at + 1)) {
                if (at > 0 && (std::isalnum(static_cast<unsigned char>(source[at - 1])) || source[at - 1] == '_')) {
                    continue;  // part of a longer name, e.g. foo_(
                }
                size_t i = at + caller.size();
                std::string text;
                bool literal = false;
                for (;;) {
                    while (i < source.size() && std::isspace(static_cast<unsigned char>(source[i]))) ++i;
                    if (i >= source.size() || source[i] != '"') break;
                    i = ReadLiteral(source, i, text);
                    literal = true;
                }
                if (!literal) continue;  // a variable: its texts are checked where they are written
                const auto line = std::count(source.begin(), source.begin() + static_cast<long>(at), '\n') + 1;
                found.push_back({text, fs::relative(file.path(), root).string() + ":" + std::to_string(line)});
            }
        }
    }
    return found;
}

// ---- the file itself ----

TEST(CatalogueTest, HeaderDeclaresUtf8AndOnePluralForm)
{
    const PoEntry* header = Find("");
    ASSERT_NE(header, nullptr) << "no header in " << kCataloguePath;
    EXPECT_NE(header->msgstr.find("Content-Type: text/plain; charset=UTF-8\n"), std::string::npos);
    EXPECT_NE(header->msgstr.find("Plural-Forms: nplurals=1; plural=0;\n"), std::string::npos);
    EXPECT_NE(header->msgstr.find("Language: zh_CN\n"), std::string::npos);
}

TEST(CatalogueTest, EntriesAreUniqueUsableAndFormatChecked)
{
    std::set<std::string> seen;
    for (const PoEntry& entry : Catalogue()) {
        SCOPED_TRACE("line " + std::to_string(entry.line) + ": \"" + entry.msgid + "\"");
        EXPECT_TRUE(seen.insert(entry.msgid).second) << "duplicate entry";
        // A fuzzy entry is silently left out of the compiled catalogue.
        EXPECT_FALSE(entry.fuzzy);
        EXPECT_FALSE(entry.hasContextOrPlural) << "the program looks texts up without context or plural";
        // Only entries flagged c-format get their placeholders checked by the build.
        if (!Placeholders(entry.msgid).empty()) {
            EXPECT_TRUE(entry.cFormat) << "missing \"#, c-format\"";
        }
        if (kKeptTexts.count(entry.msgid)) {
            EXPECT_EQ(entry.msgstr, entry.msgid) << "this text must stay as it is";
        }
    }
}

// ---- each looked-up text ----

class CatalogueTextTest : public testing::TestWithParam<std::string> {};

TEST_P(CatalogueTextTest, IsTranslatedWithTheSamePlaceholders)
{
    const PoEntry* entry = Find(GetParam());
    ASSERT_NE(entry, nullptr) << "no entry";
    EXPECT_FALSE(entry->msgstr.empty());
    EXPECT_NE(entry->msgstr, entry->msgid) << "left in English";
    EXPECT_EQ(Placeholders(entry->msgstr), Placeholders(entry->msgid));
}

TEST(CatalogueTest, ButtonLabelsKeepTheirAccelerators)
{
    // Chinese labels carry the key in brackets after the word: "确定(&O)".
    for (const std::string label : {"&OK", "&Apply", "&Quit"}) {
        const PoEntry* entry = Find(label);
        ASSERT_NE(entry, nullptr) << label;
        const std::string key = std::string("(&") + label[1] + ")";
        EXPECT_NE(entry->msgstr.find(key), std::string::npos) << label << " -> " << entry->msgstr;
        EXPECT_EQ(std::count(entry->msgstr.begin(), entry->msgstr.end(), '&'), 1) << entry->msgstr;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, CatalogueTextTest, testing::ValuesIn(kTranslatedTexts));

// ---- the sources ----

TEST(CatalogueTest, EveryTextLookedUpInTheSourcesHasAnEntry)
{
    const std::vector<SourceText> texts = LookedUpTexts(fs::path(RQ_SOURCE_DIR) / "src");
    std::string missing;
    for (const SourceText& found : texts) {
        if (kKeptTexts.count(found.text) || Find(found.text)) continue;
        missing += "  " + found.where + ": \"" + found.text + "\"\n";
    }
    EXPECT_TRUE(missing.empty()) << "texts without a catalogue entry:\n" << missing;
}

TEST(CatalogueTest, ScannerFindsLookupsAndJoinsLiterals)
{
    rq::test::WorkDir dir;
    dir.WriteFile("src/sample.cpp", "auto a = _(\"Open : %s ,%d \");\n"
                                    "auto b = _( \"Two \" \"parts\" );\n"
                                    "auto c = wxGetTranslation(\"Quote \\\" here\");\n"
                                    "auto d = my_(\"not a lookup\");\n"
                                    "auto e = _(variable);\n"
                                    "Meaning m{gettext_noop(\"Marked\"), true};\n");
    const std::vector<SourceText> texts = LookedUpTexts(fs::path(dir.Path()) / "src");
    std::vector<std::string> found;
    for (const SourceText& text : texts) found.push_back(text.text);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"Marked", "Open : %s ,%d ", "Quote \" here", "Two parts"}));
}

// ---- the compiled catalogue ----

TEST(CatalogueTest, CompiledCatalogueTranslatesEveryText)
{
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(RQ_RUNTIME_DIR "/locale");
    wxTranslations translations;
    translations.SetLanguage("zh_CN");
    ASSERT_TRUE(translations.AddCatalog("Language")) << "no Language.mo under " RQ_RUNTIME_DIR "/locale/zh_CN";
    for (const std::string& text : kTranslatedTexts) {
        const PoEntry* entry = Find(text);
        ASSERT_NE(entry, nullptr) << text;
        const wxString* translated = translations.GetTranslatedString(wxString::FromUTF8(text.c_str()), "Language");
        ASSERT_NE(translated, nullptr) << "\"" << text << "\" is not in the compiled catalogue";
        EXPECT_EQ(std::string(translated->utf8_str()), entry->msgstr);
    }
}

}  // namespace
