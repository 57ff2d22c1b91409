// The folders of a stand-in Windows on a TempDrive, as an installation finds them.
#pragma once

#include <filesystem>

#include "platform/shell.h"
#include "platform/standin/standin.h"
#include "temp_drive.h"

// Aurora's entry: under UninstallKeyName(u"Aurora"), and under the title as earlier versions wrote it.
inline constexpr char16_t kUninstallKey[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7E9A7207-2FBC-8D7D-9900-3802E2DDB591}";
inline constexpr char16_t kLegacyUninstallKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Aurora";
inline constexpr char16_t kUserKey[] = u"Software\\Glimmerdeck\\Aurora";
inline constexpr char16_t kPrograms[] = u"C:\\Users\\me\\Start Menu\\Programs";
inline constexpr char16_t kDesktop[] = u"C:\\Users\\me\\Desktop";
inline constexpr char16_t kTemp[] = u"C:\\Windows\\Temp\\";

// Program Files, the Start menu's Programs, the desktop, the system and temporary folders.
inline void MakeSystemFolders(const TempDrive& drive) {
    for (const auto* folder : {kPrograms, kDesktop, kTemp, u"C:\\Program Files", u"C:\\Windows\\system32"})
        std::filesystem::create_directories(drive.Host(folder));
    standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILES_, u"C:\\Program Files");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAMS_, kPrograms);
    standin::SetSpecialFolder(platform::CSIDL_DESKTOP_, kDesktop);
    standin::SetTempDir(kTemp);
}
