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

bool Below(const std::u16string& dir, const std::u16string& folder) {
    const std::u16string base = WithTrailingBackslash(text::AsciiLower(folder));
    return !folder.empty() && dir.compare(0, base.size(), base) == 0;
}

// Folders made below the Windows folder or a Program Files folder inherit what protects
// those. Anywhere else (every user may add to what is made in a drive's root) they get an
// access list of their own, so that no other user can change what the elevated uninstaller
// later trusts. A spelling not recognised here (a short name) errs on the restricted side.
bool InProtectedSystemFolder(const std::u16string& Dir) {
    const std::u16string dir = WithTrailingBackslash(text::AsciiLower(platform::FullPath(Dir)));
    return Below(dir, GetWinDir()) || Below(dir, GetProgramFilesDir()) ||
           Below(dir, GetShellFolderDir(platform::CSIDL_PROGRAM_FILESX86_));
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
            // Asked only when a folder is to be made: it loads the shell.
            const bool restricted = !platform::DirectoryExists(Text) && !InProtectedSystemFolder(Text);
            if (!ForceDirectories(Text, &check.Created, restricted)) {
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
