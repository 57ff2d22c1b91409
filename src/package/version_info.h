// The version resource of a Windows program: what an installation registers as its version
// and publisher.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "../common/bytes.h"

// What a program's version resource says, from its first string table (and the fixed part).
struct TVersionInfo {
    std::u16string ProductVersion;  // the "ProductVersion" string; else the fixed product version "a.b.c.d"
    std::u16string FileVersion;     // the "FileVersion" string; else the fixed file version
    std::u16string CompanyName;     // the "CompanyName" string, empty when none
};

// Reads the version resource of the PE image that lies at [offset, offset + length) of source;
// nullopt when there is none or it cannot be read. Never reads outside that range.
std::optional<TVersionInfo> ReadVersionInfo(ByteSource& source, std::int64_t offset, std::int64_t length);

// The version an installation registers: the product version, else the file version (trimmed); empty when neither.
std::u16string RegisteredVersion(const TVersionInfo& info);
// The publisher an installation registers: the company name, trimmed.
std::u16string RegisteredPublisher(const TVersionInfo& info);
