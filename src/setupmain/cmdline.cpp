#include "cmdline.h"

#include "../common/text.h"

std::vector<std::u16string> SplitCommandLine(std::u16string_view s) {
    std::vector<std::u16string> out;
    std::size_t i = 0;
    for (;;) {
        while (i < s.size() && s[i] <= u' ') ++i;
        if (i >= s.size()) break;
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

std::u16string TCommandLine::ParamStr(int index) const {
    if (index < 0 || index >= static_cast<int>(Params.size())) return {};
    return Params[static_cast<std::size_t>(index)];
}

TCommandLine ParseCommandLine(std::u16string_view commandLine) {
    TCommandLine line;
    line.Params = SplitCommandLine(commandLine);
    if (line.ParamCount() < 1) return line;
    // The receiver's switch is written by the uninstaller alone, exactly so; the user's
    // switches forgive letter case and stray blanks.
    if (line.ParamCount() >= 2 && line.ParamStr(1) == u"-delfile") {
        line.Mode = RunMode::DelFile;
        return line;
    }
    const std::u16string first = text::AsciiLower(text::TrimControl(line.ParamStr(1)));
    if (first == u"-silent") line.Mode = RunMode::Silent;
    else if (first == u"-previewonly") line.Mode = RunMode::PreviewOnly;
    return line;
}
