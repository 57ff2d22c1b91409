// The uninstall run: one question, then everything the installation left is removed, and a
// temporary copy of the uninstaller deletes the uninstaller's own file after it has ended.
#include "uninstall.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/registry.h"
#include "../platform/system.h"
#include "cmdline.h"
#include "package.h"
#include "registration.h"
#include "setupmain.h"
#include "sysroutines.h"

namespace {

constexpr char16_t kMsgQuestion[] = u"Are you sure you want to remove %s and its components?";
constexpr char16_t kMsgRemoved[] = u"%s has been successfully removed from your computer.";
// Numbers of the temporary copy lie in 0 .. 9999998.
constexpr std::uint32_t kCopyNumbers = 9999999;
// A name whose file is in use (a copy still running) is not the end: try others.
constexpr int kCopyAttempts = 8;

// Small and good enough for names: a linear congruential generator.
class NameNumbers {
public:
    explicit NameNumbers(std::uint64_t seed) : state_(static_cast<std::uint32_t>(seed ^ (seed >> 32))) {}
    std::uint32_t Next() {
        state_ = state_ * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(state_) * kCopyNumbers) >> 32);
    }

private:
    std::uint32_t state_;
};

}  // namespace

std::u16string TemporaryCopyName(std::uint32_t N) {
    return kTemporaryCopyPrefix + text::DecimalText(N) + u".exe";
}

std::u16string DelFileParameters(const std::u16string& UninstallerPath, const std::u16string& Title, bool Silent) {
    std::u16string parameters = u"-delfile \"" + UninstallerPath + u"\"";
    if (Silent) return parameters;
    // A quotation mark inside a quoted parameter would end it: the title shows a typographic one.
    const std::u16string title = text::ReplaceAll(Title, u"\"", u"\u201D");
    return parameters + u" \"" + kApplicationTitle + u"\" \"" + text::ReplaceAll(LangStr(kMsgRemoved), u"%s", title) +
           u"\"";
}

// Without rights for the machine-wide key it stays; nothing to report.
void RemoveUninstallEntry(const std::u16string& Title) {
    platform::RegKey::DeleteTree(platform::RegRoot::LocalMachine, kUninstallKeyBase + Title);
}

void RemoveMenuShortcuts(const std::u16string& Title) {
    // A Programs folder the shell cannot locate holds none of our links.
    const std::u16string programs = GetShellFolderDir(platform::CSIDL_PROGRAMS_);
    if (programs.empty()) return;
    const std::u16string folder = programs + Title + u"\\";
    platform::RemoveFile(folder + PreviewLinkName(Title) + u".lnk");
    platform::RemoveFile(folder + ReadmeLinkName() + u".lnk");
    platform::RemoveFile(folder + UninstallLinkName(Title) + u".lnk");
    // Only when empty: anything else in it is the user's.
    platform::RemoveEmptyDirectory(programs + Title);
}

void RemoveDesktopShortcut(const std::u16string& Title) {
    const std::u16string desktop = GetShellFolderDir(platform::CSIDL_DESKTOP_);
    if (!desktop.empty()) platform::RemoveFile(desktop + PreviewLinkName(Title) + u".lnk");
}

void TSCRSetup::ClearUserSettings() {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, kUserKeyBase + SetupHeader.Title());
    if (!key.IsOpen()) return;
    for (const std::u16string& name : key.ValueNames()) key.DeleteValue(name);
    platform::RegKey::DeleteTree(platform::RegRoot::CurrentUser, kUserKeyBase + SetupHeader.Title() + u"\\PlayList");
}

void TSCRSetup::HandOffToTemporaryCopy(const std::u16string& self) {
    const std::u16string temp = GetTempDir();
    // Never the current folder: without a temporary folder the uninstaller file stays.
    if (temp.empty()) return;
    NameNumbers numbers(platform::PerformanceCounter());
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const std::u16string copy = temp + TemporaryCopyName(numbers.Next());
        // From the file held since the start: the very program that runs.
        platform::File file = platform::File::CreateExclusive(copy);
        if (!file.IsOpen()) continue;
        if (!CopyRange(Self, 0, Self.Size(), file)) {
            file.Close();
            platform::RemoveFile(copy);
            continue;
        }
        file.Close();
        platform::ShellOpen(true, u"open", copy, DelFileParameters(platform::ShortPath(self), SetupHeader.Title(), SilentMode),
                            platform::SW_HIDE_);
        return;
    }
}

void TSCRSetup::RunUninstall() {
    const std::u16string Title = SetupHeader.Title();
    if (!SilentMode) {
        const std::u16string question = text::ReplaceAll(LangStr(kMsgQuestion), u"%s", Title);
        const int answer = platform::ShowMessage(question, Title + u" " + LangStr(u"Uninstall"),
                                                 platform::MB_YESNO_ | platform::MB_ICONQUESTION_);
        if (answer != platform::IDYES_) {
            if (!PreviewOnlyMode) ExitCode = kExitCancelled;
            return;
        }
    }

    // The screensaver lies beside its uninstaller. The per-user record names the last
    // installation of this title, which may be another one in another folder: that one stays.
    // Without a record here (another user installed it, or the key was cleaned) the header
    // names the file as it was installed.
    const std::u16string self = platform::FullPath(platform::ModulePath());
    const std::u16string ownDir(text::DirPart(self));
    std::u16string installed = LoadInstalledFileName();
    if (installed.empty() || text::AsciiLower(text::DirPart(installed)) != text::AsciiLower(ownDir))
        installed = ownDir + std::u16string(text::FileNamePart(SetupHeader.ScrFileName()));
    if (PreviewOnlyMode) return;

    platform::RemoveFile(installed);
    ClearUserSettings();
    if (SetupHeader.ReadmeSize() > 0)
        platform::RemoveFile(std::u16string(text::DirPart(installed)) + ReadmeCopyName(Title));

    HandOffToTemporaryCopy(self);

    if (SetupHeader.UninstallEntryFlag()) RemoveUninstallEntry(Title);
    if (SetupHeader.MenuShortcutsFlag()) RemoveMenuShortcuts(Title);
    if (SetupHeader.DesktopShortcutFlag()) RemoveDesktopShortcut(Title);
}
