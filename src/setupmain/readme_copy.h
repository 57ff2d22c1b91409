// The readme copy beside the screensaver: saved by the installation, removed by the
// uninstaller.
#pragma once

#include <string>
#include <string_view>

#include "../platform/files.h"

// "<Title> <Readme>.txt", the word in the package's language; the caller puts the folder before it.
std::u16string ReadmeCopyName(const std::u16string& Title);

// The readme as it is saved: the system's 8-bit code page when every character converts
// exactly, else UTF-8 with a byte-order mark.
std::string EncodeReadme(std::u16string_view text);

// Writes the copy into File, made for Path. False when it cannot be written whole.
[[nodiscard]] bool WriteReadmeCopy(platform::File& File, const std::u16string& Path, std::u16string_view Text);

