// The Windows entry point: hardening first, then the portable program.
#include "../../setup/setup.h"
#include "../system.h"
#include "win32.h"

#include <commctrl.h>

namespace {

// Never load a DLL from the executable's own folder: the setup runs elevated and, as the
// temporary uninstaller copy, from the temp directory. Resolved at run time because the
// function is missing before Windows 8 without update KB2533623.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (fn) fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
#include <cstdlib>
// The default terminate handler of the static C++ runtime prints the exception's demangled
// type, which links the whole demangler (a sixth of the stub). A GUI program has no console
// to print to anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    try {
        return SetupMain(platform::CommandLine());
    } catch (...) {
        return 3;
    }
}
