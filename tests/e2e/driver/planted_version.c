/* A stranger's version.dll, as one could leave it in Downloads beside an installer: its one
   function answers what no system's does. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle) {
    (void)name;
    if (handle) *handle = 0;
    return 0x0BADF00D;
}
