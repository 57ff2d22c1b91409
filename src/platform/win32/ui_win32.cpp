#include "../ui.h"

#include "win32.h"

namespace platform {

namespace {

struct AppState {
    std::u16string title;
    bool showMainForm = true;
    bool terminated = false;
    HWND main = nullptr;
};

AppState& App() {
    static AppState state;
    return state;
}

constexpr wchar_t kFormClass[] = L"TSCRSetup";
constexpr int kClientWidth = 513;
constexpr int kClientHeight = 386;
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    try {
        auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
            case WM_CLOSE:
                if (form) form->Close();
                return 0;
            case WM_DESTROY:
                if (App().main == hwnd) {
                    App().main = nullptr;
                    PostQuitMessage(0);
                }
                return 0;
            default:
                break;
        }
    } catch (...) {
        // Nothing may cross back into the system; the click that failed simply ends.
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void RegisterFormClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    done = true;
}

int ScaleForDpi(int value) {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return MulDiv(value, dpi, 96);
}

}  // namespace

HWND win32::MainWindow() { return App().main; }

void Application::SetTitle(const std::u16string& title) { App().title = title; }
const std::u16string& Application::Title() { return App().title; }
void Application::SetShowMainForm(bool show) { App().showMainForm = show; }
bool Application::ShowMainForm() { return App().showMainForm; }

void Application::Terminate() {
    App().terminated = true;
    PostQuitMessage(0);
}

bool Application::Terminated() { return App().terminated; }

void Application::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            App().terminated = true;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

Form::Form() {
    RegisterFormClass();
    RECT r{0, 0, ScaleForDpi(kClientWidth), ScaleForDpi(kClientHeight)};
    AdjustWindowRectEx(&r, kFormStyle, FALSE, 0);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    HWND hwnd = CreateWindowExW(0, kFormClass, L"Screen Saver Setup", kFormStyle, x, y, w, h, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (hwnd) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        App().main = hwnd;
    }
    handle_ = hwnd;
    caption_ = u"Screen Saver Setup";
}

Form::~Form() {
    if (handle_) {
        SetWindowLongPtrW(static_cast<HWND>(handle_), GWLP_USERDATA, 0);
        DestroyWindow(static_cast<HWND>(handle_));
    }
}

void Form::SetCaption(const std::u16string& caption) {
    caption_ = caption;
    if (handle_) SetWindowTextW(static_cast<HWND>(handle_), win32::W(caption));
}

std::u16string Form::Caption() const { return caption_; }

bool Form::IsVisible() const { return handle_ && IsWindowVisible(static_cast<HWND>(handle_)); }

void Form::Close() {
    closed_ = true;
    if (handle_) {
        HWND hwnd = static_cast<HWND>(handle_);
        handle_ = nullptr;
        DestroyWindow(hwnd);
    }
}

void Form::Run() {
    if (App().terminated || closed_) return;
    if (App().showMainForm && handle_) {
        ShowWindow(static_cast<HWND>(handle_), SW_SHOWNORMAL);
        UpdateWindow(static_cast<HWND>(handle_));
        visible_ = true;
    }
    MSG msg;
    while (!closed_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace platform
