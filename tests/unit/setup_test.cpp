#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/lang.h"
#include "image_builder.h"
#include "platform/standin/standin.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "setup/setup.h"
#include "setupmain/cmdline.h"
#include "setup_form.h"
#include "setupmain/setup_package.h"

namespace fs = std::filesystem;

namespace {

TEST(CommandLine, SplitsLikeTheProgramParameters) {
    struct Case {
        std::u16string line;
        std::vector<std::u16string> params;
    };
    const Case cases[] = {
        {u"setup.exe", {u"setup.exe"}},
        {u"\"C:\\Program Files\\setup.exe\" -silent", {u"C:\\Program Files\\setup.exe", u"-silent"}},
        {u"setup.exe   a\tb ", {u"setup.exe", u"a", u"b"}},
        {u"setup.exe \" -silent \"", {u"setup.exe", u" -silent "}},
        {u"setup.exe \"C:\\My Dir\\\" next", {u"setup.exe", u"C:\\My Dir\\", u"next"}},
        {u"setup.exe a\"b c\"d", {u"setup.exe", u"ab cd"}},
        {u"setup.exe \"\"", {u"setup.exe", u""}},
        {u"setup.exe \"unterminated text", {u"setup.exe", u"unterminated text"}},
        {u"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.params) << text::Utf16ToUtf8(c.line);
}

TEST(CommandLine, ModeSelection) {
    struct Case {
        std::u16string line;
        bool delfile, silent, preview;
    };
    const Case cases[] = {
        {u"s", false, false, false},
        {u"s -silent", false, true, false},
        {u"s -SILENT", false, true, false},
        {u"s \" -silent \"", false, true, false},
        {u"s \"\t-Silent\x01\"", false, true, false},
        {u"s x -silent", false, false, false},
        {u"s -silentx", false, false, false},
        {u"s -previewonly", false, false, true},
        {u"s \"  -PreviewOnly\"", false, false, true},
        {u"s -delfile x", true, false, false},
        {u"s -delfile", false, false, false},
        {u"s -DelFile x", false, false, false},
        {u"s \" -delfile\" x", false, false, false},
        {u"s -delfile x y z w v", true, false, false},
    };
    for (const auto& c : cases) {
        const RunMode mode = ParseCommandLine(c.line).Mode;
        EXPECT_EQ(mode == RunMode::DelFile, c.delfile) << text::Utf16ToUtf8(c.line);
        EXPECT_EQ(mode == RunMode::Silent, c.silent) << text::Utf16ToUtf8(c.line);
        EXPECT_EQ(mode == RunMode::PreviewOnly, c.preview) << text::Utf16ToUtf8(c.line);
    }
}

// The switches deployment tools write: experience, log, the folder last.
TEST(CommandLine, DeploymentSwitches) {
    struct Case {
        std::u16string line;
        RunMode mode;
        std::u16string folder;  // a silent run's, or the one the wizard shows
        std::u16string log;
    };
    const Case cases[] = {
        {u"s /S", RunMode::Silent, u"", u""},
        {u"s /s", RunMode::Silent, u"", u""},
        {u"s /S /D=C:\\Program Files\\My Savers", RunMode::Silent, u"C:\\Program Files\\My Savers", u""},
        {u"s /S /D=C:\\Program Files\\My Savers \t ", RunMode::Silent, u"C:\\Program Files\\My Savers", u""},
        {u"s /D=C:\\Program Files\\My Savers", RunMode::Wizard, u"C:\\Program Files\\My Savers", u""},
        {u"s /d=C:\\x", RunMode::Wizard, u"C:\\x", u""},
        {u"s /LOG=C:\\logs\\x.log /D=C:\\My Dir", RunMode::Wizard, u"C:\\My Dir", u"C:\\logs\\x.log"},
        {u"s /S /LOG=\"C:\\my logs\\x.log\" /D=C:\\x", RunMode::Silent, u"C:\\x", u"C:\\my logs\\x.log"},
        {u"s \"/log=C:\\my logs\\x.log\" /S", RunMode::Silent, u"", u"C:\\my logs\\x.log"},
        {u"s -log \"C:\\my logs\\x.log\" -silent", RunMode::Silent, u"", u"C:\\my logs\\x.log"},
        {u"s -silent C:\\dir -LOG x.log", RunMode::Silent, u"C:\\dir", u"x.log"},
        {u"s -log", RunMode::Wizard, u"", u""},
        // /D= ends the command line: what follows belongs to the folder, quotes and all.
        {u"s /D=C:\\x /S", RunMode::Wizard, u"C:\\x /S", u""},
        {u"s /D=C:\\x /?", RunMode::Wizard, u"C:\\x /?", u""},
        {u"s /D=\"C:\\x y\"", RunMode::Wizard, u"\"C:\\x y\"", u""},
        {u"s /D=", RunMode::Wizard, u"", u""},
        // Quoted, it is no /D=, and as a parameter no switch knows it is ignored.
        {u"s \"/D=C:\\x\"", RunMode::Wizard, u"", u""},
        {u"s -silent C:\\a /D=C:\\b c", RunMode::Silent, u"C:\\b c", u""},
        // Unknown switches change nothing, wherever they stand.
        {u"s /foo /S", RunMode::Silent, u"", u""},
        {u"s /foo", RunMode::Wizard, u"", u""},
        {u"s /foo -silent", RunMode::Wizard, u"", u""},
        {u"s \" /S \"", RunMode::Wizard, u"", u""},
        {u"s /S -previewonly", RunMode::PreviewOnly, u"", u""},
        {u"s /?", RunMode::Help, u"", u""},
        {u"s -?", RunMode::Help, u"", u""},
        {u"s /S /LOG=x.log /?", RunMode::Help, u"", u"x.log"},
        {u"s -delfile \"C:\\u.exe\" \"/LOG=C:\\a b.log\"", RunMode::DelFile, u"", u"C:\\a b.log"},
    };
    for (const auto& c : cases) {
        const TCommandLine line = ParseCommandLine(c.line);
        EXPECT_EQ(line.Mode, c.mode) << text::Utf16ToUtf8(c.line);
        EXPECT_EQ(line.Silent() ? line.SilentDirectory : line.InstallDir, c.folder) << text::Utf16ToUtf8(c.line);
        EXPECT_EQ(line.LogFile, c.log) << text::Utf16ToUtf8(c.line);
    }
    // The temporary copy's parameters keep their places around the log switch.
    const TCommandLine box = ParseCommandLine(u"copy.exe -delfile C:\\u.exe Cap Done. /LOG=C:\\x.log");
    EXPECT_TRUE(box.DelFileBox());
    EXPECT_EQ(box.DelFileTarget(), u"C:\\u.exe");
    EXPECT_EQ(box.DelFileText(), u"Done.");
}

class SetupRun : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        dir_ = fs::temp_directory_path() / ("setup_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        FreeLangStrings();
    }

    std::u16string WriteExe(const std::string& bytes) { return InstallAsProgram(dir_ / "setup.exe", bytes); }

    int Run(const std::u16string& args) { return SetupMain(u"setup.exe " + args); }

    static constexpr char16_t kCorrupt[] = u"The file is corrupted. Setup can not continue.";
    fs::path dir_;
};

TEST_F(SetupRun, BareStubReportsCorruptionInEnglish) {
    WriteExe(std::string(5000, 'x'));
    EXPECT_EQ(Run(u""), kExitDamaged);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, kCorrupt);
    EXPECT_EQ(standin::Messages()[0].caption, u"Screensaver Setup");
    EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONERROR_);
    EXPECT_TRUE(platform::Application::Terminated());
}

TEST_F(SetupRun, SilentFailureShowsNothing) {
    WriteExe(std::string(5000, 'x'));
    EXPECT_EQ(Run(u"-silent"), kExitDamaged);
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_TRUE(platform::Application::Title().empty()) << "it ends before the application and its window exist";
}

TEST_F(SetupRun, MissingProgramFileIsCorruption) {
    standin::SetModulePath(u"/nonexistent/setup.exe");
    EXPECT_EQ(Run(u""), kExitDamaged);
    EXPECT_EQ(standin::Messages().size(), 1u);
}

TEST_F(SetupRun, AFileThatIsNotTheRunningImageIsNotRead) {
    // Renamed and replaced between the start of the process and the read.
    WriteExe(BuildImage(TestPackage{}));
    standin::SetRunningImage(false);
    EXPECT_EQ(Run(u""), kExitDamaged);
    EXPECT_EQ(standin::Messages().size(), 1u);

    standin::ResetProcess();
    EXPECT_EQ(Run(u""), kExitDone) << "the same file, when it is the one that runs";
    EXPECT_TRUE(standin::Messages().empty());
}

TEST_F(SetupRun, AnotherFileAtTheProgramsPathIsNotRead) {
    // Renamed away after the start, and another image of the same stub, with headers alike and
    // another package, put in its place.
    TestPackage mine, other;
    other.title = u"Borealis";
    const std::u16string path = WriteExe(BuildImage(mine));
    fs::rename(dir_ / "setup.exe", dir_ / "setup.old");
    std::ofstream(dir_ / "setup.exe", std::ios::binary) << BuildImage(other);
    standin::SetMessageAnswer(platform::IDYES_);
    EXPECT_EQ(Run(u"-silent"), kExitDamaged);
    EXPECT_EQ(Run(u""), kExitDamaged);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, kCorrupt);

    // Started from that file, it is read.
    standin::ResetProcess();
    standin::SetModulePath(path);
    EXPECT_EQ(Run(u""), kExitDone);
    EXPECT_TRUE(standin::Messages().empty());
}

TEST_F(SetupRun, DamagedUninstallerShowsTranslatedMessage) {
    TestPackage pkg;
    pkg.trailer = TrailerKind::Uninstaller;
    pkg.lang = u"Setup\r\nThe file is corrupted. Setup can not continue.=Die Datei ist besch\u00e4digt.\r\n";
    auto h = MakeHeader(pkg);
    h.SetChars(hdr::UninstallMarker, hdr::UninstallMarkerUnits, u"nothing");
    WriteExe(AssembleImage(pkg, h));
    EXPECT_EQ(Run(u""), kExitDamaged);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, u"Die Datei ist besch\u00e4digt.");
}

TEST_F(SetupRun, HeaderDamageBeforeTheLanguageIsLoadedStaysEnglish) {
    TestPackage pkg;
    pkg.lang = u"Setup\r\nThe file is corrupted. Setup can not continue.=Kaputt\r\n";
    auto h = MakeHeader(pkg);
    h.SetInt(hdr::TextsSize, h.TextsSize() + 2);
    WriteExe(AssembleImage(pkg, h));
    EXPECT_EQ(Run(u""), kExitDamaged);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, kCorrupt);
}

TEST_F(SetupRun, InstallerReadsTextsAndSetsCaption) {
    TestPackage pkg;
    pkg.readme = u"Read me\r\nplease";
    pkg.license = u"Licence terms";
    pkg.licenseMode = 2;
    pkg.lang = u"Setup\r\nSetup=Installation\r\n";
    WriteExe(BuildImage(pkg) + std::string(3 << 20, 'j'));
    const auto form = CreateSetupForm(u"setup.exe");
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_FALSE(platform::Application::Terminated());
    EXPECT_EQ(form->Package.Role, TrailerKind::Installer);
    EXPECT_EQ(form->Window.Caption(), u"Aurora Installation");
    EXPECT_EQ(form->edReadme.Caption(), pkg.readme);
    EXPECT_EQ(form->edLicense.Caption(), pkg.license);
    EXPECT_EQ(form->Package.FileEnd, static_cast<std::int64_t>(BuildImage(pkg).size()));
}

TEST_F(SetupRun, LicenceNotReadOutsideLicenceModes) {
    for (std::uint8_t mode : {std::uint8_t{0}, std::uint8_t{4}, std::uint8_t{200}}) {
        TestPackage pkg;
        pkg.license = u"Licence terms";
        pkg.licenseMode = mode;
        WriteExe(BuildImage(pkg));
        const auto form = CreateSetupForm(u"setup.exe");
        EXPECT_EQ(form->edLicense.Caption(), u"") << int(mode);
        EXPECT_EQ(form->Window.Caption(), u"Aurora Setup");
    }
}

TEST_F(SetupRun, ShortNameRuleFollowsTheVersion) {
    TestPackage pkg;
    pkg.scrName = u"My Screen Saver.scr";
    WriteExe(BuildImage(pkg));
    standin::SetOsVersion({true, 2, 6, 2, u""});
    EXPECT_EQ(LoadSetupPackage().SetupHeader.ScrFileName(), u"My_Scree.scr");

    standin::SetOsVersion({false, 0, 0, 0, u""});
    EXPECT_EQ(LoadSetupPackage().SetupHeader.ScrFileName(), u"My Screen Saver.scr");
}

// The installer wrote the shortened name into the uninstaller; shortening again would
// turn My_Screen_Saver.scr into My_Scree.scr and miss the installed file.
TEST_F(SetupRun, UninstallerKeepsTheNameItCarries) {
    TestPackage pkg;
    pkg.trailer = TrailerKind::Uninstaller;
    pkg.scrName = u"My_Screen_Saver.scr";
    WriteExe(BuildImage(pkg));
    standin::SetOsVersion({true, 2, 6, 2, u""});
    const TSetupPackage package = LoadSetupPackage();
    EXPECT_EQ(package.Role, TrailerKind::Uninstaller);
    EXPECT_EQ(package.SetupHeader.ScrFileName(), u"My_Screen_Saver.scr");
}

TEST_F(SetupRun, ValidUninstallerEndsWithoutWindow) {
    TestPackage pkg;
    pkg.trailer = TrailerKind::Uninstaller;
    WriteExe(BuildImage(pkg));
    standin::SetMessageAnswer(platform::IDNO_);
    EXPECT_EQ(Run(u""), kExitCancelled);
    EXPECT_EQ(standin::Messages().size(), 1u) << "the question alone";
    EXPECT_FALSE(platform::Application::ShowMainForm());
}

// The help lists every switch and exit code, for an installer, an uninstaller and a damaged
// file alike, and does nothing else.
TEST_F(SetupRun, HelpShowsTheSwitchesAndExitCodes) {
    TestPackage uninstaller;
    uninstaller.trailer = TrailerKind::Uninstaller;
    const std::pair<const char*, std::string> images[] = {
        {"installer", BuildImage(TestPackage{})},
        {"uninstaller", BuildImage(uninstaller)},
        {"damaged", std::string(5000, 'x')},
    };
    for (const auto& [what, image] : images) {
        SCOPED_TRACE(what);
        standin::ResetProcess();
        WriteExe(image);
        EXPECT_EQ(Run(u"/?"), kExitDone);
        ASSERT_EQ(standin::Messages().size(), 1u);
        const auto& box = standin::Messages()[0];
        EXPECT_EQ(box.caption, u"Screensaver Setup");
        EXPECT_EQ(box.flags, platform::MB_ICONINFORMATION_);
        for (const char16_t* part : {u"/S\t", u"/D=folder\t", u"/LOG=file, -log file\t", u"-silent [folder]\t",
                                     u"-previewonly\t", u"\n0\tdone", u"\n1\tdamaged package", u"\n2\tfolder refused",
                                     u"\n3\tfailed", u"\n4\tcancelled", u"\n3010\tdone, restart to complete"})
            EXPECT_NE(box.text.find(part), std::u16string::npos) << text::Utf16ToUtf8(part);
        EXPECT_TRUE(platform::Application::Title().empty()) << "no wizard, no uninstallation";
        EXPECT_TRUE(standin::ShellCalls().empty());
    }
}

class DelFile : public SetupRun {
protected:
    void SetUp() override {
        SetupRun::SetUp();
        standin::Reset();
        standin::MapDrive(u'C', (dir_ / "c").string());
        fs::create_directories(dir_ / "c" / "Windows" / "Temp");
        fs::create_directories(dir_ / "c" / "Savers");
        // The temporary copy of an uninstaller runs.
        std::ofstream(dir_ / "c" / "Windows" / "Temp" / "Parvolinexuninst1.exe", std::ios::binary) << Uninstaller();
        standin::SetModulePath(kCopy);
    }
    static std::string Uninstaller() {
        TestPackage pkg;
        pkg.trailer = TrailerKind::Uninstaller;
        return BuildImage(pkg);
    }
    std::u16string MakeVictim(const std::string& bytes = Uninstaller()) {
        std::ofstream(dir_ / "c" / "Savers" / "uninstall Aurora.exe", std::ios::binary) << bytes;
        return kVictim;
    }
    bool VictimExists() const { return fs::exists(dir_ / "c" / "Savers" / "uninstall Aurora.exe"); }

    static constexpr char16_t kCopy[] = u"C:\\Windows\\Temp\\Parvolinexuninst1.exe";
    static constexpr char16_t kVictim[] = u"C:\\Savers\\uninstall Aurora.exe";
};

TEST_F(DelFile, DeletesTheUninstallerAndShowsTheBoxOnlyWithFourParameters) {
    struct Case {
        std::u16string extra;
        bool box;
    };
    for (const Case& c : {Case{u"", false}, Case{u" \"Cap\"", false}, Case{u" \"Cap\" \"Done.\"", true},
                          Case{u" \"Cap\" \"Done.\" more", false}}) {
        standin::Messages().clear();
        MakeVictim();
        EXPECT_EQ(Run(u"-delfile \"" + std::u16string(kVictim) + u"\"" + c.extra), kExitDone);
        EXPECT_FALSE(VictimExists());
        ASSERT_EQ(standin::Messages().size(), c.box ? 1u : 0u) << text::Utf16ToUtf8(c.extra);
        if (c.box) {
            EXPECT_EQ(standin::Messages()[0].caption, u"Cap");
            EXPECT_EQ(standin::Messages()[0].text, u"Done.");
            EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONINFORMATION_);
        }
    }
    EXPECT_EQ(standin::RebootDeletions(), std::vector<std::u16string>{kCopy}) << "once, not once per run";
    EXPECT_FALSE(platform::Application::Terminated()) << "no wizard state is touched";
}

TEST_F(DelFile, RetriesUntilTheUninstallerHasEnded) {
    MakeVictim();
    standin::HoldAsRunningProgram(kVictim);
    int pauses = 0;
    // The ending uninstaller holds its file for three pauses.
    standin::SetSleepHook([&](unsigned) {
        if (++pauses == 3) standin::UnlockFile(kVictim);
    });
    EXPECT_EQ(Run(u"-delfile \"" + std::u16string(kVictim) + u"\" a b"), kExitDone);
    EXPECT_EQ(pauses, 3);
    EXPECT_FALSE(VictimExists());
    EXPECT_EQ(standin::Messages().size(), 1u);
}

TEST_F(DelFile, AFileThatStaysGivesNoBoxAndCodeThree) {
    MakeVictim();
    standin::HoldAsRunningProgram(kVictim);
    unsigned waited = 0;
    standin::SetSleepHook([&](unsigned ms) { waited += ms; });
    EXPECT_EQ(Run(u"-delfile \"" + std::u16string(kVictim) + u"\" a b"), kExitInstallFailed);
    EXPECT_GE(waited, 30000u);
    EXPECT_LE(waited, 120000u);
    EXPECT_TRUE(VictimExists());
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(standin::RebootDeletions(), std::vector<std::u16string>{kCopy});
}

TEST_F(DelFile, DeletesNothingButAnUninstaller) {
    TestPackage installer;
    const std::pair<const char*, std::string> victims[] = {
        {"installer", BuildImage(installer)},
        {"text", "my letter"},
        {"empty", ""},
    };
    for (const auto& [what, bytes] : victims) {
        SCOPED_TRACE(what);
        standin::Messages().clear();
        MakeVictim(bytes);
        EXPECT_EQ(Run(u"-delfile \"" + std::u16string(kVictim) + u"\" a b"), kExitInstallFailed);
        EXPECT_TRUE(VictimExists());
        EXPECT_TRUE(standin::Messages().empty());
    }
    EXPECT_EQ(Run(u"-delfile C:\\Savers"), kExitInstallFailed) << "a folder";
    EXPECT_TRUE(standin::Messages().empty());
}

// An uninstaller that is gone already has had its end: the closing box, and done.
TEST_F(DelFile, AnUninstallerAlreadyGoneIsDone) {
    EXPECT_EQ(Run(u"-delfile C:\\Savers\\missing.exe"), kExitDone);
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(Run(u"-delfile C:\\Savers\\missing.exe Cap Done."), kExitDone);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].caption, u"Cap");
    EXPECT_EQ(standin::Messages()[0].text, u"Done.");
}

TEST_F(DelFile, OnlyAnUninstallerReceivesIt) {
    // An installer given -delfile runs as an installer: nothing deleted, nothing scheduled.
    TestPackage installer;
    std::ofstream(dir_ / "c" / "Windows" / "Temp" / "Parvolinexuninst1.exe", std::ios::binary)
        << BuildImage(installer);
    MakeVictim();
    Run(u"-delfile \"" + std::u16string(kVictim) + u"\"");
    EXPECT_TRUE(VictimExists());
    EXPECT_TRUE(standin::RebootDeletions().empty());
    EXPECT_TRUE(platform::Application::ShowMainForm()) << "the wizard";

    // An uninstaller outside the temporary folder deletes, but never schedules itself.
    std::ofstream(dir_ / "c" / "Savers" / "other.exe", std::ios::binary) << Uninstaller();
    standin::SetModulePath(u"C:\\Savers\\other.exe");
    EXPECT_EQ(Run(u"-delfile \"" + std::u16string(kVictim) + u"\""), kExitDone);
    EXPECT_FALSE(VictimExists());
    EXPECT_TRUE(standin::RebootDeletions().empty());
}

TEST_F(DelFile, WrongSpellingRunsNormally) {
    const auto victim = MakeVictim();
    EXPECT_EQ(Run(u"-DelFile \"" + victim + u"\""), kExitCancelled) << "the uninstall question, answered No";
    EXPECT_TRUE(VictimExists());
    WriteExe(std::string(3000, 'x'));
    EXPECT_EQ(Run(u"-delfile"), kExitDamaged);
}

}  // namespace
