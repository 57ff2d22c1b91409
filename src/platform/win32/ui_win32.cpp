#include "../ui.h"

#include "win32.h"

#include <commctrl.h>

namespace platform {

namespace {

struct AppState {
    std::u16string title;
    bool showMainForm = true;
    bool terminated = false;
    HWND main = nullptr;
    Form* form = nullptr;
    bool busy = false;
};

AppState& App() {
    static AppState state;
    return state;
}

constexpr wchar_t kFormClass[] = L"TSCRSetup";
constexpr int kClientWidth = 513;
constexpr int kClientHeight = 386;
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr COLORREF kTitleColour = RGB(0, 51, 188);
constexpr COLORREF kLinkColour = RGB(0, 102, 204);

int BackgroundOf(HWND container) {
    Control* c = Control::FromHandle(container);
    return c && (c->Style() & kWindowColour) ? COLOR_WINDOW : COLOR_BTNFACE;
}

// Messages that the form and every container handle alike: clicks of their controls,
// colours, the link's hand cursor, the background.
bool HandleChildMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
        case WM_COMMAND: {
            Control* c = Control::FromHandle(reinterpret_cast<HWND>(lp));
            if (!c) return false;
            const WORD code = HIWORD(wp);
            const bool button = (c->Kind() == ControlKind::Button || c->Kind() == ControlKind::RadioButton) &&
                                code == BN_CLICKED;
            const bool link = c->Kind() == ControlKind::Label && (c->Style() & kLinkStyle) && code == STN_CLICKED;
            // Anyone may send a click for a disabled or hidden control: it checks that itself.
            if (button || link) c->NativeClick();
            result = 0;
            return true;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wp);
            Control* c = Control::FromHandle(reinterpret_cast<HWND>(lp));
            int background = BackgroundOf(hwnd);
            COLORREF textColour = GetSysColor(COLOR_WINDOWTEXT);
            if (c && c->Kind() == ControlKind::Memo) background = COLOR_WINDOW;
            if (c && (c->Style() & kTitleFont)) textColour = kTitleColour;
            if (c && (c->Style() & kLinkStyle)) textColour = kLinkColour;
            SetTextColor(dc, textColour);
            SetBkColor(dc, GetSysColor(background));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(background));
            return true;
        }
        case WM_SETCURSOR: {
            if (App().busy) {
                SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
                result = TRUE;
                return true;
            }
            Control* c = Control::FromHandle(reinterpret_cast<HWND>(wp));
            if (c && (c->Style() & kLinkStyle)) {
                SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
                result = TRUE;
                return true;
            }
            return false;
        }
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(BackgroundOf(hwnd)));
            result = 1;
            return true;
        }
        default:
            return false;
    }
}

LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    LRESULT result = 0;
    if (HandleChildMessage(hwnd, msg, wp, lp, result)) return result;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The form is a dialog window of its own class: the dialog manager keeps the focus across
// activations and makes the focused push button the one that Enter presses.
LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    Form* form = App().main == hwnd ? App().form : nullptr;
    LRESULT result = 0;
    if (HandleChildMessage(hwnd, msg, wp, lp, result)) return result;
    switch (msg) {
        case WM_CLOSE:
            if (form) form->Close();
            return 0;
        case WM_COMMAND:
            // IDOK for Enter where no push button has the focus: no button is the default
            // one. IDCANCEL never comes: Escape is handled in the message loop.
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
    return DefDlgProcW(hwnd, msg, wp, lp);
}

void RegisterClasses() {
    static bool done = false;
    if (done) return;
    // The common controls are loaded with the first window: a run that ends before it never
    // pays for them and their visual styles.
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FormProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = ContainerProc;
    wc.cbWndExtra = 0;
    wc.hIcon = nullptr;
    wc.lpszClassName = win32::kContainerClass;
    RegisterClassExW(&wc);
    done = true;
}

// Escape belongs to the form, not to the control that has the focus.
bool PreTranslate(MSG& msg) {
    HWND main = App().main;
    if (!main || !App().form) return false;
    const bool inForm = msg.hwnd == main || IsChild(main, msg.hwnd);
    if (!inForm) return false;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        Control::Fire(App().form->OnEscape);
        return true;
    }
    return IsDialogMessageW(main, &msg) != 0;
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
        if (PreTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Application::SetBusyCursor(bool busy) {
    // Without a window there is no cursor of ours to show.
    if (!App().main) return;
    App().busy = busy;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(busy ? IDC_WAIT : IDC_ARROW)));
}

Form::Form() {
    caption_ = u"Screen Saver Setup";
    // A form that is never to be shown gets no window, and none of its controls one: a silent
    // run then never starts the windowing system, the common controls or their visual styles.
    if (!App().showMainForm) return;
    RegisterClasses();
    RECT r{0, 0, win32::Scale(kClientWidth), win32::Scale(kClientHeight)};
    AdjustWindowRectEx(&r, kFormStyle, FALSE, 0);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    HWND hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kFormClass, win32::W(caption_), kFormStyle, x, y, w, h, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwnd) {
        App().main = hwnd;
        App().form = this;
        // Enter presses a push button only when it has the focus (IDOK is no control's id).
        SendMessageW(hwnd, DM_SETDEFID, IDOK, 0);
    }
    handle_ = hwnd;
}

Form::~Form() {
    if (App().form == this) App().form = nullptr;
    if (handle_) {
        HWND hwnd = static_cast<HWND>(handle_);
        handle_ = nullptr;
        DestroyWindow(hwnd);
    }
}

void Form::SetCaption(const std::u16string& caption) {
    caption_ = caption;
    if (handle_) SetWindowTextW(static_cast<HWND>(handle_), win32::W(caption));
}

std::u16string Form::Caption() const { return caption_; }

bool Form::IsVisible() const { return handle_ && IsWindowVisible(static_cast<HWND>(handle_)); }

void Form::Close() {
    if (closed_) return;
    closed_ = true;
    if (handle_) ShowWindow(static_cast<HWND>(handle_), SW_HIDE);
    PostQuitMessage(0);
}

void Form::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (handle_) EnableWindow(static_cast<HWND>(handle_), enabled);
}

void Form::Run() {
    if (App().terminated || closed_) return;
    HWND hwnd = static_cast<HWND>(handle_);
    if (App().showMainForm && hwnd) {
        ShowWindow(hwnd, SW_SHOWNORMAL);
        if (Control* first = FirstTabStop()) first->SetFocus();
        UpdateWindow(hwnd);
        visible_ = true;
    }
    MSG msg;
    while (!closed_ && !App().terminated && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (PreTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace platform
