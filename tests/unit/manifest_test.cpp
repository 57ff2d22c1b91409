// What an installation registers, as scrpack info shows it; scrpack manifest; SHA-256.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "common/lang.h"
#include "common/text.h"
#include "fileio.h"
#include "package/package.h"
#include "scrpack.h"
#include "scrpack_run.h"
#include "setupmain/destination.h"
#include "setupmain/install.h"
#include "setupmain/readme_copy.h"
#include "sha256.h"
#include "version_builder.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace version_builder;

namespace {

std::string Digest(const std::string& message, std::size_t chunk = std::string::npos) {
    scrpack::Sha256 hash;
    for (std::size_t at = 0; at < message.size(); at += chunk) hash.Update(message.data() + at, std::min(chunk, message.size() - at));
    return scrpack::HexUpper(hash.Finish());
}

TEST(Sha256, FipsTestVectors) {
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 448 bits
    const std::string long896 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    EXPECT_EQ(Digest(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    EXPECT_EQ(Digest("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(Digest(twoBlocks), "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
    EXPECT_EQ(Digest(long896), "CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1");
    // A million "a", given in pieces that never meet a block's edge.
    EXPECT_EQ(Digest(std::string(1000000, 'a'), 997), "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    std::string message;
    for (int i = 0; i < 300; ++i) message += static_cast<char>(i * 7 + 3);
    const std::string whole = Digest(message);
    for (std::size_t chunk : {1, 3, 55, 56, 63, 64, 65, 127, 128, 299}) EXPECT_EQ(Digest(message, chunk), whole) << chunk;
}

// The folder and the uninstaller's name are the setup's own, placeholders aside.
TEST(Registration, FolderAndUninstallerNameAsTheSetupMakesThem) {
    const std::pair<std::u16string, std::u16string> folders[] = {
        {u"D:\\Savers", u"Aurora"}, {u" D:\\Savers\\ ", u"\\Sky\\Demo\\"}, {u"C:\\", u""}, {u"C:\\", u" \t"},
        {u"", u"Sub"},             {u"\\\\server\\share", u"Night Sky "},
    };
    for (const auto& [base, sub] : folders)
        EXPECT_EQ(scrpack::DefaultFolderText(base, sub), ComposeDefaultDir(base, sub)) << text::Utf16ToUtf8(base + u"|" + sub);
    EXPECT_EQ(scrpack::DefaultFolderText(u"<Program Files>", u"Aurora"), u"<Program Files>\\Aurora\\");
    EXPECT_EQ(scrpack::DefaultFolderText(u"<Windows>\\", u"\\Savers\\"), u"<Windows>\\Savers\\");

    const std::u16string langs[] = {u"", u"Setup\r\nUninstall=Deinstallieren\r\n", u"Other\r\nUninstall=X\r\n",
                                    u"Setup\nUninstall=\u00DCBER Alles\n"};
    for (const auto& lang : langs) {
        for (const std::u16string scr : {u"Aurora.scr", u"Night_Sk.scr", u"noext", u"a.b.scr"}) {
            LoadLangSection(lang, u"Setup");
            const std::u16string setup = UninstallerFileName(scr);
            FreeLangStrings();
            EXPECT_EQ(scrpack::UninstallerName(scr, lang), setup) << text::Utf16ToUtf8(lang + u"|" + scr);
        }
    }
}

// What an installation of the image writes: the screensaver, the uninstaller as the setup
// makes it from the image, and the readme copy as the setup encodes it.
std::int64_t InstalledBytes(const std::string& image, const std::u16string& readme) {
    MemorySource source(image);
    const TPackage package = LoadPackage(source);
    StringSink uninstaller;
    EXPECT_TRUE(WriteUninstallerImage(source, uninstaller, package.fileEnd, *package.header));
    const std::size_t copy = readme.empty() ? 0 : EncodeReadme(text::NormalizeLineBreaks(readme)).size();
    return PayloadLength(*package.header) + static_cast<std::int64_t>(uninstaller.bytes.size() + copy);
}

// A screensaver that says what it is.
std::string VersionedScreensaver(const std::vector<std::string>& strings, std::size_t size = 0) {
    std::string scr = Program(PeFormat::Pe32Plus, VersionTree(VersionInfo(Fixed({2, 5, 0, 9}, {2, 5, 0, 0}),
                                                                         {StringFileInfo({StringTable(u"040904B0", strings)})})));
    if (scr.size() < size) scr.resize(size, 'z');
    return scr;
}

// The screensaver grown so that an installation writes whole KiB and remainder bytes: at 0 a
// byte counted too many, at 1 a byte too few changes the estimate.
std::string Padded(std::string scr, std::int64_t installed, int remainder) {
    scr.append(static_cast<std::size_t>(((remainder - installed) % 1024 + 1024) % 1024), 'z');
    return scr;
}

class Registers : public ::testing::Test {
protected:
    void SetUp() override {
        // ctest runs each test as a process of its own, in parallel: the name keeps them apart.
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / (std::string("scrpack-") + test->test_suite_name() + "-" + test->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string stub = PeStub(512);
        WriteAll(dir / "stub.exe", stub);
        WriteAll(dir / "lang.txt", "Setup\r\nUninstall=Deinstallieren\r\n");
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return scrpack::PathToUtf8(dir / name); }

    // Builds twice: the second time with the screensaver grown to the remainder; returns the
    // bytes the installation writes.
    std::int64_t BuildAt(int remainder, const std::string& scr, const std::vector<std::string>& options,
                         const std::u16string& readme) {
        EXPECT_EQ(Build(scr, options).code, 0);
        EXPECT_EQ(Build(Padded(scr, InstalledBytes(ReadAll(dir / "out.exe"), readme), remainder), options).code, 0);
        const std::int64_t installed = InstalledBytes(ReadAll(dir / "out.exe"), readme);
        EXPECT_EQ(installed % 1024, remainder);
        return installed;
    }

    Result Build(const std::string& scr, std::vector<std::string> extra) {
        WriteAll(dir / "sky.scr", scr);
        std::vector<std::string> args{"build", "--stub", Path("stub.exe"), "--scr", Path("sky.scr"), "-o", Path("out.exe")};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(args);
    }

    json Info(const std::string& file) {
        const Result r = RunTool({"info", file, "--json"});
        return json::parse(r.out);
    }

    fs::path dir;
};

TEST_F(Registers, InfoShowsTheUninstallEntryOfAFirstInstallationIntoTheDefaultFolder) {
    const std::u16string readme = u"Read me\nplease\n";
    WriteAll(dir / "readme.txt", text::Utf16ToUtf8(readme));
    const std::vector<std::string> options{"--title",     "Sky",       "--scr-name", "Night Sky.scr",
                                           "--base-dir",  "D:\\Savers", "--sub-dir",  "Sky\\",
                                           "--link",      "HTTPS://example.org/sky",  "--readme",
                                           Path("readme.txt"), "--lang", Path("lang.txt"), "--uninstall-entry"};
    const std::vector<std::string> strings{String(u"CompanyName", u"  Glimmerdeck "), String(u"ProductVersion", u" 2.5 ")};
    const std::int64_t installed = BuildAt(1, VersionedScreensaver(strings), options, readme);
    const json expected = {
        {"DisplayName", "Sky"},
        {"DisplayVersion", "2.5"},
        {"Publisher", "Glimmerdeck"},
        {"URLInfoAbout", "HTTPS://example.org/sky"},
        {"NoModify", 1},
        {"NoRepair", 1},
        {"EstimatedSize", installed / 1024 + 1},
        {"UninstallString", "\"D:\\Savers\\Sky\\deinstallieren Night_Sk.exe\""},
        {"QuietUninstallString", "\"D:\\Savers\\Sky\\deinstallieren Night_Sk.exe\" -silent"},
        {"DisplayIcon", "D:\\Savers\\Sky\\Night_Sk.scr"},
        {"InstallLocation", "D:\\Savers\\Sky"},
    };
    EXPECT_EQ(Info(Path("out.exe"))["registers"], expected);
    // The key of the title Sky (UninstallKeyName, worked out as in package_test.cpp).
    EXPECT_EQ(Info(Path("out.exe"))["productCode"], "{72D83113-FE71-8954-82FF-695FEE1DE3AA}");
    EXPECT_NE(RunTool({"info", Path("out.exe")})
                  .out.find("\n  Key                   Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                            "{72D83113-FE71-8954-82FF-695FEE1DE3AA}\n  DisplayName           Sky\n"),
              std::string::npos);
    const std::int64_t whole = BuildAt(0, VersionedScreensaver(strings), options, readme);
    EXPECT_EQ(Info(Path("out.exe"))["registers"]["EstimatedSize"], whole / 1024);
    ASSERT_EQ(BuildAt(1, VersionedScreensaver(strings), options, readme), installed);

    const Result text = RunTool({"info", Path("out.exe")});
    EXPECT_NE(text.out.find("\n  UninstallString       \"D:\\Savers\\Sky\\deinstallieren Night_Sk.exe\"\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\n  EstimatedSize         " + std::to_string(installed / 1024 + 1) + "\n"), std::string::npos);
}

TEST_F(Registers, WhatThePackageLeavesOutIsNotRegistered) {
    const std::string plain = Program(PeFormat::Pe32, std::string());  // no version resource
    // Beyond Latin-1: the copy is UTF-8 with its byte-order mark wherever the setup runs.
    const std::u16string euro = u"5 \u20AC\r\nthe rest";
    WriteAll(dir / "euro.txt", text::Utf16ToUtf8(euro));
    struct Case {
        const char* name;
        std::string scr;
        std::vector<std::string> options;
        std::u16string readme;
        json expected;  // the values checked; null: no entry at all
    };
    const Case cases[] = {
        {"no uninstall entry", plain, {"--title", "Sky"}, u"", nullptr},
        {"mail link, no version resource, default folder",
         plain,
         {"--title", "Sky", "--scr-name", "sky.scr", "--link", "mailto:a@example.org", "--uninstall-entry"},
         u"",
         {{"DisplayName", "Sky"},
          {"NoModify", 1},
          {"NoRepair", 1},
          {"UninstallString", "\"<Program Files>\\Sky\\uninstall sky.exe\""},
          {"QuietUninstallString", "\"<Program Files>\\Sky\\uninstall sky.exe\" -silent"},
          {"DisplayIcon", "<Program Files>\\Sky\\sky.scr"},
          {"InstallLocation", "<Program Files>\\Sky"}}},
        {"readme beyond Latin-1, drive root, the fixed product version",
         VersionedScreensaver({String(u"FileVersion", u"7.0")}),
         {"--title", "Sky", "--scr-name", "s.scr", "--base-dir", "C:\\", "--sub-dir", " ", "--readme", Path("euro.txt"),
          "--uninstall-entry"},
         euro,
         {{"DisplayName", "Sky"},
          {"DisplayVersion", "2.5.0.0"},
          {"NoModify", 1},
          {"NoRepair", 1},
          {"UninstallString", "\"C:\\uninstall s.exe\""},
          {"QuietUninstallString", "\"C:\\uninstall s.exe\" -silent"},
          {"DisplayIcon", "C:\\s.scr"},
          {"InstallLocation", "C:\\"}}},
    };
    for (const auto& c : cases) {
        if (c.expected.is_null()) {
            ASSERT_EQ(Build(c.scr, c.options).code, 0) << c.name;
            EXPECT_TRUE(Info(Path("out.exe"))["registers"].is_null()) << c.name;
            EXPECT_TRUE(Info(Path("out.exe"))["productCode"].is_null()) << c.name;
            EXPECT_NE(RunTool({"info", Path("out.exe")}).out.find("\nRegisters: nothing (the package asks for no uninstall entry)\n"),
                      std::string::npos)
                << c.name;
            continue;
        }
        for (const int remainder : {0, 1}) {
            json expected = c.expected;
            expected["EstimatedSize"] = (BuildAt(remainder, c.scr, c.options, c.readme) + 1023) / 1024;
            EXPECT_EQ(Info(Path("out.exe"))["registers"], expected) << c.name << ", remainder " << remainder;
        }
    }
}

TEST_F(Registers, PackagesOfOtherToolsAndImagesThatInstallNothingRegisterNothingOrWithoutARecord) {
    // Without the checksum record the uninstaller is the whole stub.
    TestPackage pkg;
    pkg.stub = PeStub(0x600);
    const auto assemble = [&] {
        TSetupHeader h = MakeHeader(pkg);
        h.Raw[hdr::UninstallEntryFlag] = 1;
        return AssembleImage(pkg, h);
    };
    for (const int remainder : {0, 1}) {
        pkg.scr = "SCREENSAVER";
        pkg.scr = Padded(pkg.scr, InstalledBytes(assemble(), u""), remainder);
        ASSERT_EQ(InstalledBytes(assemble(), u"") % 1024, remainder);
        WriteAll(dir / "other.exe", assemble());
        const json registers = Info(Path("other.exe"))["registers"];
        EXPECT_EQ(registers["EstimatedSize"], (InstalledBytes(assemble(), u"") + 1023) / 1024) << remainder;
        EXPECT_EQ(registers["DisplayIcon"], "<Program Files>\\Aurora\\Aurora.scr");
    }
    const std::string image = assemble();

    pkg.trailer = TrailerKind::Uninstaller;
    WriteAll(dir / "uninstaller.exe", BuildImage(pkg));
    EXPECT_TRUE(Info(Path("uninstaller.exe"))["registers"].is_null());
    std::string damaged = image;
    damaged[damaged.size() - kHeaderAndTrailer + hdr::TextsSize] = 7;
    WriteAll(dir / "damaged.exe", damaged);
    EXPECT_TRUE(Info(Path("damaged.exe"))["registers"].is_null());
}

class Manifest : public Registers {
protected:
    // A sound installer of a screensaver that names its version and company.
    void SetUp() override {
        Registers::SetUp();
        ASSERT_EQ(Build(VersionedScreensaver({String(u"CompanyName", u"Glimmerdeck"), String(u"ProductVersion", u"2.5")}),
                        {"--title", "Sky", "--uninstall-entry"})
                      .code,
                  0);
    }

    std::vector<std::string> Args(std::vector<std::string> extra) const {
        std::vector<std::string> args{"manifest",
                                      Path("out.exe"),
                                      "--id",
                                      "Glimmerdeck.Sky",
                                      "--url",
                                      "https://example.org/SkySetup.exe",
                                      "--license",
                                      "MIT",
                                      "--short-description",
                                      "Stars drifting on black",
                                      "-o",
                                      Path("m")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string File(const std::string& name) const { return ReadAll(dir / "m" / name); }
};

TEST_F(Manifest, VersionAndPublisherComeFromTheScreensaverUnlessGiven) {
    const Result r = RunTool(Args({}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, Path("m/Glimmerdeck.Sky.yaml") + "\n" + Path("m/Glimmerdeck.Sky.locale.en-US.yaml") + "\n" +
                         Path("m/Glimmerdeck.Sky.installer.yaml") + "\nwinget manifest written: version 2.5, publisher Glimmerdeck\n");
    EXPECT_NE(File("Glimmerdeck.Sky.yaml").find("\nPackageVersion: \"2.5\"\n"), std::string::npos);
    const std::string locale = File("Glimmerdeck.Sky.locale.en-US.yaml");
    EXPECT_NE(locale.find("\nPublisher: Glimmerdeck\n"), std::string::npos) << locale;
    EXPECT_NE(locale.find("\nPackageName: Sky\n"), std::string::npos) << locale;
    const std::string installer = File("Glimmerdeck.Sky.installer.yaml");
    EXPECT_NE(installer.find("\n- Architecture: x86\n"), std::string::npos) << installer;
    // The registered version equals the package's and is left out of the entry.
    EXPECT_NE(installer.find("  AppsAndFeaturesEntries:\n  - DisplayName: Sky\n    Publisher: Glimmerdeck\n"
                             "    ProductCode: \"{72D83113-FE71-8954-82FF-695FEE1DE3AA}\"\n    InstallerType: exe\n"),
              std::string::npos)
        << installer;

    ASSERT_EQ(RunTool(Args({"--version", "2.5.1", "--publisher", "Glimmerdeck Ltd"})).code, 0);
    EXPECT_NE(File("Glimmerdeck.Sky.yaml").find("\nPackageVersion: \"2.5.1\"\n"), std::string::npos);
    EXPECT_NE(File("Glimmerdeck.Sky.locale.en-US.yaml").find("\nPublisher: Glimmerdeck Ltd\n"), std::string::npos);
    // The entry keeps what the installation registers.
    EXPECT_NE(File("Glimmerdeck.Sky.installer.yaml")
                  .find("  - DisplayName: Sky\n    Publisher: Glimmerdeck\n    DisplayVersion: \"2.5\"\n"),
              std::string::npos);
}

TEST_F(Manifest, ValuesAManifestCannotHoldAreUsageErrorsAndWriteNothing) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"one part", {"--id", "Sky"}},
        {"nine parts", {"--id", "a.b.c.d.e.f.g.h.i"}},
        {"an empty part", {"--id", "Glimmerdeck..Sky"}},
        {"a part of 33 characters", {"--id", "Glimmerdeck." + std::string(33, 's')}},
        {"a blank in the identifier", {"--id", "Glimmer deck.Sky"}},
        {"a no-break space in the identifier", {"--id", "Glimmer\xC2\xA0" "deck.Sky"}},
        {"a colon in the identifier", {"--id", "Glimmerdeck.Sky:2"}},
        {"a file address", {"--url", "file:///C:/SkySetup.exe"}},
        {"an address without a host", {"--url", "https://"}},
        {"a blank in the address", {"--url", "https://example.org/Sky Setup.exe"}},
        {"a short licence", {"--license", "GP"}},
        {"a long description", {"--short-description", std::string(257, 'd')}},
        {"a slash in the version", {"--version", "2.5/beta"}},
        {"a publisher of one character", {"--publisher", "G"}},
        {"a package address of another scheme", {"--package-url", "ftp://example.org/"}},
        {"no value", {"--license"}},
        {"invalid UTF-8", {"--license", "MIT \xFF"}},
    };
    for (const auto& [name, extra] : cases) {
        const Result r = RunTool(Args(extra));
        EXPECT_EQ(r.code, 2) << name << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / "m")) << name;
    }
    const Result missing = RunTool({"manifest", Path("out.exe"), "--id", "Glimmerdeck.Sky", "-o", Path("m")});
    EXPECT_EQ(missing.code, 2);

    // Neither given nor in the screensaver.
    ASSERT_EQ(Build(Program(PeFormat::Pe32, std::string()), {"--title", "Sky", "--uninstall-entry"}).code, 0);
    EXPECT_EQ(RunTool(Args({"--publisher", "Glimmerdeck"})).err,
              "scrpack: the screensaver carries no version resource with a version: give --version\n");
    EXPECT_EQ(RunTool(Args({"--version", "1.0"})).err,
              "scrpack: the screensaver's version resource names no company: give --publisher\n");
    EXPECT_EQ(RunTool(Args({"--version", "1.0"})).code, 2);
    EXPECT_FALSE(fs::exists(dir / "m"));
}

TEST_F(Manifest, InstallersThatCannotBeDescribedFailWithoutWriting) {
    const std::string installer = ReadAll(dir / "out.exe");
    std::string damaged = installer;
    damaged[damaged.size() / 2] ^= 1;  // inside the screensaver: the checksum differs
    WriteAll(dir / "damaged.exe", damaged);
    WriteAll(dir / "bare.exe", PeStub(512));
    std::string arm = installer;
    PutLe(arm, 0x80 + 4, 0x1C4, 2);
    WriteAll(dir / "arm.exe", arm);
    const std::pair<const char*, std::string> cases[] = {
        {"damaged", "damaged.exe"}, {"no package", "bare.exe"}, {"missing", "none.exe"}, {"another machine", "arm.exe"}};
    for (const auto& [name, file] : cases) {
        std::vector<std::string> args = Args({});
        args[1] = Path(file);
        const Result r = RunTool(args);
        EXPECT_EQ(r.code, 1) << name << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / "m")) << name;
    }
    // A one-character title cannot be a package name.
    ASSERT_EQ(Build(VersionedScreensaver({String(u"CompanyName", u"Co"), String(u"ProductVersion", u"1")}),
                    {"--title", "S", "--uninstall-entry"})
                  .code,
              0);
    EXPECT_EQ(RunTool(Args({})).code, 1);
    EXPECT_FALSE(fs::exists(dir / "m"));
}

TEST_F(Manifest, AnInstallerWithoutUninstallEntryGetsAWarningAndNoEntry) {
    ASSERT_EQ(Build(VersionedScreensaver({String(u"CompanyName", u"Co"), String(u"ProductVersion", u"1")}), {"--title", "Sky"})
                  .code,
              0);
    const Result r = RunTool(Args({}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("scrpack: warning: "), std::string::npos);
    EXPECT_EQ(File("Glimmerdeck.Sky.installer.yaml").find("AppsAndFeaturesEntries"), std::string::npos);
}

}  // namespace
