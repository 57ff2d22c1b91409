// wintest: starts a program and drives and reads its real windows for the end-to-end
// tests. Runs under Wine (or Windows) as a console program; every result is one line of
// JSON on stdout (ASCII only, non-ASCII as \u escapes), flushed at once.
//
//   wintest run <timeout_ms> [--script FILE|-] [-- <exe> [args...]]
//   wintest windows [--all]
//   wintest msgbox <flags> <caption> <text>      shows MessageBoxW, exits with its result
//   wintest reg-set <key> <name> <type> <hex>    writes exactly these bytes as the value (type as a
//                                                number), which `reg add` cannot: a string of odd length
//   wintest reg-link <key> <target>              creates key as a registry link to the key target
//   wintest dacl <path>                          prints the owner and access list of a file or folder
//                                                in SDDL: {"sddl": "O:...D:..."}
//   wintest set-dacl <path> <sddl>               gives a file or folder the access list of the SDDL
//                                                text ("D:..."), protected from its parent's
//   wintest hardlink <existing> <new>            makes <new> another name of the file <existing>
// Keys are written HKCU\<path> or HKLM\<path>.
//
// Script lines (tokens are bare words or JSON strings; '#' starts a comment line):
//   start <exe> [args...]         start the program (instead of "-- exe args" on the command line)
//   rawargs <text>                with start: the text appended verbatim to the command line
//   cwd <folder>                  with start: the folder the program starts in (else the driver's)
//   wait-window [--any] <class|*> <caption-regex|*> [ms]   select a visible top-level window
//   dump                          the selected window and all its child controls (and, for a
//                                 dialog, which system icon it shows)
//   windows                       the visible top-level windows of the started process tree
//   click [--force] <text|#id>    BM_CLICK on a child control (text without '&')
//   mouse-click <text|#id>        a real left click (SendInput) in the middle of a child control
//   send-command <text|#id>       WM_COMMAND(BN_CLICKED, which is also STN_CLICKED) sent to the
//                                 control's parent as the control reports a click, whatever its
//                                 state; the step ends once the window has handled it
//   wait-state [--soft] <text|#id> <state>[,<state>...] [ms]   until the control is in every
//                                 state named: visible hidden enabled disabled checked unchecked
//                                 focused; --soft: a timeout only notes "met":false and goes on,
//                                 so that a later dump shows what is wrong
//   set-text <text|#id> <value>   WM_SETTEXT on a child control
//   key <vk>[+<vk>...] ...        key presses through SendInput to the selected window
//   close                         WM_CLOSE to the selected window
//   screenshot <file.bmp>         the selected window's screen area as a 24-bit BMP
//   wait-gone [ms]                until the selected window is destroyed
//   wait-file <path> [ms]         until the file exists and is not empty
//   remove-dir <path>             RemoveDirectoryW; fails (with the error) when the folder stays
//   status                        whether the started process still runs (and its exit code)
//   wait-exit [ms]                until the started process ends; prints its exit code
//   wait-tree-exit [ms]           until the started process and all its descendants end
//   sleep <ms>
//   mark                          prints the performance counter's time in microseconds
// Every time given (the run's and the steps') is multiplied by E2E_TIME_SCALE when that is set
// (a number above 1: a machine that runs everything that many times slower).
// After the script the driver waits for the process until the run's deadline and prints
// {"event":"end",...}. A failed step or the deadline ends the process tree.
// Exit code: 0 done, 1 usage, 2 a step failed, 3 deadline passed.

#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- JSON output

std::string JsonString(const std::wstring& s) {
    std::string out = "\"";
    for (wchar_t c : s) {
        const auto u = static_cast<unsigned>(c);
        if (c == L'"') out += "\\\"";
        else if (c == L'\\') out += "\\\\";
        else if (c == L'\n') out += "\\n";
        else if (c == L'\r') out += "\\r";
        else if (c == L'\t') out += "\\t";
        else if (u < 0x20 || u > 0x7e) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u & 0xffffu);
            out += buf;
        } else {
            out += static_cast<char>(u);
        }
    }
    return out + "\"";
}

class Json {
public:
    Json& Str(const char* key, const std::wstring& v) { return Raw(key, JsonString(v)); }
    Json& Num(const char* key, long long v) { return Raw(key, std::to_string(v)); }
    Json& Bool(const char* key, bool v) { return Raw(key, v ? "true" : "false"); }
    Json& Null(const char* key) { return Raw(key, "null"); }
    Json& Raw(const char* key, const std::string& json) {
        if (!body_.empty()) body_ += ',';
        body_ += '"';
        body_ += key;
        body_ += "\":";
        body_ += json;
        return *this;
    }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

std::string JsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += items[i];
    }
    return out + "]";
}

std::string JsonRect(const RECT& r) {
    return Json().Num("left", r.left).Num("top", r.top).Num("right", r.right).Num("bottom", r.bottom).Text();
}

void Emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

long long HandleNumber(HWND h) { return static_cast<long long>(reinterpret_cast<UINT_PTR>(h)); }

// ---------------------------------------------------------------- text helpers

std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

bool ParseJsonString(const std::wstring& line, std::size_t& i, std::wstring& out) {
    ++i;  // opening quote
    while (i < line.size()) {
        wchar_t c = line[i++];
        if (c == L'"') return true;
        if (c != L'\\') {
            out += c;
            continue;
        }
        if (i >= line.size()) return false;
        c = line[i++];
        switch (c) {
            case L'n': out += L'\n'; break;
            case L'r': out += L'\r'; break;
            case L't': out += L'\t'; break;
            case L'b': out += L'\b'; break;
            case L'f': out += L'\f'; break;
            case L'u': {
                if (i + 4 > line.size()) return false;
                out += static_cast<wchar_t>(std::wcstoul(line.substr(i, 4).c_str(), nullptr, 16));
                i += 4;
                break;
            }
            default: out += c; break;  // \" \\ \/
        }
    }
    return false;
}

// Bare words split at blanks; a token that starts with '"' is a JSON string.
bool Tokenize(const std::wstring& line, std::vector<std::wstring>& tokens) {
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && iswspace(line[i])) ++i;
        if (i >= line.size()) return true;
        std::wstring tok;
        if (line[i] == L'"') {
            if (!ParseJsonString(line, i, tok)) return false;
        } else {
            while (i < line.size() && !iswspace(line[i])) tok += line[i++];
        }
        tokens.push_back(tok);
    }
}

std::wstring StripAmpersands(const std::wstring& s) {
    std::wstring out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&') {
            if (i + 1 < s.size() && s[i + 1] == L'&') out += s[++i];
            continue;
        }
        out += s[i];
    }
    return out;
}

// The setup splits its command line without backslash escapes, so arguments are only
// wrapped in quotes; an argument holding a quote needs "rawargs".
bool AppendArg(std::wstring& cmd, const std::wstring& arg) {
    if (arg.find(L'"') != std::wstring::npos) return false;
    cmd += L' ';
    const bool needsQuotes = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
    if (needsQuotes) cmd += L'"';
    cmd += arg;
    if (needsQuotes) cmd += L'"';
    return true;
}

// ---------------------------------------------------------------- windows

const DWORD kMessageTimeoutMs = 1000;

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

std::wstring CaptionOf(HWND h) {
    wchar_t buf[1024] = {};
    InternalGetWindowText(h, buf, 1024);  // sends no message: safe while the owner is busy
    return buf;
}

std::wstring ControlText(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &len))
        return CaptionOf(h);
    std::wstring buf(len + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &got))
        return CaptionOf(h);
    buf.resize(std::min<std::size_t>(got, len));
    return buf;
}

DWORD PidOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

BOOL CALLBACK CollectWindow(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> out;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&out));
    return out;
}

std::vector<HWND> ChildWindows(HWND top) {
    std::vector<HWND> out;
    EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&out));
    return out;
}

std::string BriefWindow(HWND h) {
    return Json()
        .Num("hwnd", HandleNumber(h))
        .Num("pid", PidOf(h))
        .Str("class", ClassOf(h))
        .Str("caption", CaptionOf(h))
        .Bool("visible", IsWindowVisible(h) != FALSE)
        .Text();
}

// ---------------------------------------------------------------- pixels

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> data;  // 0x00RRGGBB, top-down
};

// A top-down 32-bit DIB section selected into a memory DC.
class Canvas {
public:
    Canvas(int w, int h) : width_(w), height_(h) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (bitmap_) old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        if (old_) SelectObject(dc_, old_);
        if (bitmap_) DeleteObject(bitmap_);
        if (dc_) DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Ok() const { return bits_ != nullptr; }
    HDC Dc() const { return dc_; }
    void Fill(COLORREF color) {
        HBRUSH brush = CreateSolidBrush(color);
        RECT r{0, 0, width_, height_};
        FillRect(dc_, &r, brush);
        DeleteObject(brush);
    }
    Pixels Read() const {
        GdiFlush();
        Pixels p;
        p.width = width_;
        p.height = height_;
        const auto* src = static_cast<const std::uint32_t*>(bits_);
        p.data.assign(src, src + static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
        for (auto& v : p.data) v &= 0xffffffu;
        return p;
    }

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

// What the screen shows in the given screen rectangle: icons and screenshots of another
// process can only be read this way.
bool CaptureScreen(const RECT& r, Pixels& out) {
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    Canvas canvas(w, h);
    if (!canvas.Ok()) return false;
    HDC screen = GetDC(nullptr);
    const BOOL ok = BitBlt(canvas.Dc(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;
    out = canvas.Read();
    return true;
}

bool WriteBmp(const std::wstring& path, const Pixels& p) {
    const int rowBytes = (p.width * 3 + 3) & ~3;
    const DWORD imageBytes = static_cast<DWORD>(rowBytes) * static_cast<DWORD>(p.height);
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    fh.bfType = 0x4d42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + imageBytes;
    ih.biSize = sizeof ih;
    ih.biWidth = p.width;
    ih.biHeight = p.height;  // bottom-up
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biCompression = BI_RGB;
    ih.biSizeImage = imageBytes;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&ih, sizeof ih, 1, f);
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes), 0);
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t v = p.data[static_cast<std::size_t>(y * p.width + x)];
            row[static_cast<std::size_t>(x * 3 + 0)] = static_cast<unsigned char>(v & 0xff);
            row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<unsigned char>((v >> 8) & 0xff);
            row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<unsigned char>((v >> 16) & 0xff);
        }
        std::fwrite(row.data(), 1, row.size(), f);
    }
    return std::fclose(f) == 0;
}

// ---------------------------------------------------------------- message box icon

struct IconGuess {
    std::string name = "none";
    std::map<std::string, double> scores;
};

HWND FindIconStatic(HWND top) {
    for (HWND c : ChildWindows(top)) {
        if (ClassOf(c) != L"Static" || !IsWindowVisible(c)) continue;
        const auto style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
        if ((style & SS_TYPEMASK) == SS_ICON) return c;
    }
    return nullptr;
}

// The icon's handle belongs to the other process, so its pixels on the screen are compared
// with the system icons drawn here at the same size. Only the pixels that the icon covers
// fully count (those that come out the same over a black and over a white background);
// the result is the share of them that differ clearly, in per cent.
double IconMismatch(const Pixels& shown, LPCWSTR id) {
    HICON icon = LoadIconW(nullptr, id);
    if (!icon) return 100;
    Canvas black(shown.width, shown.height);
    Canvas white(shown.width, shown.height);
    if (!black.Ok() || !white.Ok()) return 100;
    black.Fill(RGB(0, 0, 0));
    white.Fill(RGB(255, 255, 255));
    DrawIconEx(black.Dc(), 0, 0, icon, shown.width, shown.height, 0, nullptr, DI_NORMAL);
    DrawIconEx(white.Dc(), 0, 0, icon, shown.width, shown.height, 0, nullptr, DI_NORMAL);
    const Pixels b = black.Read();
    const Pixels w = white.Read();
    long opaque = 0;
    long differ = 0;
    for (std::size_t i = 0; i < shown.data.size(); ++i) {
        if (b.data[i] != w.data[i]) continue;
        ++opaque;
        for (int shift = 0; shift < 24; shift += 8) {
            const int x = static_cast<int>((b.data[i] >> shift) & 0xff);
            const int y = static_cast<int>((shown.data[i] >> shift) & 0xff);
            if (std::abs(x - y) > 40) {
                ++differ;
                break;
            }
        }
    }
    return opaque ? 100.0 * static_cast<double>(differ) / static_cast<double>(opaque) : 100;
}

bool Uniform(const Pixels& p) {
    return std::all_of(p.data.begin(), p.data.end(), [&](std::uint32_t v) { return v == p.data[0]; });
}

// "none" when the box has no icon static or it shows nothing, "unknown" when it shows
// something that is none of the four system icons.
IconGuess GuessIcon(HWND top) {
    IconGuess guess;
    HWND stat = FindIconStatic(top);
    if (!stat) return guess;
    // The handle is meaningless here, but whether there is one is not.
    DWORD_PTR handle = 0;
    if (SendMessageTimeoutW(stat, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &handle) && !handle)
        return guess;
    RECT r;
    GetClientRect(stat, &r);
    MapWindowPoints(stat, nullptr, reinterpret_cast<POINT*>(&r), 2);
    static const std::pair<const char*, LPCWSTR> kIcons[] = {
        {"error", IDI_HAND}, {"information", IDI_ASTERISK}, {"question", IDI_QUESTION}, {"warning", IDI_EXCLAMATION}};
    // Right after the box appeared it may not be painted yet.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt) Sleep(100);
        guess.scores.clear();
        Pixels shown;
        if (!CaptureScreen(r, shown)) {
            guess.name = "unknown";
            continue;
        }
        if (Uniform(shown)) {
            guess.name = "none";
            continue;
        }
        guess.name = "unknown";
        std::vector<std::pair<double, const char*>> ranked;
        for (const auto& [name, id] : kIcons) {
            const double d = IconMismatch(shown, id);
            guess.scores[name] = d;
            ranked.emplace_back(d, name);
        }
        std::sort(ranked.begin(), ranked.end());
        if (ranked[0].first <= 2.0 && ranked[1].first >= 10.0) {
            guess.name = ranked[0].second;
            return guess;
        }
    }
    return guess;
}

// ---------------------------------------------------------------- dump

std::string DumpControl(HWND top, HWND c) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
    const std::wstring cls = ClassOf(c);
    const auto style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
    Json j;
    j.Num("hwnd", HandleNumber(c))
        .Num("parent", HandleNumber(GetParent(c)))
        .Str("class", cls)
        .Num("id", GetDlgCtrlID(c))
        .Str("text", ControlText(c))
        .Num("style", style)
        .Num("exstyle", static_cast<DWORD>(GetWindowLongW(c, GWL_EXSTYLE)))
        .Bool("visible", IsWindowVisible(c) != FALSE)
        .Bool("enabled", IsWindowEnabled(c) != FALSE)
        .Raw("rect", JsonRect(r));
    const DWORD type = style & BS_TYPEMASK;
    const bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                           type == BS_3STATE || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
    if (_wcsicmp(cls.c_str(), L"Button") == 0 && checkable) {
        DWORD_PTR state = 0;
        if (SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &state))
            j.Raw("checked", state == BST_INDETERMINATE ? "2" : (state == BST_CHECKED ? "true" : "false"));
        else
            j.Null("checked");
    }
    if (_wcsicmp(cls.c_str(), PROGRESS_CLASSW) == 0) {
        DWORD_PTR pos = 0, lo = 0, hi = 0;
        SendMessageTimeoutW(c, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &pos);
        SendMessageTimeoutW(c, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &lo);
        SendMessageTimeoutW(c, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &hi);
        j.Num("pos", static_cast<long long>(pos)).Num("min", static_cast<long long>(lo)).Num("max", static_cast<long long>(hi));
    }
    return j.Text();
}

std::string DumpWindow(HWND top) {
    RECT r, client;
    GetWindowRect(top, &r);
    GetClientRect(top, &client);
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(top, &pid);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND focus = GetGUIThreadInfo(tid, &gui) ? gui.hwndFocus : nullptr;
    std::vector<std::string> children;
    for (HWND c : ChildWindows(top)) children.push_back(DumpControl(top, c));
    // Only dialogs (message boxes) are asked for their icon: a picture on another window
    // would cost a second of retries and mean nothing.
    const bool dialog = ClassOf(top) == L"#32770";
    const IconGuess icon = dialog ? GuessIcon(top) : IconGuess{};
    Json scores;
    for (const auto& [name, d] : icon.scores) scores.Num(name.c_str(), static_cast<long long>(d + 0.5));
    return Json()
        .Num("hwnd", HandleNumber(top))
        .Num("pid", pid)
        .Str("class", ClassOf(top))
        .Str("caption", CaptionOf(top))
        .Bool("visible", IsWindowVisible(top) != FALSE)
        .Bool("enabled", IsWindowEnabled(top) != FALSE)
        .Bool("foreground", GetForegroundWindow() == top)
        .Num("owner", HandleNumber(GetWindow(top, GW_OWNER)))
        .Num("style", static_cast<DWORD>(GetWindowLongW(top, GWL_STYLE)))
        .Num("exstyle", static_cast<DWORD>(GetWindowLongW(top, GWL_EXSTYLE)))
        .Raw("rect", JsonRect(r))
        .Raw("client", Json().Num("width", client.right).Num("height", client.bottom).Text())
        .Num("focus", HandleNumber(focus))
        .Raw("icon", dialog ? "\"" + icon.name + "\"" : "null")
        .Raw("icon_scores", scores.Text())
        .Raw("children", JsonArray(children))
        .Text();
}

// ---------------------------------------------------------------- keys

struct NamedKey {
    const wchar_t* name;
    WORD vk;
};

const NamedKey kKeys[] = {
    {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE}, {L"ESC", VK_ESCAPE},
    {L"TAB", VK_TAB},       {L"SPACE", VK_SPACE},  {L"LEFT", VK_LEFT},     {L"RIGHT", VK_RIGHT},
    {L"UP", VK_UP},         {L"DOWN", VK_DOWN},    {L"HOME", VK_HOME},     {L"END", VK_END},
    {L"BACK", VK_BACK},     {L"DELETE", VK_DELETE}, {L"ALT", VK_MENU},     {L"SHIFT", VK_SHIFT},
    {L"CTRL", VK_CONTROL},  {L"F1", VK_F1},        {L"F4", VK_F4},
};

bool ParseVk(const std::wstring& name, WORD& vk) {
    for (const auto& k : kKeys)
        if (_wcsicmp(k.name, name.c_str()) == 0) {
            vk = k.vk;
            return true;
        }
    if (name.size() == 1 && iswalnum(name[0])) {
        vk = static_cast<WORD>(towupper(name[0]));
        return true;
    }
    wchar_t* end = nullptr;
    const unsigned long v = std::wcstoul(name.c_str(), &end, 0);
    if (end && *end == 0 && !name.empty() && v > 0 && v < 256) {
        vk = static_cast<WORD>(v);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- the run

DWORD Scaled(DWORD ms) {
    static const double scale = [] {
        wchar_t text[32];
        const DWORD n = GetEnvironmentVariableW(L"E2E_TIME_SCALE", text, 32);
        const double value = n > 0 && n < 32 ? std::wcstod(text, nullptr) : 1.0;
        return value > 1.0 ? value : 1.0;
    }();
    const double scaled = ms * scale;
    return scaled < 0x7FFFFFFF ? static_cast<DWORD>(scaled) : 0x7FFFFFFF;
}

class Runner {
public:
    explicit Runner(DWORD timeoutMs) : deadline_(GetTickCount() + Scaled(timeoutMs)), start_(GetTickCount()) {}
    ~Runner() {
        for (auto& [pid, h] : tree_)
            if (h) CloseHandle(h);
        if (pi_.hThread) CloseHandle(pi_.hThread);
    }

    bool Start(const std::vector<std::wstring>& cmd, const std::wstring& raw, const std::wstring& cwd) {
        if (started_) return Fail("start", "already started");
        if (cmd.empty()) return Fail("start", "no program given");
        std::wstring line = L"\"" + cmd[0] + L"\"";
        for (std::size_t i = 1; i < cmd.size(); ++i)
            if (!AppendArg(line, cmd[i])) return Fail("start", "an argument holds a quote; use rawargs");
        if (!raw.empty()) line += L" " + raw;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring mutableLine = line;
        if (!CreateProcessW(cmd[0].c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            cwd.empty() ? nullptr : cwd.c_str(), &si, &pi_)) {
            return Fail("start", "CreateProcessW failed, error " + std::to_string(GetLastError()));
        }
        started_ = true;
        tree_[pi_.dwProcessId] = pi_.hProcess;
        Emit(Json().Str("step", L"start").Bool("ok", true).Num("pid", pi_.dwProcessId).Str("cmdline", line).Text());
        return true;
    }

    // One step of the script; false ends the script.
    bool Step(const std::vector<std::wstring>& t) {
        const std::wstring& cmd = t[0];
        const std::string name = ToUtf8(cmd);
        if (cmd != L"start" && cmd != L"rawargs" && cmd != L"cwd" && cmd != L"sleep" && !started_)
            return Fail(name, "the program was not started");
        if (cmd == L"wait-window") return WaitWindow(t);
        if (cmd == L"dump") return WithWindow(name, [&] {
            Emit(Json().Str("step", cmd).Bool("ok", true).Raw("window", DumpWindow(current_)).Text());
            return true;
        });
        if (cmd == L"windows") return ListWindows();
        if (cmd == L"click") return Click(t);
        if (cmd == L"mouse-click") return MouseClick(t);
        if (cmd == L"send-command") return SendCommand(t);
        if (cmd == L"wait-state") return WaitState(t);
        if (cmd == L"wait-file") return WaitFile(t);
        if (cmd == L"remove-dir") {
            if (t.size() != 2) return Fail(name, "usage: remove-dir <path>");
            if (!RemoveDirectoryW(t[1].c_str())) return Fail(name, "error " + std::to_string(GetLastError()));
            return Ok(name);
        }
        if (cmd == L"set-text") return SetText(t);
        if (cmd == L"key") return Key(t);
        if (cmd == L"close") return WithWindow(name, [&] {
            PostMessageW(current_, WM_CLOSE, 0, 0);
            return Ok(name);
        });
        if (cmd == L"screenshot") return Screenshot(t);
        if (cmd == L"wait-gone") return WaitGone(t);
        if (cmd == L"status") {
            Json j;
            j.Str("step", cmd).Bool("ok", true).Bool("running", !Exited());
            if (Exited()) j.Num("exit_code", ExitCode());
            Emit(j.Text());
            return true;
        }
        if (cmd == L"mark") {
            // A timestamp for the benchmarks, in microseconds of the performance counter.
            LARGE_INTEGER now, frequency;
            QueryPerformanceCounter(&now);
            QueryPerformanceFrequency(&frequency);
            Emit(Json().Str("step", cmd).Bool("ok", true).Num("us", now.QuadPart / (frequency.QuadPart / 1000000)).Text());
            return true;
        }
        if (cmd == L"wait-exit") return WaitExit(t, false);
        if (cmd == L"wait-tree-exit") return WaitExit(t, true);
        if (cmd == L"sleep") {
            if (t.size() < 2) return Fail(name, "usage: sleep <ms>");
            const DWORD until = StepDeadline(t, 1, 0);
            while (Before(until)) Poll(20);
            return Ok(name);
        }
        return Fail(name, "unknown step");
    }

    // After the script: the remaining time is the program's to end.
    int Finish(bool scriptOk) {
        std::string status = "failed";
        if (started_ && scriptOk) {
            while (!Exited() && Before(deadline_)) Poll(20);
            status = Exited() ? "exited" : "timeout";
        } else if (!started_) {
            status = scriptOk ? "not-started" : "failed";
        }
        Json end;
        end.Str("event", L"end").Raw("status", "\"" + status + "\"");
        if (started_ && Exited()) end.Num("exit_code", ExitCode());
        else end.Null("exit_code");
        if (started_ && status != "exited") {
            end.Raw("open_windows", JsonArray(VisibleTreeWindowsBrief()));
            KillTree();
        }
        std::vector<std::string> seen;
        for (HWND h : seenOrder_) seen.push_back(seen_[h]);
        end.Raw("windows_seen", JsonArray(seen)).Num("elapsed_ms", GetTickCount() - start_);
        Emit(end.Text());
        if (status == "exited" || status == "not-started") return 0;
        return status == "timeout" ? 3 : 2;
    }

    bool Fail(const std::string& step, const std::string& why) {
        Emit(Json().Str("step", FromUtf8(step)).Bool("ok", false).Str("error", FromUtf8(why)).Text());
        return false;
    }

private:
    static bool Before(DWORD when) { return static_cast<LONG>(when - GetTickCount()) > 0; }

    bool Ok(const std::string& step) {
        Emit(Json().Str("step", FromUtf8(step)).Bool("ok", true).Text());
        return true;
    }

    // A step waits at most its own time (argument `index`, if given) and never past the run's deadline.
    DWORD StepDeadline(const std::vector<std::wstring>& t, std::size_t index, DWORD fallbackMs) const {
        DWORD ms = fallbackMs;
        if (t.size() > index) ms = static_cast<DWORD>(std::wcstoul(t[index].c_str(), nullptr, 10));
        const DWORD until = GetTickCount() + Scaled(ms);
        return static_cast<LONG>(until - deadline_) < 0 ? until : deadline_;
    }

    bool Exited() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }

    long long ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }

    // Descendants are found through their parent ids; once known they stay known, so a
    // child of a process that has already ended is still found.
    void RefreshTree() {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE) return;
        std::vector<std::pair<DWORD, DWORD>> procs;
        PROCESSENTRY32W pe{};
        pe.dwSize = sizeof pe;
        for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe))
            procs.emplace_back(pe.th32ProcessID, pe.th32ParentProcessID);
        CloseHandle(snap);
        for (bool grew = true; grew;) {
            grew = false;
            for (const auto& [pid, parent] : procs) {
                if (tree_.count(pid) || !tree_.count(parent)) continue;
                tree_[pid] = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
                grew = true;
            }
        }
    }

    bool TreeEnded() {
        RefreshTree();
        for (auto& [pid, h] : tree_)
            if (h && WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
        return true;
    }

    bool InTree(HWND h) const { return tree_.count(PidOf(h)) != 0; }

    std::vector<HWND> VisibleTreeWindows() {
        RefreshTree();
        std::vector<HWND> out;
        for (HWND h : TopLevelWindows())
            if (IsWindowVisible(h) && InTree(h)) out.push_back(h);
        return out;
    }

    std::vector<std::string> VisibleTreeWindowsBrief() {
        std::vector<std::string> out;
        for (HWND h : VisibleTreeWindows()) out.push_back(BriefWindow(h));
        return out;
    }

    // Every visible window of the process tree is recorded, so a run can tell which
    // windows it showed even when nothing waited for them.
    void Poll(DWORD sleepMs) {
        for (HWND h : VisibleTreeWindows()) Record(h);
        if (sleepMs) Sleep(sleepMs);
    }

    void Record(HWND h) {
        if (seen_.count(h)) return;
        seen_[h] = BriefWindow(h);
        seenOrder_.push_back(h);
    }

    void KillTree() {
        RefreshTree();
        for (auto& [pid, h] : tree_)
            if (h && WaitForSingleObject(h, 0) != WAIT_OBJECT_0) TerminateProcess(h, 0xDEAD);
    }

    template <typename F>
    bool WithWindow(const std::string& step, F&& f) {
        if (!current_ || !IsWindow(current_)) return Fail(step, "no window selected");
        return f();
    }

    bool WaitWindow(const std::vector<std::wstring>& t) {
        std::vector<std::wstring> a(t.begin() + 1, t.end());
        bool any = false;
        if (!a.empty() && a[0] == L"--any") {
            any = true;
            a.erase(a.begin());
        }
        if (a.size() < 2) return Fail("wait-window", "usage: wait-window [--any] <class|*> <caption-regex|*> [ms]");
        std::wregex caption;
        try {
            if (a[1] != L"*") caption.assign(a[1], std::regex::ECMAScript);
        } catch (const std::regex_error&) {
            return Fail("wait-window", "bad caption pattern");
        }
        const DWORD until = StepDeadline(a, 2, 10000);
        do {
            Poll(0);
            for (HWND h : TopLevelWindows()) {
                if (!IsWindowVisible(h) || (!any && !InTree(h))) continue;
                if (a[0] != L"*" && ClassOf(h) != a[0]) continue;
                if (a[1] != L"*" && !std::regex_match(CaptionOf(h), caption)) continue;
                current_ = h;
                if (InTree(h)) Record(h);
                Emit(Json().Str("step", L"wait-window").Bool("ok", true).Raw("window", BriefWindow(h)).Text());
                return true;
            }
            if (!any && TreeEnded()) return Fail("wait-window", "the program ended without such a window");
            Sleep(20);
        } while (Before(until));
        return Fail("wait-window", "no such window; visible: " + JsonArray(VisibleTreeWindowsBrief()));
    }

    bool ListWindows() {
        Emit(Json().Str("step", L"windows").Bool("ok", true).Raw("windows", JsonArray(VisibleTreeWindowsBrief())).Text());
        return true;
    }

    HWND FindControl(const std::wstring& target) const {
        std::vector<HWND> matches;
        for (HWND c : ChildWindows(current_)) {
            if (target.size() > 1 && target[0] == L'#') {
                if (GetDlgCtrlID(c) == std::wcstol(target.c_str() + 1, nullptr, 0)) matches.push_back(c);
            } else if (StripAmpersands(ControlText(c)) == target) {
                matches.push_back(c);
            }
        }
        for (HWND c : matches)
            if (IsWindowVisible(c)) return c;
        return matches.empty() ? nullptr : matches[0];
    }

    bool Click(const std::vector<std::wstring>& t) {
        std::vector<std::wstring> a(t.begin() + 1, t.end());
        bool force = false;
        if (!a.empty() && a[0] == L"--force") {
            force = true;
            a.erase(a.begin());
        }
        if (a.size() != 1) return Fail("click", "usage: click [--force] <text|#id>");
        return WithWindow("click", [&] {
            HWND c = FindControl(a[0]);
            if (!c) return Fail("click", "no control " + ToUtf8(a[0]));
            if (!force && !IsWindowVisible(c)) return Fail("click", "control is hidden: " + ToUtf8(a[0]));
            if (!force && !IsWindowEnabled(c)) return Fail("click", "control is disabled: " + ToUtf8(a[0]));
            // Posted, not sent: a click that opens a modal box must not block the driver.
            PostMessageW(c, BM_CLICK, 0, 0);
            return Ok("click");
        });
    }

    // A click that goes through hit-testing like the user's: statics only answer to this.
    bool MouseClick(const std::vector<std::wstring>& t) {
        if (t.size() != 2) return Fail("mouse-click", "usage: mouse-click <text|#id>");
        return WithWindow("mouse-click", [&] {
            HWND c = FindControl(t[1]);
            if (!c) return Fail("mouse-click", "no control " + ToUtf8(t[1]));
            if (!IsWindowVisible(c)) return Fail("mouse-click", "control is hidden: " + ToUtf8(t[1]));
            for (int i = 0; i < 50 && GetForegroundWindow() != current_; ++i) {
                SetForegroundWindow(current_);
                Sleep(20);
            }
            RECT r;
            GetWindowRect(c, &r);
            const POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            // A window that is still being shown, or one left over on top, would take the click.
            for (int i = 0; i < 100 && WindowFromPoint(at) != c; ++i) Poll(20);
            if (WindowFromPoint(at) != c)
                return Fail("mouse-click", "another window lies over the control: " +
                                               ToUtf8(ClassOf(WindowFromPoint(at))));
            // The move goes with the buttons, and the click waits until the cursor is there:
            // under Wine a click right after SetCursorPos may land where the cursor was.
            INPUT in[3] = {};
            in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
            in[0].mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
            in[0].mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
            in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
            in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(1, in, sizeof(INPUT));
            POINT now{};
            for (int i = 0; i < 50 && (!GetCursorPos(&now) || now.x != at.x || now.y != at.y); ++i) Sleep(20);
            if (now.x != at.x || now.y != at.y) return Fail("mouse-click", "the cursor does not get there");
            SendInput(2, in + 1, sizeof(INPUT));
            return Ok("mouse-click");
        });
    }

    // Sent, not posted: the step ends once the command has been handled, so the next dump
    // shows its effect (a command that opens a modal box would keep the window from answering).
    bool SendCommand(const std::vector<std::wstring>& t) {
        if (t.size() != 2) return Fail("send-command", "usage: send-command <text|#id>");
        return WithWindow("send-command", [&] {
            HWND c = FindControl(t[1]);
            if (!c) return Fail("send-command", "no control " + ToUtf8(t[1]));
            const WPARAM command = MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED);
            DWORD_PTR r = 0;
            if (!SendMessageTimeoutW(GetParent(c), WM_COMMAND, command, reinterpret_cast<LPARAM>(c), SMTO_ABORTIFHUNG,
                                     kMessageTimeoutMs, &r))
                return Fail("send-command", "the window does not answer");
            return Ok("send-command");
        });
    }

    static bool FocusIs(HWND c) {
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        return GetGUIThreadInfo(GetWindowThreadProcessId(c, nullptr), &gui) && gui.hwndFocus == c;
    }

    static std::string FocusDescription(HWND c) {
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(c, nullptr), &gui) || !gui.hwndFocus) return "; no focus";
        return "; the focus is on " + ToUtf8(ClassOf(gui.hwndFocus)) + " \"" + ToUtf8(CaptionOf(gui.hwndFocus)) + "\"";
    }

    // Waiting for the effect of a click or key is the only way to know it has been handled:
    // the setup gets them as posted or input messages, after any message sent to read it.
    bool WaitState(const std::vector<std::wstring>& args) {
        std::vector<std::wstring> t(args);
        bool soft = false;
        if (t.size() > 1 && t[1] == L"--soft") {
            soft = true;
            t.erase(t.begin() + 1);
        }
        if (t.size() < 3) return Fail("wait-state", "usage: wait-state [--soft] <text|#id> <state>[,<state>...] [ms]");
        std::vector<std::wstring> states;
        for (std::size_t pos = 0; pos <= t[2].size();) {
            const std::size_t comma = std::min(t[2].find(L',', pos), t[2].size());
            states.push_back(t[2].substr(pos, comma - pos));
            pos = comma + 1;
        }
        auto holds = [&](HWND c, const std::wstring& s, bool& known) {
            known = true;
            if (s == L"visible") return IsWindowVisible(c) != FALSE;
            if (s == L"hidden") return IsWindowVisible(c) == FALSE;
            if (s == L"enabled") return IsWindowEnabled(c) != FALSE;
            if (s == L"disabled") return IsWindowEnabled(c) == FALSE;
            if (s == L"focused") return FocusIs(c);
            if (s == L"checked" || s == L"unchecked") {
                DWORD_PTR state = 0;
                SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &state);
                return (state == BST_CHECKED) == (s == L"checked");
            }
            known = false;
            return false;
        };
        return WithWindow("wait-state", [&] {
            const DWORD until = StepDeadline(t, 3, 5000);
            std::string last = "no control " + ToUtf8(t[1]);
            do {
                if (HWND c = FindControl(t[1])) {
                    bool all = true;
                    for (const auto& s : states) {
                        bool known = false;
                        if (!holds(c, s, known)) {
                            if (!known) return Fail("wait-state", "unknown state " + ToUtf8(s));
                            all = false;
                            last = "not " + ToUtf8(s);
                            if (s == L"focused") last += FocusDescription(c);
                        }
                    }
                    if (all) return Ok("wait-state");
                }
                Poll(20);
            } while (Before(until));
            if (soft) {
                Emit(Json().Str("step", L"wait-state").Bool("ok", true).Bool("met", false).Str("why", t[1] + L": " + FromUtf8(last)).Text());
                return true;
            }
            return Fail("wait-state", ToUtf8(t[1]) + ": " + last);
        });
    }

    bool SetText(const std::vector<std::wstring>& t) {
        if (t.size() != 3) return Fail("set-text", "usage: set-text <text|#id> <value>");
        return WithWindow("set-text", [&] {
            HWND c = FindControl(t[1]);
            if (!c) return Fail("set-text", "no control " + ToUtf8(t[1]));
            DWORD_PTR r = 0;
            if (!SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t[2].c_str()), SMTO_ABORTIFHUNG,
                                     kMessageTimeoutMs, &r))
                return Fail("set-text", "the window does not answer");
            return Ok("set-text");
        });
    }

    bool Key(const std::vector<std::wstring>& t) {
        if (t.size() < 2) return Fail("key", "usage: key <vk>[+<vk>...] ...");
        return WithWindow("key", [&] {
            for (int i = 0; i < 50 && GetForegroundWindow() != current_; ++i) {
                SetForegroundWindow(current_);
                Sleep(20);
            }
            if (GetForegroundWindow() != current_) return Fail("key", "the window cannot be brought to the foreground");
            for (std::size_t i = 1; i < t.size(); ++i) {
                std::vector<WORD> combo;
                std::size_t pos = 0;
                while (pos <= t[i].size()) {
                    const std::size_t plus = t[i].find(L'+', pos);
                    const std::wstring part = t[i].substr(pos, plus == std::wstring::npos ? std::wstring::npos : plus - pos);
                    WORD vk = 0;
                    if (!ParseVk(part, vk)) return Fail("key", "unknown key " + ToUtf8(part));
                    combo.push_back(vk);
                    if (plus == std::wstring::npos) break;
                    pos = plus + 1;
                }
                std::vector<INPUT> in;
                for (WORD vk : combo) {
                    INPUT k{};
                    k.type = INPUT_KEYBOARD;
                    k.ki.wVk = vk;
                    in.push_back(k);
                }
                for (auto it = combo.rbegin(); it != combo.rend(); ++it) {
                    INPUT k{};
                    k.type = INPUT_KEYBOARD;
                    k.ki.wVk = *it;
                    k.ki.dwFlags = KEYEVENTF_KEYUP;
                    in.push_back(k);
                }
                SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
                Sleep(30);
            }
            return Ok("key");
        });
    }

    bool Screenshot(const std::vector<std::wstring>& t) {
        if (t.size() != 2) return Fail("screenshot", "usage: screenshot <file.bmp>");
        return WithWindow("screenshot", [&] {
            RECT r;
            GetWindowRect(current_, &r);
            Pixels p;
            if (!CaptureScreen(r, p)) return Fail("screenshot", "the screen could not be read");
            if (!WriteBmp(t[1], p)) return Fail("screenshot", "the file could not be written");
            Emit(Json().Str("step", L"screenshot").Bool("ok", true).Str("file", t[1]).Num("width", p.width).Num("height", p.height).Text());
            return true;
        });
    }

    // Something the program started elsewhere has written its file (not empty).
    bool WaitFile(const std::vector<std::wstring>& t) {
        if (t.size() < 2) return Fail("wait-file", "usage: wait-file <path> [ms]");
        const DWORD until = StepDeadline(t, 2, 10000);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        auto written = [&] {
            return GetFileAttributesExW(t[1].c_str(), GetFileExInfoStandard, &data) &&
                   (data.nFileSizeLow || data.nFileSizeHigh);
        };
        while (!written() && Before(until)) Poll(20);
        if (!written()) return Fail("wait-file", "no file " + ToUtf8(t[1]));
        return Ok("wait-file");
    }

    bool WaitGone(const std::vector<std::wstring>& t) {
        const DWORD until = StepDeadline(t, 1, 10000);
        while (current_ && IsWindow(current_) && Before(until)) Poll(20);
        if (current_ && IsWindow(current_)) return Fail("wait-gone", "the window is still there");
        current_ = nullptr;
        return Ok("wait-gone");
    }

    bool WaitExit(const std::vector<std::wstring>& t, bool wholeTree) {
        const char* step = wholeTree ? "wait-tree-exit" : "wait-exit";
        const DWORD until = StepDeadline(t, 1, 30000);
        auto done = [&] { return wholeTree ? TreeEnded() : Exited(); };
        while (!done() && Before(until)) Poll(20);
        if (!done()) return Fail(step, "still running; visible: " + JsonArray(VisibleTreeWindowsBrief()));
        Emit(Json().Str("step", FromUtf8(step)).Bool("ok", true).Num("exit_code", ExitCode()).Text());
        return true;
    }

    DWORD deadline_;
    DWORD start_;
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
    std::map<DWORD, HANDLE> tree_;
    std::map<HWND, std::string> seen_;
    std::vector<HWND> seenOrder_;
    HWND current_ = nullptr;
};

bool ReadAll(HANDLE h, std::string& out) {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    return true;
}

bool ReadScript(const std::wstring& source, std::string& text) {
    if (source == L"-") return ReadAll(GetStdHandle(STD_INPUT_HANDLE), text);
    HANDLE f = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    ReadAll(f, text);
    CloseHandle(f);
    return true;
}

int Usage() {
    std::fputs("usage: wintest run <timeout_ms> [--script FILE|-] [-- <exe> [args...]]\n"
               "       wintest windows [--all]\n"
               "       wintest msgbox <flags> <caption> <text>\n"
               "       wintest reg-set <key> <name> <type> <hex>\n"
               "       wintest reg-link <key> <target>\n"
               "       wintest dacl <path>\n"
               "       wintest set-dacl <path> <sddl>\n"
               "       wintest hardlink <existing> <new>\n",
               stderr);
    return 1;
}

int RunCommand(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    Runner runner(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    std::wstring scriptSource;
    std::vector<std::wstring> cmd;
    for (int i = 3; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--script" && i + 1 < argc) {
            scriptSource = argv[++i];
        } else if (a == L"--") {
            cmd.assign(argv + i + 1, argv + argc);
            break;
        } else {
            return Usage();
        }
    }
    std::vector<std::vector<std::wstring>> steps;
    if (!scriptSource.empty()) {
        std::string raw;
        if (!ReadScript(scriptSource, raw)) {
            runner.Fail("script", "the script cannot be read");
            return runner.Finish(false);
        }
        if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
        std::size_t lineNo = 0;
        std::size_t pos = 0;
        while (pos <= raw.size()) {
            std::size_t nl = raw.find('\n', pos);
            if (nl == std::string::npos) nl = raw.size();
            const std::wstring line = FromUtf8(raw.substr(pos, nl - pos));
            pos = nl + 1;
            ++lineNo;
            std::vector<std::wstring> tokens;
            if (!Tokenize(line, tokens)) {
                runner.Fail("script", "bad quoting in line " + std::to_string(lineNo));
                return runner.Finish(false);
            }
            if (tokens.empty() || tokens[0][0] == L'#') continue;
            steps.push_back(tokens);
        }
    }
    // "start", "rawargs" and "cwd" are gathered first: the program starts before the first other step.
    std::wstring rawArgs, cwd;
    for (const auto& s : steps) {
        if (s[0] == L"start") cmd.assign(s.begin() + 1, s.end());
        if (s[0] == L"rawargs" && s.size() == 2) rawArgs = s[1];
        if (s[0] == L"cwd" && s.size() == 2) cwd = s[1];
    }
    bool ok = true;
    if (!cmd.empty()) ok = runner.Start(cmd, rawArgs, cwd);
    for (const auto& s : steps) {
        if (!ok) break;
        if (s[0] == L"start" || s[0] == L"rawargs" || s[0] == L"cwd") continue;
        ok = runner.Step(s);
    }
    return runner.Finish(ok);
}

int WindowsCommand(int argc, wchar_t** argv) {
    const bool all = argc > 2 && std::wcscmp(argv[2], L"--all") == 0;
    for (HWND h : TopLevelWindows())
        if (all || IsWindowVisible(h)) Emit(BriefWindow(h));
    return 0;
}

int MsgBoxCommand(int argc, wchar_t** argv) {
    if (argc != 5) return Usage();
    const auto flags = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 0));
    return MessageBoxW(nullptr, argv[4], argv[3], flags);
}

// ---------------------------------------------------------------- registry

int RegResult(const char* step, LONG status) {
    Json j;
    j.Str("step", FromUtf8(step)).Bool("ok", status == ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) j.Num("error", status);
    Emit(j.Text());
    return status == ERROR_SUCCESS ? 0 : 1;
}

// HKCU\<path> or HKLM\<path>: the root and the path below it.
bool SplitKey(const std::wstring& key, HKEY& root, std::wstring& path) {
    const std::size_t slash = key.find(L'\\');
    const std::wstring name = key.substr(0, slash);
    if (slash == std::wstring::npos || (name != L"HKCU" && name != L"HKLM")) return false;
    root = name == L"HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    path = key.substr(slash + 1);
    return true;
}

// The registry's own name of a key, as a link's target must be given.
bool NativeKeyName(const std::wstring& key, std::wstring& native) {
    HKEY root = nullptr;
    std::wstring path;
    if (!SplitKey(key, root, path)) return false;
    if (root == HKEY_LOCAL_MACHINE) {
        native = L"\\Registry\\Machine\\" + path;
        return true;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(TOKEN_USER) BYTE buffer[256];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    const bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid);
    CloseHandle(token);
    if (!ok) return false;
    native = std::wstring(L"\\Registry\\User\\") + sid + L"\\" + path;
    LocalFree(sid);
    return true;
}

int RegSetCommand(int argc, wchar_t** argv) {
    HKEY root = nullptr;
    std::wstring path;
    const std::wstring hex = argc == 6 ? argv[5] : L"";
    if (argc != 6 || !SplitKey(argv[2], root, path) || hex.size() % 2 != 0) return Usage();
    std::vector<BYTE> data;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        data.push_back(static_cast<BYTE>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, argv[3], 0, static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 0)),
                                data.data(), static_cast<DWORD>(data.size()));
        RegCloseKey(key);
    }
    return RegResult("reg-set", status);
}

int RegLinkCommand(int argc, wchar_t** argv) {
    HKEY root = nullptr;
    std::wstring path, target;
    if (argc != 4 || !SplitKey(argv[2], root, path)) return Usage();
    if (!NativeKeyName(argv[3], target)) return RegResult("reg-link", static_cast<LONG>(GetLastError()));
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        // The target without a terminating NUL: the registry takes every byte as part of the name.
        status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                                static_cast<DWORD>(target.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return RegResult("reg-link", status);
}

// ---------------------------------------------------------------- security

int DaclCommand(int argc, wchar_t** argv) {
    if (argc != 3) return Usage();
    PSECURITY_DESCRIPTOR sd = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const DWORD status = GetNamedSecurityInfoW(argv[2], SE_FILE_OBJECT, what, nullptr, nullptr, nullptr, nullptr, &sd);
    wchar_t* text = nullptr;
    const bool ok = status == ERROR_SUCCESS &&
                    ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, what, &text, nullptr);
    Json j;
    j.Str("step", L"dacl").Bool("ok", ok);
    if (ok) j.Str("sddl", text);
    else j.Num("error", status == ERROR_SUCCESS ? GetLastError() : status);
    Emit(j.Text());
    LocalFree(text);
    LocalFree(sd);
    return ok ? 0 : 1;
}

int SetDaclCommand(int argc, wchar_t** argv) {
    if (argc != 4) return Usage();
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    DWORD status = ERROR_SUCCESS;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[3], SDDL_REVISION_1, &sd, nullptr) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
        status = GetLastError();
    else
        status = SetNamedSecurityInfoW(argv[2], SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, present ? dacl : nullptr, nullptr);
    LocalFree(sd);
    return RegResult("set-dacl", static_cast<LONG>(status));
}

int HardLinkCommand(int argc, wchar_t** argv) {
    if (argc != 4) return Usage();
    const bool ok = CreateHardLinkW(argv[3], argv[2], nullptr) != FALSE;
    return RegResult("hardlink", ok ? ERROR_SUCCESS : static_cast<LONG>(GetLastError()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    if (command == L"run") return RunCommand(argc, argv);
    if (command == L"windows") return WindowsCommand(argc, argv);
    if (command == L"msgbox") return MsgBoxCommand(argc, argv);
    if (command == L"reg-set") return RegSetCommand(argc, argv);
    if (command == L"reg-link") return RegLinkCommand(argc, argv);
    if (command == L"dacl") return DaclCommand(argc, argv);
    if (command == L"set-dacl") return SetDaclCommand(argc, argv);
    if (command == L"hardlink") return HardLinkCommand(argc, argv);
    return Usage();
}
