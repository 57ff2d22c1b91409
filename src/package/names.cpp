#include "names.h"

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
