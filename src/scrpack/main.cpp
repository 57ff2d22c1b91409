#include <iostream>
#include <string>
#include <vector>

#include "scrpack.h"

#ifdef _WIN32
#include <windows.h>

#include "common/text.h"

// The wide command line keeps names outside the ANSI code page; the packer works in UTF-8.
int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    return scrpack::RunScrpack(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return scrpack::RunScrpack(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
