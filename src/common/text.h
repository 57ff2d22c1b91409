// UTF-16 text helpers shared by the setup, the packer and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace text {

// Invalid sequences become U+FFFD, as the Windows converters do.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// ASCII-only helpers: the package rules lower-case and compare ASCII letters alone.
std::u16string AsciiLower(std::u16string_view s);
std::u16string Widen(std::string_view ascii);

// Trims every leading and trailing unit up to U+0020 (blanks and control characters).
std::u16string TrimControl(std::u16string_view s);

// Text after the last backslash or colon, and everything up to and including it.
std::u16string_view FileNamePart(std::u16string_view path);
std::u16string_view DirPart(std::u16string_view path);

std::u16string ReplaceAll(std::u16string_view s, std::u16string_view from, std::u16string_view to);

// UTF-16LE bytes <-> text; an odd trailing byte is dropped.
std::u16string FromUtf16Le(const std::uint8_t* bytes, std::size_t count);
void AppendUtf16Le(std::string& out, std::u16string_view s);

std::u16string DecimalText(std::int64_t value);

// Every line break (CR LF, lone CR, lone LF) as CR LF, as a multi-line box keeps its lines.
std::u16string NormalizeLineBreaks(std::u16string_view s);

// An address the wizard's link may hand to the shell: http:, https: or mailto: (the scheme in
// any letter case) followed by something, and no blank, control character or quote, which no
// address holds and which could break the handler's command line.
bool IsWebAddress(std::u16string_view address);

}  // namespace text
