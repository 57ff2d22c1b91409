#include "../system.h"

#include "crc32_clmul.h"
#include "win32.h"

#include <cstring>

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

win32::AccountSid::AccountSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    const win32::HandlePtr owned(token);
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, &info_, sizeof info_, &size)) sid = info_.user.User.Sid;
}

bool IsSystemAccount() {
    const win32::AccountSid account;
    return account.sid && IsWellKnownSid(account.sid, WinLocalSystemSid);
}

bool IsElevated() {
    // The system's own notion: a token is elevated when it holds the Administrators group or
    // a privilege UAC takes from a filtered token (backup, restore, taking ownership,
    // debugging, ...), as an administrator's does after the consent prompt or without UAC.
    // The system account's is; asking for it as well keeps that plain.
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    const win32::HandlePtr owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return !GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) ||
           elevation.TokenIsElevated != 0 || IsSystemAccount();
}

std::uint64_t TickCount() { return GetTickCount64(); }

std::uint32_t LastError() { return GetLastError(); }
std::uint32_t ProcessId() { return GetCurrentProcessId(); }

DateTime LocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds}};
}

std::uint64_t PerformanceCounter() {
    LARGE_INTEGER value;
    // The clock TickCount reads: one function fewer to import.
    if (!QueryPerformanceCounter(&value)) return GetTickCount64();
    return static_cast<std::uint64_t>(value.QuadPart);
}

std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size) { return Crc32Clmul(Crc, Data, Size); }

bool IsRunningImage(ByteSource& file) {
    const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    if (!image) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const DWORD size = nt->OptionalHeader.SizeOfHeaders;
    std::string bytes(size, '\0');
    if (file.ReadAt(0, bytes.data(), size) != size) return false;
    // The loader writes the address it chose into the mapped header's ImageBase.
    const auto base = static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(&nt->OptionalHeader.ImageBase) - image);
    if (base + sizeof nt->OptionalHeader.ImageBase > size) return false;
    std::memcpy(bytes.data() + base, image + base, sizeof nt->OptionalHeader.ImageBase);
    return std::memcmp(bytes.data(), image, size) == 0;
}

bool ToAnsiExact(std::u16string_view text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    // A UTF-8 system code page takes neither the flag nor the default-character report.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int bytes = WideCharToMultiByte(CP_ACP, flags, in, units, nullptr, 0, nullptr, used);
    if (bytes <= 0 || usedDefault) return false;
    out.resize(static_cast<std::size_t>(bytes));
    if (WideCharToMultiByte(CP_ACP, flags, in, units, out.data(), bytes, nullptr, used) != bytes || usedDefault) {
        out.clear();
        return false;
    }
    return true;
}

int ShowMessage(const std::u16string& text, const std::u16string& caption, unsigned flags) {
    HWND owner = win32::MainWindow();
    if (owner && !IsWindowVisible(owner)) owner = nullptr;
    return MessageBoxW(owner, win32::W(text), win32::W(caption), flags | (owner ? 0 : MB_TASKMODAL));
}

}  // namespace platform

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "../files.h"

namespace platform {

bool ShellOpen(bool ownedByMainForm, const std::u16string& verb, const std::u16string& file,
               const std::u16string& parameters, const std::u16string& directory, int showCommand) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // Without NOASYNC the start may still be under way on another thread when the call
    // returns, and the caller may end, or let go of the file, right after.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = ownedByMainForm ? win32::MainWindow() : nullptr;
    info.lpVerb = verb.empty() ? nullptr : win32::W(verb);
    info.lpFile = win32::W(file);
    info.lpParameters = parameters.empty() ? nullptr : win32::W(parameters);
    info.lpDirectory = directory.empty() ? nullptr : win32::W(directory);
    info.nShow = showCommand;
    return ShellExecuteExW(&info) != FALSE;
}

namespace {

struct ComScope {
    ComScope() : ok(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok;
};

bool FolderPath(PCIDLIST_ABSOLUTE pidl, std::u16string& path) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!pidl || !SHGetPathFromIDListW(pidl, buffer)) return false;
    path = win32::U(buffer);
    return true;
}

int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM lp, LPARAM data) noexcept {
    const auto* folder = reinterpret_cast<const std::u16string*>(data);
    if (msg == BFFM_INITIALIZED) {
        RECT r;
        GetWindowRect(dialog, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                     0, 0, SWP_NOSIZE | SWP_NOZORDER);
        if (!folder->empty() && DirectoryExists(*folder))
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(win32::W(*folder)));
    } else if (msg == BFFM_SELCHANGED) {
        std::u16string path;
        const bool ok = FolderPath(reinterpret_cast<PCIDLIST_ABSOLUTE>(lp), path) && DirectoryExists(path);
        SendMessageW(dialog, BFFM_ENABLEOK, 0, ok ? 1 : 0);
    }
    return 0;
}

}  // namespace

bool BrowseForFolder(std::u16string& Folder, const std::u16string& Text, int HelpContext) {
    (void)HelpContext;  // the folder dialog has no help button
    ComScope com;
    HWND active = GetActiveWindow();
    wchar_t display[MAX_PATH + 1] = {};
    BROWSEINFOW info{};
    info.hwndOwner = win32::MainWindow();
    info.pidlRoot = nullptr;
    info.pszDisplayName = display;
    info.lpszTitle = win32::W(Text);
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&Folder);
    win32::PidlPtr chosen(SHBrowseForFolderW(&info));
    if (active && IsWindow(active)) SetActiveWindow(active);
    std::u16string path;
    if (!chosen || !FolderPath(chosen.get(), path)) return false;
    const bool driveRoot = path.size() == 3 && path[1] == u':' && path[2] == u'\\';
    if (!driveRoot && !path.empty() && path.back() == u'\\') path.pop_back();
    Folder = path;
    return true;
}

}  // namespace platform
