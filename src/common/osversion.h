// The Windows version as GetVersionEx reports it.
#pragma once

#include <cstdint>
#include <string>

struct OsVersionInfo {
    bool ok = false;
    std::uint32_t platformId = 0, major = 0, minor = 0;
    std::u16string servicePack;
};
