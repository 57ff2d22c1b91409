/* cmdrecorder: a stand-in for a program that is started under a fixed name (a system tool, or
 * a file the shell runs itself), where the arguments cannot name an output file. Appends its
 * whole command line, as one UTF-8 line, to "<its own path>.log", and the folder it was
 * started in to "<its own path>.cwd", and ends. A GUI program, so that no console window
 * appears. */
#include <windows.h>

/* Shared for writing too: two runs at once must both get their line in. */
static BOOL AppendLine(const wchar_t* file, const wchar_t* line) {
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, NULL, 0, NULL, NULL);
    if (size <= 0) return FALSE;
    char* text = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (!text) return FALSE;
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text, size, NULL, NULL);
    text[size - 1] = '\n'; /* in place of the NUL */
    BOOL ok = FALSE;
    HANDLE f = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(f, text, (DWORD)size, &written, NULL) && written == (DWORD)size;
        CloseHandle(f);
    }
    HeapFree(GetProcessHeap(), 0, text);
    return ok;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR cmdLine, int show) {
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    wchar_t path[MAX_PATH + 8];
    DWORD len = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return 1;
    wchar_t cwd[MAX_PATH + 1];
    DWORD cwdLen = GetCurrentDirectoryW(MAX_PATH + 1, cwd);
    if (cwdLen == 0 || cwdLen > MAX_PATH) return 2;
    lstrcpyW(path + len, L".log");
    if (!AppendLine(path, GetCommandLineW())) return 3;
    lstrcpyW(path + len, L".cwd");
    return AppendLine(path, cwd) ? 0 : 3;
}
