#include "uninstall.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "handoff.h"
#include "links.h"
#include "readme_copy.h"
#include "run_log.h"
#include "sysroutines.h"
#include "uninstall_entry.h"
#include "user_record.h"

namespace {
constexpr char kMsgQuestion[] = "Are you sure you want to remove %s and its components?";
constexpr char kMsgStayed[] = "%s could not be removed. Its files are in use or access is denied.";
}  // namespace

Outcome RunUninstall(TSetupPackage& Package, const TCommandLine& CommandLine) {
    const TSetupHeader& header = Package.SetupHeader;
    const std::u16string Title = header.Title();
    if (!CommandLine.Silent()) {
        const std::u16string question = text::ReplaceAll(LangStr(kMsgQuestion), u"%s", Title);
        const int answer = platform::ShowMessage(question, Title + u" " + LangStr("Uninstall"),
                                                 platform::MB_YESNO_ | platform::MB_ICONQUESTION_);
        if (answer != platform::IDYES_) return CommandLine.PreviewOnly() ? Outcome::Done : Outcome::Cancelled;
    }
    if (CommandLine.PreviewOnly()) return Outcome::Done;

    // The screensaver lies beside its uninstaller. The per-user record names the last
    // installation of this title, which may be another one in another folder: that one stays.
    // Without a record here (another user installed it, or the key was cleaned) the header
    // names the file as it was installed.
    const std::u16string self = platform::FullPath(platform::ModulePath());
    const std::u16string ownDir(text::DirPart(self));
    const std::u16string packaged(text::FileNamePart(header.ScrFileName()));
    std::u16string installed = RememberedFileIn(Title, ownDir, packaged);
    if (installed.empty()) installed = ownDir + packaged;

    // A screensaver that runs holds its file: it goes at the next start. One that can go
    // neither now nor then ends the run before anything else goes, so that the entry and the
    // uninstaller stay for another try.
    const Removal screensaver = RemoveNowOrAtRestart(installed);
    if (screensaver == Removal::Stayed) {
        if (!CommandLine.Silent())
            platform::ShowMessage(text::ReplaceAll(LangStr(kMsgStayed), u"%s", Title), Title + u" " + LangStr("Uninstall"),
                                  platform::MB_ICONERROR_);
        return Outcome::FileStayed;
    }
    ClearUserSettings(Title);
    const Removal readme = header.ReadmeSize() > 0
                               ? RemoveNowOrAtRestart(std::u16string(text::DirPart(installed)) + ReadmeCopyName(Title))
                               : Removal::Done;
    const bool restart = screensaver == Removal::AtRestart || readme == Removal::AtRestart;

    HandOffToTemporaryCopy(Package, self,
                           CommandLine.Silent() ? ClosingBox::None
                           : restart            ? ClosingBox::RemovedAtRestart
                                                : ClosingBox::Removed);

    if (header.UninstallEntryFlag()) RemoveUninstallEntry(Title, self);
    if (header.MenuShortcutsFlag()) RemoveMenuShortcuts(Title, ownDir);
    if (header.DesktopShortcutFlag()) RemoveDesktopShortcut(Title, ownDir);
    if (readme == Removal::Stayed) return Outcome::FileStayed;
    return restart ? Outcome::RestartNeeded : Outcome::Done;
}
