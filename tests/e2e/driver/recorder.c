/* recorder: a stand-in for a program that Windows starts on the setup's behalf (a URL
 * handler, for example). "recorder <file> [args...]" appends each argument as one UTF-8
 * line to <file> and ends. A GUI program, so that no console window appears. */
#include <windows.h>
#include <shellapi.h>

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
    for (int i = 2; i < argc; ++i) {
        char line[4096];
        int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, line, (int)sizeof line - 1, NULL, NULL);
        if (n <= 0) continue;
        line[n - 1] = '\n'; /* in place of the NUL */
        DWORD written = 0;
        WriteFile(f, line, (DWORD)n, &written, NULL);
    }
    CloseHandle(f);
    LocalFree(argv);
    return 0;
}
