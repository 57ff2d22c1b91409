/* recorder: a stand-in for a program that Windows starts on the setup's behalf (a URL
 * handler, for example). "recorder <file> [args...]" appends each argument as one UTF-8
 * line to <file>, and the folder it was started in as one line to "<file>.cwd", and ends. A
 * GUI program, so that no console window appears. */
#include <windows.h>
#include <shellapi.h>

static void AppendLine(const wchar_t* file, const wchar_t* text) {
    char line[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, (int)sizeof line - 1, NULL, NULL);
    if (n <= 0) return;
    line[n - 1] = '\n'; /* in place of the NUL */
    HANDLE f = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, line, (DWORD)n, &written, NULL);
    CloseHandle(f);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR cmdLine, int show) {
    (void)instance;
    (void)previous;
    (void)cmdLine;
    (void)show;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 1;
    HANDLE f = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 2;
    CloseHandle(f);
    for (int i = 2; i < argc; ++i) AppendLine(argv[1], argv[i]);
    wchar_t cwd[MAX_PATH + 1], cwdFile[MAX_PATH + 8];
    DWORD cwdLen = GetCurrentDirectoryW(MAX_PATH + 1, cwd);
    if (cwdLen > 0 && cwdLen <= MAX_PATH && lstrlenW(argv[1]) < MAX_PATH) {
        lstrcpyW(cwdFile, argv[1]);
        lstrcatW(cwdFile, L".cwd");
        AppendLine(cwdFile, cwd);
    }
    LocalFree(argv);
    return 0;
}
