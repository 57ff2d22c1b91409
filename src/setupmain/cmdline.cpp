#include "cmdline.h"

#include "../common/text.h"

bool SilentMode = false;
bool PreviewOnlyMode = false;
int ExitCode = kExitDone;

namespace {
std::vector<std::u16string> g_params;
}

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

void SetParams(std::vector<std::u16string> params) { g_params = std::move(params); }

int ParamCount() { return g_params.empty() ? 0 : static_cast<int>(g_params.size()) - 1; }

std::u16string ParamStr(int index) {
    if (index < 0 || index >= static_cast<int>(g_params.size())) return {};
    return g_params[static_cast<std::size_t>(index)];
}

bool IsDelFileSwitch() { return ParamCount() >= 2 && ParamStr(1) == u"-delfile"; }

static bool FirstParamIs(std::u16string_view word) {
    if (ParamCount() < 1) return false;
    return text::AsciiLower(text::TrimControl(ParamStr(1))) == word;
}

bool IsSilentSwitch() { return FirstParamIs(u"-silent"); }

bool IsPreviewOnlySwitch() { return FirstParamIs(u"-previewonly"); }
