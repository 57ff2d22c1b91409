#include "../system.h"

#include "win32.h"

namespace platform {

std::u16string CommandLine() { return win32::U(GetCommandLineW()); }

OsVersionInfo OsVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    OsVersionInfo out;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    out.ok = GetVersionExW(&info) != 0;
    if (out.ok) {
        out.platformId = info.dwPlatformId;
        out.major = info.dwMajorVersion;
        out.minor = info.dwMinorVersion;
        out.servicePack = win32::U(info.szCSDVersion);
    }
    return out;
}

int ShowMessage(const std::u16string& text, const std::u16string& caption, unsigned flags) {
    HWND owner = win32::MainWindow();
    if (owner && !IsWindowVisible(owner)) owner = nullptr;
    return MessageBoxW(owner, win32::W(text), win32::W(caption), flags | (owner ? 0 : MB_TASKMODAL));
}

}  // namespace platform
