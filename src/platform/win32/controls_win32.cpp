#include "../native.h"
#include "win32.h"

#include <commctrl.h>

#include <memory>
#include <type_traits>

namespace platform {

namespace {

int g_nextId = 100;

HWND Hwnd(void* handle) { return static_cast<HWND>(handle); }

struct Fonts {
    HFONT normal = nullptr, title = nullptr, link = nullptr;
    Fonts() = default;
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
    ~Fonts() {
        for (HFONT f : {normal, title, link})
            if (f) DeleteObject(f);
    }
};

HFONT MakeFont(int height, bool underline) {
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

// Made once, when the first control needs them, and kept for the whole run.
const Fonts& TheFonts() {
    static Fonts fonts;
    if (!fonts.normal) {
        fonts.normal = MakeFont(-win32::Scale(12), false);
        fonts.title = MakeFont(-win32::Scale(15), false);
        fonts.link = MakeFont(-win32::Scale(12), true);
    }
    return fonts;
}

// A picture control keeps a handle to the image it was given, but never frees it. Each
// kind has a property of its own, so that it is freed by its kind: the style cannot tell,
// as SS_BITMAP holds the bits of SS_ICON.
constexpr wchar_t kBitmapProp[] = L"SCRSetup.Bitmap";
constexpr wchar_t kIconProp[] = L"SCRSetup.Icon";

struct BitmapFree {
    void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
struct IconFree {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using BitmapPtr = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapFree>;
using IconPtr = std::unique_ptr<std::remove_pointer_t<HICON>, IconFree>;

// Shows the image and leaves it to the window's properties until FreeImage.
template <typename Ptr>
void AttachImage(HWND hwnd, Ptr image, UINT type, const wchar_t* prop) {
    if (!image) return;
    SendMessageW(hwnd, STM_SETIMAGE, type, reinterpret_cast<LPARAM>(image.get()));
    if (SetPropW(hwnd, prop, image.get())) image.release();
    else SendMessageW(hwnd, STM_SETIMAGE, type, 0);
}

void FreeImage(HWND hwnd) {
    BitmapPtr bitmap(static_cast<HBITMAP>(RemovePropW(hwnd, kBitmapProp)));
    IconPtr icon(static_cast<HICON>(RemovePropW(hwnd, kIconProp)));
    if (!bitmap) return;
    // A static control of version 6 shows a copy of a bitmap with alpha, hands that copy back
    // here and never frees it itself.
    BitmapPtr shown(reinterpret_cast<HBITMAP>(SendMessageW(hwnd, STM_SETIMAGE, IMAGE_BITMAP, 0)));
    if (shown.get() == bitmap.get()) static_cast<void>(shown.release());
}

HFONT FontFor(const Control& c) {
    if (c.Style() & kTitleFont) return TheFonts().title;
    if (c.Style() & kLinkStyle) return TheFonts().link;
    return TheFonts().normal;
}

// The dialog manager moves the focus and makes a push button that gets it the default one,
// the one that Enter presses.
void FocusThroughDialog(HWND hwnd) {
    HWND dialog = win32::MainWindow();
    if (dialog && IsChild(dialog, hwnd)) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hwnd), TRUE);
    else ::SetFocus(hwnd);
}

constexpr UINT kBecomeDefault = WM_APP + 1;

// The mouse gives a push button the focus without the dialog manager: it hears of it once the
// click is over, unless the focus has moved on by then.
LRESULT CALLBACK PushButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) noexcept {
    const auto isDefault = [hwnd] { return (SendMessageW(hwnd, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0; };
    if (msg == kBecomeDefault) {
        if (GetFocus() == hwnd && !isDefault()) FocusThroughDialog(hwnd);
        return 0;
    }
    if (msg == WM_SETFOCUS && !isDefault()) PostMessageW(hwnd, kBecomeDefault, 0, 0);
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, PushButtonProc, 1);
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// Multi-line boxes keep Tab for moving on, like every other control of the form. They are
// read rather than typed over, so the dialog manager leaves their text unselected when it
// gives them the focus.
LRESULT CALLBACK MemoProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) noexcept {
    LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
    if (msg == WM_GETDLGCODE) {
        r &= ~static_cast<LRESULT>(DLGC_WANTTAB | DLGC_HASSETSEL);
        const MSG* m = reinterpret_cast<const MSG*>(lp);
        if (m && m->message == WM_KEYDOWN && m->wParam == VK_TAB) r &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS);
    }
    return r;
}

void FitToText(HWND hwnd, const Control& c) {
    const int len = GetWindowTextLengthW(hwnd);
    std::u16string textBuf(static_cast<std::size_t>(len) + 1, u'\0');
    GetWindowTextW(hwnd, win32::W(textBuf), len + 1);
    HDC dc = GetDC(hwnd);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, FontFor(c));
    SIZE size{};
    GetTextExtentPoint32W(dc, win32::W(textBuf), len, &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy > 0 ? size.cy : win32::Scale(c.Box().height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int win32::Scale(int value) {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int d = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        return d;
    }();
    return MulDiv(value, dpi, 96);
}

namespace native {

void* Create(Control& c) {
    HWND parent = Hwnd(c.Parent().ContainerHandle());
    if (!parent) return nullptr;
    const Bounds& b = c.Box();
    int x = win32::Scale(b.left), y = win32::Scale(b.top), w = win32::Scale(b.width), h = win32::Scale(b.height);
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | (c.Visible() ? WS_VISIBLE : 0u) | (c.Enabled() ? 0u : WS_DISABLED);
    DWORD exStyle = 0;
    switch (c.Kind()) {
        case ControlKind::Button:
            cls = L"BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::RadioButton: {
            cls = L"BUTTON";
            style |= BS_AUTORADIOBUTTON;
            bool first = true;
            for (Control* sibling : c.Parent().Children)
                if (sibling != &c && sibling->Kind() == ControlKind::RadioButton) first = false;
            if (first) style |= WS_GROUP | WS_TABSTOP;
            break;
        }
        case ControlKind::Label:
            style |= (c.Style() & kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
            // A web address is shown as it is: an "&" in it is no accelerator mark.
            if (c.Style() & kLinkStyle) style |= SS_NOTIFY | SS_NOPREFIX;
            break;
        case ControlKind::Edit:
            cls = L"EDIT";
            style |= ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP;
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Memo:
            cls = L"EDIT";
            style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_TABSTOP | WS_GROUP;
            if (c.Style() & kReadOnly) style |= ES_READONLY;
            exStyle |= WS_EX_CLIENTEDGE;
            break;
        case ControlKind::ProgressBar:
            cls = PROGRESS_CLASSW;
            break;
        case ControlKind::Picture:
            style |= (c.Style() & kIcon) ? SS_ICON : SS_BITMAP;
            break;
        case ControlKind::Bevel:
            style |= SS_ETCHEDHORZ;
            h = 2;
            break;
        case ControlKind::Panel:
        case ControlKind::Notebook:
        case ControlKind::Page:
            cls = win32::kContainerClass;
            style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
            exStyle |= WS_EX_CONTROLPARENT;
            break;
    }
    const auto id = static_cast<INT_PTR>(g_nextId++);
    HWND hwnd = CreateWindowExW(exStyle, cls, win32::W(c.Caption()), style, x, y, w, h, parent,
                                reinterpret_cast<HMENU>(id), GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c)), FALSE);
    switch (c.Kind()) {
        case ControlKind::Button:
            SetWindowSubclass(hwnd, PushButtonProc, 1, 0);
            break;
        case ControlKind::Memo:
            SetWindowSubclass(hwnd, MemoProc, 1, 0);
            break;
        case ControlKind::ProgressBar:
            SendMessageW(hwnd, PBM_SETRANGE32, 0, c.Max());
            break;
        case ControlKind::Picture: {
            // Pictures grow with the system DPI like everything else.
            HINSTANCE module = GetModuleHandleW(nullptr);
            if (c.Style() & kIcon) {
                IconPtr icon(static_cast<HICON>(
                    LoadImageW(module, MAKEINTRESOURCEW(c.Resource()), IMAGE_ICON, w, h, LR_DEFAULTCOLOR)));
                AttachImage(hwnd, std::move(icon), IMAGE_ICON, kIconProp);
            } else {
                // A bitmap of the display's format: LoadImage decodes the run-length picture into
                // it, where a DIB section would take no compressed picture.
                BitmapPtr bitmap(static_cast<HBITMAP>(
                    LoadImageW(module, MAKEINTRESOURCEW(c.Resource()), IMAGE_BITMAP, w, h, LR_DEFAULTCOLOR)));
                AttachImage(hwnd, std::move(bitmap), IMAGE_BITMAP, kBitmapProp);
            }
            break;
        }
        case ControlKind::Label:
            if (c.Style() & kAutoSize) FitToText(hwnd, c);
            break;
        default:
            break;
    }
    return hwnd;
}

void Destroy(void* handle) {
    if (!handle || !IsWindow(Hwnd(handle))) return;
    FreeImage(Hwnd(handle));
    DestroyWindow(Hwnd(handle));
}

void SetText(void* handle, const std::u16string& text) {
    if (!handle) return;
    SetWindowTextW(Hwnd(handle), win32::W(text));
    if (Control* c = Control::FromHandle(handle); c && c->Kind() == ControlKind::Label && (c->Style() & kAutoSize))
        FitToText(Hwnd(handle), *c);
}

bool GetText(void* handle, std::u16string& text) {
    if (!handle) return false;
    Control* c = Control::FromHandle(handle);
    if (!c || (c->Kind() != ControlKind::Edit && c->Kind() != ControlKind::Memo)) return false;
    const int len = GetWindowTextLengthW(Hwnd(handle));
    std::u16string buffer(static_cast<std::size_t>(len) + 1, u'\0');
    const int got = GetWindowTextW(Hwnd(handle), win32::W(buffer), len + 1);
    text.assign(buffer.c_str(), static_cast<std::size_t>(got));
    return true;
}

void SetVisible(void* handle, bool visible) {
    if (handle) ShowWindow(Hwnd(handle), visible ? SW_SHOWNA : SW_HIDE);
}

void SetEnabled(void* handle, bool enabled) {
    if (handle) EnableWindow(Hwnd(handle), enabled);
}

void SetFocus(void* handle) {
    if (handle) FocusThroughDialog(Hwnd(handle));
}

void* FocusHandle() { return GetFocus(); }

void SetChecked(void* handle, bool checked) {
    if (handle) SendMessageW(Hwnd(handle), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool GetChecked(void* handle, bool cached) {
    return handle ? SendMessageW(Hwnd(handle), BM_GETCHECK, 0, 0) == BST_CHECKED : cached;
}

void SetProgress(void* handle, int max, int position) {
    if (!handle) return;
    SendMessageW(Hwnd(handle), PBM_SETRANGE32, 0, max);
    SendMessageW(Hwnd(handle), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Repaint(void* handle) {
    if (handle) {
        InvalidateRect(Hwnd(handle), nullptr, TRUE);
        UpdateWindow(Hwnd(handle));
    }
}

}  // namespace native

}  // namespace platform
