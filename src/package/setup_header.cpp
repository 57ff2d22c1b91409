#include "setup_header.h"

#include "../common/text.h"

void TSetupHeader::SetInt(std::size_t offset, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) Raw[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void TSetupHeader::SetChars(std::size_t offset, std::size_t units, std::u16string_view value) {
    const std::size_t n = value.size() < units ? value.size() : units - 1;
    for (std::size_t i = 0; i < n; ++i) {
        Raw[offset + 2 * i] = static_cast<std::uint8_t>(value[i] & 0xFF);
        Raw[offset + 2 * i + 1] = static_cast<std::uint8_t>(value[i] >> 8);
    }
    Raw[offset + 2 * n] = 0;
    Raw[offset + 2 * n + 1] = 0;
}

void TSetupHeader::SetDirText(std::size_t offset, std::string_view utf8) {
    const std::size_t n = utf8.size() < hdr::DirMaxBytes ? utf8.size() : hdr::DirMaxBytes;
    Raw[offset] = static_cast<std::uint8_t>(n);
    for (std::size_t i = 0; i < n; ++i) Raw[offset + 1 + i] = static_cast<std::uint8_t>(utf8[i]);
}

std::int32_t TSetupHeader::Int(std::size_t offset) const {
    const std::uint32_t v = Raw[offset] | (Raw[offset + 1] << 8) | (Raw[offset + 2] << 16) |
                            (static_cast<std::uint32_t>(Raw[offset + 3]) << 24);
    return static_cast<std::int32_t>(v);
}

std::u16string TSetupHeader::Chars(std::size_t offset, std::size_t units) const {
    std::u16string out;
    for (std::size_t i = 0; i < units; ++i) {
        const auto c = static_cast<char16_t>(Raw[offset + 2 * i] | (Raw[offset + 2 * i + 1] << 8));
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

std::u16string TSetupHeader::DirText(std::size_t offset) const {
    std::size_t n = Raw[offset];
    if (n > hdr::DirMaxBytes) n = hdr::DirMaxBytes;
    return text::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(&Raw[offset + 1]), n));
}

static bool Matches(const std::uint8_t* bytes20, const char* ascii) {
    for (std::size_t i = 0; i < kTrailerSize / 2; ++i)
        if (bytes20[2 * i] != static_cast<std::uint8_t>(ascii[i]) || bytes20[2 * i + 1] != 0) return false;
    return true;
}

TrailerKind ClassifyTrailer(const std::uint8_t* bytes20) {
    if (Matches(bytes20, kInstallerSignatureText)) return TrailerKind::Installer;
    if (Matches(bytes20, kUninstallerSignatureText)) return TrailerKind::Uninstaller;
    return TrailerKind::None;
}

std::array<std::uint8_t, kTrailerSize> SignatureBytes(TrailerKind kind) {
    const char* ascii = kind == TrailerKind::Uninstaller ? kUninstallerSignatureText : kInstallerSignatureText;
    std::array<std::uint8_t, kTrailerSize> out{};
    for (std::size_t i = 0; i < kTrailerSize / 2; ++i) out[2 * i] = static_cast<std::uint8_t>(ascii[i]);
    return out;
}
