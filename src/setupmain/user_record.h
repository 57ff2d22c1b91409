// The per-user record of an installation: where the last installation of a title put the
// screensaver, kept under the user's key with the screensaver's own settings. Written by the
// installation, read by the next installation and the uninstaller, cleared by the uninstaller.
#pragma once

#include <string>
#include <string_view>

// Below HKEY_CURRENT_USER; the title names the key.
inline constexpr char16_t kUserKeyBase[] = u"Software\\Glimmerdeck\\";
inline constexpr char16_t kInstalledFileValue[] = u"FileName_";

// Where the last installation of this title put the screensaver, as stored, or empty.
std::u16string LoadInstalledFileName(const std::u16string& Title);

// The remembered screensaver when it is a file of Dir (ending in a backslash) itself: the stored path resolved to a
// full one names Dir (letter case ignored) as its folder, and its name is a plain file name
// with ScrName's extension. Then Dir followed by that name, else empty. Any process of the
// user can write the record, so nothing else in it may steer what is replaced or deleted.
std::u16string RememberedFileIn(const std::u16string& Title, const std::u16string& Dir, std::u16string_view ScrName);
void SaveInstalledFileName(const std::u16string& Title, const std::u16string& FileName);
// Every value of the title's key and its "PlayList" tree; the key itself stays.
void ClearUserSettings(const std::u16string& Title);
