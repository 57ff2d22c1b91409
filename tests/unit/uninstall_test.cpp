#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "common/lang.h"
#include "image_builder.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/standin/standin.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "setup/exit_codes.h"
#include "setup/setup.h"
#include "setupmain/cmdline.h"
#include "setupmain/form.h"
#include "setupmain/handoff.h"
#include "setupmain/uninstall.h"
#include "system_folders.h"

namespace fs = std::filesystem;
using platform::RegRoot;

namespace {

constexpr char16_t kDir[] = u"C:\\My Savers\\";
constexpr char16_t kUninstaller[] = u"C:\\My Savers\\uninstall Aurora.exe";

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSystemFolders(drive_);
    }
    void TearDown() override { FreeLangStrings(); }

    static TestPackage Package() {
        TestPackage pkg;
        pkg.readme = u"Read me";
        return pkg;
    }
    static TSetupHeader AllFlags(const TestPackage& pkg) {
        TSetupHeader h = MakeHeader(pkg);
        for (const auto flag : {hdr::UninstallEntryFlag, hdr::MenuShortcutsFlag, hdr::DesktopShortcutFlag})
            h.Raw[flag] = 1;
        return h;
    }

    // A silent installation into kDir, as the uninstaller then finds it.
    void Installed(const TestPackage& pkg, const TSetupHeader& header,
                   const std::u16string& uninstaller = kUninstaller) {
        fs::create_directories(drive_.Host(u"C:\\Setup"));
        drive_.WriteFile(u"C:\\Setup\\setup.exe", AssembleImage(pkg, header));
        standin::SetModulePath(u"C:\\Setup\\setup.exe");
        EXPECT_EQ(SetupMain(u"setup.exe -silent \"C:\\My Savers\""), kExitDone);
        ASSERT_TRUE(drive_.Exists(uninstaller));
        FreeLangStrings();
        standin::ResetProcess();
        standin::SetModulePath(uninstaller);
    }
    int RunUninstaller(const std::u16string& args = u"", int answer = platform::IDYES_) {
        standin::SetMessageAnswer(answer);
        return SetupMain(u"\"" + std::u16string(kUninstaller) + u"\" " + args);
    }
    // The temporary copy the uninstaller started, run as the system would: its exit code.
    int RunTemporaryCopy() {
        const standin::ShellCall start = standin::ShellCalls().at(0);
        FreeLangStrings();
        standin::ResetProcess();
        standin::SetModulePath(start.file);
        return SetupMain(u"\"" + start.file + u"\" " + start.parameters);
    }

    std::set<std::string> FilesIn(const std::u16string& dir) const {
        std::set<std::string> names;
        if (fs::is_directory(drive_.Host(dir)))
            for (const auto& e : fs::directory_iterator(drive_.Host(dir))) names.insert(e.path().filename().string());
        return names;
    }

    TempDrive drive_;
};

TEST_F(Uninstall, RemovesWhatTheInstallationMade) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    drive_.WriteFile(u"C:\\My Savers\\notes.txt", "the user's");
    standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"", u"default value");
    standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"Speed", u"3");
    standin::SetRegValue(RegRoot::CurrentUser, std::u16string(kUserKey) + u"\\PlayList\\Deep\\Deeper", u"x", u"y");
    standin::SetRegValue(RegRoot::CurrentUser, std::u16string(kUserKey) + u"\\Other", u"kept", u"1");
    const std::string uninstallerBytes = drive_.ReadFile(kUninstaller);

    EXPECT_EQ(RunUninstaller(), kExitDone);

    ASSERT_EQ(standin::Messages().size(), 1u) << "the question only: the copy says the rest";
    EXPECT_EQ(standin::Messages()[0].text, u"Are you sure you want to remove Aurora and its components?");
    EXPECT_EQ(standin::Messages()[0].caption, u"Aurora Uninstall");
    EXPECT_EQ(standin::Messages()[0].flags, platform::MB_YESNO_ | platform::MB_ICONQUESTION_);
    EXPECT_FALSE(platform::Application::ShowMainForm());

    // The folder, the user's file and the uninstaller (the copy's job) stay.
    EXPECT_EQ(FilesIn(kDir), (std::set<std::string>{"notes.txt", "uninstall Aurora.exe"}));
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
    EXPECT_TRUE(standin::RegKeyExists(RegRoot::CurrentUser, kUserKey));
    EXPECT_EQ(standin::RegValueCount(RegRoot::CurrentUser, kUserKey), 0u);
    EXPECT_EQ(standin::RegSubkeys(RegRoot::CurrentUser, kUserKey), (std::vector<std::u16string>{u"other"}));
    EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
    EXPECT_TRUE(FilesIn(kDesktop).empty());

    // The hand-off: a copy in the temporary folder, started hidden with the whole path quoted.
    const auto temp = FilesIn(kTemp);
    ASSERT_EQ(temp.size(), 1u);
    const std::string copy = *temp.begin();
    EXPECT_EQ(copy.rfind("Parvolinexuninst", 0), 0u);
    EXPECT_EQ(copy.substr(copy.size() - 4), ".exe");
    EXPECT_EQ(drive_.ReadFile(kTemp + text::Utf8ToUtf16(copy)), uninstallerBytes);
    ASSERT_EQ(standin::ShellCalls().size(), 1u);
    const auto& start = standin::ShellCalls()[0];
    EXPECT_EQ(start.verb, u"open");
    EXPECT_EQ(start.file, kTemp + text::Utf8ToUtf16(copy));
    EXPECT_EQ(start.showCommand, platform::SW_HIDE_);
    EXPECT_TRUE(start.ownedByMainForm);
    // Not the uninstaller's folder, which the copy would keep in use.
    EXPECT_EQ(start.directory, u"C:\\Windows\\system32");
    EXPECT_EQ(start.parameters, u"-delfile \"" + std::u16string(kUninstaller) + u"\" -removed");

    // The copy finds its text in its own file.
    standin::Messages().clear();
    EXPECT_EQ(RunTemporaryCopy(), kExitDone);
    EXPECT_FALSE(drive_.Exists(kUninstaller));
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, u"Aurora has been successfully removed from your computer.");
    EXPECT_EQ(standin::Messages()[0].caption, u"Screensaver Setup");
    EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONINFORMATION_);
}

TEST_F(Uninstall, DeclinedOrPreviewRemovesNothing) {
    struct Case {
        const char* what;
        std::u16string args;
        int answer;
        int exitCode;
    };
    const Case cases[] = {
        {"No", u"", platform::IDNO_, kExitCancelled},
        {"preview, Yes", u"-previewonly", platform::IDYES_, kExitDone},
        {"preview, No", u"-previewonly", platform::IDNO_, kExitDone},
    };
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    const auto before = FilesIn(kDir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Messages().clear();
        EXPECT_EQ(RunUninstaller(c.args, c.answer), c.exitCode);
        ASSERT_EQ(standin::Messages().size(), 1u);
        EXPECT_EQ(standin::Messages()[0].flags, platform::MB_YESNO_ | platform::MB_ICONQUESTION_);
        EXPECT_EQ(FilesIn(kDir), before);
        EXPECT_TRUE(FilesIn(kTemp).empty());
        EXPECT_TRUE(standin::ShellCalls().empty());
        EXPECT_TRUE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
        EXPECT_EQ(standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_"), u"C:\\My Savers\\Aurora.scr");
        EXPECT_EQ(FilesIn(std::u16string(kPrograms) + u"\\Aurora").size(), 3u);
    }
}

TEST_F(Uninstall, SilentAsksNothingAndPassesTheShortForm) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    standin::ShortPaths()[kUninstaller] = u"C:\\MYSAVE~1\\UNINST~1.EXE";
    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(FilesIn(kDir), (std::set<std::string>{"uninstall Aurora.exe"}));
    ASSERT_EQ(standin::ShellCalls().size(), 1u);
    EXPECT_EQ(standin::ShellCalls()[0].parameters, u"-delfile \"C:\\MYSAVE~1\\UNINST~1.EXE\"");
}

TEST_F(Uninstall, WhichScreensaverFileGoes) {
    struct Case {
        const char* what;
        std::u16string remembered;  // empty: no value
        std::set<std::string> stays;
    };
    const Case cases[] = {
        {"remembered here", u"C:\\My Savers\\Aurora1.scr", {"Aurora.scr"}},
        {"nothing remembered: the name the uninstaller carries", u"", {"Aurora.scr"}},
        {"remembered in another folder: that installation stays", u"C:\\Other\\Aurora.scr", {"Aurora.scr"}},
        // Any process of the user can write the record: it steers nothing outside the folder,
        // and nothing but a screensaver.
        {"remembered path climbing out", u"C:\\My Savers\\../Other/Aurora.scr", {"Aurora.scr"}},
        {"remembered path climbing out and back", u"C:\\My Savers\\..\\Other\\..\\My Savers\\Aurora1.scr", {"Aurora.scr"}},
        {"remembered file no screensaver", u"C:\\My Savers\\notes.txt", {"Aurora.scr"}},
        {"remembered folder in other letter case", u"C:\\MY SAVERS\\Aurora1.scr", {"Aurora.scr"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(drive_.Host(kDir));
        fs::remove_all(drive_.Host(u"C:\\Other"));
        standin::ResetRegistry();
        // A taken name: the installation gets Aurora1.scr and its uninstaller knows it.
        fs::create_directories(drive_.Host(kDir));
        drive_.WriteFile(u"C:\\My Savers\\Aurora.scr", "the user's");
        TestPackage pkg = Package();
        Installed(pkg, MakeHeader(pkg), u"C:\\My Savers\\uninstall Aurora1.exe");
        ASSERT_TRUE(drive_.Exists(u"C:\\My Savers\\Aurora1.scr"));
        fs::create_directories(drive_.Host(u"C:\\Other"));
        drive_.WriteFile(u"C:\\Other\\Aurora.scr", "another installation");
        drive_.WriteFile(u"C:\\My Savers\\notes.txt", "the user's");
        standin::ResetRegistry();
        if (!c.remembered.empty())
            standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"FileName_", c.remembered);
        standin::SetMessageAnswer(platform::IDYES_);
        EXPECT_EQ(SetupMain(u"x -silent"), kExitDone);
        std::set<std::string> expected = c.stays;
        expected.insert("uninstall Aurora1.exe");
        expected.insert("notes.txt");
        EXPECT_EQ(FilesIn(kDir), expected);
        EXPECT_EQ(drive_.ReadFile(u"C:\\Other\\Aurora.scr"), "another installation");
    }
}

TEST_F(Uninstall, StartMenuFolderWithTheUsersFileStays) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora\\";
    drive_.WriteFile(menu + u"mine.txt", "mine");
    RunUninstaller(u"-silent");
    EXPECT_EQ(FilesIn(menu), (std::set<std::string>{"mine.txt"}));
}

TEST_F(Uninstall, TemporaryCopyTriesOtherNumbersAndNeverTheCurrentFolder) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    // Find the numbers this run will draw, then hold the first three.
    standin::SetPerformanceCounter(777);
    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    const std::u16string first = standin::ShellCalls().at(0).file;

    for (const int held : {3, 100}) {
        SCOPED_TRACE(held);
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(kTemp));
        fs::create_directories(drive_.Host(kTemp));
        Installed(pkg, AllFlags(pkg));
        standin::SetPerformanceCounter(777);
        // Hold the names in the order they are drawn: run once per name with it held.
        std::vector<std::u16string> drawn;
        for (int i = 0; i < held && i < 20; ++i) {
            standin::ShellCalls().clear();
            for (const auto& name : drawn) standin::LockFile(name);
            RunUninstaller(u"-silent");
            if (standin::ShellCalls().empty()) break;
            drawn.push_back(standin::ShellCalls()[0].file);
        }
        if (held == 3) {
            ASSERT_EQ(drawn.size(), 3u);
            EXPECT_EQ(drawn[0], first);
            EXPECT_EQ(std::set<std::u16string>(drawn.begin(), drawn.end()).size(), 3u) << "three different names";
        } else {
            EXPECT_GE(drawn.size(), 2u);
            EXPECT_LT(drawn.size(), 20u) << "it gives up after a few names";
        }
    }

    // Without a temporary folder no copy is made at all.
    standin::Reset();
    SetUp();
    Installed(pkg, AllFlags(pkg));
    standin::SetTempDir(u"");
    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    EXPECT_TRUE(standin::ShellCalls().empty());
    EXPECT_EQ(FilesIn(u"C:\\"), (std::set<std::string>{"My Savers", "Program Files", "Setup", "Users", "Windows"}));
    EXPECT_FALSE(drive_.Exists(u"C:\\My Savers\\Aurora.scr")) << "the rest is removed all the same";
}

TEST_F(Uninstall, TemporaryCopyIsAlwaysAFileOfItsOwn) {
    // Whoever can write to the temporary folder may put a file under the next name, or change
    // the copy before it is held: neither is ever started.
    struct Case {
        const char* what;
        bool planted;
        bool changedBeforeHeld;
    };
    const Case cases[] = {
        {"a file already there under the name", true, false},
        {"the copy changed between writing and holding", false, true},
    };
    const TestPackage pkg = Package();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(kTemp));
        fs::create_directories(drive_.Host(kTemp));
        Installed(pkg, AllFlags(pkg));
        const std::string uninstallerBytes = drive_.ReadFile(kUninstaller);
        // The name this run draws first.
        standin::SetPerformanceCounter(4242);
        EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
        const std::u16string first = standin::ShellCalls().at(0).file;

        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(kTemp));
        fs::create_directories(drive_.Host(kTemp));
        Installed(pkg, AllFlags(pkg));
        standin::SetPerformanceCounter(4242);
        const std::string planted = "MZ another program";
        if (c.planted) drive_.WriteFile(first, planted);
        int changes = 0;
        if (c.changedBeforeHeld)
            standin::SetHoldGapHook([&](const std::u16string& path) {
                // One byte in the middle: the size stays.
                std::string bytes = drive_.ReadFile(path);
                bytes[bytes.size() / 2] ^= 1;
                if (changes++ == 0) drive_.WriteFile(path, bytes);
            });
        EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);

        ASSERT_EQ(standin::ShellCalls().size(), 1u);
        const std::u16string started = standin::ShellCalls()[0].file;
        EXPECT_NE(started, first);
        EXPECT_EQ(drive_.ReadFile(started), uninstallerBytes);
        if (c.planted) {
            EXPECT_EQ(drive_.ReadFile(first), planted) << "left as it was";
        } else {
            EXPECT_EQ(changes, 2);
            EXPECT_FALSE(drive_.Exists(first)) << "the changed copy is removed";
        }
    }
}

TEST(DelFileParameters, CarryThePathAndAFixedWordAlone) {
    struct Case {
        ClosingBox box;
        int count;
        const char16_t* word;
    };
    const Case cases[] = {
        {ClosingBox::None, 2, u""},
        {ClosingBox::Removed, 3, u"-removed"},
        {ClosingBox::RemovedAtRestart, 3, u"-removed-at-restart"},
    };
    for (const std::u16string path : {u"C:\\Program Files\\My Savers\\uninstall Aurora.exe", u"C:\\PROGRA~1\\UNINST~1.EXE"}) {
        for (const auto& c : cases) {
            const TCommandLine line = ParseCommandLine(u"copy.exe " + DelFileParameters(path, c.box));
            EXPECT_EQ(line.Mode, RunMode::DelFile);
            ASSERT_EQ(line.ParamCount(), c.count);
            EXPECT_EQ(line.DelFileTarget(), path);
            EXPECT_EQ(line.DelFileClosingWord(), c.word);
            EXPECT_FALSE(line.DelFileBox());
        }
    }
}

// The copy appends to the uninstaller's log: the switch comes last, after the parameters it
// must not shift.
TEST(DelFileParameters, PassTheLogOnLast) {
    FreeLangStrings();
    const std::u16string log = u"C:\\My Logs\\setup \u00e9.log";
    for (const ClosingBox box : {ClosingBox::None, ClosingBox::Removed}) {
        const TCommandLine line = ParseCommandLine(u"copy.exe " + DelFileParameters(u"C:\\a b\\uninstall.exe", box, log));
        EXPECT_EQ(line.Mode, RunMode::DelFile);
        EXPECT_EQ(line.LogFile, log);
        EXPECT_EQ(line.DelFileTarget(), u"C:\\a b\\uninstall.exe");
        EXPECT_EQ(line.DelFileClosingWord().empty(), box == ClosingBox::None);
    }
}

TEST_F(Uninstall, TranslatedTexts) {
    TestPackage pkg = Package();
    pkg.lang = u"Setup\r\nUninstall=Deinstallieren\r\nReadme=Liesmich\r\nPreview=Vorschau\r\n"
               u"Are you sure you want to remove %s and its components?=%s wirklich entfernen?\r\n"
               // A translation that would end a quoted parameter and add a switch, were it passed on.
               u"%s has been successfully removed from your computer.=%s wurde \"entfernt\" \"/LOG=C:\\evil.log\r\n";
    Installed(pkg, AllFlags(pkg), u"C:\\My Savers\\deinstallieren Aurora.exe");
    ASSERT_EQ(FilesIn(kDir), (std::set<std::string>{"Aurora.scr", "Aurora Liesmich.txt", "deinstallieren Aurora.exe"}));
    standin::SetMessageAnswer(platform::IDYES_);
    EXPECT_EQ(SetupMain(u"x"), kExitDone);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, u"Aurora wirklich entfernen?");
    EXPECT_EQ(standin::Messages()[0].caption, u"Aurora Deinstallieren");
    EXPECT_EQ(FilesIn(kDir), (std::set<std::string>{"deinstallieren Aurora.exe"}));
    EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
    EXPECT_TRUE(FilesIn(kDesktop).empty());
    EXPECT_EQ(standin::ShellCalls().at(0).parameters.find(u"entfernt"), std::u16string::npos);
    standin::Messages().clear();
    EXPECT_EQ(RunTemporaryCopy(), kExitDone);
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, u"Aurora wurde \"entfernt\" \"/LOG=C:\\evil.log");
    EXPECT_FALSE(drive_.Exists(u"C:\\evil.log"));
}

}  // namespace

// Without rights for the machine's list the installation is listed for its user, and its
// uninstaller finds the entry there; an entry of the same title that starts another
// uninstaller is another installation's and stays.
TEST_F(Uninstall, EntryFollowsTheRightsOfTheRun) {
    const TestPackage pkg = Package();
    struct Case {
        const char* what;
        bool machineWritable;
        RegRoot written, other;
    };
    const Case cases[] = {
        {"elevated", true, RegRoot::LocalMachine, RegRoot::CurrentUser},
        {"standard user", false, RegRoot::CurrentUser, RegRoot::LocalMachine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(u"C:\\My Savers"));
        if (!c.machineWritable) standin::DenyRegistryWrites(RegRoot::LocalMachine);
        Installed(pkg, AllFlags(pkg));
        EXPECT_EQ(standin::RegString(c.written, kUninstallKey, u"UninstallString"), u"\"" + std::u16string(kUninstaller) + u"\"");
        EXPECT_EQ(standin::RegString(c.written, kUninstallKey, u"InstallLocation"), u"C:\\My Savers");
        EXPECT_FALSE(standin::RegKeyExists(c.other, kUninstallKey));

        // Another installation of the title elsewhere, in the other list.
        standin::SetRegValue(c.other, kUninstallKey, u"UninstallString", u"\"D:\\Elsewhere\\uninstall Aurora.exe\"");
        EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
        EXPECT_FALSE(standin::RegKeyExists(c.written, kUninstallKey));
        EXPECT_TRUE(standin::RegKeyExists(c.other, kUninstallKey)) << "not this uninstaller's entry";
    }
}

// A second installation of the title without a folder goes where the first one registered
// itself (a silent upgrade replaces it in place); the old uninstaller then removes all.
TEST_F(Uninstall, SilentUpgradeReplacesInPlace) {
    TestPackage pkg = Package();
    pkg.link = u"https://aurora.example/";
    // The screensaver's version resource names version and publisher (trimmed, as scrpack
    // predicts them); the file version stands in for a missing product version.
    standin::SetVersionStrings(u"C:\\My Savers\\Aurora.scr", {u"1.0 ", u"1.0.0.7", u" Glimmerdeck"});
    Installed(pkg, AllFlags(pkg));
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"URLInfoAbout"), u"https://aurora.example/");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"DisplayVersion"), u"1.0");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"Publisher"), u"Glimmerdeck");
    standin::SetVersionStrings(u"C:\\My Savers\\Aurora.scr", {u" ", u"2.0.0.1", u""});

    TestPackage newer = pkg;
    newer.scr = "SCREENSAVER-PAYLOAD, VERSION 2";
    newer.link = u"mailto:aurora@example.org";  // no web page to list
    drive_.WriteFile(u"C:\\Setup\\setup2.exe", AssembleImage(newer, AllFlags(newer)));
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\Setup\\setup2.exe");
    EXPECT_EQ(SetupMain(u"setup2.exe -silent"), kExitDone);
    EXPECT_EQ(drive_.ReadFile(u"C:\\My Savers\\Aurora.scr"), newer.scr);
    EXPECT_EQ(FilesIn(kDir), (std::set<std::string>{"Aurora Readme.txt", "Aurora.scr", "uninstall Aurora.exe"}));
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"URLInfoAbout"), std::nullopt);
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"DisplayVersion"), u"2.0.0.1");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"Publisher"), std::nullopt)
        << "the newer screensaver names no publisher";
    EXPECT_FALSE(fs::exists(drive_.Host(u"C:\\Program Files\\Aurora"))) << "not the package's default folder";

    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(kUninstaller);
    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    EXPECT_EQ(FilesIn(kDir), (std::set<std::string>{"uninstall Aurora.exe"}));
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
}

// Another program listed under the same title: its values, and what its UninstallString starts.
struct ForeignEntry {
    const char* what;
    std::string program;  // the bytes of C:\\Other\\remove.exe; empty: no such file
};

std::vector<std::pair<std::u16string, std::u16string>> PlantForeignEntry(TempDrive& drive, const ForeignEntry& c) {
    fs::create_directories(drive.Host(u"C:\\Other"));
    if (!c.program.empty()) drive.WriteFile(u"C:\\Other\\remove.exe", c.program);
    const std::vector<std::pair<std::u16string, std::u16string>> values = {
        {u"DisplayName", u"Aurora"}, {u"UninstallString", u"\"C:\\Other\\remove.exe\""},
        {u"Publisher", u"Other Company"}, {u"DisplayVersion", u"7.1"}, {u"InstallLocation", u"C:\\Other"}};
    for (const auto& [name, value] : values) standin::SetRegValue(RegRoot::LocalMachine, kLegacyUninstallKey, name, value);
    return values;
}

// Another program's entry under the title is not this installation's: no folder is taken from
// it, nothing of it is written or removed, by the installation nor by the uninstaller.
TEST_F(Uninstall, AnotherProgramsEntryOfTheTitleIsLeftAlone) {
    const TestPackage pkg = Package();
    TestPackage otherInstaller = pkg;
    otherInstaller.title = u"Other";
    const ForeignEntry cases[] = {
        {"its uninstaller is gone", ""},
        {"a program of its own", "MZ another setup's uninstaller"},
        {"an installer of this setup, not an uninstaller", BuildImage(otherInstaller)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(u"C:\\Program Files\\Aurora"));
        const auto foreign = PlantForeignEntry(drive_, c);
        fs::create_directories(drive_.Host(u"C:\\Setup"));
        drive_.WriteFile(u"C:\\Setup\\setup.exe", AssembleImage(pkg, AllFlags(pkg)));
        standin::SetModulePath(u"C:\\Setup\\setup.exe");
        EXPECT_EQ(SetupMain(u"setup.exe -silent"), kExitDone);

        const std::u16string uninstaller = u"C:\\Program Files\\Aurora\\uninstall Aurora.exe";
        EXPECT_TRUE(drive_.Exists(uninstaller)) << "the package's default folder";
        EXPECT_EQ(FilesIn(u"C:\\Other"), c.program.empty() ? std::set<std::string>{} : std::set<std::string>{"remove.exe"});
        EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"UninstallString"), u"\"" + uninstaller + u"\"");
        for (const bool uninstalled : {false, true}) {
            SCOPED_TRACE(uninstalled ? "after the uninstallation" : "after the installation");
            EXPECT_EQ(standin::RegValueCount(RegRoot::LocalMachine, kLegacyUninstallKey), foreign.size());
            for (const auto& [name, value] : foreign)
                EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kLegacyUninstallKey, name), value);
            if (uninstalled) break;
            FreeLangStrings();
            standin::ResetProcess();
            standin::SetModulePath(uninstaller);
            EXPECT_EQ(SetupMain(u"\"" + uninstaller + u"\" -silent"), kExitDone);
            EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
        }
    }
}

// An earlier version listed the installation under its title: the next installation follows
// that entry to its folder, lists itself under its own key and takes the old entry away; the
// uninstaller removes an entry under the title that starts it, in either list.
TEST_F(Uninstall, EntryUnderTheTitleOfAnEarlierVersionMoves) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    const auto key = platform::RegKey::Open(RegRoot::LocalMachine, kUninstallKey);
    for (const auto& name : key.ValueNames()) {
        if (const auto text = standin::RegString(RegRoot::LocalMachine, kUninstallKey, name))
            standin::SetRegValue(RegRoot::LocalMachine, kLegacyUninstallKey, name, *text);
    }
    ASSERT_TRUE(platform::RegKey::DeleteTree(RegRoot::LocalMachine, kUninstallKey));

    TestPackage newer = pkg;
    newer.scr = "SCREENSAVER-PAYLOAD, VERSION 2";
    drive_.WriteFile(u"C:\\Setup\\setup2.exe", AssembleImage(newer, AllFlags(newer)));
    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\Setup\\setup2.exe");
    EXPECT_EQ(SetupMain(u"setup2.exe -silent"), kExitDone);
    EXPECT_EQ(drive_.ReadFile(u"C:\\My Savers\\Aurora.scr"), newer.scr) << "in the folder the old entry names";
    EXPECT_FALSE(fs::exists(drive_.Host(u"C:\\Program Files\\Aurora")));
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"InstallLocation"), u"C:\\My Savers");
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kLegacyUninstallKey));

    // One left under the title in the user's list, from a run without the machine's rights.
    standin::SetRegValue(RegRoot::CurrentUser, kLegacyUninstallKey, u"UninstallString", u"\"" + std::u16string(kUninstaller) + u"\"");
    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(kUninstaller);
    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, kLegacyUninstallKey));
}

constexpr char16_t kCommonPrograms[] = u"C:\\ProgramData\\Start Menu\\Programs";
constexpr char16_t kCommonDesktop[] = u"C:\\Users\\Public\\Desktop";

// The all-users folders, and which account the next run is.
void CommonFolders(TempDrive& drive, bool systemAccount) {
    for (const auto* folder : {kCommonPrograms, kCommonDesktop}) fs::create_directories(drive.Host(folder));
    standin::SetSpecialFolder(platform::CSIDL_COMMON_PROGRAMS_, kCommonPrograms);
    standin::SetSpecialFolder(platform::CSIDL_COMMON_DESKTOPDIRECTORY_, kCommonDesktop);
    standin::SetSystemAccount(systemAccount);
}

// Installed by the system account, as deployment tools install: the links land in the folders
// every user sees, nothing in the system account's own. The uninstaller removes them whoever
// runs it: the system account again, or an administrator in Apps & Features.
TEST_F(Uninstall, SystemAccountLinksAreForAllUsers) {
    for (const bool uninstallerIsSystem : {true, false}) {
        SCOPED_TRACE(uninstallerIsSystem ? "uninstalled by the system account" : "uninstalled by an administrator");
        const TestPackage pkg = Package();
        CommonFolders(drive_, true);
        Installed(pkg, AllFlags(pkg));
        EXPECT_EQ(FilesIn(std::u16string(kCommonPrograms) + u"\\Aurora"),
                  (std::set<std::string>{"Preview Aurora.lnk", "Readme.lnk", "Uninstall Aurora.lnk"}));
        EXPECT_EQ(FilesIn(kCommonDesktop), (std::set<std::string>{"Preview Aurora.lnk"}));
        EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
        EXPECT_TRUE(FilesIn(kDesktop).empty());

        CommonFolders(drive_, uninstallerIsSystem);  // the uninstaller's run starts afresh
        EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
        EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kCommonPrograms) + u"\\Aurora")));
        EXPECT_TRUE(FilesIn(kCommonDesktop).empty());
        fs::remove(drive_.Host(kUninstaller));  // the temporary copy's part
        standin::ResetProcess();
    }
}

// Links under the same names that start another installation's files are not this
// uninstaller's to remove, in the account's folders or the all-users ones.
TEST_F(Uninstall, LinksOfAnotherInstallationStay) {
    const TestPackage pkg = Package();
    Installed(pkg, AllFlags(pkg));
    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora\\";
    const std::u16string commonDesktopLink = std::u16string(kCommonDesktop) + u"\\Preview Aurora.lnk";
    CommonFolders(drive_, false);
    for (const std::u16string& link : {menu + u"Readme.lnk", commonDesktopLink}) {
        fs::remove(drive_.Host(link));
        platform::ShellLink other;
        other.SetPath(u"C:\\Other Savers\\Aurora.scr");
        ASSERT_EQ(other.Save(link), platform::S_OK_);
    }

    EXPECT_EQ(RunUninstaller(u"-silent"), kExitDone);
    EXPECT_EQ(FilesIn(menu), (std::set<std::string>{"Readme.lnk"}));
    EXPECT_TRUE(FilesIn(kDesktop).empty());
    EXPECT_EQ(FilesIn(kCommonDesktop), (std::set<std::string>{"Preview Aurora.lnk"}));
}

namespace {

// Every file of the folder with its bytes, and every value of the entry and of the record.
struct InstallationState {
    std::map<std::string, std::string> files;
    std::map<std::u16string, std::optional<std::u16string>> values;
    bool operator==(const InstallationState&) const = default;
};

InstallationState StateOf(const TempDrive& drive) {
    InstallationState state;
    for (const auto& e : fs::directory_iterator(drive.Host(kDir)))
        state.files[e.path().filename().string()] = drive.ReadFile(kDir + text::Utf8ToUtf16(e.path().filename().string()));
    for (const char16_t* name : {u"DisplayName", u"UninstallString", u"QuietUninstallString", u"DisplayIcon",
                                 u"InstallLocation", u"DisplayVersion", u"Publisher", u"URLInfoAbout"})
        state.values[name] = standin::RegString(RegRoot::LocalMachine, kUninstallKey, name);
    state.values[u"record"] = standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_");
    return state;
}

}  // namespace

// A newer installation that fails at any step leaves the earlier one exactly as it was: its
// files (the screensaver, the readme copy, the uninstaller), its entry and its record.
TEST_F(Uninstall, UpgradeThatFailsKeepsTheEarlierInstallation) {
    TestPackage newer = Package();
    newer.scr = std::string(4000, 'N');
    newer.readme = u"Read me, version 2";
    const std::string intact = WithChecksum(AssembleImage(newer, AllFlags(newer)), newer.stub.size());
    std::string damaged = intact;
    damaged[newer.stub.size() + kChecksumRecordSize + 10] ^= 0x01;
    struct Case {
        const char* what;
        const std::string* image;
        std::function<void()> arrange;
        int exitCode;
    };
    const Case cases[] = {
        {"damaged download", &damaged, [] {}, kExitDamaged},
        {"disk full at the uninstaller", &intact, [] { standin::SetFreeSpace(4000 + 100); }, kExitInstallFailed},
        {"the uninstaller's new file cannot be made", &intact,
         [] { standin::LockFile(std::u16string(kUninstaller) + u".new"); }, kExitInstallFailed},
        {"the earlier uninstaller cannot give way",  &intact,
         [] {
             standin::LockFile(kUninstaller);
             standin::DenyRebootOperations(true);
         },
         kExitInstallFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(kDir));
        const TestPackage pkg = Package();
        standin::SetVersionStrings(u"C:\\My Savers\\Aurora.scr", {u"1.0", u"1.0.0.0", u"Glimmerdeck"});
        Installed(pkg, AllFlags(pkg));
        const InstallationState before = StateOf(drive_);
        ASSERT_EQ(before.files.size(), 3u);

        drive_.WriteFile(u"C:\\Setup\\setup2.exe", *c.image);
        standin::ResetProcess();
        standin::SetModulePath(u"C:\\Setup\\setup2.exe");
        c.arrange();
        EXPECT_EQ(SetupMain(u"setup2.exe /S"), c.exitCode);
        standin::ResetFileLocks();
        EXPECT_EQ(StateOf(drive_), before);
        EXPECT_TRUE(standin::RebootReplacements().empty());
    }
}

// A running screensaver holds its file. An upgrade puts the new file in its place and removes
// the earlier one at the next start; an uninstallation removes it then. Either tells of the
// restart: exit code 3010, and the closing box.
TEST_F(Uninstall, ScreensaverInUseIsReplacedOrRemovedAtTheNextStart) {
    const std::u16string scr = u"C:\\My Savers\\Aurora.scr";
    const TestPackage pkg = Package();
    TestPackage newer = pkg;
    newer.scr = "SCREENSAVER-PAYLOAD, VERSION 2";
    Installed(pkg, AllFlags(pkg));

    // Renamed aside while it runs, as Windows allows a running program's file.
    drive_.WriteFile(u"C:\\Setup\\setup2.exe", AssembleImage(newer, AllFlags(newer)));
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\Setup\\setup2.exe");
    standin::HoldAsRunningProgram(scr);
    EXPECT_EQ(SetupMain(u"setup2.exe /S"), kExitRestartNeeded);
    EXPECT_EQ(drive_.ReadFile(scr), newer.scr);
    EXPECT_EQ(drive_.ReadFile(scr + u".old"), pkg.scr);
    EXPECT_EQ(standin::RebootDeletions(), (std::vector<std::u16string>{scr + u".old"}));
    standin::ResetFileLocks();
    fs::remove(drive_.Host(scr + u".old"));
    standin::RebootDeletions().clear();

    // Held by a process that shares nothing: the new file waits beside it for the next start,
    // and the other files are replaced now.
    drive_.WriteFile(u"C:\\Setup\\setup3.exe", AssembleImage(pkg, AllFlags(pkg)));
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\Setup\\setup3.exe");
    standin::LockFile(scr);
    EXPECT_EQ(SetupMain(u"setup3.exe /S"), kExitRestartNeeded);
    standin::ResetFileLocks();
    EXPECT_EQ(drive_.ReadFile(scr), newer.scr);
    EXPECT_EQ(drive_.ReadFile(scr + u".new"), pkg.scr);
    EXPECT_EQ(standin::RebootReplacements(), (std::vector<std::pair<std::u16string, std::u16string>>{{scr + u".new", scr}}));
    fs::remove(drive_.Host(scr + u".new"));

    // The uninstallation, silent and with the wizard's box.
    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "box");
        if (!silent) {
            drive_.WriteFile(u"C:\\Setup\\setup.exe", AssembleImage(pkg, AllFlags(pkg)));
            Installed(pkg, AllFlags(pkg));
        }
        standin::ResetProcess();
        standin::SetModulePath(kUninstaller);
        standin::RebootDeletions().clear();
        standin::HoldAsRunningProgram(scr);
        EXPECT_EQ(RunUninstaller(silent ? u"/S" : u""), kExitRestartNeeded);
        EXPECT_EQ(standin::RebootDeletions(), (std::vector<std::u16string>{scr}));
        EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
        ASSERT_EQ(standin::ShellCalls().size(), 1u);
        EXPECT_EQ(standin::ShellCalls()[0].parameters, u"-delfile \"" + std::u16string(kUninstaller) + u"\"" +
                                                           (silent ? u"" : u" -removed-at-restart"));
        standin::Messages().clear();
        EXPECT_EQ(RunTemporaryCopy(), kExitDone);
        if (silent) {
            EXPECT_TRUE(standin::Messages().empty());
        } else {
            ASSERT_EQ(standin::Messages().size(), 1u);
            EXPECT_EQ(standin::Messages()[0].text,
                      u"Aurora has been removed from your computer. Restart Windows to complete the removal.");
        }
        standin::ResetFileLocks();
        fs::remove(drive_.Host(scr));
    }
}

// A file that can go neither now nor at the next start (no rights to schedule it) ends the
// uninstallation before anything else goes: the entry and the uninstaller stay for another try.
TEST_F(Uninstall, ScreensaverThatCannotGoKeepsTheInstallation) {
    const std::u16string scr = u"C:\\My Savers\\Aurora.scr";
    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "wizard");
        standin::Reset();
        SetUp();
        fs::remove_all(drive_.Host(kDir));
        const TestPackage pkg = Package();
        Installed(pkg, AllFlags(pkg));
        const InstallationState before = StateOf(drive_);
        standin::HoldAsRunningProgram(scr);
        standin::DenyRebootOperations(true);
        EXPECT_EQ(RunUninstaller(silent ? u"/S" : u""), kExitInstallFailed);
        EXPECT_EQ(StateOf(drive_), before);
        EXPECT_TRUE(standin::ShellCalls().empty()) << "no hand-off";
        EXPECT_TRUE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
        if (silent) {
            EXPECT_TRUE(standin::Messages().empty());
        } else {
            ASSERT_EQ(standin::Messages().size(), 2u);
            EXPECT_EQ(standin::Messages()[1].text, u"Aurora could not be removed. Its files are in use or access is denied.");
            EXPECT_EQ(standin::Messages()[1].flags, platform::MB_ICONERROR_);
        }
    }
}

// A folder given relative to the working folder (C:\ here): every link starts a full path, and
// the silent uninstallation finds and removes every one of them.
TEST_F(Uninstall, LinksOfARelativeFolderAreFullAndGoWithIt) {
    const TestPackage pkg = Package();
    fs::create_directories(drive_.Host(u"C:\\Setup"));
    fs::create_directories(drive_.Host(u"C:\\Savers"));
    drive_.WriteFile(u"C:\\Setup\\setup.exe", AssembleImage(pkg, AllFlags(pkg)));
    standin::SetModulePath(u"C:\\Setup\\setup.exe");
    ASSERT_EQ(SetupMain(u"setup.exe -silent Savers"), kExitDone);
    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora\\";
    for (const auto& [link, target] : {std::pair{menu + u"Preview Aurora.lnk", u"C:\\Savers\\Aurora.scr"},
                                       {menu + u"Readme.lnk", u"C:\\Savers\\Aurora Readme.txt"},
                                       {menu + u"Uninstall Aurora.lnk", u"C:\\Savers\\uninstall Aurora.exe"},
                                       {std::u16string(kDesktop) + u"\\Preview Aurora.lnk", u"C:\\Savers\\Aurora.scr"}})
        EXPECT_EQ(drive_.ReadFile(link).rfind("target=" + text::Utf16ToUtf8(target) + "\n", 0), 0u)
            << text::Utf16ToUtf8(link);

    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\Savers\\uninstall Aurora.exe");
    EXPECT_EQ(SetupMain(u"\"C:\\Savers\\uninstall Aurora.exe\" /S"), kExitDone);
    EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
    EXPECT_TRUE(FilesIn(kDesktop).empty());
}
