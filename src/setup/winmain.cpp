// The Windows entry point: hardening first, then the portable program.
#include "exit_codes.h"
#include "setup.h"
#include "../platform/system.h"
#include "../platform/win32/win32.h"

#include <cstddef>
#include <new>

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

// The program is built without C++ exceptions: every failure it reports is a returned value.
// Running out of memory is the one failure nothing can report, and ends the run at once with
// the exit code of a failed installation. The global allocation functions are replaced so
// that none of them throws.
namespace {
[[noreturn]] void OutOfMemory() noexcept { ExitProcess(kExitOutOfMemory); }

void* Allocate(std::size_t size) noexcept { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void Release(void* block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* block = Allocate(size)) return block;
    OutOfMemory();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }
// No nothrow delete: only a constructor that throws inside a nothrow new calls it, and nothing
// here throws.

#if defined(__GNUC__) && !defined(__clang__)
// The containers report a length beyond their maximum and similar misuse through these; the
// runtime's own versions throw. A length that large cannot be allocated anyway.
namespace std {
void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char*) { OutOfMemory(); }
void __throw_logic_error(const char*) { OutOfMemory(); }
void __throw_out_of_range(const char*) { OutOfMemory(); }
void __throw_out_of_range_fmt(const char*, ...) { OutOfMemory(); }
void __throw_bad_function_call() { OutOfMemory(); }
}  // namespace std
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    return SetupMain(platform::CommandLine());
}
