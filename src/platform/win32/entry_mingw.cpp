// The entry point of the setup when GCC builds it. The C runtime's start-up is not linked: of
// all it prepares, the setup needs the static constructors, the destructors they and the local
// statics register with atexit, and wWinMain's arguments. MSVC builds keep their runtime's.
#include "win32.h"

#include <iterator>

extern "C" {
// GCC's constructor runner: runs the static constructors, once, and hands atexit the runner of
// the destructor table.
void __main();
// Placed at the start of the image by the linker.
extern IMAGE_DOS_HEADER __ImageBase;
}

namespace {

using ExitHandler = void (*)();

// Run in reverse order of registration when the program ends. The C standard asks for room
// for 32; the setup registers a handful.
ExitHandler g_exitHandlers[32];
unsigned g_exitHandlerCount = 0;

[[noreturn]] void Exit(int code) {
    // A handler may register another, which then runs next.
    while (g_exitHandlerCount) g_exitHandlers[--g_exitHandlerCount]();
    ExitProcess(static_cast<UINT>(code));
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// What follows the program's name, as the C runtime hands it to wWinMain: a quoted name ends
// at its closing quote, any other at the first blank.
wchar_t* ArgumentsOf(wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && !IsBlank(*line)) ++line;
    }
    while (IsBlank(*line)) ++line;
    return line;
}

int ShowCommand() {
    STARTUPINFOW info;
    GetStartupInfoW(&info);
    return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// The runtime's atexit belongs to its start-up, which is not linked.
extern "C" int atexit(ExitHandler handler) {
    if (g_exitHandlerCount == std::size(g_exitHandlers)) return -1;
    g_exitHandlers[g_exitHandlerCount++] = handler;
    return 0;
}

extern "C" [[noreturn]]
// 32-bit Windows starts a program with its stack aligned to 4 bytes only; GCC's code expects 16.
#if defined(__i386__)
[[gnu::force_align_arg_pointer]]
#endif
void SetupEntry() {
    __main();
    Exit(wWinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, ArgumentsOf(GetCommandLineW()),
                  ShowCommand()));
}
