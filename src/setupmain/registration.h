// What an installation leaves outside its own folder: the uninstall entry, the shortcuts,
// the power-request override and the per-user record of the installed file.
#pragma once

#include <string>
#include <string_view>

// Registry keys, below their roots.
inline constexpr char16_t kUninstallKeyBase[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr char16_t kUserKeyBase[] = u"Software\\Glimmerdeck\\";
inline constexpr char16_t kInstalledFileValue[] = u"FileName_";

// "uninstall Aurora1.exe" for Aurora1.scr: the translated word with A to Z lower-cased,
// a blank, the screensaver's name with ".exe" for its extension.
std::u16string UninstallerFileName(std::u16string_view ScrName);

// Each of these swallows its own failures: a missing entry or shortcut must not undo a
// screensaver that is installed.
void RegisterUninstall(const std::u16string& Title, const std::u16string& UninstallerPath);
void CreateMenuShortcuts(const std::u16string& Title, const std::u16string& UninstallerPath,
                         const std::u16string& ScrPath, bool HasReadme);
void CreateDesktopShortcut(const std::u16string& Title, const std::u16string& ScrPath);
// Keeps the display on while the screensaver runs, through the system's powercfg.exe.
void RequestPowerOverride(const std::u16string& ScrName);

// The links' names, without ".lnk": the Start-menu folder holds all three, the desktop the
// preview link. The uninstaller removes them under the same names.
std::u16string PreviewLinkName(const std::u16string& Title);
std::u16string ReadmeLinkName();
std::u16string UninstallLinkName(const std::u16string& Title);

// The readme copy beside the screensaver: <Dir><Title> <Readme>.txt.
std::u16string ReadmeCopyName(const std::u16string& Title);

// The readme as it is saved: the system's 8-bit code page when every character converts
// exactly, else UTF-8 with a byte-order mark.
std::string EncodeReadme(std::u16string_view text);
