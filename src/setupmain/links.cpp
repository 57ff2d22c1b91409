#include "links.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/shell.h"
#include "../platform/system.h"
#include "run_log.h"
#include "sysroutines.h"

namespace {
// Run as the system account (by a deployment tool), the links go where every user sees them,
// and are removed from there again.
int ProgramsFolder() { return platform::IsSystemAccount() ? platform::CSIDL_COMMON_PROGRAMS_ : platform::CSIDL_PROGRAMS_; }
int DesktopFolder() {
    return platform::IsSystemAccount() ? platform::CSIDL_COMMON_DESKTOPDIRECTORY_ : platform::CSIDL_DESKTOP_;
}
// A link is this installation's when it starts a file in the installation's folder: a link of
// the same name that another installation of the title made stays.
void RemoveLink(const std::u16string& path, const std::u16string& installDir, bool ownFolder) {
    const bool there = platform::FileExists(path);
    // In the folder of the other kind a missing link is the rule, and not worth a line.
    if (!there && !ownFolder) return;
    if (there && !SamePath(std::u16string(text::DirPart(LinkTarget(path))), installDir)) {
        LogLine("Keep link (it starts another installation's file)", path);
        return;
    }
    LogRemoval(platform::RemoveFile(path), "Remove link", path);
}
}  // namespace

std::u16string PreviewLinkName(const std::u16string& Title) { return LangStr("Preview") + u" " + Title; }
std::u16string ReadmeLinkName() { return LangStr("Readme"); }
std::u16string UninstallLinkName(const std::u16string& Title) { return LangStr("Uninstall") + u" " + Title; }

void CreateMenuShortcuts(const TLinkTargets& Targets) {
    const std::u16string& Title = Targets.Title;
    const int programsFolder = ProgramsFolder();
    const std::u16string programs = GetShellFolderDir(programsFolder);
    if (programs.empty()) return;
    CreateDirTree(programs + Title + u"\\");

    const std::u16string folder = Title + u"\\";
    (void)CreateShortcut(Targets.ScrPath, folder + PreviewLinkName(Title), programsFolder);
    if (!Targets.ReadmePath.empty())
        (void)CreateShortcut(Targets.ReadmePath, folder + ReadmeLinkName(), programsFolder);
    (void)CreateShortcut(Targets.UninstallerPath, folder + UninstallLinkName(Title), programsFolder);
}

void CreateDesktopShortcut(const TLinkTargets& Targets) {
    (void)CreateShortcut(Targets.ScrPath, PreviewLinkName(Targets.Title), DesktopFolder());
}

void RemoveMenuShortcuts(const std::u16string& Title, const std::u16string& InstallDir) {
    // The uninstaller may run in another account than the installation did (an administrator
    // removing what a deployment tool installed as the system account): both folders are
    // looked at.
    const int own = ProgramsFolder();
    for (const int folderId : {platform::CSIDL_PROGRAMS_, platform::CSIDL_COMMON_PROGRAMS_}) {
        // A Programs folder the shell cannot locate holds none of our links.
        const std::u16string programs = GetShellFolderDir(folderId);
        if (programs.empty()) continue;
        const std::u16string folder = programs + Title;
        if (folderId != own && !platform::DirectoryExists(folder)) continue;
        for (const std::u16string& name : {PreviewLinkName(Title), ReadmeLinkName(), UninstallLinkName(Title)})
            RemoveLink(folder + u"\\" + name + u".lnk", InstallDir, folderId == own);
        // Only when empty: anything else in it is the user's.
        LogRemoval(platform::RemoveEmptyDirectory(folder), "Remove folder", folder);
    }
}

void RemoveDesktopShortcut(const std::u16string& Title, const std::u16string& InstallDir) {
    const int own = DesktopFolder();
    for (const int folderId : {platform::CSIDL_DESKTOP_, platform::CSIDL_COMMON_DESKTOPDIRECTORY_}) {
        const std::u16string desktop = GetShellFolderDir(folderId);
        if (!desktop.empty()) RemoveLink(desktop + PreviewLinkName(Title) + u".lnk", InstallDir, folderId == own);
    }
}
