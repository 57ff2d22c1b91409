/* A tiny screensaver used as the sample payload: white stars drifting on black. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdlib.h>

static POINT g_stars[200];
static POINT g_start;
static BOOL g_haveStart;

static LRESULT CALLBACK SaverProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:
        SetTimer(hwnd, 1, 40, NULL);
        return 0;
    case WM_TIMER: {
        RECT r;
        HDC dc = GetDC(hwnd);
        int i;
        GetClientRect(hwnd, &r);
        for (i = 0; i < 200; ++i) {
            SetPixel(dc, g_stars[i].x, g_stars[i].y, RGB(0, 0, 0));
            g_stars[i].x = (g_stars[i].x + 1 + i % 3) % (r.right + 1);
            if (g_stars[i].y == 0) g_stars[i].y = (i * 7919) % (r.bottom + 1);
            SetPixel(dc, g_stars[i].x, g_stars[i].y, RGB(255, 255, 255));
        }
        ReleaseDC(hwnd, dc);
        return 0;
    }
    case WM_MOUSEMOVE: {
        POINT p = {(short)LOWORD(lp), (short)HIWORD(lp)};
        if (!g_haveStart) { g_start = p; g_haveStart = TRUE; return 0; }
        if (labs(p.x - g_start.x) < 5 && labs(p.y - g_start.y) < 5) return 0;
        DestroyWindow(hwnd);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE prev, PWSTR cmd, int show) {
    WNDCLASSW wc = {0};
    MSG m;
    (void)prev;
    (void)show;
    while (*cmd == L' ') ++cmd;
    if (*cmd != L'/' && *cmd != L'-') {
        MessageBoxW(NULL, L"Starfield has no settings.", L"Starfield", MB_ICONINFORMATION);
        return 0;
    }
    if (cmd[1] != L's' && cmd[1] != L'S') return 0; /* preview and configuration: nothing to show */
    wc.lpfnWndProc = SaverProc;
    wc.hInstance = inst;
    wc.hCursor = NULL;
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = L"StarfieldSaver";
    RegisterClassW(&wc);
    CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Starfield", WS_POPUP | WS_VISIBLE, 0, 0,
                    GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL, inst, NULL);
    while (GetMessageW(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
