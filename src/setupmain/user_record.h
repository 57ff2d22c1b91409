// The per-user record of an installation: where the last installation of a title put the
// screensaver, kept under the user's key with the screensaver's own settings. Written by the
// installation, read by the next installation and the uninstaller, cleared by the uninstaller.
#pragma once

#include <string>

// Below HKEY_CURRENT_USER; the title names the key.
inline constexpr char16_t kUserKeyBase[] = u"Software\\Glimmerdeck\\";
inline constexpr char16_t kInstalledFileValue[] = u"FileName_";

// Where the last installation of this title put the screensaver, or empty.
std::u16string LoadInstalledFileName(const std::u16string& Title);
void SaveInstalledFileName(const std::u16string& Title, const std::u16string& FileName);
// Every value of the title's key and its "PlayList" tree; the key itself stays.
void ClearUserSettings(const std::u16string& Title);
