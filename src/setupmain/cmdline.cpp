#include "cmdline.h"

#include <string>

#include "../common/text.h"

namespace {

// Switches that may stand anywhere, as they are compared (lower case), one after the other.
constexpr char16_t kSwitches[] = u"/s\0-log\0/?\0-?\0";
enum : std::size_t { kSilentSwitch, kLogSwitch, kSwitchCount = 4 };

// Splits s into parameters. Given folder, a parameter after the first that begins with /D=
// ends the list, and folder receives the rest of s after the "=".
std::vector<std::u16string> Split(std::u16string_view s, std::u16string* folder) {
    std::vector<std::u16string> out;
    std::size_t i = 0;
    for (;;) {
        while (i < s.size() && s[i] <= u' ') ++i;
        if (i >= s.size()) break;
        if (folder && !out.empty() && s.size() - i >= 3 && s[i] == u'/' && (s[i + 1] | 0x20) == u'd' &&
            s[i + 2] == u'=') {
            *folder = s.substr(i + 3);
            break;
        }
        std::u16string param;
        bool quoted = false;
        while (i < s.size() && (quoted || s[i] > u' ')) {
            if (s[i] == u'"') quoted = !quoted;
            else param.push_back(s[i]);
            ++i;
        }
        out.push_back(std::move(param));
    }
    return out;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view s) { return Split(s, nullptr); }

std::u16string TCommandLine::ParamStr(int index) const {
    if (index < 0 || index >= static_cast<int>(Params.size())) return {};
    return Params[static_cast<std::size_t>(index)];
}

std::u16string TCommandLine::DelFileClosingWord() const {
    const std::u16string word = ParamStr(3);
    return ParamCount() == 3 && (word == kClosingRemoved || word == kClosingRemovedAtRestart) ? word : std::u16string();
}

TCommandLine ParseCommandLine(std::u16string_view commandLine) {
    TCommandLine line;
    std::u16string& folder = line.InstallDir;
    std::vector<std::u16string> params = Split(commandLine, &folder);
    while (!folder.empty() && folder.back() <= u' ') folder.pop_back();
    bool silent = false, help = false;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::u16string word = text::AsciiLower(params[i]);
        std::size_t which = 0;
        for (const char16_t* name = kSwitches; i && *name && word != name; ++which)
            name += std::char_traits<char16_t>::length(name) + 1;
        if (i && which == kSwitchCount && word.compare(0, 5, u"/log=") == 0) {
            line.LogFile = params[i].substr(5);
        } else if (!i || which == kSwitchCount) {
            line.Params.push_back(std::move(params[i]));
        } else if (which == kSilentSwitch) {
            silent = true;
        } else if (which == kLogSwitch) {
            if (i + 1 < params.size()) line.LogFile = params[++i];
        } else {
            help = true;
        }
    }
    if (help) {
        line.Mode = RunMode::Help;
        return line;
    }
    // The receiver's switch is written by the uninstaller alone, exactly so.
    if (line.ParamCount() >= 2 && line.ParamStr(1) == u"-delfile") {
        line.Mode = RunMode::DelFile;
        return line;
    }
    // The first parameter's switches forgive stray blanks too, as they always have.
    const std::u16string first = text::AsciiLower(text::TrimControl(line.ParamStr(1)));
    // A preview changes nothing, whatever else is asked.
    if (first == u"-previewonly") line.Mode = RunMode::PreviewOnly;
    else if (silent || first == u"-silent") line.Mode = RunMode::Silent;
    if (first == u"-silent") line.SilentDirectory = line.ParamStr(2);
    if (!folder.empty()) line.SilentDirectory = folder;
    return line;
}
