#include "links.h"

#include "../common/lang.h"
#include "../platform/files.h"
#include "../platform/shell.h"
#include "run_log.h"
#include "sysroutines.h"

namespace {
void RemoveLink(const std::u16string& path) { LogRemoval(platform::RemoveFile(path), "Remove link", path); }
}  // namespace

std::u16string PreviewLinkName(const std::u16string& Title) { return LangStr(u"Preview") + u" " + Title; }
std::u16string ReadmeLinkName() { return LangStr(u"Readme"); }
std::u16string UninstallLinkName(const std::u16string& Title) { return LangStr(u"Uninstall") + u" " + Title; }

void CreateMenuShortcuts(const TLinkTargets& Targets) {
    const std::u16string& Title = Targets.Title;
    const std::u16string programs = GetShellFolderDir(platform::CSIDL_PROGRAMS_);
    if (programs.empty()) return;
    CreateDirTree(programs + Title + u"\\");

    const std::u16string folder = Title + u"\\";
    (void)CreateShortcut(Targets.ScrPath, folder + PreviewLinkName(Title), platform::CSIDL_PROGRAMS_);
    if (!Targets.ReadmePath.empty())
        (void)CreateShortcut(Targets.ReadmePath, folder + ReadmeLinkName(), platform::CSIDL_PROGRAMS_);
    (void)CreateShortcut(Targets.UninstallerPath, folder + UninstallLinkName(Title), platform::CSIDL_PROGRAMS_);
}

void CreateDesktopShortcut(const TLinkTargets& Targets) {
    (void)CreateShortcut(Targets.ScrPath, PreviewLinkName(Targets.Title), platform::CSIDL_DESKTOP_);
}

void RemoveMenuShortcuts(const std::u16string& Title) {
    // A Programs folder the shell cannot locate holds none of our links.
    const std::u16string programs = GetShellFolderDir(platform::CSIDL_PROGRAMS_);
    if (programs.empty()) return;
    const std::u16string folder = programs + Title;
    for (const std::u16string& name : {PreviewLinkName(Title), ReadmeLinkName(), UninstallLinkName(Title)})
        RemoveLink(folder + u"\\" + name + u".lnk");
    // Only when empty: anything else in it is the user's.
    LogRemoval(platform::RemoveEmptyDirectory(folder), "Remove folder", folder);
}

void RemoveDesktopShortcut(const std::u16string& Title) {
    const std::u16string desktop = GetShellFolderDir(platform::CSIDL_DESKTOP_);
    if (!desktop.empty()) RemoveLink(desktop + PreviewLinkName(Title) + u".lnk");
}
