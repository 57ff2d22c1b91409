// The shell links of an installation: the Start-menu folder with its preview, readme and
// uninstall links, and the preview link on the desktop. Made by the installation, removed by
// the uninstaller under the same names when they start its files.
#pragma once

#include <string>

// What the links point at.
struct TLinkTargets {
    std::u16string Title;
    std::u16string ScrPath;
    std::u16string UninstallerPath;
    std::u16string ReadmePath;  // empty: no readme link
};

// Each link stands alone and swallows its failure: a missing link must not undo a
// screensaver that is installed.
void CreateMenuShortcuts(const TLinkTargets& Targets);
void CreateDesktopShortcut(const TLinkTargets& Targets);

// Removes the links that start a file in InstallDir, from the account's own folders and the
// all-users ones. A link that is already gone is no error; the Start-menu folder goes only when
// empty.
void RemoveMenuShortcuts(const std::u16string& Title, const std::u16string& InstallDir);
void RemoveDesktopShortcut(const std::u16string& Title, const std::u16string& InstallDir);

// The links' names, without ".lnk", in the package's language.
std::u16string PreviewLinkName(const std::u16string& Title);
std::u16string ReadmeLinkName();
std::u16string UninstallLinkName(const std::u16string& Title);
