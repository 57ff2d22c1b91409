#include "destination.h"

#include "../common/text.h"
#include "../platform/files.h"
#include "sysroutines.h"

namespace {

std::u16string WithTrailingBackslash(std::u16string s) {
    if (s.empty() || s.back() != u'\\') s.push_back(u'\\');
    return s;
}

std::u16string ReplacePlaceholder(const std::u16string& s, std::u16string_view placeholder,
                                  std::u16string (*folder)()) {
    // Asking the system only when needed keeps the shell out of most runs.
    if (s.find(placeholder) == std::u16string::npos) return s;
    return text::ReplaceAll(s, placeholder, folder());
}

}  // namespace

std::u16string ComposeDefaultDir(std::u16string_view Base, std::u16string_view Sub) {
    const std::u16string base = WithTrailingBackslash(text::TrimControl(Base));
    std::u16string sub = text::TrimControl(Sub);
    if (!sub.empty() && sub.front() == u'\\') sub.erase(0, 1);
    if (!sub.empty() && sub.back() == u'\\') sub.pop_back();
    std::u16string result = WithTrailingBackslash(text::TrimControl(base + sub));
    result = ReplacePlaceholder(result, u"<Windows>", GetWinDir);
    return ReplacePlaceholder(result, u"<Program Files>", GetProgramFilesDir);
}

TDirectoryCheck CheckDestinationDirectory(const std::u16string& Text, bool PreviewOnly) {
    TDirectoryCheck check;
    if (!PreviewOnly) {
        if (!Text.empty()) {
            if (!ForceDirectories(Text, &check.Created)) {
                check.MessageKey = kMsgCannotCreateDirectory;
                return check;
            }
        }
        if (Text.empty() || !platform::DirectoryExists(Text)) {
            check.MessageKey = kMsgInvalidDirectory;
            return check;
        }
    }
    check.Accepted = true;
    check.Text = WithTrailingBackslash(Text);
    return check;
}
