// The entry in the system's list of installed programs: written by the installation,
// removed by the uninstaller.
#pragma once

#include <cstdint>
#include <string>

// Below HKEY_LOCAL_MACHINE, or below HKEY_CURRENT_USER for an installation without rights
// for the machine's list; the key is UninstallKeyName of the title (earlier versions used the
// title itself, which any other program's entry may carry too).
inline constexpr char16_t kUninstallKeyBase[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct TUninstallEntry {
    std::u16string Title;
    std::u16string UninstallerPath;  // absolute
    std::u16string ScrPath;          // absolute: the installed screensaver, also the entry's icon
    std::u16string InstallLocation;  // the folder, without a trailing backslash
    std::uint32_t EstimatedSizeKiB = 0;
    std::u16string Link;       // the package's link: shown when it is a web page
    std::u16string Version;    // from the screensaver's version resource; empty: none
    std::u16string Publisher;  // likewise
};

// The machine's list when this run may write it, else the user's own, so that the
// installation is listed either way. Without either the installation still stands: nothing
// is reported. An entry under the title in that list that starts an uninstaller of this setup
// (an earlier version's) goes; another program's stays as it is.
void RegisterUninstall(const TUninstallEntry& Entry);
// Removes the entry of Title from either list, under its key or under the title, where it is
// the one that starts this uninstaller: another installation's entry of the same title stays.
// One that cannot be removed stays without a report.
void RemoveUninstallEntry(const std::u16string& Title, const std::u16string& UninstallerPath);

// The folder an earlier installation of Title registered in the list this run would write
// (with a trailing backslash), where it still exists; empty otherwise. An entry under the
// title counts only when it starts an uninstaller of this setup.
std::u16string RegisteredInstallLocation(const std::u16string& Title);
