// Shared by the Win32 implementation files only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <shtypes.h>

#include <memory>
#include <string>

namespace platform::win32 {

// char16_t and wchar_t are both UTF-16 on Windows; the text passes unconverted.
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* W(std::u16string& s) { return reinterpret_cast<wchar_t*>(s.data()); }
inline std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }
inline std::u16string U(const wchar_t* s, std::size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

HWND MainWindow();

// An item list the shell handed out, freed with the task allocator.
struct PidlFree {
    void operator()(ITEMIDLIST* pidl) const { CoTaskMemFree(pidl); }
};
using PidlPtr = std::unique_ptr<ITEMIDLIST, PidlFree>;

// A kernel handle, closed when it goes.
struct HandleCloser {
    void operator()(void* h) const { CloseHandle(h); }
};
using HandlePtr = std::unique_ptr<void, HandleCloser>;

// The SID of the account the process runs as; null when it cannot be read.
struct AccountSid {
    AccountSid();
    AccountSid(const AccountSid&) = delete;
    AccountSid& operator=(const AccountSid&) = delete;
    PSID sid = nullptr;

private:
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info_;
};

// Pixels at 96 DPI to pixels at the system's DPI.
int Scale(int value);

// Window class of panels, the notebook and its pages.
inline constexpr wchar_t kContainerClass[] = L"TSCRContainer";

}  // namespace platform::win32
