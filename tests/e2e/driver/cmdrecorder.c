/* cmdrecorder: a stand-in for a program that is started under a fixed name (a system tool, or
 * a file the shell runs itself), where the arguments cannot name an output file. Appends its
 * whole command line, as one UTF-8 line, to "<its own path>.log" and ends. A GUI program, so
 * that no console window appears. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR cmdLine, int show) {
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    wchar_t path[MAX_PATH + 8];
    DWORD len = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return 1;
    lstrcpyW(path + len, L".log");

    const wchar_t* line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    if (size <= 0) return 2;
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (!text) return 2;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text, size, NULL, NULL);
    text[size - 1] = '\n'; /* in place of the NUL */

    /* Shared for writing too: two runs at once must both get their line in. */
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    BOOL ok = WriteFile(f, text, (DWORD)size, &written, NULL);
    CloseHandle(f);
    HeapFree(GetProcessHeap(), 0, text);
    return ok && written == (DWORD)size ? 0 : 3;
}
