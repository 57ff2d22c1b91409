#include "lang.h"

#include <memory>
#include <vector>

#include "text.h"

namespace {

struct LangTable {
    std::vector<std::u16string> LangKeys;
    std::vector<std::u16string> LangValues;
};

std::unique_ptr<LangTable> g_table;

constexpr std::u16string_view kCrLf = u"\r\n";
constexpr std::u16string_view kBreakCode = u"#13";

}  // namespace

void LoadLangSection(std::u16string_view Text, std::u16string_view Section) {
    auto table = std::make_unique<LangTable>();
    const auto nul = Text.find(u'\0');
    if (nul != std::u16string_view::npos) Text = Text.substr(0, nul);

    std::u16string current;
    std::size_t pos = 0;
    while (pos < Text.size()) {
        std::size_t end = pos;
        while (end < Text.size() && Text[end] != u'\r' && Text[end] != u'\n') ++end;
        const auto line = Text.substr(pos, end - pos);
        pos = end;
        if (pos < Text.size()) {
            if (Text[pos] == u'\r' && pos + 1 < Text.size() && Text[pos + 1] == u'\n') ++pos;
            ++pos;
        }
        const auto eq = line.find(u'=');
        if (eq == std::u16string_view::npos) {
            current.assign(line);
        } else if (Section.empty() || current == Section) {
            table->LangKeys.emplace_back(line.substr(0, eq));
            table->LangValues.emplace_back(line.substr(eq + 1));
        }
    }
    g_table = std::move(table);
}

std::u16string LangStr(std::string_view English) {
    std::u16string english = text::Widen(English);
    if (!g_table) return english;
    const auto key = text::ReplaceAll(english, kCrLf, kBreakCode);
    for (std::size_t i = 0; i < g_table->LangKeys.size(); ++i)
        if (g_table->LangKeys[i] == key) return text::ReplaceAll(g_table->LangValues[i], kBreakCode, kCrLf);
    return english;
}

void FreeLangStrings() { g_table.reset(); }
