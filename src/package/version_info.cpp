#include "version_info.h"

#include <vector>

#include "../common/text.h"

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::size_t kFixedInfoSize = 52;
// Windows loads no image with more sections.
constexpr unsigned kMaxSections = 96;
constexpr std::size_t kSectionHeaderSize = 40;
// Every block of a version resource, the outermost too, states its length in 16 bits.
constexpr std::uint32_t kMaxVersionBytes = 0xFFFF;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | (static_cast<std::uint32_t>(Le16(p + 2)) << 16); }

struct Section {
    std::uint32_t rva = 0, size = 0, raw = 0;
};

// The image's bytes and its section table. Every read is checked against the image's range.
class Image {
public:
    Image(ByteSource& source, std::int64_t offset, std::int64_t length)
        : source_(source), offset_(offset), length_(length) {}

    bool Read(std::int64_t at, void* buffer, std::size_t count) {
        const auto n = static_cast<std::int64_t>(count);
        return at >= 0 && n <= length_ && at <= length_ - n && source_.ReadAt(offset_ + at, buffer, count) == count;
    }

    // Reads count bytes at rva, all of them inside one section's data in the file.
    bool ReadRva(std::uint64_t rva, void* buffer, std::size_t count) {
        for (unsigned i = 0; i < sectionCount_; ++i) {
            const Section& s = sections_[i];
            if (rva >= s.rva && rva - s.rva <= s.size && count <= s.size - (rva - s.rva))
                return Read(static_cast<std::int64_t>(s.raw + (rva - s.rva)), buffer, count);
        }
        return false;
    }

    // Reads the headers and the section table; the resource directory's RVA, 0 without one.
    std::uint32_t ResourceDirectory() {
        std::uint8_t dos[64];
        if (!Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
        const std::int64_t pe = Le32(dos + 0x3C);
        // Signature and file header, then the optional header to the end of the resource
        // directory's entry, the third of the data directories.
        std::uint8_t head[24 + 136];
        if (!Read(pe, head, 26) || Le32(head) != 0x00004550u) return 0;
        const unsigned magic = Le16(head + 24);
        if (magic != 0x10B && magic != 0x20B) return 0;
        const std::size_t directories = magic == 0x20B ? 112 : 96;
        const std::size_t needed = directories + 3 * 8;
        const unsigned optionalSize = Le16(head + 20);
        if (optionalSize < needed || !Read(pe, head, 24 + needed) || Le32(head + 24 + directories - 4) < 3) return 0;

        const unsigned count = Le16(head + 6);
        std::uint8_t table[kMaxSections * kSectionHeaderSize];
        if (count > kMaxSections || !Read(pe + 24 + optionalSize, table, count * kSectionHeaderSize)) return 0;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint8_t* h = table + i * kSectionHeaderSize;
            // Only the bytes present in the file count, and of those only what the section maps.
            const std::uint32_t mapped = Le32(h + 8), rawSize = Le32(h + 16);
            sections_[i] = {Le32(h + 12), mapped != 0 && mapped < rawSize ? mapped : rawSize, Le32(h + 20)};
        }
        sectionCount_ = count;
        return Le32(head + 24 + directories + 16);
    }

private:
    ByteSource& source_;
    std::int64_t offset_, length_;
    Section sections_[kMaxSections];
    unsigned sectionCount_ = 0;
};

// The value of a resource directory's entry: its first one, or the one whose ID is id.
bool DirectoryEntry(Image& image, std::uint64_t directory, std::int64_t id, std::uint32_t& value) {
    std::uint8_t head[16];
    if (!image.ReadRva(directory, head, sizeof head)) return false;
    const unsigned named = Le16(head + 12), total = named + Le16(head + 14);
    // Named entries come first, then the IDs in ascending order.
    for (unsigned i = id < 0 ? 0 : named; i < total; ++i) {
        std::uint8_t entry[8];
        if (!image.ReadRva(directory + 16 + 8ull * i, entry, sizeof entry)) return false;
        if (id < 0 || Le32(entry) == id) {
            value = Le32(entry + 4);
            return true;
        }
        if (Le32(entry) > id) return false;
    }
    return false;
}

std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// A block of the version resource: length, value length, type, key, then the value and the
// children, each aligned to four bytes.
struct Block {
    std::size_t key = 0, keyEnd = 0, value = 0, children = 0, end = 0;
};

// False when the block at `at` does not lie whole before limit or its key has no end.
bool ReadBlock(const std::uint8_t* data, std::size_t limit, std::size_t at, Block& b) {
    if (at > limit || limit - at < 6) return false;
    const std::size_t length = Le16(data + at);
    if (length < 6 || length > limit - at) return false;
    b.end = at + length;
    b.key = b.keyEnd = at + 6;
    while (b.keyEnd + 1 < b.end && (data[b.keyEnd] | data[b.keyEnd + 1]) != 0) b.keyEnd += 2;
    if (b.keyEnd + 1 >= b.end) return false;
    b.value = Align4(b.keyEnd + 2);
    // Text values count their length in characters.
    b.children = Align4(b.value + Le16(data + at + 2) * (Le16(data + at + 4) == 1 ? 2u : 1u));
    return true;
}

bool KeyIs(const std::uint8_t* data, const Block& b, const char* name) {
    std::size_t at = b.key;
    for (; *name != 0; ++name, at += 2)
        if (at >= b.keyEnd || data[at] != static_cast<std::uint8_t>(*name) || data[at + 1] != 0) return false;
    return at == b.keyEnd;
}

// A string's value runs to its NUL or the block's end, whatever its value length says:
// resource compilers disagree on whether that counts characters or bytes.
std::u16string TextValue(const std::uint8_t* data, const Block& b) {
    std::size_t end = b.value;
    while (end + 1 < b.end && (data[end] | data[end + 1]) != 0) end += 2;
    return end > b.value ? text::FromUtf16Le(data + b.value, end - b.value) : std::u16string();
}

std::u16string Dotted(std::uint32_t high, std::uint32_t low) {
    std::u16string s;
    for (const std::uint32_t part : {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF}) {
        if (!s.empty()) s += u'.';
        s += text::DecimalText(part);
    }
    return s;
}

std::optional<TVersionInfo> ParseVersionResource(const std::uint8_t* data, std::size_t size) {
    Block root;
    if (!ReadBlock(data, size, 0, root) || !KeyIs(data, root, "VS_VERSION_INFO")) return std::nullopt;
    TVersionInfo info;
    std::u16string fixedProduct, fixedFile;
    if (root.value + kFixedInfoSize <= root.end && Le32(data + root.value) == kFixedInfoSignature) {
        fixedFile = Dotted(Le32(data + root.value + 8), Le32(data + root.value + 12));
        fixedProduct = Dotted(Le32(data + root.value + 16), Le32(data + root.value + 20));
    }
    // The first string table of the first StringFileInfo; as with Windows' own lookup, the
    // first string of a name counts.
    Block child, table, string;
    for (std::size_t at = root.children; ReadBlock(data, root.end, at, child); at = Align4(child.end)) {
        if (!KeyIs(data, child, "StringFileInfo")) continue;
        unsigned seen = 0;
        if (ReadBlock(data, child.end, child.children, table)) {
            for (std::size_t s = table.children; ReadBlock(data, table.end, s, string); s = Align4(string.end)) {
                const char* const names[] = {"ProductVersion", "FileVersion", "CompanyName"};
                std::u16string* const fields[] = {&info.ProductVersion, &info.FileVersion, &info.CompanyName};
                for (unsigned i = 0; i < 3; ++i) {
                    if ((seen & (1u << i)) == 0 && KeyIs(data, string, names[i])) {
                        *fields[i] = TextValue(data, string);
                        seen |= 1u << i;
                    }
                }
            }
        }
        break;
    }
    if (text::TrimControl(info.ProductVersion).empty()) info.ProductVersion = fixedProduct;
    if (text::TrimControl(info.FileVersion).empty()) info.FileVersion = fixedFile;
    return info;
}

}  // namespace

std::optional<TVersionInfo> ReadVersionInfo(ByteSource& source, std::int64_t offset, std::int64_t length) {
    if (offset < 0 || length < 0) return std::nullopt;
    Image image(source, offset, length);
    const std::uint32_t root = image.ResourceDirectory();
    if (root == 0) return std::nullopt;
    // Type, then the first name, then its first language: three steps whatever the entries
    // say, so a directory that names itself or its parent cannot keep the walk going. The
    // first two must lead to directories, the third to the data.
    std::uint64_t at = root;
    for (int level = 0; level < 3; ++level) {
        std::uint32_t value = 0;
        if (!DirectoryEntry(image, at, level == 0 ? std::int64_t{kRtVersion} : -1, value)) return std::nullopt;
        const bool directory = (value & 0x80000000u) != 0;
        if (directory == (level == 2)) return std::nullopt;
        at = root + std::uint64_t{value & 0x7FFFFFFFu};
    }
    std::uint8_t entry[8];
    if (!image.ReadRva(at, entry, sizeof entry)) return std::nullopt;
    const std::uint32_t size = Le32(entry + 4) < kMaxVersionBytes ? Le32(entry + 4) : kMaxVersionBytes;
    std::vector<std::uint8_t> bytes(size);
    if (size < 6 || !image.ReadRva(Le32(entry), bytes.data(), size)) return std::nullopt;
    return ParseVersionResource(bytes.data(), size);
}

std::u16string RegisteredVersion(const TVersionInfo& info) {
    const std::u16string product = text::TrimControl(info.ProductVersion);
    return product.empty() ? text::TrimControl(info.FileVersion) : product;
}

std::u16string RegisteredPublisher(const TVersionInfo& info) { return text::TrimControl(info.CompanyName); }
