// Console probe of the setup's binder of functions imported when first called
// (src/platform/win32/delay_load_mingw.cpp): a function that is there is bound and called, and
// stays bound; a function or a DLL that is missing raises the exception the runtime's binder
// raises. Prints one line and exits 0 when the call returned, 2 on an exception.
#include <windows.h>

#include <cstdio>
#include <cwchar>

extern "C" {
__declspec(dllimport) DWORD WINAPI NoSuchFunctionOfTheProbe();
__declspec(dllimport) DWORD WINAPI AbsentProbeFunction();
}

namespace {

LONG CALLBACK Report(EXCEPTION_POINTERS* pointers) {
    std::printf("exception 0x%08lX\n", static_cast<unsigned long>(pointers->ExceptionRecord->ExceptionCode));
    std::fflush(stdout);
    ExitProcess(2);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 1;
    AddVectoredExceptionHandler(1, Report);
    const wchar_t* command = argv[1];
    if (std::wcscmp(command, L"present") == 0) {
        wchar_t path[MAX_PATH];
        if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) return 1;
        DWORD handle = 0;
        // Twice: the second call goes through the bound slot.
        const DWORD first = GetFileVersionInfoSizeW(path, &handle);
        const DWORD second = GetFileVersionInfoSizeW(path, &handle);
        std::printf("%s\n", first == second ? (first ? "bound" : "no version") : "differ");
        return 0;
    }
    if (std::wcscmp(command, L"missing-function") == 0) {
        std::printf("returned %lu\n", static_cast<unsigned long>(NoSuchFunctionOfTheProbe()));
        return 0;
    }
    if (std::wcscmp(command, L"missing-dll") == 0) {
        std::printf("returned %lu\n", static_cast<unsigned long>(AbsentProbeFunction()));
        return 0;
    }
    return 1;
}
