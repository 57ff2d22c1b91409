#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/crc32.h"
#include "common/text.h"
#include "fileio.h"
#include "image_builder.h"
#include "scrpack.h"
#include "scrpack_run.h"
#include "package/package.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string Utf16Le(std::u16string_view s) {
    std::string out;
    text::AppendUtf16Le(out, s);
    return out;
}

// Just enough of a Windows program: PE headers, then section bytes up to size.
std::string FakeStub(PeFormat format = PeFormat::Pe32, std::size_t size = 512) {
    std::string s = PeStub(size, format);
    for (std::size_t i = 0x200; i < size; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// A file that only starts like a Windows program: MZ, and "PE" at lfanew if that fits.
std::string MzOnly(std::uint32_t lfanew) {
    const std::size_t size = 512;
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 23);
    s[0] = 'M';
    s[1] = 'Z';
    for (int i = 0; i < 4; ++i) s[0x3C + i] = static_cast<char>(lfanew >> (8 * i));
    if (lfanew + 4 <= size) s.replace(lfanew, 4, std::string("PE\0\0", 4));
    return s;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    return s;
}

class Scrpack : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = fs::temp_directory_path() / ("scrpack-test-" + std::to_string(counter++) + "-" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        stubBytes = FakeStub();
        scrBytes = Pattern(70000);  // more than one copy chunk
        WriteAll(Path("stub.exe"), stubBytes);
        WriteAll(Path("sky.scr"), scrBytes);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return scrpack::PathToUtf8(dir / name); }

    std::vector<std::string> BuildArgs(std::vector<std::string> extra) const {
        std::vector<std::string> args{"build", "--stub", Path("stub.exe"), "--scr", Path("sky.scr"), "-o", Path("out.exe")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    json Info(const std::string& file, int expectedCode = 0) const {
        const Result r = RunTool({"info", file, "--json"});
        EXPECT_EQ(r.code, expectedCode) << r.out << r.err;
        return json::parse(r.out);
    }

    // Names in the folder other than the fixture's inputs: what a build left behind.
    std::vector<std::string> Leftovers(const std::set<std::string>& inputs) const {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir))
            if (!inputs.count(e.path().filename().string())) found.push_back(e.path().filename().string());
        return found;
    }

    fs::path dir;
    std::string stubBytes, scrBytes;
};

TEST_F(Scrpack, BuildsTheImageByteForByteAndInfoDecodesEveryField) {
    WriteAll(Path("readme.txt"), "\xEF\xBB\xBFRead me\r\n\xC3\x84rger \xF0\x9F\x98\x80\n");  // UTF-8 with BOM
    WriteAll(Path("license.txt"), std::string("\xFE\xFF\x00L\x00i\x00\xE9", 8));          // UTF-16BE
    WriteAll(Path("lang.txt"), std::string("\xFF\xFESx=y", 6));                            // UTF-16LE
    const Result r = RunTool(BuildArgs({"--title", "Sky \xC3\x9C", "--readme", Path("readme.txt"), "--license",
                                    Path("license.txt"), "--license-mode", "3", "--lang", Path("lang.txt"), "--link",
                                    "https://example.org/s", "--base-dir", "D:\\Savers", "--sub-dir", "Sky\\Demo",
                                    "--scr-name", "Sky Saver.scr", "--uninstall-entry", "--menu-shortcuts",
                                    "--desktop-shortcut", "--skip-directory-page", "--power-request-override"}));
    ASSERT_EQ(r.code, 0) << r.err;

    const std::string readme = Utf16Le(u"Read me\r\n\u00C4rger \U0001F600\n");
    const std::string license = Utf16Le(u"Li\u00E9");
    const std::string lang = std::string("Sx=y", 4);  // stored as read: the file already was UTF-16LE
    const std::string texts = readme + license + lang;

    const std::string image = ReadAll(Path("out.exe"));
    // The checksum record lies between the program and the screensaver and covers the rest.
    const std::size_t recordAt = stubBytes.size(), scrAt = recordAt + kChecksumRecordSize;
    const std::size_t textsAt = scrAt + scrBytes.size(), headerAt = textsAt + texts.size();
    ASSERT_EQ(image.size(), headerAt + kHeaderAndTrailer);
    EXPECT_EQ(image.substr(0, recordAt), stubBytes);
    const std::string covered = image.substr(scrAt);
    const auto record = ChecksumRecordBytes({static_cast<std::uint32_t>(covered.size()), Crc32(0, covered.data(), covered.size())});
    EXPECT_EQ(image.substr(recordAt, kChecksumRecordSize), std::string(record.begin(), record.end()));
    EXPECT_EQ(image.substr(recordAt, 8), "ScrCRC32");
    EXPECT_EQ(image.substr(scrAt, scrBytes.size()), scrBytes);
    EXPECT_EQ(image.substr(textsAt, texts.size()), texts);
    EXPECT_EQ(image.substr(image.size() - kTrailerSize), Utf16Le(u"Parvol.sig"));

    TSetupHeader h;
    image.copy(reinterpret_cast<char*>(h.Raw.data()), kHeaderSize, headerAt);
    EXPECT_EQ(h.UninstallMarker(), u"SCRSet.sig");
    for (std::size_t reserved : {hdr::Reserved1, hdr::Reserved2, hdr::Reserved3, hdr::Reserved4, hdr::Reserved4 + 1, hdr::Reserved4 + 2})
        EXPECT_EQ(h.Raw[reserved], 0) << "reserved byte at " << reserved;
    // Length byte plus UTF-8, not UTF-16.
    EXPECT_EQ(h.Raw[hdr::DefaultBaseDir], 9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.Raw[hdr::DefaultBaseDir + 1]), 9), "D:\\Savers");

    const json info = Info(Path("out.exe"));
    EXPECT_EQ(info["role"], "installer");
    EXPECT_EQ(info["fileEnd"], image.size());
    EXPECT_EQ(info["problems"], json::array());
    const json expectedHeader = {
        {"PackageSize", scrBytes.size() + texts.size() + 1356},
        {"ScrFileName", "Sky Saver.scr"},
        {"Title", "Sky \xC3\x9C"},
        {"LinkAddress", "https://example.org/s"},
        {"UninstallEntryFlag", true},
        {"MenuShortcutsFlag", true},
        {"DesktopShortcutFlag", true},
        {"Reserved1", 0},
        {"TextsSize", texts.size()},
        {"ReadmeSize", readme.size()},
        {"LicenseSize", license.size()},
        {"LanguageLength", lang.size() / 2},
        {"Reserved2", 0},
        {"DefaultBaseDir", "D:\\Savers"},
        {"DefaultSubDir", "Sky\\Demo"},
        {"SkipDirectoryPage", true},
        {"UninstallMarker", "SCRSet.sig"},
        {"LicenseMode", 3},
        {"Reserved3", 0},
        {"PowerRequestOverride", true},
        {"Reserved4", {0, 0, 0}},
    };
    EXPECT_EQ(info["header"], expectedHeader);

    const json& b = info["blocks"];
    auto at = [&](const char* name) { return std::pair{b[name]["offset"].get<std::size_t>(), b[name]["size"].get<std::size_t>()}; };
    EXPECT_EQ(at("stub"), std::pair(std::size_t{0}, recordAt));
    EXPECT_EQ(at("checksum"), std::pair(recordAt, kChecksumRecordSize));
    EXPECT_EQ(info["checksum"]["verified"], true);
    EXPECT_EQ(info["checksum"]["stated"], info["checksum"]["computed"]);
    EXPECT_EQ(at("screensaver"), std::pair(scrAt, scrBytes.size()));
    EXPECT_EQ(at("texts"), std::pair(textsAt, texts.size()));
    EXPECT_EQ(at("readme"), std::pair(textsAt, readme.size()));
    EXPECT_EQ(at("license"), std::pair(textsAt + readme.size(), license.size()));
    EXPECT_EQ(at("language"), std::pair(textsAt + readme.size() + license.size(), lang.size()));
    EXPECT_EQ(at("header"), std::pair(headerAt, kHeaderSize));
    EXPECT_EQ(at("trailer"), std::pair(image.size() - kTrailerSize, kTrailerSize));
    EXPECT_FALSE(b.contains("afterTrailer"));

    // The text form carries the same facts.
    const Result text = RunTool({"info", Path("out.exe")});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("Role:     installer"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("LicenseMode           3"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(", verified"), std::string::npos) << text.out;
}

TEST_F(Scrpack, DefaultsComeFromTheTitleAndTheScreensaverFile) {
    ASSERT_EQ(RunTool(BuildArgs({"--title", "Aurora"})).code, 0);
    const json h = Info(Path("out.exe"))["header"];
    EXPECT_EQ(h["ScrFileName"], "sky.scr");
    EXPECT_EQ(h["DefaultBaseDir"], "<Program Files>");
    EXPECT_EQ(h["DefaultSubDir"], "Aurora");
    EXPECT_EQ(h["LinkAddress"], "");
    EXPECT_EQ(h["LicenseMode"], 0);
    EXPECT_EQ(h["TextsSize"], 0);
    EXPECT_EQ(h["PackageSize"], scrBytes.size() + 1356);
    for (const char* flag : {"UninstallEntryFlag", "MenuShortcutsFlag", "DesktopShortcutFlag", "SkipDirectoryPage", "PowerRequestOverride"})
        EXPECT_EQ(h[flag], false) << flag;

    // A licence turns the licence page on unless a mode is given.
    WriteAll(Path("license.txt"), "Terms");
    ASSERT_EQ(RunTool(BuildArgs({"--title", "Aurora", "--license", Path("license.txt")})).code, 0);
    EXPECT_EQ(Info(Path("out.exe"))["header"]["LicenseMode"], 1);
    ASSERT_EQ(RunTool(BuildArgs({"--title", "Aurora", "--license", Path("license.txt"), "--license-mode", "0"})).code, 0);
    EXPECT_EQ(Info(Path("out.exe"))["header"]["LicenseMode"], 0);
}

TEST_F(Scrpack, AcceptsEveryValueAtItsLimit) {
    const std::string title(31, 'T');
    const std::string name(251, 'n');
    const std::string link = "https://" + std::string(93, 'l');
    const std::string base(250, 'b');
    // 125 two-byte characters: 250 UTF-8 bytes.
    std::string sub;
    for (int i = 0; i < 125; ++i) sub += "\xC3\xA9";
    ASSERT_EQ(RunTool(BuildArgs({"--title", title, "--scr-name", name + ".scr", "--link", link, "--base-dir", base, "--sub-dir", sub})).code, 0);
    const json h = Info(Path("out.exe"))["header"];
    EXPECT_EQ(h["Title"], title);
    EXPECT_EQ(h["ScrFileName"], name + ".scr");
    EXPECT_EQ(h["LinkAddress"], link);
    EXPECT_EQ(h["DefaultBaseDir"], base);
    EXPECT_EQ(h["DefaultSubDir"], sub);
}

TEST_F(Scrpack, KeepsWebLinksOfEverySchemeAsGiven) {
    for (const std::string link : {"http://example.org", "HTTPS://Example.org/Aurora", "MailTo:saver@example.org?subject=Aurora&x=1"}) {
        ASSERT_EQ(RunTool(BuildArgs({"--title", "Aurora", "--link", link})).code, 0) << link;
        EXPECT_EQ(Info(Path("out.exe"))["header"]["LinkAddress"], link);
    }
}

struct ArchCase {
    const char* name;
    PeFormat format;
    std::uint16_t machine;
    const char* architecture;  // as the JSON names it
    const char* arch;          // as the text names it
};

void PrintTo(const ArchCase& c, std::ostream* os) { *os << c.name; }

class ScrpackStubArchitecture : public Scrpack, public ::testing::WithParamInterface<ArchCase> {};

TEST_P(ScrpackStubArchitecture, BuildInfoAndSignedInstallerNameIt) {
    const ArchCase& c = GetParam();
    stubBytes = FakeStub(c.format);
    PutLe(stubBytes, 0x80 + 4, c.machine, 2);
    WriteAll(Path("stub.exe"), stubBytes);

    const Result built = RunTool(BuildArgs({"--title", "Aurora"}));
    ASSERT_EQ(built.code, 0) << built.err;
    const std::string installer = ReadAll(Path("out.exe"));
    EXPECT_EQ(built.out, Path("out.exe") + ": installer written, " + std::to_string(installer.size()) + " bytes (" +
                             c.architecture + " stub)\n");
    EXPECT_EQ(installer.substr(0, stubBytes.size()), stubBytes);

    const json info = Info(Path("out.exe"));
    EXPECT_EQ(info["architecture"], c.architecture);
    const Result text = RunTool({"info", Path("out.exe")});
    EXPECT_NE(text.out.find(std::string("\nArch:     ") + c.arch + "\n"), std::string::npos) << text.out;

    // Signed, the package is the one ending where the certificates begin.
    WriteAll(Path("signed.exe"), Signed(installer, std::string(16, 'C') + Utf16Le(u"Parvol.sig"), c.format, 3));
    const json s = Info(Path("signed.exe"));
    EXPECT_EQ(s["architecture"], c.architecture);
    EXPECT_EQ(s["fileEnd"], installer.size());
    EXPECT_EQ(s["blocks"]["padding"], (json{{"offset", installer.size()}, {"size", 3}}));
    EXPECT_EQ(s["blocks"]["certificates"], (json{{"offset", installer.size() + 3}, {"size", 36}}));
    EXPECT_FALSE(s["blocks"].contains("afterTrailer"));
}

INSTANTIATE_TEST_SUITE_P(
    Stubs, ScrpackStubArchitecture,
    ::testing::Values(ArchCase{"X86", PeFormat::Pe32, 0x14C, "x86", "x86 (PE32)"},
                      ArchCase{"X64", PeFormat::Pe32Plus, 0x8664, "x64", "x64 (PE32+)"},
                      ArchCase{"Arm64", PeFormat::Pe32Plus, 0xAA64, "arm64", "arm64 (PE32+)"},
                      ArchCase{"OtherMachine", PeFormat::Pe32, 0x1C4, "machine 0x1c4", "machine 0x1c4 (PE32)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u16string expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class ScrpackDecodeText : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ScrpackDecodeText, GivesTheUtf16Text) {
    EXPECT_EQ(scrpack::DecodeTextFile(GetParam().bytes, "f"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ScrpackDecodeText,
    ::testing::Values(DecodeCase{"Empty", "", u""},
                      DecodeCase{"Utf8", "a\xC3\xA9\xE2\x82\xAC", u"a\u00E9\u20AC"},
                      DecodeCase{"Utf8Bom", "\xEF\xBB\xBF" "a\r\nb", u"a\r\nb"},
                      DecodeCase{"Utf8BomOnly", "\xEF\xBB\xBF", u""},
                      DecodeCase{"Utf8Astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      DecodeCase{"Utf16Le", std::string("\xFF\xFE" "a\x00\xAC\x20", 6), u"a\u20AC"},
                      DecodeCase{"Utf16Be", std::string("\xFE\xFF\x00" "a\x20\xAC", 6), u"a\u20AC"},
                      DecodeCase{"Utf16BeSurrogates", std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6), u"\U0001F600"},
                      DecodeCase{"Utf16LeBomOnly", "\xFF\xFE", u""}),
    [](const auto& info) { return info.param.name; });

TEST(ScrpackDecodeTextRefusal, NamesTheFileAndTheProblem) {
    for (const auto& [bytes, problem] : {std::pair<std::string, const char*>{"caf\xE9", "neither UTF-8 nor UTF-16"},
                                         {"\xC0\xAF", "neither UTF-8 nor UTF-16"},
                                         {"\xED\xA0\x80", "neither UTF-8 nor UTF-16"},
                                         {"\xFF\xFE" "a", "odd number of bytes"}}) {
        try {
            scrpack::DecodeTextFile(bytes, "--readme: r.txt");
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(bytes);
        } catch (const scrpack::EBuildError& e) {
            EXPECT_NE(std::string(e.what()).find("--readme: r.txt"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(problem), std::string::npos) << e.what();
        }
    }
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> extra;  // "@x" is the fixture file x
    int code;
    const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ScrpackRefusal : public Scrpack, public ::testing::WithParamInterface<RefusalCase> {
protected:
    void SetUp() override {
        Scrpack::SetUp();
        WriteAll(Path("text.exe"), "just some text, no program at all, but long enough to hold a DOS header ....");
        WriteAll(Path("mz-only.exe"), MzOnly(0x40).replace(0x40, 4, std::string("NE\0\0", 4)));
        WriteAll(Path("mz-far.exe"), MzOnly(4096));
        WriteAll(Path("packed.exe"), FakeStub() + Utf16Le(u"Parvol.sig") + "tail");
        WriteAll(Path("unpacked-uninstaller.exe"), FakeStub() + Utf16Le(u"ScUnin.sig"));
        WriteAll(Path("empty.scr"), "");
        WriteAll(Path("a:b.scr"), "x");
        WriteAll(Path("latin1.txt"), "caf\xE9");
        fs::create_directories(dir / "folder.scr");
    }

    std::vector<std::string> Args(const RefusalCase& c) const {
        std::vector<std::string> extra;
        for (const auto& a : c.extra) extra.push_back(a.starts_with("@") ? Path(a.substr(1)) : a);
        // The fixture's stub, screensaver and output unless the case names its own.
        std::vector<std::string> args{"build"};
        for (const auto& [option, file] : {std::pair{"--stub", "stub.exe"}, {"--scr", "sky.scr"}, {"-o", "out.exe"}})
            if (std::find(extra.begin(), extra.end(), option) == extra.end()) args.insert(args.end(), {option, Path(file)});
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

TEST_P(ScrpackRefusal, ExitsWithItsCodeAndMessageAndWritesNothing) {
    const RefusalCase& c = GetParam();
    WriteAll(Path("out.exe"), "previous installer");
    const std::set<std::string> before = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
        return names;
    }();

    const Result r = RunTool(Args(c));
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadAll(Path("out.exe")), "previous installer");
    EXPECT_EQ(Leftovers(before), std::vector<std::string>{});
}

const std::string k32Units = std::string(30, 'x') + "\xF0\x9F\x98\x80";  // 31 characters, 32 UTF-16 units

INSTANTIATE_TEST_SUITE_P(
    Cases, ScrpackRefusal,
    ::testing::Values(
        // Command line.
        RefusalCase{"MissingTitle", {}, 2, "--title is required"},
        RefusalCase{"UnknownOption", {"--title", "T", "--colour", "red"}, 2, "--colour"},
        RefusalCase{"LicenseModeOutOfRange", {"--title", "T", "--license-mode", "256"}, 2, "--license-mode"},
        RefusalCase{"LicenseModeNotANumber", {"--title", "T", "--license-mode", "one"}, 2, "--license-mode"},
        // Values the header cannot hold.
        RefusalCase{"EmptyTitle", {"--title", ""}, 2, "--title is empty"},
        RefusalCase{"TitleOver31Units", {"--title", k32Units}, 2, "--title is too long: 32 UTF-16 units, the limit is 31"},
        RefusalCase{"TitleWithColon", {"--title", "Sky: Night"}, 2, "contains ':'"},
        RefusalCase{"TitleWithBackslash", {"--title", "Sky\\Night"}, 2, "contains '\\'"},
        RefusalCase{"TitleWithQuestionMark", {"--title", "Sky?"}, 2, "contains '?'"},
        RefusalCase{"TitleWithControl", {"--title", "Sky\tNight"}, 2, "control character"},
        RefusalCase{"TitleDotDot", {"--title", ".."}, 2, "dots and spaces only"},
        RefusalCase{"TitleDevice", {"--title", "Con"}, 2, "reserved Windows device name"},
        RefusalCase{"TitleNotUtf8", {"--title", "caf\xE9"}, 2, "--title is not valid UTF-8"},
        RefusalCase{"ScrNameOver255", {"--title", "T", "--scr-name", std::string(252, 'n') + ".scr"}, 2, "--scr-name is too long: 256 UTF-16 units, the limit is 255"},
        RefusalCase{"ScrNameEmpty", {"--title", "T", "--scr-name", ""}, 2, "--scr-name is empty"},
        RefusalCase{"ScrNameWithSlash", {"--title", "T", "--scr-name", "sub/sky.scr"}, 2, "contains '/'"},
        RefusalCase{"ScrNameDevice", {"--title", "T", "--scr-name", "nul.scr"}, 2, "reserved Windows device name"},
        RefusalCase{"ScrFileNameWithColon", {"--title", "T", "--scr", "@a:b.scr"}, 2, "--scr-name (taken from the --scr file name) \"a:b.scr\" contains ':'"},
        RefusalCase{"LinkOver101", {"--title", "T", "--link", std::string(102, 'l')}, 2, "--link is too long: 102 UTF-16 units, the limit is 101"},
        RefusalCase{"LinkToAFile", {"--title", "T", "--link", "file:///C:/windows/notepad.exe"}, 2, "--link \"file:///C:/windows/notepad.exe\" is not a web address"},
        RefusalCase{"LinkToAProgram", {"--title", "T", "--link", "calc.exe"}, 2, "--link \"calc.exe\" is not a web address"},
        RefusalCase{"LinkWithAnotherScheme", {"--title", "T", "--link", "javascript:alert(1)"}, 2, "is not a web address"},
        RefusalCase{"LinkBreakingOutOfQuotes", {"--title", "T", "--link", "https://x\" --flag"}, 2, "is not a web address"},
        RefusalCase{"BaseDirOver250Bytes", {"--title", "T", "--base-dir", std::string(251, 'b')}, 2, "--base-dir is too long: 251 UTF-8 bytes, the limit is 250"},
        RefusalCase{"SubDirCountsBytesNotUnits", {"--title", "T", "--sub-dir", std::string(248, 's') + "\xE2\x82\xAC"}, 2, "--sub-dir is too long: 251 UTF-8 bytes"},
        // Inputs.
        RefusalCase{"MissingStub", {"--title", "T", "--stub", "@none.exe"}, 1, "--stub: cannot open"},
        RefusalCase{"MissingScr", {"--title", "T", "--scr", "@none.scr"}, 1, "--scr: cannot open"},
        RefusalCase{"ScrIsAFolder", {"--title", "T", "--scr", "@folder.scr"}, 1, "is a folder"},
        RefusalCase{"MissingReadme", {"--title", "T", "--readme", "@none.txt"}, 1, "--readme: cannot open"},
        RefusalCase{"MissingLang", {"--title", "T", "--lang", "@none.txt"}, 1, "--lang: cannot open"},
        RefusalCase{"LicenseNotUtf8", {"--title", "T", "--license", "@latin1.txt"}, 1, "--license: "},
        RefusalCase{"EmptyScr", {"--title", "T", "--scr", "@empty.scr"}, 1, "is empty"},
        RefusalCase{"StubWithoutMz", {"--title", "T", "--stub", "@text.exe"}, 1, "not a Windows program (no MZ header)"},
        RefusalCase{"StubTooShort", {"--title", "T", "--stub", "@empty.scr"}, 1, "not a Windows program"},
        RefusalCase{"StubWithoutPe", {"--title", "T", "--stub", "@mz-only.exe"}, 1, "no PE signature at offset 64"},
        RefusalCase{"StubPeOutside", {"--title", "T", "--stub", "@mz-far.exe"}, 1, "PE header offset 4096 lies outside"},
        RefusalCase{"StubIsAnInstaller", {"--title", "T", "--stub", "@packed.exe"}, 1, "already carries a package"},
        RefusalCase{"StubIsAnUninstaller", {"--title", "T", "--stub", "@unpacked-uninstaller.exe"}, 1, "already carries a package"},
        RefusalCase{"OutputFolderMissing", {"--title", "T", "-o", "@no/such/folder/out.exe"}, 1, "--output: cannot create"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Scrpack, UsageErrorsWithoutABuildExitWith2) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"pack"}, {"info"}, {"info", "a", "b"}}) {
        const Result r = RunTool(args);
        EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty());
    }
    const Result help = RunTool({"build", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--power-request-override"), std::string::npos);
}

TEST_F(Scrpack, ScreensaverTooLargeForPackageSizeIsRefusedBeforeWriting) {
    // Sparse, so it costs no disk space: with the readme's two bytes, one past the limit.
    {
        std::ofstream f(dir / "huge.scr", std::ios::binary);
    }
    fs::resize_file(dir / "huge.scr", 2147483647ull - 1356);
    WriteAll(Path("readme.txt"), "x");
    const Result r = RunTool({"build", "--stub", Path("stub.exe"), "--scr", Path("huge.scr"), "-o", Path("out.exe"),
                          "--title", "T", "--readme", Path("readme.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("PackageSize is limited to 2147483647"), std::string::npos) << r.err;
    EXPECT_EQ(Leftovers({"stub.exe", "sky.scr", "huge.scr", "readme.txt"}), std::vector<std::string>{});
}

#ifndef _WIN32
// A write that fails half-way (here: the file-size limit) must leave neither a partial
// installer nor a temporary file, and must not touch the previous output.
TEST_F(Scrpack, FailedWriteLeavesThePreviousOutputAndNoTemporaryFile) {
    WriteAll(Path("out.exe"), "previous installer");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 40000;  // inside the screensaver copy
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result r = RunTool(BuildArgs({"--title", "T"}));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(Path("out.exe")), "previous installer");
    EXPECT_EQ(Leftovers({"stub.exe", "sky.scr", "out.exe"}), std::vector<std::string>{});
}
#endif

TEST_F(Scrpack, OutputReplacesAnExistingFileAndMayBeAnInput) {
    WriteAll(Path("out.exe"), std::string(300000, 'o'));  // longer than the new image
    ASSERT_EQ(RunTool(BuildArgs({"--title", "T"})).code, 0);
    const std::string first = ReadAll(Path("out.exe"));
    EXPECT_EQ(first.size(), stubBytes.size() + kChecksumRecordSize + scrBytes.size() + kHeaderAndTrailer);

    // Packing the screensaver into its own file name replaces it with the installer.
    const Result r = RunTool({"build", "--stub", Path("stub.exe"), "--scr", Path("sky.scr"), "-o", Path("sky.scr"), "--title", "T"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(Path("sky.scr")), first);
    EXPECT_EQ(Leftovers({"stub.exe", "sky.scr", "out.exe"}), std::vector<std::string>{});
}

TEST(ScrpackAtomicOutput, NothingAppearsUntilCommitAndAFailedCommitCleansUp) {
    const fs::path dir = fs::temp_directory_path() / "scrpack-atomic-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string target = scrpack::PathToUtf8(dir / "out.exe");
    {
        scrpack::AtomicOutput out(target);
        EXPECT_EQ(out.Write("abc", 3), 3u);
        EXPECT_FALSE(fs::exists(dir / "out.exe"));
    }
    EXPECT_TRUE(fs::is_empty(dir)) << "an abandoned output must be removed";

    {
        scrpack::AtomicOutput out(target);
        out.Write("abc", 3);
        // The rename fails when a folder has taken the name meanwhile.
        fs::create_directories(dir / "out.exe" / "inside");
        EXPECT_THROW(out.Commit(), scrpack::EFileError);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "only the folder may remain";
    fs::remove_all(dir);
}

// Images made by hand or by the setup itself; info reports what it can and exits 1 when damaged.
TEST_F(Scrpack, InfoDescribesUninstallersAndDamagedImages) {
    WriteAll(Path("readme.txt"), "Hello");
    ASSERT_EQ(RunTool(BuildArgs({"--title", "T", "--readme", Path("readme.txt")})).code, 0);
    const std::string installer = ReadAll(Path("out.exe"));

    // The uninstaller the setup writes: stub, texts, header, other signature.
    {
        scrpack::InputFile in(Path("out.exe"));
        scrpack::AtomicOutput sink(Path("uninst.exe"));
        TSetupHeader h;
        ASSERT_TRUE(ReadExact(in, in.Size() - static_cast<std::int64_t>(kHeaderAndTrailer), h.Raw.data(), kHeaderSize));
        ASSERT_TRUE(WriteUninstallerImage(in, sink, in.Size(), h));
        sink.Commit();
    }
    const json u = Info(Path("uninst.exe"));
    EXPECT_EQ(u["role"], "uninstaller");
    EXPECT_EQ(u["problems"], json::array());
    EXPECT_EQ(u["blocks"]["stub"]["size"], stubBytes.size());
    EXPECT_EQ(u["blocks"]["readme"]["offset"], stubBytes.size());
    EXPECT_FALSE(u["blocks"].contains("screensaver"));

    // Bytes after the trailer (a signature, say) are shown and ignored.
    WriteAll(Path("signed.exe"), installer + std::string(1000, '\x7F'));
    const json s = Info(Path("signed.exe"));
    EXPECT_EQ(s["fileEnd"], installer.size());
    EXPECT_EQ(s["blocks"]["afterTrailer"], (json{{"offset", installer.size()}, {"size", 1000}}));

    const std::size_t headerAt = installer.size() - kHeaderAndTrailer;
    auto patched = [&](std::size_t offset, std::string bytes) {
        std::string image = installer;
        image.replace(offset, bytes.size(), bytes);
        return image;
    };
    struct Damage {
        const char* name;
        std::string image;
        const char* role;
        const char* problem;
        json architecture = "x86";
    };
    const Damage cases[] = {
        {"bare stub", stubBytes, "none", "no installer or uninstaller signature found"},
        {"signature only", Utf16Le(u"Parvol.sig"), "installer", "before the start of the file", nullptr},
        {"texts size", patched(headerAt + hdr::TextsSize, std::string("\x09\0\0\0", 4)), "installer", "TextsSize differs"},
        {"package size", patched(headerAt + hdr::PackageSize, std::string("\x00\x00\x00\x7F", 4)), "installer", "screensaver lies before the start"},
        {"empty title", patched(headerAt + hdr::Title, std::string(2, '\0')), "installer", "Title is empty"},
        {"uninstaller marker", patched(installer.size() - kTrailerSize, Utf16Le(u"ScUnin.sig")).replace(headerAt + hdr::UninstallMarker, 2, std::string("X\0", 2)),
         "uninstaller", "UninstallMarker"},
    };
    for (const auto& c : cases) {
        WriteAll(Path("damaged.exe"), c.image);
        const json d = Info(Path("damaged.exe"), 1);
        EXPECT_EQ(d["role"], c.role) << c.name;
        EXPECT_EQ(d["architecture"], c.architecture) << c.name;
        EXPECT_NE(d["problems"].dump().find(c.problem), std::string::npos) << c.name << ": " << d["problems"];
        if (std::string(c.role) != "none" && c.image.size() >= kHeaderAndTrailer)
            EXPECT_TRUE(d["header"].is_object()) << c.name << ": the header is still shown";
        const Result text = RunTool({"info", Path("damaged.exe")});
        EXPECT_EQ(text.code, 1) << c.name;
        EXPECT_NE(text.out.find(c.problem), std::string::npos) << c.name << ": " << text.out;
        if (c.architecture.is_null()) EXPECT_NE(text.out.find("\nArch:     -\n"), std::string::npos) << c.name << ": " << text.out;
    }

    const Result missing = RunTool({"info", Path("none.exe")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

}  // namespace

// info recomputes the checksum: one changed byte anywhere in the package is a damaged image.
TEST_F(Scrpack, InfoVerifiesTheChecksum) {
    WriteAll(Path("readme.txt"), "Read me");
    ASSERT_EQ(RunTool(BuildArgs({"--title", "T", "--readme", Path("readme.txt")})).code, 0);
    const std::string image = ReadAll(Path("out.exe"));
    const std::size_t payloadAt = stubBytes.size() + kChecksumRecordSize;
    for (const std::size_t at : {payloadAt, payloadAt + scrBytes.size() + 1, image.size() - kTrailerSize - 1}) {
        SCOPED_TRACE(at);
        std::string damaged = image;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x40);
        WriteAll(Path("damaged.exe"), damaged);
        const json info = Info(Path("damaged.exe"), 1);
        EXPECT_EQ(info["checksum"]["verified"], false);
        EXPECT_NE(info["checksum"]["stated"], info["checksum"]["computed"]);
        EXPECT_NE(info["problems"].dump().find("differs from its checksum"), std::string::npos) << info["problems"];
        const Result text = RunTool({"info", Path("damaged.exe")});
        EXPECT_EQ(text.code, 1);
        EXPECT_NE(text.out.find("MISMATCH"), std::string::npos) << text.out;
    }
}
