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
#include <cxxabi.h>

#include <cstdlib>
#include <new>
#include <typeinfo>
// The default terminate handler of the static C++ runtime prints the exception's demangled
// type, which links the whole demangler (a sixth of the stub). A GUI program has no console
// to print to anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The containers report misuse through these; the runtime's own versions build
// std::logic_error and friends, which drag in its whole std::string (a quarter of the stub).
// The setup catches every failure alike, so plain exceptions serve.
namespace {
class RuntimeFault : public std::exception {
public:
    const char* what() const noexcept override { return "runtime fault"; }
};
}  // namespace

namespace std {
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
void __throw_bad_cast() { throw std::bad_cast(); }
void __throw_bad_typeid() { throw RuntimeFault(); }
void __throw_bad_exception() { throw RuntimeFault(); }
void __throw_logic_error(const char*) { throw RuntimeFault(); }
void __throw_domain_error(const char*) { throw RuntimeFault(); }
void __throw_invalid_argument(const char*) { throw RuntimeFault(); }
void __throw_out_of_range(const char*) { throw RuntimeFault(); }
void __throw_out_of_range_fmt(const char*, ...) { throw RuntimeFault(); }
void __throw_runtime_error(const char*) { throw RuntimeFault(); }
void __throw_range_error(const char*) { throw RuntimeFault(); }
void __throw_overflow_error(const char*) { throw RuntimeFault(); }
void __throw_underflow_error(const char*) { throw RuntimeFault(); }
}  // namespace std

// The runtime keeps the exceptions in flight per thread, in emulated thread-local storage with
// its own allocator and locks. The stub throws and catches on its one thread only.
namespace __cxxabiv1 {
// As the Itanium C++ ABI lays it out: the exceptions being handled, and how many are uncaught.
struct __cxa_eh_globals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

namespace {
__cxa_eh_globals g_ehGlobals;
}  // namespace

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept { return &g_ehGlobals; }
extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return &g_ehGlobals; }
}  // namespace __cxxabiv1
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
