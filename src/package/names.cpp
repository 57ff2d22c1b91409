#include "names.h"

#include <cstdint>
#include <string_view>

bool IsReservedDeviceName(std::u16string_view name) {
    // "nul.scr" still opens the device, so only the part before the first dot counts.
    std::u16string_view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    if (base.size() != 3 && base.size() != 4) return false;
    char lower[4] = {};
    for (std::size_t i = 0; i < base.size(); ++i) {
        const char16_t c = base[i];
        if (c > 0x7F) return false;
        lower[i] = static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : c);
    }
    const std::string_view b(lower, base.size());
    if (b.size() == 3) return b == "con" || b == "prn" || b == "aux" || b == "nul";
    return (b.starts_with("com") || b.starts_with("lpt")) && b[3] >= '1' && b[3] <= '9';
}

TNameCheck CheckWindowsName(std::u16string_view name) {
    if (name.empty()) return {NameProblem::Empty};
    for (char16_t c : name) {
        if (c < 0x20) return {NameProblem::ControlCharacter, c};
        if (std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos)
            return {NameProblem::ForbiddenCharacter, c};
    }
    if (name.find_first_not_of(u". ") == std::u16string_view::npos) return {NameProblem::DotsAndSpaces};
    if (IsReservedDeviceName(name)) return {NameProblem::ReservedDevice};
    return {};
}

namespace {

// Namespaces the hash, so that the same title hashed for another purpose gives another key.
constexpr char16_t kKeyNamespace[] = u"scrsetup-entry:";

}  // namespace

std::u16string UninstallKeyName(std::u16string_view Title) {
    // FNV-1a over 128 bits of the UTF-16LE bytes, in 32-bit words from the lowest: the 32-bit
    // stub has no 128-bit integer.
    std::uint32_t h[4] = {0x6295C58D, 0x62B82175, 0x07BB0142, 0x6C62272E};
    for (const std::u16string_view part : {std::u16string_view(kKeyNamespace), Title}) {
        for (char16_t c : part) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
            for (unsigned shift = 0; shift < 16; shift += 8) {
                h[0] ^= (c >> shift) & 0xFFu;
                // Times the prime 2^88 + 0x13B: the small factor word by word, then the low 40
                // bits moved up by 88.
                const std::uint64_t moved = ((static_cast<std::uint64_t>(h[1]) << 32) | h[0]) << 24;
                std::uint64_t carry = 0;
                for (std::uint32_t& word : h) {
                    carry += static_cast<std::uint64_t>(word) * 0x13B;
                    word = static_cast<std::uint32_t>(carry);
                    carry >>= 32;
                }
                const std::uint64_t high = ((static_cast<std::uint64_t>(h[3]) << 32) | h[2]) + moved;
                h[2] = static_cast<std::uint32_t>(high);
                h[3] = static_cast<std::uint32_t>(high >> 32);
            }
        }
    }
    // RFC 9562: version 8 (vendor-specific) in byte 6, variant 10 in byte 8.
    h[2] = (h[2] & 0xFFFF0FFFu) | 0x8000u;
    h[1] = (h[1] & 0x3FFFFFFFu) | 0x80000000u;
    // The 32 hex digits from the most significant, a hyphen before digits 8, 12, 16 and 20.
    char16_t key[38];
    char16_t* out = key;
    *out++ = u'{';
    for (unsigned n = 0; n < 32; ++n) {
        if (n >= 8 && n <= 20 && n % 4 == 0) *out++ = u'-';
        const unsigned digit = (h[3 - n / 8] >> (28 - 4 * (n % 8))) & 15u;
        *out++ = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'A' - 10 + digit);
    }
    *out = u'}';
    return std::u16string(key, 38);
}
