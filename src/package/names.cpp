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

// FNV-1a, 128 bits, in 32-bit words from the lowest: the 32-bit stub has no 128-bit integer.
class Fnv1a128 {
public:
    void Add(std::uint8_t byte) {
        h_[0] ^= byte;
        // Times the prime 2^88 + 0x13B: the small factor word by word, then the low 40 bits
        // moved up by 88.
        std::uint32_t product[4];
        std::uint64_t carry = 0;
        for (int i = 0; i < 4; ++i) {
            carry += static_cast<std::uint64_t>(h_[i]) * 0x13B;
            product[i] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        const std::uint64_t high = ((static_cast<std::uint64_t>(product[3]) << 32) | product[2]) +
                                   (((static_cast<std::uint64_t>(h_[1]) << 32) | h_[0]) << 24);
        h_[0] = product[0];
        h_[1] = product[1];
        h_[2] = static_cast<std::uint32_t>(high);
        h_[3] = static_cast<std::uint32_t>(high >> 32);
    }
    void Add(std::u16string_view units) {
        for (const char16_t c : units) {
            Add(static_cast<std::uint8_t>(c));
            Add(static_cast<std::uint8_t>(c >> 8));
        }
    }
    // Byte I of the hash, the most significant first.
    std::uint8_t Byte(int i) const { return static_cast<std::uint8_t>(h_[3 - i / 4] >> (24 - 8 * (i % 4))); }

private:
    std::uint32_t h_[4] = {0x6295C58D, 0x62B82175, 0x07BB0142, 0x6C62272E};
};

}  // namespace

std::u16string UninstallKeyName(std::u16string_view Title) {
    Fnv1a128 hash;
    hash.Add(kKeyNamespace);
    for (char16_t c : Title) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        hash.Add(std::u16string_view(&c, 1));
    }
    std::u16string key = u"{";
    for (int i = 0; i < 16; ++i) {
        std::uint8_t b = hash.Byte(i);
        // RFC 9562: version 8 (vendor-specific), variant 10.
        if (i == 6) b = static_cast<std::uint8_t>((b & 0x0F) | 0x80);
        if (i == 8) b = static_cast<std::uint8_t>((b & 0x3F) | 0x80);
        if (i == 4 || i == 6 || i == 8 || i == 10) key += u'-';
        key += u"0123456789ABCDEF"[b >> 4];
        key += u"0123456789ABCDEF"[b & 15];
    }
    return key + u'}';
}
