// The binder of the functions the setup imports when first called (the import libraries made
// from cmake/delayload/), for GCC builds. The runtime's own also unloads and preloads DLLs and
// calls hooks, which the setup never uses, at five times the size. MSVC builds keep theirs.
#include "win32.h"

#include <delayimp.h>

extern "C" {
extern IMAGE_DOS_HEADER __ImageBase;
FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descr, FARPROC* slot);
}

namespace {

// From the system folder by its full path: where the system lacks the restricted search
// (Vista, Windows 7 without KB2533623) a name alone finds a DLL planted beside the setup, in
// Downloads, first. The common controls by name alone: the manifest's version 6 is found
// through the activation context, before any folder is searched (and a manifest turns off
// .local redirection).
HMODULE LoadSystemDll(const char* name) {
    wchar_t path[MAX_PATH + 32];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    wchar_t* const file = path + n + 1;
    path[n] = L'\\';
    // The names of the import libraries are short ASCII names.
    int i = 0;
    for (; name[i] && i < 30; ++i) file[i] = static_cast<wchar_t>(name[i]);
    file[i] = L'\0';
    return LoadLibraryW(CompareStringOrdinal(file, -1, L"comctl32.dll", -1, TRUE) == CSTR_EQUAL ? file : path);
}

}  // namespace

// Called by the import's stub with its slot: loads the DLL on its first call, binds the slot
// and returns the function. A missing DLL or function raises the exception the runtime's
// binder raises.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descr, FARPROC* slot) {
    char* const base = reinterpret_cast<char*>(&__ImageBase);
    auto* const module = reinterpret_cast<HMODULE*>(base + descr->rvaHmod);
    const auto* const slots = reinterpret_cast<FARPROC*>(base + descr->rvaIAT);
    const IMAGE_THUNK_DATA& name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descr->rvaINT)[slot - slots];
    if (!*module) *module = LoadSystemDll(base + descr->rvaDLLName);
    FARPROC function = nullptr;
    if (*module)
        function = GetProcAddress(*module, IMAGE_SNAP_BY_ORDINAL(name.u1.Ordinal)
                                               ? MAKEINTRESOURCEA(IMAGE_ORDINAL(name.u1.Ordinal))
                                               : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name.u1.AddressOfData)->Name);
    if (!function)
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, (*module ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND)),
                       EXCEPTION_NONCONTINUABLE, 0, nullptr);
    *slot = function;
    return function;
}
