// The entry in the system's list of installed programs: written by the installation,
// removed by the uninstaller.
#pragma once

#include <string>

// Below HKEY_LOCAL_MACHINE; the title names the entry's key.
inline constexpr char16_t kUninstallKeyBase[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Without rights for the machine-wide key the installation still stands, and the entry
// stays when it cannot be removed: neither reports anything.
void RegisterUninstall(const std::u16string& Title, const std::u16string& UninstallerPath);
void RemoveUninstallEntry(const std::u16string& Title);
