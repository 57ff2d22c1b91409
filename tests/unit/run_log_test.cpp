#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/lang.h"
#include "common/text.h"
#include "image_builder.h"
#include "platform/files.h"
#include "platform/standin/standin.h"
#include "setup/exit_codes.h"
#include "setup/setup.h"
#include "system_folders.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kLog[] = u"C:\\Logs\\setup.log";
constexpr char16_t kFolder[] = u"C:\\Program Files\\\u00c9crans";
// Every line begins with the stand-in's clock and process id.
constexpr char16_t kLinePrefix[] = u"2024-05-06 07:08:09.010 [4711] ";
constexpr char16_t kEntry[] =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7E9A7207-2FBC-8D7D-9900-3802E2DDB591}";
constexpr char16_t kStart[] = u"Setup " SETUP_VERSION ":";

class RunLog : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSystemFolders(drive_);
        fs::create_directories(drive_.Host(u"C:\\Setup"));
        fs::create_directories(drive_.Host(u"C:\\Logs"));
        std::ofstream(drive_.Host(u"C:\\Windows\\system32\\powercfg.exe")) << "MZ";
        TestPackage pkg;
        pkg.readme = u"Read me";
        TSetupHeader header = MakeHeader(pkg);
        for (const auto flag : {hdr::UninstallEntryFlag, hdr::MenuShortcutsFlag, hdr::DesktopShortcutFlag,
                                hdr::PowerRequestOverride})
            header.Raw[flag] = 1;
        drive_.WriteFile(u"C:\\Setup\\setup.exe", AssembleImage(pkg, header));
        standin::SetModulePath(u"C:\\Setup\\setup.exe");
    }
    void TearDown() override { FreeLangStrings(); }

    int Run(const std::u16string& args) { return SetupMain(u"C:\\Setup\\setup.exe " + args); }

    // The log's lines: UTF-8 behind one byte-order mark, each ended by CR LF.
    std::vector<std::u16string> Lines(const std::u16string& log = kLog) const {
        const std::string bytes = drive_.ReadFile(log);
        EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
        std::u16string text = text::Utf8ToUtf16(bytes.substr(3));
        EXPECT_TRUE(text.size() >= 2 && text.substr(text.size() - 2) == u"\r\n");
        std::vector<std::u16string> lines;
        for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
            end = text.find(u"\r\n", start);
            if (end == std::u16string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            EXPECT_EQ(lines.back().find_first_of(u"\r\n\uFEFF"), std::u16string::npos) << text::Utf16ToUtf8(lines.back());
        }
        return lines;
    }
    // The lines without their time and process id, which must be the stand-in's first.
    std::vector<std::u16string> Steps(const std::u16string& log = kLog) const {
        std::vector<std::u16string> steps;
        for (const auto& line : Lines(log)) {
            EXPECT_EQ(line.rfind(kLinePrefix, 0), 0u) << text::Utf16ToUtf8(line);
            steps.push_back(line.substr(std::char_traits<char16_t>::length(kLinePrefix)));
        }
        return steps;
    }
    static std::string Show(const std::vector<std::u16string>& lines) {
        std::string out;
        for (const auto& line : lines) out += text::Utf16ToUtf8(line) + "\n";
        return out;
    }

    TempDrive drive_;
};

TEST_F(RunLog, SilentInstallationNamesEverythingItMade) {
    const std::u16string args = u"/S /LOG=C:\\Logs\\setup.log /D=" + std::u16string(kFolder);
    ASSERT_EQ(Run(args), kExitDone);
    const std::u16string dir = std::u16string(kFolder) + u"\\";
    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora";
    const std::vector<std::u16string> expected = {
        kStart + (u" C:\\Setup\\setup.exe " + args),
        u"Silent install",
        u"Create folder " + std::u16string(kFolder),
        u"Create file " + dir + u"Aurora.scr",
        u"Create file " + dir + u"Aurora Readme.txt",
        u"Create file " + dir + u"uninstall Aurora.exe",
        u"Write key " + std::u16string(kEntry),
        u"Create folder " + menu,
        u"Create link " + menu + u"\\Preview Aurora.lnk",
        u"Create link " + menu + u"\\Readme.lnk",
        u"Create link " + menu + u"\\Uninstall Aurora.lnk",
        u"Create link " + std::u16string(kDesktop) + u"\\Preview Aurora.lnk",
        u"Run C:\\Windows\\system32\\powercfg.exe /requestsoverride process Aurora.scr display",
        u"Write value HKCU\\Software\\Glimmerdeck\\Aurora\\FileName_",
        u"Exit code 0",
    };
    EXPECT_EQ(Steps(), expected) << Show(Lines());
    EXPECT_TRUE(drive_.Exists(dir + u"uninstall Aurora.exe")) << "installed where /D= says";
}

// Each failure names the system's code; what the installation takes back is logged too.
TEST_F(RunLog, FailuresCarryTheSystemsCode) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::u16string folder;
        int exitCode;
        std::vector<std::u16string> steps;  // in this order, among others
    };
    const std::u16string entry = kEntry;
    const Case cases[] = {
        {"the screensaver's name is held by another program",
         [] { standin::LockFile(u"C:\\Savers\\Sub\\Aurora.scr"); },
         u"C:\\Savers\\Sub",
         kExitDirectoryRefused,
         {u"Create folder C:\\Savers", u"Create folder C:\\Savers\\Sub",
          u"Create file C:\\Savers\\Sub\\Aurora.scr: failed, error 32"}},
        {"no rights for the machine's keys: the entry goes to the user's list",
         [] { standin::DenyRegistryWrites(platform::RegRoot::LocalMachine); },
         u"C:\\Savers",
         kExitDone,
         {u"Write key " + entry + u": failed, error 5",
          u"Write key HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7E9A7207-2FBC-8D7D-9900-3802E2DDB591}",
          u"Write value HKCU\\Software\\Glimmerdeck\\Aurora\\FileName_"}},
        {"a drive that is not there", [] {}, u"Q:\\Savers", kExitDirectoryRefused,
         {u"Create folder Q:\\Savers: failed, error 3", u"Folder refused: Q:\\Savers"}},
        {"an elevated run and a folder other users own",
         [this] {
             fs::create_directories(drive_.Host(u"C:\\Savers"));
             standin::SetElevated(true);
             standin::SetOthersAccess(u"C:\\Savers", platform::kOthersOwnIt);
         },
         u"C:\\Savers",
         kExitDirectoryRefused,
         {u"Folder open to other users: C:\\Savers", u"Folder refused: C:\\Savers"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(drive_.Host(kLog));
        c.arrange();
        EXPECT_EQ(Run(u"/S /LOG=C:\\Logs\\setup.log /D=" + c.folder), c.exitCode);
        const std::vector<std::u16string> steps = Steps();
        std::size_t found = 0;
        for (const auto& step : steps)
            if (found < c.steps.size() && step == c.steps[found]) ++found;
        EXPECT_EQ(found, c.steps.size()) << Show(steps);
        EXPECT_EQ(steps.back(), u"Exit code " + text::DecimalText(c.exitCode));
        standin::Reset();
        MakeSystemFolders(drive_);
        standin::SetModulePath(u"C:\\Setup\\setup.exe");
        FreeLangStrings();
    }
}

TEST_F(RunLog, FailedInstallationLogsWhatItTakesBack) {
    fs::create_directories(drive_.Host(u"C:\\Savers"));
    standin::LockFile(u"C:\\Savers\\Aurora\\uninstall Aurora.exe");
    EXPECT_EQ(Run(u"-silent C:\\Savers\\Aurora -log C:\\Logs\\setup.log"), kExitInstallFailed);
    const std::vector<std::u16string> expected = {
        kStart + std::u16string(u" C:\\Setup\\setup.exe -silent C:\\Savers\\Aurora -log C:\\Logs\\setup.log"),
        u"Silent install",
        u"Create folder C:\\Savers\\Aurora",
        u"Create file C:\\Savers\\Aurora\\Aurora.scr",
        u"Create file C:\\Savers\\Aurora\\Aurora Readme.txt",
        u"Create file C:\\Savers\\Aurora\\uninstall Aurora.exe: failed, error 32",
        u"Remove file C:\\Savers\\Aurora\\Aurora Readme.txt",
        u"Remove file C:\\Savers\\Aurora\\Aurora.scr",
        u"Remove folder C:\\Savers\\Aurora",
        u"Exit code 3",
    };
    EXPECT_EQ(Steps(), expected) << Show(Lines());
    EXPECT_FALSE(drive_.Exists(u"C:\\Savers\\Aurora"));
}

// The uninstaller and the temporary copy it starts append to the installation's log, each
// line with its own process.
TEST_F(RunLog, UninstallerAndItsCopyAppendToTheSameLog) {
    ASSERT_EQ(Run(u"/S /LOG=C:\\Logs\\setup.log /D=C:\\My Savers"), kExitDone);
    const std::size_t installed = Lines().size();
    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(u"C:\\My Savers\\uninstall Aurora.exe");
    const std::u16string uninstall = u"\"C:\\My Savers\\uninstall Aurora.exe\" /S /LOG=C:\\Logs\\setup.log";
    ASSERT_EQ(SetupMain(uninstall), kExitDone);

    ASSERT_EQ(standin::ShellCalls().size(), 1u);
    const standin::ShellCall start = standin::ShellCalls()[0];
    EXPECT_EQ(start.parameters, u"-delfile \"C:\\My Savers\\uninstall Aurora.exe\" \"/LOG=C:\\Logs\\setup.log\"");
    FreeLangStrings();
    standin::ResetProcess();
    standin::SetModulePath(start.file);
    const std::u16string copy = u"\"" + start.file + u"\" " + start.parameters;
    ASSERT_EQ(SetupMain(copy), kExitDone);
    EXPECT_FALSE(drive_.Exists(u"C:\\My Savers\\uninstall Aurora.exe"));

    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora";
    const std::u16string uninstaller = u"[4712] ", temporary = u"[4713] ";
    const std::vector<std::u16string> expected = {
        uninstaller + kStart + u" " + uninstall,
        uninstaller + u"Silent uninstall",
        uninstaller + u"Remove file C:\\My Savers\\Aurora.scr",
        uninstaller + u"Remove value HKCU\\Software\\Glimmerdeck\\Aurora\\FileName_",
        uninstaller + u"Remove key HKCU\\Software\\Glimmerdeck\\Aurora\\PlayList: not found",
        uninstaller + u"Remove file C:\\My Savers\\Aurora Readme.txt",
        uninstaller + u"Create file " + start.file,
        uninstaller + u"Run " + start.file + u" " + start.parameters,
        uninstaller + u"Remove key " + kEntry,
        uninstaller + u"Remove link " + menu + u"\\Preview Aurora.lnk",
        uninstaller + u"Remove link " + menu + u"\\Readme.lnk",
        uninstaller + u"Remove link " + menu + u"\\Uninstall Aurora.lnk",
        uninstaller + u"Remove folder " + menu,
        uninstaller + u"Remove link " + std::u16string(kDesktop) + u"\\Preview Aurora.lnk",
        uninstaller + u"Exit code 0",
        temporary + kStart + u" " + copy,
        temporary + u"Uninstaller removal",
        temporary + u"Remove at restart: " + start.file,
        temporary + u"Remove file C:\\My Savers\\uninstall Aurora.exe",
        temporary + u"Exit code 0",
    };
    std::vector<std::u16string> appended;
    const std::vector<std::u16string> lines = Lines();
    for (std::size_t i = installed; i < lines.size(); ++i) appended.push_back(lines[i].substr(24));
    EXPECT_EQ(appended, expected) << Show(lines);
}

// A log is never written through another name of a file (a hard link), a link, or a folder
// link on the way, nor into a file someone else owns: the run goes on without one, ends as
// it would, and what was there stays as it was. A file made on the way to the refusal goes.
TEST_F(RunLog, OnlyAFileThisAccountAloneWroteIsAppendedTo) {
    const std::u16string victim = u"C:\\Victim\\config.txt";
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* atLogPath;  // what the log's path shows afterwards; null: nothing
    };
    const Case cases[] = {
        {"a hard link", [&] { fs::create_hard_link(drive_.Host(victim), drive_.Host(kLog)); }, "precious"},
        {"a symbolic link", [&] { fs::create_symlink(drive_.Host(victim), drive_.Host(kLog)); }, "precious"},
        {"a folder link on the way",
         [&] {
             fs::remove(drive_.Host(u"C:\\Logs"));
             fs::create_directory_symlink(drive_.Host(u"C:\\Victim"), drive_.Host(u"C:\\Logs"));
         },
         nullptr},
        {"someone else's file",
         [&] {
             drive_.WriteFile(kLog, "theirs");
             standin::SetOthersAccess(kLog, platform::kOthersOwnIt);
         },
         "theirs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(drive_.Host(u"C:\\Victim"));
        drive_.WriteFile(victim, "precious");
        c.plant();
        EXPECT_EQ(Run(u"/S /LOG=C:\\Logs\\setup.log /D=C:\\Savers"), kExitDone);
        EXPECT_TRUE(drive_.Exists(u"C:\\Savers\\uninstall Aurora.exe"));
        EXPECT_EQ(drive_.ReadFile(victim), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(drive_.Host(u"C:\\Victim")), {}), 1) << "nothing made there";
        if (c.atLogPath) {
            EXPECT_EQ(drive_.ReadFile(kLog), c.atLogPath);
        } else {
            EXPECT_FALSE(drive_.Exists(kLog));
        }
        for (const char16_t* made : {u"C:\\Logs", u"C:\\Victim", u"C:\\Savers"}) fs::remove_all(drive_.Host(made));
        fs::create_directories(drive_.Host(u"C:\\Logs"));
        standin::Reset();
        MakeSystemFolders(drive_);
        standin::SetModulePath(u"C:\\Setup\\setup.exe");
        FreeLangStrings();
    }
}

// A log that cannot be written changes nothing else: the run goes on, and its exit code is
// the run's.
TEST_F(RunLog, ALogThatCannotBeOpenedStopsNothing) {
    for (const char16_t* log : {u"C:\\Missing\\setup.log", u"C:\\Logs"}) {
        SCOPED_TRACE(text::Utf16ToUtf8(log));
        fs::remove_all(drive_.Host(u"C:\\Savers"));
        EXPECT_EQ(Run(u"/S /LOG=" + std::u16string(log) + u" /D=C:\\Savers"), kExitDone);
        EXPECT_TRUE(drive_.Exists(u"C:\\Savers\\uninstall Aurora.exe"));
        FreeLangStrings();
    }
    EXPECT_FALSE(drive_.Exists(u"C:\\Missing"));
    EXPECT_TRUE(drive_.IsDir(u"C:\\Logs"));
}

}  // namespace
