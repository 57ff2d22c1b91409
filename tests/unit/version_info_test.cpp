#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/text.h"
#include "package/version_info.h"
#include "version_builder.h"

namespace {

using namespace version_builder;

// The image inside a larger file, as the screensaver lies inside an installer; any read
// outside the image's range is recorded.
class GuardedSource final : public ByteSource {
public:
    GuardedSource(const std::string& image, std::size_t before = 100, std::size_t after = 100)
        : bytes_(std::string(before, 'B') + image + std::string(after, 'A')),
          from_(static_cast<std::int64_t>(before)),
          to_(static_cast<std::int64_t>(before + image.size())) {}
    std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override {
        if (offset < from_ || offset + static_cast<std::int64_t>(count) > to_) outside = true;
        return MemorySource(bytes_).ReadAt(offset, buffer, count);
    }
    std::optional<TVersionInfo> Read() { return ReadVersionInfo(*this, from_, to_ - from_); }
    bool outside = false;

private:
    std::string bytes_;
    std::int64_t from_, to_;
};

using Expected = std::optional<std::array<std::u16string, 3>>;  // product, file, company

void ExpectInfo(const std::optional<TVersionInfo>& got, const Expected& expected, const std::string& name) {
    ASSERT_EQ(got.has_value(), expected.has_value()) << name;
    if (!got) return;
    EXPECT_EQ(text::Utf16ToUtf8(got->ProductVersion), text::Utf16ToUtf8((*expected)[0])) << name;
    EXPECT_EQ(text::Utf16ToUtf8(got->FileVersion), text::Utf16ToUtf8((*expected)[1])) << name;
    EXPECT_EQ(text::Utf16ToUtf8(got->CompanyName), text::Utf16ToUtf8((*expected)[2])) << name;
}

const std::string kFixed = Fixed({5, 0, 1, 7}, {5, 0, 1, 0});
const std::vector<std::string> kStrings = {String(u"CompanyName", u"Glimmerdeck \u00C9ditions"),
                                           String(u"FileVersion", u"5.0.1.7 (build)"),
                                           String(u"ProductVersion", u"5.0 beta")};

struct TreeCase {
    const char* name;
    Res tree;
    Expected expected;
};

class VersionResource : public ::testing::TestWithParam<PeFormat> {};

TEST_P(VersionResource, ReadsStringsAndFixedPartOfTheFirstTable) {
    const std::string full = VersionInfo(kFixed, {StringFileInfo({StringTable(u"040904B0", kStrings)}), VarFileInfo()});
    // A table that repeats a name, and one that follows the first: neither counts.
    const std::string repeated = VersionInfo(
        kFixed, {VarFileInfo(),
                 StringFileInfo({StringTable(u"040904B0", {String(u"CompanyName", u"First"),
                                                           String(u"CompanyName", u"Second"),
                                                           String(u"ProductVersion", u"7.1")}),
                                 StringTable(u"040704B0", {String(u"FileVersion", u"9.9")})})});
    std::string wrongSignature = kFixed;
    PutLe(wrongSignature, 0, 0xFEEF04BC, 4);
    const TreeCase cases[] = {
        {"strings and fixed part", VersionTree(full), std::array<std::u16string, 3>{u"5.0 beta", u"5.0.1.7 (build)", u"Glimmerdeck \u00C9ditions"}},
        {"only the fixed part", VersionTree(VersionInfo(kFixed, {VarFileInfo()})),
         std::array<std::u16string, 3>{u"5.0.1.0", u"5.0.1.7", u""}},
        {"blank strings give way to the fixed part",
         VersionTree(VersionInfo(kFixed, {StringFileInfo({StringTable(
                                             u"040904B0", {String(u"ProductVersion", u" \t"), String(u"CompanyName", u"Co")})})})),
         std::array<std::u16string, 3>{u"5.0.1.0", u"5.0.1.7", u"Co"}},
        {"first string of a name, first table", VersionTree(repeated), std::array<std::u16string, 3>{u"7.1", u"5.0.1.7", u"First"}},
        {"fixed part without its signature",
         VersionTree(VersionInfo(wrongSignature, {StringFileInfo({StringTable(u"040904B0", {String(u"FileVersion", u"3")})})})),
         std::array<std::u16string, 3>{u"", u"3", u""}},
        {"neither strings nor fixed part", VersionTree(VersionInfo("", {})), std::array<std::u16string, 3>{u"", u"", u""}},
        {"first name and first language",
         Dir({{3, Dir({{1, Dir({{0x409, Data("icon")}})}})},
              {16, Dir({{kNamed | 0x200, Dir({{0x407, Data(VersionInfo(Fixed({1, 0, 0, 0}, {1, 0, 0, 0}), {}))},
                                              {0x409, Data(VersionInfo(Fixed({2, 0, 0, 0}, {2, 0, 0, 0}), {}))}})},
                        {1, Dir({{0x409, Data(VersionInfo(Fixed({3, 0, 0, 0}, {3, 0, 0, 0}), {}))}})}})},
              {24, Dir({{1, Dir({{0x409, Data("<assembly/>")}})}})}}),
         std::array<std::u16string, 3>{u"1.0.0.0", u"1.0.0.0", u""}},
        {"named types come before the version type",
         Dir({{kNamed | 0x300, Dir({{1, Dir({{0x409, Data("named")}})}})}, {16, VersionTree(full).children[0]}}),
         std::array<std::u16string, 3>{u"5.0 beta", u"5.0.1.7 (build)", u"Glimmerdeck \u00C9ditions"}},
        {"no version type", Dir({{3, Dir({{1, Dir({{0x409, Data("icon")}})}})}, {24, Dir({{1, Dir({{0x409, Data("m")}})}})}}),
         std::nullopt},
        {"another root key", VersionTree(VersionInfo(kFixed, {}, u"VS_VERSION_INFX")), std::nullopt},
        {"a name holding data where a directory belongs", Dir({{16, Dir({{1, Data(full)}})}}), std::nullopt},
        {"a language holding a directory", Dir({{16, Dir({{1, Dir({{0x409, Dir({{1, Data(full)}})}})}})}}), std::nullopt},
    };
    for (const auto& c : cases) {
        GuardedSource source(Program(GetParam(), c.tree));
        ExpectInfo(source.Read(), c.expected, c.name);
        EXPECT_FALSE(source.outside) << c.name;
    }
}

// The resource tree's layout for VersionTree: the entries' values and the data entry.
constexpr std::size_t kTypeEntry = 20, kNameEntry = 44, kLanguageEntry = 68, kDataEntry = 72;

TEST_P(VersionResource, DamagedTreesAndBlocksGiveNothingOrWhatWasWhole) {
    std::string good;
    Emit(good, VersionTree(VersionInfo(kFixed, {StringFileInfo({StringTable(u"040904B0", kStrings)})})), kRsrcRva);
    ASSERT_EQ(std::string(good, kDataEntry + 16 + 6, 4), std::string("V\0S\0", 4)) << "the layout the cases patch";
    const std::size_t version = kDataEntry + 16;
    const std::size_t firstString = version + 92 + 36 + 24;  // behind the fixed part, StringFileInfo and the table

    const std::string info = good.substr(version);
    struct Edit {
        std::size_t at;
        std::uint64_t value;
        int width;
    };
    struct Patch {
        const char* name;
        std::vector<Edit> edits;
        Expected expected;
    };
    const std::array<std::u16string, 3> fixedOnly{u"5.0.1.0", u"5.0.1.7", u""};
    const Patch patches[] = {
        // Directories that lead back up: the walk still ends after three steps.
        {"type entry names the root", {{kTypeEntry, kNamed | 0, 4}}, std::nullopt},
        {"name entry names the root", {{kNameEntry, kNamed | 0, 4}}, std::nullopt},
        // The language's directory starts like a data entry naming the version data: only
        // data may stand at the third step.
        {"language entry names a directory that reads as a data entry",
         {{kLanguageEntry, kNamed | 48, 4}, {48, kRsrcRva + version, 4}, {52, info.size(), 4}},
         std::nullopt},
        {"type entry leaves the section", {{kTypeEntry, kNamed | 0x7FFFFFF0, 4}}, std::nullopt},
        {"a directory with 65535 entries", {{12, 0xFFFF, 2}}, std::nullopt},
        {"data outside every section", {{kDataEntry, 0x10, 4}}, std::nullopt},
        {"data running past its section", {{kDataEntry + 4, 0x10000, 4}}, std::nullopt},
        {"data of more than 64 KiB", {{kDataEntry + 4, 0xFFFFFFFF, 4}}, std::nullopt},
        {"data of five bytes", {{kDataEntry + 4, 5, 4}}, std::nullopt},
        {"root block longer than the data", {{version, 0xFFFF, 2}}, std::nullopt},
        {"root block shorter than its header", {{version, 4, 2}}, std::nullopt},
        // A string table whose first block is broken: the strings are not read, the fixed part is.
        {"string block of length zero", {{firstString, 0, 2}}, fixedOnly},
        {"string block past its table", {{firstString, 0x7FFF, 2}}, fixedOnly},
        {"string key without its end", {{firstString, 8, 2}}, fixedOnly},
    };
    for (const auto& p : patches) {
        std::string rsrc = good;
        for (const Edit& e : p.edits) PutLe(rsrc, e.at, e.value, e.width);
        GuardedSource source(Program(GetParam(), rsrc));
        ExpectInfo(source.Read(), p.expected, p.name);
        EXPECT_FALSE(source.outside) << p.name;
    }
}

TEST_P(VersionResource, HeadersWithoutAResourceDirectoryGiveNothing) {
    const std::string program = Program(GetParam(), VersionTree(VersionInfo(kFixed, {})));
    const std::size_t fileHeader = 0x80 + 4, dirs = DataDirectories(GetParam());
    struct Patch {
        const char* name;
        std::size_t at;
        std::uint32_t value;
        int width;
    };
    const Patch patches[] = {
        {"no MZ", 0, 'X', 1},
        {"no PE signature", 0x80, 'Q', 1},
        {"PE headers past the image", 0x3C, 0x7FFFFFF0, 4},
        {"an optional header of another kind", 0x80 + 24, 0x107, 2},
        {"an optional header too short for the entry", fileHeader + 16, 0x60, 2},
        {"two data directories only", dirs - 4, 2, 4},
        {"an empty resource entry", dirs + 16, 0, 4},
        {"more sections than Windows loads", fileHeader + 2, 97, 2},
        {"a section table past the image", fileHeader + 2, 60, 2},
    };
    GuardedSource intact(program);
    ASSERT_TRUE(intact.Read().has_value());
    for (const auto& p : patches) {
        std::string damaged = program;
        PutLe(damaged, p.at, p.value, p.width);
        GuardedSource source(damaged);
        EXPECT_FALSE(source.Read().has_value()) << p.name;
        EXPECT_FALSE(source.outside) << p.name;
    }
    EXPECT_FALSE(ReadVersionInfo(intact, -1, 10).has_value());
    EXPECT_FALSE(ReadVersionInfo(intact, 100, -1).has_value());
}

// Cut anywhere, or with any one byte changed, the image is read within its range only, and
// what comes out is either nothing or what the whole image gives.
TEST_P(VersionResource, EveryTruncationAndEveryByteStayInsideTheImage) {
    const std::string program =
        Program(GetParam(), VersionTree(VersionInfo(kFixed, {StringFileInfo({StringTable(u"040904B0", kStrings)})})));
    GuardedSource whole(program);
    const std::optional<TVersionInfo> expected = whole.Read();
    ASSERT_TRUE(expected.has_value());
    for (std::size_t length = 0; length < program.size(); ++length) {
        GuardedSource source(program.substr(0, length), 100, program.size() - length);
        const auto got = source.Read();
        ASSERT_FALSE(source.outside) << "cut at " << length;
        if (got)
            ASSERT_EQ(std::tie(got->ProductVersion, got->FileVersion, got->CompanyName),
                      std::tie(expected->ProductVersion, expected->FileVersion, expected->CompanyName))
                << "cut at " << length;
    }
    for (std::size_t at = 0; at < program.size(); ++at) {
        std::string changed = program;
        changed[at] = static_cast<char>(changed[at] ^ 0xA5);
        GuardedSource source(changed);
        (void)source.Read();
        ASSERT_FALSE(source.outside) << "byte " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(PeFormats, VersionResource, ::testing::Values(PeFormat::Pe32, PeFormat::Pe32Plus),
                         [](const auto& info) { return info.param == PeFormat::Pe32 ? "PE32" : "PE32Plus"; });

TEST(RegisteredVersion, ProductVersionElseFileVersionTrimmed) {
    const struct {
        std::u16string product, file, expected;
    } cases[] = {
        {u"2.0", u"1.9", u"2.0"},
        {u"  2.0 beta\t", u"1.9", u"2.0 beta"},
        {u" \t", u" 1.9 ", u"1.9"},
        {u"", u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegisteredVersion({c.product, c.file, u"Co"}), c.expected) << text::Utf16ToUtf8(c.product);
}

}  // namespace
