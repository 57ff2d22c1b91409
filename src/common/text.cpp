#include "text.h"

namespace text {

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xF4) {
            const std::size_t need = c < 0xE0 ? 2 : (c < 0xF0 ? 3 : 4);
            char32_t v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
            std::size_t k = 1;
            for (; k < need && i + k < n; ++k) {
                const auto cc = static_cast<unsigned char>(s[i + k]);
                if ((cc & 0xC0) != 0x80) break;
                v = (v << 6) | (cc & 0x3F);
            }
            if (k == need) {
                const bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
                const bool surrogate = v >= 0xD800 && v <= 0xDFFF;
                if (!overlong && !surrogate && v <= 0x10FFFF) cp = v;
                len = need;
            } else {
                len = k;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string AsciiLower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return out;
}

std::u16string Widen(std::string_view ascii) {
    std::u16string out;
    out.reserve(ascii.size());
    for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::u16string TrimControl(std::u16string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] <= u' ') ++b;
    while (e > b && s[e - 1] <= u' ') --e;
    return std::u16string(s.substr(b, e - b));
}

static std::size_t AfterLastSeparator(std::u16string_view path) {
    const auto p = path.find_last_of(u"\\:");
    return p == std::u16string_view::npos ? 0 : p + 1;
}

std::u16string_view FileNamePart(std::u16string_view path) { return path.substr(AfterLastSeparator(path)); }

std::u16string_view DirPart(std::u16string_view path) { return path.substr(0, AfterLastSeparator(path)); }

std::u16string ReplaceAll(std::u16string_view s, std::u16string_view from, std::u16string_view to) {
    std::u16string out;
    if (from.empty()) return std::u16string(s);
    std::size_t pos = 0;
    for (;;) {
        const auto hit = s.find(from, pos);
        if (hit == std::u16string_view::npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::u16string FromUtf16Le(const std::uint8_t* bytes, std::size_t count) {
    std::u16string out(count / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

void AppendUtf16Le(std::string& out, std::u16string_view s) {
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
}

std::u16string DecimalText(std::int64_t value) {
    const bool neg = value < 0;
    auto v = neg ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v);
    if (neg) out.insert(out.begin(), u'-');
    return out;
}

std::u16string NormalizeLineBreaks(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size() + s.size() / 16);
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'\r') {
            if (i + 1 < s.size() && s[i + 1] == u'\n') ++i;
            out += u"\r\n";
        } else if (s[i] == u'\n') {
            out += u"\r\n";
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool IsWebAddress(std::u16string_view address) {
    const std::size_t colon = address.find(u':');
    if (colon == std::u16string_view::npos || colon + 1 == address.size()) return false;
    const std::u16string scheme = AsciiLower(address.substr(0, colon));
    if (scheme != u"http" && scheme != u"https" && scheme != u"mailto") return false;
    for (char16_t c : address)
        if (c <= u' ' || c == u'\x7F' || c == u'"') return false;
    return true;
}

}  // namespace text
