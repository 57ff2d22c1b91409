// Builds programs with a version resource in memory for the tests: the blocks of the resource,
// a resource directory tree, and a PE image with a .rsrc section holding it.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "image_builder.h"

namespace version_builder {

inline std::string Utf16Le(std::u16string_view s) {
    std::string out;
    text::AppendUtf16Le(out, s);
    return out;
}

inline void Pad4(std::string& s) { s.append((4 - s.size() % 4) % 4, '\0'); }

// A block of a version resource: length, value length, type, key, then the value and the
// children, each aligned to four bytes.
inline std::string Block(std::u16string_view key, const std::string& value, bool textValue,
                  const std::vector<std::string>& children = {}) {
    std::string b(6, '\0');
    b += Utf16Le(key) + std::string(2, '\0');
    Pad4(b);
    b += value;
    for (const auto& child : children) {
        Pad4(b);
        b += child;
    }
    PutLe(b, 0, b.size(), 2);
    PutLe(b, 2, textValue ? value.size() / 2 : value.size(), 2);
    PutLe(b, 4, textValue ? 1 : 0, 2);
    return b;
}

inline std::string String(std::u16string_view key, std::u16string_view value) {
    return Block(key, Utf16Le(value) + std::string(2, '\0'), true);
}

inline std::string StringTable(std::u16string_view language, const std::vector<std::string>& strings) {
    return Block(language, "", true, strings);
}

inline std::string StringFileInfo(const std::vector<std::string>& tables) { return Block(u"StringFileInfo", "", true, tables); }

inline std::string VarFileInfo() {
    return Block(u"VarFileInfo", "", true, {Block(u"Translation", std::string("\x09\x04\xB0\x04", 4), false)});
}

// VS_FIXEDFILEINFO with the file and product versions as four parts each.
inline std::string Fixed(std::array<std::uint16_t, 4> file, std::array<std::uint16_t, 4> product,
                  std::uint32_t signature = 0xFEEF04BD) {
    std::string f(52, '\0');
    PutLe(f, 0, signature, 4);
    PutLe(f, 4, 0x10000, 4);
    PutLe(f, 8, std::uint32_t{file[0]} << 16 | file[1], 4);
    PutLe(f, 12, std::uint32_t{file[2]} << 16 | file[3], 4);
    PutLe(f, 16, std::uint32_t{product[0]} << 16 | product[1], 4);
    PutLe(f, 20, std::uint32_t{product[2]} << 16 | product[3], 4);
    return f;
}

inline std::string VersionInfo(const std::string& fixed, const std::vector<std::string>& children,
                        std::u16string_view key = u"VS_VERSION_INFO") {
    return Block(key, fixed, false, children);
}

// A resource directory tree: a directory's entries, or data.
struct Res {
    std::vector<std::uint32_t> ids;  // the high bit makes a named entry
    std::vector<Res> children;
    std::optional<std::string> data;
};

inline Res Data(std::string bytes) { return Res{{}, {}, std::move(bytes)}; }
inline Res Dir(std::initializer_list<std::pair<std::uint32_t, Res>> entries) {
    Res dir;
    for (const auto& [id, child] : entries) {
        dir.ids.push_back(id);
        dir.children.push_back(child);
    }
    return dir;
}
// The usual shape: the version type, one name, one language.
inline Res VersionTree(const std::string& resource) { return Dir({{16, Dir({{1, Dir({{0x409, Data(resource)}})}})}}); }

inline constexpr std::uint32_t kNamed = 0x80000000u;

// Lays the tree out as a resource compiler does (directories, then data entries with their
// data), each part at the position it is given in the section at sectionRva.
inline std::size_t Emit(std::string& out, const Res& node, std::uint32_t sectionRva) {
    Pad4(out);
    const std::size_t at = out.size();
    if (node.data) {
        out.append(16, '\0');
        PutLe(out, at, sectionRva + at + 16, 4);
        PutLe(out, at + 4, node.data->size(), 4);
        out += *node.data;
        return at;
    }
    std::size_t named = 0;
    for (const std::uint32_t id : node.ids) named += (id & kNamed) != 0;
    out.append(16 + 8 * node.ids.size(), '\0');
    PutLe(out, at + 12, named, 2);
    PutLe(out, at + 14, node.ids.size() - named, 2);
    for (std::size_t i = 0; i < node.ids.size(); ++i) {
        const Res& child = node.children[i];
        const std::size_t childAt = Emit(out, child, sectionRva);
        PutLe(out, at + 16 + 8 * i, node.ids[i], 4);
        PutLe(out, at + 20 + 8 * i, child.data ? childAt : (kNamed | childAt), 4);
    }
    return at;
}

inline constexpr std::uint32_t kRsrcRva = 0x3000;
inline constexpr std::size_t kRsrcAt = 0x400;

// A program with a .text section and, behind it, a .rsrc section holding rsrc. The resource
// directory's entry is written only when there is a tree.
inline std::string Program(PeFormat format, const std::string& rsrc) {
    std::string pe = PeStub(kRsrcAt, format);
    const std::size_t opt = 0x80 + 24;
    const std::size_t section = opt + (format == PeFormat::Pe32Plus ? 240 : 224);
    PutLe(pe, 0x80 + 6, 2, 2);       // two sections
    PutLe(pe, section + 8, 0x200, 4);   // .text: VirtualSize
    PutLe(pe, section + 12, 0x1000, 4);  // VirtualAddress
    const std::size_t rs = section + 40;
    pe.replace(rs, 5, ".rsrc");
    PutLe(pe, rs + 8, rsrc.size(), 4);
    PutLe(pe, rs + 12, kRsrcRva, 4);
    PutLe(pe, rs + 16, (rsrc.size() + 0x1FF) & ~std::size_t{0x1FF}, 4);
    PutLe(pe, rs + 20, kRsrcAt, 4);
    if (!rsrc.empty()) {
        PutLe(pe, DataDirectories(format) + 8 * 2, kRsrcRva, 4);
        PutLe(pe, DataDirectories(format) + 8 * 2 + 4, rsrc.size(), 4);
    }
    pe += rsrc;
    pe.resize(kRsrcAt + ((rsrc.size() + 0x1FF) & ~std::size_t{0x1FF}), '\0');
    return pe;
}

inline std::string Program(PeFormat format, const Res& tree) {
    std::string rsrc;
    Emit(rsrc, tree, kRsrcRva);
    return Program(format, rsrc);
}

}  // namespace version_builder
