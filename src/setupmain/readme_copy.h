// The readme copy beside the screensaver: saved by the installation, removed by the
// uninstaller.
#pragma once

#include <string>
#include <string_view>

// <Dir><Title> <Readme>.txt, the word in the package's language.
std::u16string ReadmeCopyName(const std::u16string& Title);

// The readme as it is saved: the system's 8-bit code page when every character converts
// exactly, else UTF-8 with a byte-order mark.
std::string EncodeReadme(std::u16string_view text);

// False when the file cannot be written whole.
[[nodiscard]] bool SaveReadmeCopy(const std::u16string& Path, std::u16string_view Text);
void RemoveReadmeCopy(const std::u16string& Dir, const std::u16string& Title);
