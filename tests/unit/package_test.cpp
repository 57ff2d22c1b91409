#include <gtest/gtest.h>

#include <random>

#include "image_builder.h"
#include "package/names.h"
#include "package/package.h"

namespace {

std::int64_t NaiveLocate(const std::string& img) {
    for (std::int64_t e = static_cast<std::int64_t>(img.size()); e >= 20; --e)
        if (ClassifyTrailer(reinterpret_cast<const std::uint8_t*>(img.data()) + e - 20) != TrailerKind::None) return e;
    return -1;
}

// Everything wrong with a header: the common problems and the role's.
std::vector<const char*> HeaderProblems(const TSetupHeader& h, std::int64_t fileEnd, TrailerKind role) {
    auto problems = CommonHeaderProblems(h, fileEnd);
    for (const char* p : RoleProblems(h, fileEnd, role)) problems.push_back(p);
    return problems;
}

// -1 when the image holds no signature.
std::int64_t Locate(const std::string& img) {
    MemorySource src(img);
    return LocateTrailer(src).value_or(-1);
}

TEST(Trailer, LastTwentyBytesGiveTheFileSize) {
    const auto img = BuildImage({});
    EXPECT_EQ(Locate(img), static_cast<std::int64_t>(img.size()));
}

TEST(Trailer, JunkAfterTheTrailerIsIgnored) {
    const auto img = BuildImage({});
    EXPECT_EQ(Locate(img + std::string(3 << 20, 'j')), static_cast<std::int64_t>(img.size()));
    EXPECT_EQ(Locate(img + "x"), static_cast<std::int64_t>(img.size()));
}

TEST(Trailer, SignatureNearestTheEndWins) {
    const auto img = BuildImage({});
    const auto junk = std::string(1000, 'j') + Trailer(TrailerKind::Uninstaller) + std::string(77, 'k');
    EXPECT_EQ(Locate(img + junk), static_cast<std::int64_t>(img.size() + 1000 + 20));
}

TEST(Trailer, NoSignatureFails) {
    EXPECT_EQ(Locate(std::string(200000, 'x')), -1);
    EXPECT_EQ(Locate("short"), -1);
    EXPECT_EQ(Locate(""), -1);
}

TEST(Trailer, SignatureAtTheVeryStart) {
    EXPECT_EQ(Locate(Trailer(TrailerKind::Installer) + std::string(150000, 'z')), 20);
}

// The block scan must agree with a byte-by-byte scan everywhere, block edges included.
TEST(Trailer, BlockScanMatchesByteScan) {
    std::mt19937 rng(7);
    const std::size_t sizes[] = {20, 21, 65535, 65536, 65555, 65556, 131072 + 19, 300000};
    for (std::size_t size : sizes) {
        for (int round = 0; round < 12; ++round) {
            std::string img(size, '\0');
            for (auto& c : img) c = static_cast<char>(rng() % 4 == 0 ? 0 : 'a' + rng() % 3);
            const int count = static_cast<int>(rng() % 3);
            for (int k = 0; k < count; ++k) {
                const auto sig = Trailer(rng() % 2 ? TrailerKind::Installer : TrailerKind::Uninstaller);
                const std::size_t at = rng() % (size - 19);
                img.replace(at, 20, sig);
            }
            EXPECT_EQ(Locate(img), NaiveLocate(img)) << size << " round " << round;
        }
    }
}

TEST(Trailer, SignatureStraddlingABlockEdge) {
    for (std::size_t tail : {65536u - 1, 65536u, 65536u + 9, 65536u + 19, 65536u + 20, 65536u + 21}) {
        const auto img = std::string(100, 'a') + Trailer(TrailerKind::Installer) + std::string(tail, 'b');
        EXPECT_EQ(Locate(img), 120) << tail;
    }
}

struct DamageCase {
    const char* name;
    void (*damage)(TSetupHeader&);
    TrailerKind role;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class HeaderDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(HeaderDamage, IsReported) {
    TestPackage pkg;
    pkg.readme = u"Read me";
    pkg.license = u"Licence";
    pkg.lang = u"Setup\r\nNext=Weiter";
    auto h = MakeHeader(pkg);
    const auto size = static_cast<std::int64_t>(AssembleImage(pkg, h).size());
    const auto healthy = GetParam().role == TrailerKind::None ? TrailerKind::Installer : GetParam().role;
    ASSERT_TRUE(HeaderProblems(h, size, healthy).empty());
    GetParam().damage(h);
    EXPECT_FALSE(HeaderProblems(h, size, GetParam().role).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderDamage,
    ::testing::Values(
        DamageCase{"NegativeTextsSize", [](TSetupHeader& h) { h.SetInt(hdr::TextsSize, -2); }, TrailerKind::Installer},
        DamageCase{"NegativeReadme",
                   [](TSetupHeader& h) {
                       h.SetInt(hdr::ReadmeSize, -2);
                       h.SetInt(hdr::LicenseSize, h.LicenseSize() + 2 + 14);
                   },
                   TrailerKind::Installer},
        DamageCase{"OddReadme",
                   [](TSetupHeader& h) {
                       h.SetInt(hdr::ReadmeSize, 13);
                       h.SetInt(hdr::LicenseSize, 15);
                   },
                   TrailerKind::Installer},
        DamageCase{"OddLicense",
                   [](TSetupHeader& h) {
                       h.SetInt(hdr::LicenseSize, 13);
                       h.SetInt(hdr::ReadmeSize, 15);
                   },
                   TrailerKind::Uninstaller},
        DamageCase{"NegativeLanguage", [](TSetupHeader& h) { h.SetInt(hdr::LanguageLength, -1); }, TrailerKind::Installer},
        DamageCase{"TextsSizeTooSmall", [](TSetupHeader& h) { h.SetInt(hdr::TextsSize, h.TextsSize() - 2); },
                   TrailerKind::Installer},
        DamageCase{"TextsSizeTooLarge", [](TSetupHeader& h) { h.SetInt(hdr::TextsSize, h.TextsSize() + 2); },
                   TrailerKind::Uninstaller},
        DamageCase{"TextsBeforeFileStart",
                   [](TSetupHeader& h) {
                       h.SetInt(hdr::LanguageLength, 1 << 20);
                       h.SetInt(hdr::TextsSize, h.ReadmeSize() + h.LicenseSize() + (2 << 20));
                   },
                   TrailerKind::Uninstaller},
        DamageCase{"LanguageOverflow",
                   [](TSetupHeader& h) {
                       h.SetInt(hdr::LanguageLength, 0x40000000);
                       h.SetInt(hdr::TextsSize, h.ReadmeSize() + h.LicenseSize());
                   },
                   TrailerKind::Installer},
        DamageCase{"BaseDirLength", [](TSetupHeader& h) { h.Raw[hdr::DefaultBaseDir] = 251; }, TrailerKind::Installer},
        DamageCase{"SubDirLength", [](TSetupHeader& h) { h.Raw[hdr::DefaultSubDir] = 255; }, TrailerKind::Uninstaller},
        DamageCase{"EmptyTitle", [](TSetupHeader& h) { h.SetChars(hdr::Title, hdr::TitleUnits, u""); },
                   TrailerKind::Uninstaller},
        DamageCase{"NegativePackage", [](TSetupHeader& h) { h.SetInt(hdr::PackageSize, -5); }, TrailerKind::Installer},
        DamageCase{"PayloadBeforeFileStart", [](TSetupHeader& h) { h.SetInt(hdr::PackageSize, 1 << 30); },
                   TrailerKind::Installer},
        DamageCase{"PackageSmallerThanTexts", [](TSetupHeader& h) { h.SetInt(hdr::PackageSize, h.TextsSize() + 1355); },
                   TrailerKind::Installer},
        DamageCase{"MarkerMissing", [](TSetupHeader& h) { h.SetChars(hdr::UninstallMarker, 11, u"SCRSet.siG"); },
                   TrailerKind::Uninstaller},
        DamageCase{"NoRole", [](TSetupHeader&) {}, TrailerKind::None}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderChecks, UninstallerIgnoresPackageSize) {
    TestPackage pkg;
    pkg.trailer = TrailerKind::Uninstaller;
    auto h = MakeHeader(pkg);
    h.SetInt(hdr::PackageSize, 1 << 30);
    EXPECT_TRUE(HeaderProblems(h, static_cast<std::int64_t>(AssembleImage(pkg, h).size()), TrailerKind::Uninstaller).empty());
}

TEST(HeaderChecks, EmptyPayloadIsAccepted) {
    TestPackage pkg;
    pkg.scr.clear();
    const auto h = MakeHeader(pkg);
    EXPECT_TRUE(HeaderProblems(h, static_cast<std::int64_t>(AssembleImage(pkg, h).size()), TrailerKind::Installer).empty());
    EXPECT_EQ(PayloadLength(h), 0);
}

struct ShortNameCase {
    std::u16string in, out;
};

TEST(ShortName, RuleOnClassFiveAndAbove) {
    const ShortNameCase cases[] = {
        {u"My Screen Saver.scr", u"My_Scree.scr"},
        {u"sky.scr", u"sky.scr"},
        {u"a-b.scr", u"a_b.scr"},
        {u"My.Screen.Saver.scr", u"My_Screen_Saver.scr"},
        {u"abcdefghij.SCR", u"abcdefgh.scr"},
        {u"abcdefgh.scr", u"abcdefgh.scr"},
        {u"C:\\Some Dir\\My Screen Saver.scr", u"C:\\Some Dir\\My_Scree.scr"},
        {u"dir:na me.scr", u"dir:na_me.scr"},
        {u"noextension-at-all", u"noextension_at-all"},
        {u"a b", u"a b"},
        {u"\u00e9t\u00e9.scr", u"_t_.scr"},
        {u"x\u4e2dy.scr", u"x_y.scr"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        for (int cls : {5, 6, 7}) {
            TestPackage pkg;
            pkg.scrName = c.in;
            auto h = MakeHeader(pkg);
            ApplyShortNameRule(h, cls);
            EXPECT_EQ(h.ScrFileName(), c.out) << text::Utf16ToUtf8(c.in) << " class " << cls;
        }
        for (int cls : {-1, 0, 1, 2, 3, 4}) {
            TestPackage pkg;
            pkg.scrName = c.in;
            auto h = MakeHeader(pkg);
            ApplyShortNameRule(h, cls);
            EXPECT_EQ(h.ScrFileName(), c.in) << "class " << cls;
        }
    }
}

// "abcdefgh." grows to "abcdefgh.scr": the field must stay terminated and leave Title alone.
TEST(ShortName, GrowingNameStaysInsideItsField) {
    TestPackage pkg;
    pkg.scrName = std::u16string(243, u'd') + u"\\abcdefgh.";
    auto h = MakeHeader(pkg);
    ApplyShortNameRule(h, 7);
    EXPECT_EQ(h.ScrFileName(), std::u16string(243, u'd') + u"\\abcdefgh.sc");
    EXPECT_EQ(h.Title(), u"Aurora");
}

TEST(VersionClass, Table) {
    struct Case {
        OsVersionInfo v;
        int cls;
    };
    const Case cases[] = {
        {{false, 2, 6, 1, u""}, -1},  {{true, 1, 4, 0, u""}, 0},    {{true, 1, 4, 10, u" A"}, 2},
        {{true, 1, 4, 10, u" B"}, 1}, {{true, 1, 4, 10, u"A"}, 1},  {{true, 1, 4, 90, u""}, 3},
        {{true, 1, 5, 0, u""}, -1},   {{true, 2, 3, 51, u""}, 4},   {{true, 2, 4, 0, u""}, 4},
        {{true, 2, 5, 0, u""}, 5},    {{true, 2, 5, 1, u""}, 6},    {{true, 2, 5, 2, u""}, -1},
        {{true, 2, 6, 0, u""}, 7},    {{true, 2, 6, 2, u""}, 7},    {{true, 2, 10, 0, u""}, -1},
        {{true, 0, 6, 1, u""}, -1},   {{true, 3, 6, 1, u""}, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WindowsVersionClass(c.v), c.cls)
            << c.v.platformId << " " << c.v.major << "." << c.v.minor << " " << text::Utf16ToUtf8(c.v.servicePack);
}

class FailingSink final : public ByteSink {
public:
    explicit FailingSink(std::size_t budget) : budget_(budget) {}
    std::size_t Write(const void*, std::size_t count) override {
        const std::size_t n = count < budget_ ? count : budget_;
        budget_ -= n;
        return n;
    }

private:
    std::size_t budget_;
};

TEST(UninstallerImage, ExactBytes) {
    TestPackage pkg;
    pkg.readme = u"Readme text";
    pkg.license = u"Licence text";
    pkg.lang = u"Setup\r\nNext=Weiter";
    pkg.scrName = u"My Screen Saver.scr";
    auto h = MakeHeader(pkg);
    h.Raw[hdr::Reserved1] = 0x11;
    h.Raw[hdr::Reserved4 + 2] = 0x44;
    const auto img = AssembleImage(pkg, h) + "junk after";
    ApplyShortNameRule(h, 7);

    MemorySource src(img);
    StringSink out;
    ASSERT_TRUE(WriteUninstallerImage(src, out, static_cast<std::int64_t>(img.size() - 10), h));

    const std::string expected = pkg.stub + TextsBlock(pkg) +
                                 std::string(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size()) +
                                 Trailer(TrailerKind::Uninstaller);
    EXPECT_EQ(out.bytes, expected);

    // It reads back as an uninstaller carrying the shortened name and the reserved bytes.
    MemorySource back(out.bytes);
    const std::int64_t end = LocateTrailer(back).value_or(-1);
    EXPECT_EQ(end, static_cast<std::int64_t>(out.bytes.size()));
    TSetupHeader rh;
    ASSERT_TRUE(ReadExact(back, end - 1356, rh.Raw.data(), rh.Raw.size()));
    EXPECT_EQ(rh.ScrFileName(), u"My_Scree.scr");
    EXPECT_EQ(rh.Raw[hdr::Reserved1], 0x11);
    EXPECT_TRUE(HeaderProblems(rh, end, TrailerKind::Uninstaller).empty());
}

TEST(UninstallerImage, NoTextsGivesStubHeaderTrailer) {
    TestPackage pkg;
    const auto h = MakeHeader(pkg);
    const auto img = AssembleImage(pkg, h);
    MemorySource src(img);
    StringSink out;
    ASSERT_TRUE(WriteUninstallerImage(src, out, static_cast<std::int64_t>(img.size()), h));
    EXPECT_EQ(out.bytes, pkg.stub + std::string(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size()) +
                             Trailer(TrailerKind::Uninstaller));
}

TEST(UninstallerImage, ShortWritesAndReadsFail) {
    TestPackage pkg;
    pkg.readme = u"Readme";
    const auto h = MakeHeader(pkg);
    const auto img = AssembleImage(pkg, h);
    for (std::size_t budget : {std::size_t{0}, pkg.stub.size() - 1, pkg.stub.size() + 3, img.size() - 40}) {
        MemorySource src(img);
        FailingSink out(budget);
        EXPECT_FALSE(WriteUninstallerImage(src, out, static_cast<std::int64_t>(img.size()), h)) << budget;
    }
    // A source that ends early cannot supply the stub.
    const auto cut = img.substr(0, 10);
    MemorySource shortSrc(cut);
    StringSink out;
    EXPECT_FALSE(WriteUninstallerImage(shortSrc, out, static_cast<std::int64_t>(img.size()), h));
}

struct PeFormatCase {
    const char* name;
    PeFormat format;
    std::uint16_t machine;
    std::int64_t securityAt;  // file offset of the certificate entry
};

void PrintTo(const PeFormatCase& c, std::ostream* os) { *os << c.name; }

class PeFormats : public ::testing::TestWithParam<PeFormatCase> {};

INSTANTIATE_TEST_SUITE_P(Stubs, PeFormats,
                         ::testing::Values(PeFormatCase{"Pe32", PeFormat::Pe32, 0x14C, 0x80 + 24 + 96 + 32},
                                           PeFormatCase{"Pe32Plus", PeFormat::Pe32Plus, 0x8664, 0x80 + 24 + 112 + 32}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(PeFormats, LayoutNamesOverlayMachineAndCertificateEntry) {
    const PeFormatCase& c = GetParam();
    const std::string stub = PeStub(0x400, c.format);
    MemorySource plain(stub);
    const std::optional<TPeLayout> layout = ReadPeLayout(plain);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->overlayStart, 0x400);
    EXPECT_EQ(layout->machine, c.machine);
    EXPECT_EQ(layout->pe32Plus, c.format == PeFormat::Pe32Plus);
    EXPECT_EQ(layout->checksumAt, 0x80 + 24 + 64);
    EXPECT_EQ(layout->securityAt, c.securityAt);
    EXPECT_FALSE(layout->Signed());

    const std::string signedImage = Signed(stub + "package", std::string(24, 'c'), c.format);
    MemorySource src(signedImage);
    const std::optional<TPeLayout> signedLayout = ReadPeLayout(src);
    ASSERT_TRUE(signedLayout);
    EXPECT_TRUE(signedLayout->Signed());
    EXPECT_EQ(signedLayout->certOffset, 0x408);  // behind the package and one byte of padding
    EXPECT_EQ(signedLayout->certSize, 24);
    EXPECT_EQ(signedLayout->overlayStart, 0x400);

    // Four directories end before the certificate entry.
    std::string few = signedImage;
    few[DataDirectories(c.format) - 4] = 4;
    MemorySource fewSrc(few);
    const std::optional<TPeLayout> fewLayout = ReadPeLayout(fewSrc);
    ASSERT_TRUE(fewLayout);
    EXPECT_FALSE(fewLayout->Signed());
    EXPECT_EQ(fewLayout->securityAt, 0);
}

TEST_P(PeFormats, PackageStartsWhereTheProgramEnds) {
    struct Case {
        const char* what;
        TrailerKind role;
        int shift;  // bytes the header's sizes move the package's start by
        bool sound;
    };
    const Case cases[] = {
        {"installer", TrailerKind::Installer, 0, true},
        {"uninstaller", TrailerKind::Uninstaller, 0, true},
        {"screensaver inside the stub", TrailerKind::Installer, -8, false},
        {"bytes between stub and screensaver", TrailerKind::Installer, 8, false},
        {"readme inside the stub", TrailerKind::Uninstaller, -8, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestPackage pkg;
        pkg.stub = PeStub(0x400, GetParam().format);
        pkg.readme = u"Read me";
        pkg.trailer = c.role;
        TSetupHeader h = MakeHeader(pkg);
        if (c.role == TrailerKind::Installer) {
            h.SetInt(hdr::PackageSize, h.PackageSize() - c.shift);
        } else {
            // The readme grows into the stub, or shrinks to leave a gap; the texts still add up.
            const std::int32_t readme = h.ReadmeSize() - c.shift;
            h.SetInt(hdr::ReadmeSize, readme);
            h.SetInt(hdr::TextsSize, h.TextsSize() - c.shift);
        }
        const std::string image = AssembleImage(pkg, h);
        MemorySource src(image);
        const TPackage loaded = LoadPackage(src);
        ASSERT_TRUE(loaded.pe);
        EXPECT_EQ(loaded.pe->overlayStart, 0x400);
        EXPECT_EQ(loaded.role, c.role);
        EXPECT_EQ(loaded.Sound(), c.sound) << (loaded.roleProblems.empty() ? "" : loaded.roleProblems[0]);
    }
}

TEST_P(PeFormats, SignedBytesDecideThePackage) {
    const PeFormat format = GetParam().format;
    TestPackage signedPkg;
    signedPkg.stub = PeStub(0x400, format);
    signedPkg.title = u"Signed";
    const std::string image = BuildImage(signedPkg);
    TestPackage other;
    other.title = u"Appended";
    other.stub.clear();
    // A whole second package hidden inside the certificate table, which the signature does
    // not cover.
    const std::string table = std::string("\x10\x00\x00\x00\x00\x02\x02\x00", 8) + BuildImage(other);
    for (std::size_t padding = 0; padding <= 8; ++padding) {
        SCOPED_TRACE(padding);
        const std::string withCert = Signed(image, table, format, padding);
        MemorySource src(withCert);
        const TPackage loaded = LoadPackage(src);
        if (padding > 7) {
            EXPECT_FALSE(loaded.Sound()) << "no trailer where the signed bytes end";
            EXPECT_FALSE(loaded.header);
            continue;
        }
        ASSERT_TRUE(loaded.Sound());
        EXPECT_EQ(loaded.fileEnd, static_cast<std::int64_t>(image.size()));
        EXPECT_EQ(loaded.header->Title(), u"Signed");
    }
    // Unsigned, the same bytes would have given the appended package.
    const std::string unsignedImage = image + std::string(8, '\0') + table;
    MemorySource plain(unsignedImage);
    EXPECT_EQ(LoadPackage(plain).header->Title(), u"Appended");

    // A certificate entry pointing past the end of the file.
    std::string broken = Signed(image, table, format);
    broken.resize(broken.size() - 4);
    MemorySource cut(broken);
    EXPECT_FALSE(LoadPackage(cut).Sound());
}

TEST_P(PeFormats, UninstallerOfASignedInstallerCarriesNoSignatureFields) {
    const PeFormat format = GetParam().format;
    TestPackage pkg;
    pkg.stub = PeStub(0x400, format);
    pkg.readme = u"Read me";
    const TSetupHeader h = MakeHeader(pkg);
    const std::string signedImage = Signed(AssembleImage(pkg, h), std::string(40, 'C'), format);
    ASSERT_NE(signedImage.substr(0, 0x400), pkg.stub) << "signing must have changed the headers";

    MemorySource src(signedImage);
    const TPackage loaded = LoadPackage(src);
    ASSERT_TRUE(loaded.Sound());
    StringSink out;
    ASSERT_TRUE(WriteUninstallerImage(src, out, loaded.fileEnd, *loaded.header));
    // The stub as it was before signing: every byte but the checksum and the entry kept.
    EXPECT_EQ(out.bytes, pkg.stub + TextsBlock(pkg) + std::string(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size()) +
                             Trailer(TrailerKind::Uninstaller));

    MemorySource back(out.bytes);
    const TPackage uninstaller = LoadPackage(back);
    EXPECT_TRUE(uninstaller.Sound());
    EXPECT_EQ(uninstaller.role, TrailerKind::Uninstaller);
    ASSERT_TRUE(uninstaller.pe);
    EXPECT_FALSE(uninstaller.pe->Signed());
}

}  // namespace

// The packer's checksum record lies between the program and the screensaver; anything else
// there still makes the package damaged, and the uninstaller leaves the record behind.
TEST_P(PeFormats, ChecksumRecordBetweenProgramAndPackage) {
    const PeFormat format = GetParam().format;
    TestPackage pkg;
    pkg.stub = PeStub(0x400, format);
    pkg.readme = u"Read me";
    const TSetupHeader h = MakeHeader(pkg);
    const std::string plain = AssembleImage(pkg, h);
    const std::string withRecord = WithChecksum(plain, pkg.stub.size());
    std::string wrongCoverage = withRecord;
    wrongCoverage[0x400 + 8] = static_cast<char>(wrongCoverage[0x400 + 8] + 1);
    std::string notAtProgramEnd = withRecord;  // the record sits 16 bytes behind the program
    notAtProgramEnd.insert(0x400, std::string(16, 'x'));
    struct Case {
        const char* what;
        std::string image;
        bool sound, checksum;
    };
    const Case cases[] = {
        {"no record", plain, true, false},
        {"record", withRecord, true, true},
        {"record covering other bytes", wrongCoverage, false, true},
        {"record not where the program ends", notAtProgramEnd, false, true},
        {"signed, with record", Signed(withRecord, std::string(40, 'C'), format), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySource src(c.image);
        const TPackage loaded = LoadPackage(src);
        EXPECT_EQ(loaded.Sound(), c.sound);
        ASSERT_EQ(loaded.checksum.has_value(), c.checksum);
        if (!c.sound) continue;
        if (c.checksum) {
            const std::string package = plain.substr(0x400);
            EXPECT_EQ(loaded.checksum->crc, Crc32(0, package.data(), package.size()));
        }
        StringSink out;
        ASSERT_TRUE(WriteUninstallerImage(src, out, loaded.fileEnd, *loaded.header));
        EXPECT_EQ(out.bytes, pkg.stub + TextsBlock(pkg) + std::string(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size()) +
                                 Trailer(TrailerKind::Uninstaller));
    }
}

// Expected keys from an implementation of its own, which gives FNV-1a-128's published vectors
// ("" 6c62272e07bb014262b821756295c58d, "a" d228cb696f1a8caf78912b704e4a8964):
//   def fnv1a128(data):
//       h = 0x6c62272e07bb014262b821756295c58d
//       for b in data: h = ((h ^ b) * (2**88 + 0x13B)) % 2**128
//       return h
//   def key(title):
//       lower = "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in title)
//       b = bytearray(fnv1a128(("scrsetup-entry:" + lower).encode("utf-16-le")).to_bytes(16, "big"))
//       b[6] = b[6] & 0x0F | 0x80; b[8] = b[8] & 0x3F | 0x80
//       return "{%s}" % str(uuid.UUID(bytes=bytes(b))).upper()
TEST(UninstallKeyName, NameBasedUuidOfTheTitle) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"Aurora", u"{7E9A7207-2FBC-8D7D-9900-3802E2DDB591}"},
        {u"Starfield", u"{2A512465-5D38-8CE2-9B44-047A2BA19385}"},
        {u"\u00C4rger \u00DC", u"{3BF569B9-9D02-846F-9758-FB3EFB9E7069}"},
        {u"\U0001F319 Moon", u"{194D249D-E9FB-8CB4-A9C4-7B2DE31001FC}"},
    };
    for (const auto& [title, key] : cases) EXPECT_EQ(UninstallKeyName(title), key) << text::Utf16ToUtf8(title);
}

// As with the title for a key, which the registry compares without case: A to Z only.
TEST(UninstallKeyName, LetterCaseOfAToZNamesOneKey) {
    EXPECT_EQ(UninstallKeyName(u"AURORA"), UninstallKeyName(u"aurora"));
    EXPECT_EQ(UninstallKeyName(u"Starfield"), UninstallKeyName(u"sTARFIELD"));
    EXPECT_NE(UninstallKeyName(u"\u00C4rger"), UninstallKeyName(u"\u00E4rger")) << "beyond A to Z: another title";
}
