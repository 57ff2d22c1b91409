/* Times the start of a Windows program from inside Windows (or Wine), so that the start of the
 * timer itself is not counted: from CreateProcess to the program's first visible top-level
 * window, or to its exit.
 *
 *   startup_timer window <timeout_ms> <exe> [args...]   ends the program once the window shows
 *   startup_timer exit <timeout_ms> <exe> [args...]
 *
 * Prints one line: "<milliseconds> <exit code>", the exit code being -1 for a window run.
 * Exit code: 0 measured, 1 usage, 2 the program did not start, 3 timeout or no window. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

struct Search {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
    struct Search* s = (struct Search*)lp;
    DWORD pid = 0;
    RECT r;
    GetWindowThreadProcessId(hwnd, &pid);
    /* A collapsed 1x1 helper window is no window the user sees. */
    if (pid == s->pid && IsWindowVisible(hwnd) && GetWindowRect(hwnd, &r) && r.right - r.left > 1 &&
        r.bottom - r.top > 1) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

/* Appends one argument, quoted so that CommandLineToArgvW reads it back unchanged. */
static void AppendArg(wchar_t* out, size_t size, const wchar_t* arg) {
    size_t n = wcslen(out);
#define PUT(c)                              \
    do {                                    \
        if (n < size - 1) out[n++] = (c);   \
    } while (0)
    if (n) PUT(L' ');
    const int quote = arg[0] == 0 || wcspbrk(arg, L" \t\"") != NULL;
    if (quote) PUT(L'"');
    for (const wchar_t* p = arg;; ++p) {
        size_t slashes = 0;
        while (*p == L'\\') {
            ++p;
            ++slashes;
        }
        /* Backslashes double before a quote, the closing one included. */
        if (*p == 0) {
            for (size_t i = 0; i < (quote ? 2 * slashes : slashes); ++i) PUT(L'\\');
            break;
        }
        if (*p == L'"') {
            for (size_t i = 0; i < 2 * slashes + 1; ++i) PUT(L'\\');
        } else {
            for (size_t i = 0; i < slashes; ++i) PUT(L'\\');
        }
        PUT(*p);
    }
    if (quote) PUT(L'"');
#undef PUT
    out[n] = 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || (wcscmp(argv[1], L"window") != 0 && wcscmp(argv[1], L"exit") != 0)) {
        fwprintf(stderr, L"usage: startup_timer window|exit <timeout_ms> <exe> [args...]\n");
        return 1;
    }
    const int window = wcscmp(argv[1], L"window") == 0;
    const DWORD timeout = (DWORD)wcstoul(argv[2], NULL, 10);
    static wchar_t cmd[32768];
    for (int i = 3; i < argc; ++i) AppendArg(cmd, sizeof cmd / sizeof cmd[0], argv[i]);

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[3], cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fwprintf(stderr, L"CreateProcess failed: %lu\n", GetLastError());
        return 2;
    }
    const DWORD began = GetTickCount();
    int result = 0;
    DWORD code = (DWORD)-1;
    if (window) {
        struct Search s = {pi.dwProcessId, NULL};
        for (;;) {
            EnumWindows(Visit, (LPARAM)&s);
            if (s.found) break;
            if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0 || GetTickCount() - began > timeout) {
                result = 3;
                break;
            }
        }
        QueryPerformanceCounter(&end);
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 10000);
    } else {
        if (WaitForSingleObject(pi.hProcess, timeout) != WAIT_OBJECT_0) {
            result = 3;
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 10000);
        }
        QueryPerformanceCounter(&end);
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)freq.QuadPart;
    printf("%.2f %ld\n", ms, window ? -1L : (long)code);
    fflush(stdout);
    return result;
}
