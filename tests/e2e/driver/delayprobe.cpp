// Console probe of the setup's binder of functions imported when first called
// (src/platform/win32/delay_load_mingw.cpp): a function that is there is bound and called, and
// stays bound; a function or a DLL that is missing raises the exception the runtime's binder
// raises. Prints one line and exits 0 when the call returned, 2 on an exception.
//
//   delayprobe present            "bound", or "planted" when a version.dll beside the probe answered
//   delayprobe byname             the same through LoadLibrary with the name alone, for comparison
//   delayprobe missing-function   the binder's exception
//   delayprobe missing-dll        the binder's exception
#include <windows.h>

#include <cstdio>
#include <cwchar>

extern "C" {
__declspec(dllimport) DWORD WINAPI NoSuchFunctionOfTheProbe();
__declspec(dllimport) DWORD WINAPI AbsentProbeFunction();
}

namespace {

// What the version.dll the tests plant beside the probe answers (planted_version.c).
constexpr DWORD kPlantedAnswer = 0x0BADF00D;

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
        std::printf("%s\n", first == kPlantedAnswer ? "planted"
                            : first == second      ? (first ? "bound" : "no version")
                                                   : "differ");
        return 0;
    }
    if (std::wcscmp(command, L"byname") == 0) {
        using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
        const HMODULE module = LoadLibraryA("version.dll");
        const auto size = module ? reinterpret_cast<SizeFn>(reinterpret_cast<void*>(
                                       GetProcAddress(module, "GetFileVersionInfoSizeW")))
                                 : nullptr;
        DWORD handle = 0;
        std::printf("%s\n", !size ? "not loaded" : size(L"x", &handle) == kPlantedAnswer ? "planted" : "system");
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
