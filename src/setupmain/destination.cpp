#include "destination.h"

#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "run_log.h"
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

// Folders made right in the Windows folder, or anywhere below a Program Files folder, inherit
// what protects those. Anywhere else (every user may add to what is made in a drive's root,
// or in the Windows folder's Temp, Tasks or tracing) they get an access list of their own, so
// that no other user can change what the elevated uninstaller later trusts. Holder is the
// existing folder the first new one goes into. A spelling not recognised here (a short name)
// errs on the restricted side.
bool InProtectedSystemFolder(const std::u16string& Holder) {
    const std::u16string dir = WithTrailingBackslash(text::AsciiLower(Holder));
    return dir == WithTrailingBackslash(text::AsciiLower(GetWinDir())) || Below(dir, GetProgramFilesDir()) ||
           Below(dir, GetShellFolderDir(platform::CSIDL_PROGRAM_FILESX86_));
}

// A folder's full path without its trailing backslash, a drive's root (C:\) excepted.
std::u16string FolderPath(const std::u16string& dir) {
    std::u16string full = platform::FullPath(WithTrailingBackslash(dir));
    if (full.size() > 3 && full.back() == u'\\') full.pop_back();
    return full;
}

// A drive's root, or a share's: nothing above it can be opened.
bool IsTop(const std::u16string& dir) {
    if (dir.size() <= 3) return true;
    std::size_t separators = 0;
    for (const char16_t c : dir) separators += c == u'\\';
    return dir.compare(0, 2, u"\\\\") == 0 && separators <= 3;
}

std::u16string ParentOf(const std::u16string& dir) { return FolderPath(std::u16string(text::DirPart(dir))); }

// The deepest folder of the path that exists, the path itself included.
std::u16string ExistingPart(std::u16string dir) {
    while (!IsTop(dir) && !platform::DirectoryExists(dir)) dir = ParentOf(dir);
    return dir;
}

// Whether users other than the administrators, the system and this account could change
// what an elevated run writes into Dir, an existing folder, or swap it away. Dir itself when
// the run writes into it (Final): they may neither own it nor change it in any way, adding to
// it included. Every folder above it: they may neither own it nor delete, rename or re-permit
// it or what it holds; adding folders to it is fine, as a drive's root lets every user do.
// A link on the way counts as well: where it leads is up to whoever may change it, and to
// whoever may change the folder it leads to, which is not judged here.
bool OpenToOthers(std::u16string dir, bool final) {
    for (;;) {
        const unsigned others = platform::OthersAccess(dir) & (final ? ~0u : ~unsigned{platform::kOthersAddTo});
        if (others) {
            LogLine("Folder open to other users:", dir);
            return true;
        }
        if (IsTop(dir)) return false;
        const std::u16string parent = ParentOf(dir);
        if (parent == dir) return false;
        dir = parent;
        final = false;
    }
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
            const std::u16string full = FolderPath(Text);
            const std::u16string holder = ExistingPart(full);
            // Elevated: the token is, or the process runs as the system (IsElevated). Such a
            // run never takes over a folder others prepared, whatever they left in it.
            const bool elevated = platform::IsElevated();
            if (elevated && platform::DirectoryExists(holder) && OpenToOthers(holder, holder == full)) {
                check.MessageKey = kMsgAccessDenied;
                return check;
            }
            // Asked only when a folder is to be made: it loads the shell.
            const bool restricted = holder != full && !InProtectedSystemFolder(holder);
            if (!ForceDirectories(Text, &check.Created, restricted)) {
                check.MessageKey = kMsgCannotCreateDirectory;
                return check;
            }
            // A folder another process made between the look and the making is not this run's:
            // it is judged as well.
            const std::u16string reached = check.Created.empty() ? full : ParentOf(check.Created.front());
            if (elevated && reached != holder && platform::DirectoryExists(reached) &&
                OpenToOthers(reached, reached == full)) {
                check.MessageKey = kMsgAccessDenied;
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
