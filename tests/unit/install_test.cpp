#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "common/lang.h"
#include "image_builder.h"
#include "setup/setup.h"
#include "setup_form.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/standin/standin.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "setupmain/cmdline.h"
#include "package/package.h"
#include "setupmain/install.h"
#include "setupmain/readme_copy.h"
#include "setupmain/form.h"
#include "system_folders.h"

namespace fs = std::filesystem;
using platform::RegRoot;

namespace {

constexpr char16_t kInstallError[] = u"There was an error installing Aurora. Installation is not complete.";
constexpr char16_t kAccessDenied[] =
    u"Unable to copy the files. Access is denied. Please select a different directory.";

std::string Payload(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        MakeSystemFolders(drive_);
    }
    void TearDown() override {
        form_.reset();
        FreeLangStrings();
    }

    static TestPackage Everything() {
        TestPackage pkg;
        pkg.readme = u"Read me\r\nplease";
        pkg.license = u"Terms";
        pkg.licenseMode = 1;
        return pkg;
    }
    static TSetupHeader AllFlags(const TestPackage& pkg) {
        TSetupHeader h = MakeHeader(pkg);
        for (const auto flag : {hdr::UninstallEntryFlag, hdr::MenuShortcutsFlag, hdr::DesktopShortcutFlag,
                                hdr::PowerRequestOverride})
            h.Raw[flag] = 1;
        return h;
    }

    TestForm& Start(const TestPackage& pkg, const std::u16string& commandLine = u"setup.exe") {
        return StartImage(BuildImage(pkg), commandLine);
    }
    TestForm& StartImage(const std::string& image, const std::u16string& commandLine = u"setup.exe") {
        image_ = image;
        program_ = fs::path(drive_.Root()) / "setup.exe";
        InstallAsProgram(program_, image);
        form_ = CreateSetupForm(commandLine);
        return *form_;
    }
    // Install clicked on the Directory page with the given folder.
    TestForm& InstallInto(const TestPackage& pkg, const std::u16string& dir) {
        auto& f = Start(pkg);
        f.edDirectory.SetCaption(dir);
        f.btnNext.Click();
        return f;
    }

    std::set<std::string> FilesIn(const std::u16string& dir) const {
        std::set<std::string> names;
        if (fs::is_directory(drive_.Host(dir)))
            for (const auto& e : fs::directory_iterator(drive_.Host(dir))) names.insert(e.path().filename().string());
        return names;
    }
    // Writes a file, making its folder first.
    void Put(const std::u16string& path, const std::string& content) const {
        fs::create_directories(drive_.Host(path).parent_path());
        drive_.WriteFile(path, content);
    }
    std::string Link(const std::u16string& path) const { return drive_.ReadFile(path); }
    static std::string LinkTo(const std::u16string& target) {
        return "target=" + text::Utf16ToUtf8(target) + "\nicon=" + text::Utf16ToUtf8(target) + ",0\n";
    }

    TempDrive drive_;
    fs::path program_;
    std::string image_;
    std::unique_ptr<TestForm> form_;
};

// /D= without /S: the wizard shows that folder where it would show the default, also when
// it starts on the Ready page, and installs there.
TEST_F(Install, FolderFromTheCommandLineFillsTheWizard) {
    for (const bool skipDirectoryPage : {false, true}) {
        SCOPED_TRACE(skipDirectoryPage);
        TestPackage pkg;
        pkg.skipDirectoryPage = skipDirectoryPage;
        auto& f = Start(pkg, u"setup.exe /D=C:\\Program Files\\My Savers");
        EXPECT_EQ(f.Notebook.PageIndex(), skipDirectoryPage ? kPageReady : kPageDirectory);
        EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Program Files\\My Savers");
        f.btnNext.Click();
        EXPECT_EQ(f.ExitCode(), kExitDone);
        EXPECT_EQ(drive_.ReadFile(u"C:\\Program Files\\My Savers\\Aurora.scr"), pkg.scr);
        EXPECT_FALSE(drive_.Exists(u"C:\\Program Files\\Aurora")) << "not the default";
        fs::remove_all(drive_.Host(u"C:\\Program Files\\My Savers"));
    }
}

TEST_F(Install, EverythingTheHeaderAsksFor) {
    const TestPackage pkg = Everything();
    const TSetupHeader header = AllFlags(pkg);
    std::ofstream(drive_.Host(u"C:\\Windows\\system32\\powercfg.exe")) << "MZ";
    auto& f = StartImage(AssembleImage(pkg, header));
    f.rbAccept.Click();
    f.btnNext.Click();
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();

    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Savers\\");
    EXPECT_EQ(f.Notebook.PageIndex(), kPageReadme) << "Next goes on to the readme";
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), pkg.scr);
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora Readme.txt"), "Read me\r\nplease");

    // The uninstaller: stub, texts, the header as held, the uninstaller's signature.
    TestPackage asUninstaller = pkg;
    asUninstaller.trailer = TrailerKind::Uninstaller;
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\uninstall Aurora.exe"), AssembleImage(asUninstaller, header));

    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"DisplayName"), u"Aurora");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"UninstallString"),
              u"\"C:\\Savers\\uninstall Aurora.exe\"");
    // What deployment tools read: a silent removal, the icon, the folder, the size in KiB.
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"QuietUninstallString"),
              u"\"C:\\Savers\\uninstall Aurora.exe\" -silent");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"DisplayIcon"), u"C:\\Savers\\Aurora.scr");
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"InstallLocation"), u"C:\\Savers");
    const auto installed = pkg.scr.size() + AssembleImage(asUninstaller, header).size() + 16;  // "Read me\r\nplease"
    EXPECT_EQ(standin::RegDword(RegRoot::LocalMachine, kUninstallKey, u"EstimatedSize"), (installed + 1023) / 1024);
    EXPECT_EQ(standin::RegDword(RegRoot::LocalMachine, kUninstallKey, u"NoModify"), 1u);
    EXPECT_EQ(standin::RegDword(RegRoot::LocalMachine, kUninstallKey, u"NoRepair"), 1u);
    EXPECT_EQ(standin::RegValueCount(RegRoot::LocalMachine, kUninstallKey), 8u)
        << "no web page, version or publisher to name";
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, kUninstallKey));
    EXPECT_EQ(standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_"), u"C:\\Savers\\Aurora.scr");

    const std::u16string menu = std::u16string(kPrograms) + u"\\Aurora\\";
    EXPECT_EQ(FilesIn(menu), (std::set<std::string>{"Preview Aurora.lnk", "Readme.lnk", "Uninstall Aurora.lnk"}));
    EXPECT_EQ(Link(menu + u"Preview Aurora.lnk"), LinkTo(u"C:\\Savers\\Aurora.scr"));
    EXPECT_EQ(Link(menu + u"Readme.lnk"), LinkTo(u"C:\\Savers\\Aurora Readme.txt"));
    EXPECT_EQ(Link(menu + u"Uninstall Aurora.lnk"), LinkTo(u"C:\\Savers\\uninstall Aurora.exe"));
    EXPECT_EQ(Link(std::u16string(kDesktop) + u"\\Preview Aurora.lnk"), LinkTo(u"C:\\Savers\\Aurora.scr"));
    EXPECT_EQ(standin::PendingComInitialisations(), 0);

    ASSERT_EQ(standin::ShellCalls().size(), 2u);
    const auto& install = standin::ShellCalls()[0];
    EXPECT_EQ(install.verb, u"install");
    EXPECT_EQ(install.file, u"C:\\Savers\\Aurora.scr");
    EXPECT_EQ(install.parameters, u"");
    EXPECT_EQ(install.showCommand, platform::SW_SHOWNOACTIVATE_);
    EXPECT_FALSE(install.ownedByMainForm);
    // Never the folder the setup was started from (the stand-in's is C:\).
    EXPECT_EQ(install.directory, u"C:\\Savers\\");
    const auto& power = standin::ShellCalls()[1];
    EXPECT_EQ(power.verb, u"");
    EXPECT_EQ(power.file, u"C:\\Windows\\system32\\powercfg.exe");
    EXPECT_EQ(power.parameters, u"/requestsoverride process Aurora.scr display");
    EXPECT_EQ(power.directory, u"C:\\Windows\\system32");
    EXPECT_EQ(power.showCommand, platform::SW_HIDE_);

    f.btnNext.Click();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageFinished);
    EXPECT_FALSE(f.Window.Closed());
    f.btnNext.Click();
    EXPECT_TRUE(f.Window.Closed());
    EXPECT_EQ(form_->ExitCode(), kExitDone);
}

TEST_F(Install, ARelativeFolderIsHandedToTheShellInFull) {
    // The shell would take a relative name from the folder it starts the verb in. The
    // setup's own working folder here is C:\\, where the existing folder is given.
    fs::create_directories(drive_.Host(u"C:\\Savers"));
    auto& f = InstallInto(TestPackage{}, u"Savers");
    EXPECT_EQ(f.Notebook.PageIndex(), kPageFinished);
    ASSERT_EQ(standin::ShellCalls().size(), 1u);
    EXPECT_EQ(standin::ShellCalls()[0].verb, u"install");
    EXPECT_EQ(standin::ShellCalls()[0].file, u"C:\\Savers\\Aurora.scr");
    EXPECT_EQ(standin::ShellCalls()[0].directory, u"C:\\Savers\\");
}

TEST_F(Install, WithoutReadmeTheProgramEndsAtOnce) {
    TestPackage pkg;
    TSetupHeader header = MakeHeader(pkg);
    header.Raw[hdr::MenuShortcutsFlag] = 1;
    auto& f = StartImage(AssembleImage(pkg, header));
    f.edDirectory.SetCaption(u"C:\\Savers\\");
    f.btnNext.Click();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageFinished);
    EXPECT_TRUE(f.Window.Closed());
    EXPECT_EQ(form_->ExitCode(), kExitDone);
    EXPECT_EQ(FilesIn(u"C:\\Savers"), (std::set<std::string>{"Aurora.scr", "uninstall Aurora.exe"}));
    EXPECT_EQ(FilesIn(std::u16string(kPrograms) + u"\\Aurora"),
              (std::set<std::string>{"Preview Aurora.lnk", "Uninstall Aurora.lnk"}))
        << "no readme link without a readme";
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey)) << "not asked for";
    EXPECT_TRUE(FilesIn(kDesktop).empty());
    ASSERT_EQ(standin::ShellCalls().size(), 1u) << "no powercfg either";
}

TEST_F(Install, TranslatedNames) {
    TestPackage pkg = Everything();
    pkg.license.clear();
    pkg.lang = u"Setup\r\nUninstall=D\u00c9INSTALLIEREN\r\nReadme=Liesmich\r\nPreview=Vorschau\r\n"
               u"There was an error installing %s. Installation is not complete.=Fehler bei %s.\r\n";
    auto& f = StartImage(AssembleImage(pkg, AllFlags(pkg)));
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();
    // Only A to Z are lower-cased in the uninstaller's name; the link keeps the translation.
    EXPECT_EQ(FilesIn(u"C:\\Savers"),
              (std::set<std::string>{"Aurora.scr", "Aurora Liesmich.txt", "d\u00c9installieren Aurora.exe"}));
    EXPECT_EQ(FilesIn(std::u16string(kPrograms) + u"\\Aurora"),
              (std::set<std::string>{"Vorschau Aurora.lnk", "Liesmich.lnk", "D\u00c9INSTALLIEREN Aurora.lnk"}));
    EXPECT_EQ(FilesIn(kDesktop), (std::set<std::string>{"Vorschau Aurora.lnk"}));
}

TEST(UninstallerFileName, ReplacesTheExtension) {
    FreeLangStrings();
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"Aurora1.scr", u"uninstall Aurora1.exe"},
        {u"My.Saver.scr", u"uninstall My.Saver.exe"},
        {u"Aurora", u"uninstall Aurora.exe"},
        {u"Aurora.", u"uninstall Aurora.exe"},
    };
    for (const auto& [scr, expected] : cases) EXPECT_EQ(UninstallerFileName(scr), expected);
}

TEST_F(Install, UniqueFileNames) {
    struct Case {
        const char* what;
        std::u16string scrName;
        std::vector<std::u16string> taken;
        std::u16string remembered;
        std::u16string expected;
    };
    std::vector<std::u16string> nine;
    for (int i = 1; i <= 9; ++i) nine.push_back(u"Aurora" + text::DecimalText(i) + u".scr");
    auto withNine = nine;
    withNine.push_back(u"Aurora.scr");
    std::vector<std::u16string> ninetyNine = withNine;
    for (int i = 10; i <= 99; ++i) ninetyNine.push_back(u"Aurora" + text::DecimalText(i) + u".scr");
    const Case cases[] = {
        {"free", u"Aurora.scr", {}, u"", u"Aurora.scr"},
        {"taken", u"Aurora.scr", {u"Aurora.scr"}, u"", u"Aurora1.scr"},
        {"ten", u"Aurora.scr", withNine, u"", u"Aurora10.scr"},
        {"hundred", u"Aurora.scr", ninetyNine, u"", u"Auror100.scr"},
        // Shortened to MyWonder.scr on reading.
        {"long name", u"MyWonderfulSaver.scr", {u"MyWonder.scr"}, u"", u"MyWonde1.scr"},
        {"remembered here", u"Aurora.scr", {u"Aurora.scr"}, u"C:\\Savers\\Old.scr", u"Old.scr"},
        {"remembered, free name", u"Aurora.scr", {}, u"C:\\Savers\\Old.scr", u"Aurora.scr"},
        {"remembered elsewhere", u"Aurora.scr", {u"Aurora.scr"}, u"C:\\Other\\Aurora.scr", u"Aurora1.scr"},
        // The same folder in other letters; the name goes into the folder as typed.
        {"remembered, other case", u"Aurora.scr", {u"Aurora.scr"}, u"C:\\SAVERS\\Old.scr", u"Old.scr"},
        {"remembered, climbing out", u"Aurora.scr", {u"Aurora.scr"}, u"C:\\Savers\\../Other/Old.scr", u"Aurora1.scr"},
        {"remembered, out and back", u"Aurora.scr", {u"Aurora.scr"}, u"C:\\Savers\\x\\..\\Old.scr", u"Old.scr"},
        {"remembered, no screensaver", u"Aurora.scr", {u"Aurora.scr", u"notes.txt"}, u"C:\\Savers\\notes.txt",
         u"Aurora1.scr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(drive_.Host(u"C:\\Savers"));
        fs::create_directories(drive_.Host(u"C:\\Savers"));
        for (const auto& name : c.taken) drive_.WriteFile(u"C:\\Savers\\" + name, "theirs");
        standin::ResetRegistry();
        if (!c.remembered.empty()) standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"FileName_", c.remembered);
        TestPackage pkg;
        pkg.scrName = c.scrName;
        pkg.title = u"Aurora";
        auto& f = Start(pkg);
        std::u16string name = u"C:\\Savers\\" + std::u16string(text::FileNamePart(f.Package.SetupHeader.ScrFileName()));
        ASSERT_TRUE(f.MakeUniqueFileName(name, u"C:\\Savers\\"));
        EXPECT_EQ(name, u"C:\\Savers\\" + c.expected);

        f.edDirectory.SetCaption(u"C:\\Savers\\");
        f.btnNext.Click();
        EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\" + c.expected), pkg.scr);
        for (const auto& other : c.taken)
            if (other != c.expected) EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\" + other), "theirs");
        EXPECT_EQ(standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_"), u"C:\\Savers\\" + c.expected);
    }
}

TEST_F(Install, RememberedValueOfAnotherTypeCountsAsNone) {
    Put(u"C:\\Savers\\Aurora.scr", "theirs");
    standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"FileName_", u"C:\\Savers\\Aurora.scr", false);
    auto& f = InstallInto(TestPackage{}, u"C:\\Savers");
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), "theirs");
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora1.scr"), TestPackage{}.scr);
    EXPECT_TRUE(f.Window.Closed());
}

TEST_F(Install, CopyRunsInChunksWithProgressWhileBusy) {
    TestPackage pkg;
    pkg.scr = Payload(250000);
    const std::string image = BuildImage(pkg);
    struct Pass {
        int position;
        bool busy, formEnabled;
        std::size_t copied;
    };
    std::vector<Pass> passes;
    standin::SetMessagePump([&] {
        passes.push_back({form_->ProgressBar.Position(), standin::BusyCursor(), form_->Window.Enabled(),
                          static_cast<std::size_t>(fs::file_size(drive_.Host(u"C:\\Savers\\Aurora.scr")))});
    });
    standin::SetClockStep(40);  // a chunk takes as long as the bar may go unpainted
    auto& f = StartImage(image);
    f.ProgressBar.SetPosition(42);  // the bar is not reset before the copy
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();

    const std::int64_t start = static_cast<std::int64_t>(pkg.stub.size());
    const std::int64_t size = static_cast<std::int64_t>(image.size());
    const std::size_t chunks[] = {100001, 100001, 49998};
    ASSERT_EQ(passes.size(), 3u);
    std::int64_t position = start;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        position += static_cast<std::int64_t>(chunks[i]);
        copied += chunks[i];
        EXPECT_EQ(passes[i].position, static_cast<int>(std::nearbyint(100.0 * double(position) / double(size))));
        EXPECT_TRUE(passes[i].busy);
        EXPECT_FALSE(passes[i].formEnabled);
        EXPECT_EQ(passes[i].copied, copied);
    }
    EXPECT_EQ(standin::UiTrace(), (std::vector<std::string>{"busy", "form disabled", "form enabled", "idle"}));
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), pkg.scr);
    EXPECT_TRUE(f.Window.Enabled());
}

TEST_F(Install, EmptyPayloadInstallsAnEmptyFile) {
    TestPackage pkg;
    pkg.scr.clear();
    auto& f = Start(pkg);
    f.ProgressBar.SetPosition(7);
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_TRUE(fs::is_regular_file(drive_.Host(u"C:\\Savers\\Aurora.scr")));
    EXPECT_EQ(fs::file_size(drive_.Host(u"C:\\Savers\\Aurora.scr")), 0u);
    EXPECT_EQ(f.ProgressBar.Position(), 7) << "the loop did not run";
}

// Each way the copy can fail leaves nothing of the installation behind.
TEST_F(Install, FailedCopyLeavesNothing) {
    TestPackage pkg = Everything();
    pkg.license.clear();
    const TSetupHeader header = AllFlags(pkg);
    const auto payload = static_cast<long long>(pkg.scr.size());
    const auto readme = static_cast<long long>(pkg.readme.size());  // saved as 8-bit text
    const auto uninstallerHead = static_cast<long long>(pkg.stub.size() + TextsBlock(pkg).size());
    struct Case {
        const char* what;
        std::function<void()> arrange;
        bool beforeStart;  // a silent run installs while the form is created
    };
    const Case cases[] = {
        {"disk full in the screensaver", [&] { standin::SetFreeSpace(payload / 2); }, true},
        {"disk full in the uninstaller's stub", [&] { standin::SetFreeSpace(payload + readme + 30); }, true},
        {"disk full in the uninstaller's header",
         [&] { standin::SetFreeSpace(payload + readme + uninstallerHead + 100); }, true},
        {"readme cannot be saved", [] { standin::LockFile(u"C:\\Savers\\New\\Aurora Readme.txt"); }, true},
        {"uninstaller cannot be created", [] { standin::LockFile(u"C:\\Savers\\New\\uninstall Aurora.exe"); }, true},
        {"program file cut short", [&] { fs::resize_file(program_, 64 + pkg.scr.size() / 2); }, false},
    };
    for (const bool silent : {false, true}) {
        for (const auto& c : cases) {
            if (silent && !c.beforeStart) continue;
            SCOPED_TRACE(std::string(c.what) + (silent ? ", silent" : ""));
            standin::Reset();
            SetUp();
            fs::remove_all(drive_.Host(u"C:\\Savers"));
            fs::create_directories(drive_.Host(u"C:\\Savers"));
            std::ofstream(drive_.Host(u"C:\\Windows\\system32\\powercfg.exe")) << "MZ";
            int exitCode = kExitDone;
            if (silent) {
                program_ = fs::path(drive_.Root()) / "setup.exe";
                c.arrange();
                InstallAsProgram(program_, AssembleImage(pkg, header));
                exitCode = SetupMain(u"setup.exe -silent C:\\Savers\\New");
                EXPECT_TRUE(standin::Messages().empty());
                EXPECT_FALSE(platform::Application::ShowMainForm());
            } else {
                auto& f = StartImage(AssembleImage(pkg, header));
                c.arrange();
                f.edDirectory.SetCaption(u"C:\\Savers\\New");
                f.btnNext.Click();
                ASSERT_EQ(standin::Messages().size(), 1u);
                EXPECT_EQ(standin::Messages()[0].text, kInstallError);
                EXPECT_EQ(standin::Messages()[0].caption, u"Aurora Setup");
                EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONERROR_);
                EXPECT_TRUE(f.Window.Closed());
                exitCode = f.ExitCode();
            }
            EXPECT_EQ(exitCode, kExitInstallFailed);
            EXPECT_FALSE(fs::exists(drive_.Host(u"C:\\Savers\\New"))) << "the folder it made goes too";
            EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
            EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, kUserKey));
            EXPECT_FALSE(fs::exists(drive_.Host(std::u16string(kPrograms) + u"\\Aurora")));
            EXPECT_TRUE(FilesIn(kDesktop).empty());
            for (const auto& call : standin::ShellCalls()) EXPECT_EQ(call.verb, u"install") << "no powercfg";
        }
    }
}

TEST_F(Install, FailureKeepsWhatWasThereBefore) {
    // The remembered file of an earlier installation would be replaced, but only by a whole one.
    Put(u"C:\\Savers\\Aurora.scr", "earlier");
    drive_.WriteFile(u"C:\\Savers\\notes.txt", "mine");
    standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"FileName_", u"C:\\Savers\\Aurora.scr");
    standin::SetFreeSpace(3);
    auto& f = InstallInto(TestPackage{}, u"C:\\Savers");
    EXPECT_EQ(form_->ExitCode(), kExitInstallFailed);
    EXPECT_TRUE(f.Window.Closed());
    EXPECT_EQ(FilesIn(u"C:\\Savers"), (std::set<std::string>{"Aurora.scr", "notes.txt"}));
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), "earlier");
    EXPECT_EQ(standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_"), u"C:\\Savers\\Aurora.scr")
        << "the record of the earlier installation stays";
}

TEST_F(Install, TargetThatCannotBeCreatedReturnsToTheDirectoryPage) {
    Put(u"C:\\Savers\\Old.scr", "earlier");
    drive_.WriteFile(u"C:\\Savers\\Aurora.scr", "theirs");
    standin::SetRegValue(RegRoot::CurrentUser, kUserKey, u"FileName_", u"C:\\Savers\\Old.scr");
    // The new file cannot be made beside the earlier one.
    standin::LockFile(u"C:\\Savers\\Old.scr.new");
    auto& f = InstallInto(TestPackage{}, u"C:\\Savers");
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, kAccessDenied);
    EXPECT_EQ(standin::Messages()[0].caption, u"Screensaver Setup");
    EXPECT_EQ(f.Notebook.PageIndex(), kPageDirectory);
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Savers\\") << "the folder as it was accepted";
    EXPECT_TRUE(f.btnNext.Visible());
    EXPECT_FALSE(f.Window.Closed());
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), "theirs");
    EXPECT_EQ(FilesIn(u"C:\\Savers"), (std::set<std::string>{"Aurora.scr", "Old.scr"}));

    // Another folder then works.
    standin::Messages().clear();
    f.edDirectory.SetCaption(u"C:\\Other");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(drive_.ReadFile(u"C:\\Other\\Aurora.scr"), TestPackage{}.scr);
    EXPECT_EQ(form_->ExitCode(), kExitDone);
}

// An elevated run refuses a folder other users prepared as one it cannot write to: back to
// the Directory page with the message, nothing written into it; another folder then works.
TEST_F(Install, ElevatedRunRefusesAFolderOthersPrepared) {
    standin::SetElevated(true);
    Put(u"C:\\Savers\\Aurora.scr", "theirs");
    standin::SetOthersAccess(u"C:\\Savers", platform::kOthersOwnIt);
    auto& f = InstallInto(TestPackage{}, u"C:\\Savers");
    ASSERT_EQ(standin::Messages().size(), 1u);
    EXPECT_EQ(standin::Messages()[0].text, kAccessDenied);
    EXPECT_EQ(f.Notebook.PageIndex(), kPageDirectory);
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Savers");
    EXPECT_EQ(FilesIn(u"C:\\Savers"), (std::set<std::string>{"Aurora.scr"}));
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), "theirs");

    standin::Messages().clear();
    f.edDirectory.SetCaption(u"C:\\Other");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(drive_.ReadFile(u"C:\\Other\\Aurora.scr"), TestPackage{}.scr);
    EXPECT_EQ(form_->ExitCode(), kExitDone);
}

TEST_F(Install, PreviewReadsButChangesNothing) {
    for (const bool withReadme : {false, true}) {
        SCOPED_TRACE(withReadme ? "readme" : "no readme");
        standin::Reset();
        SetUp();
        TestPackage pkg;
        pkg.scr = Payload(150000);
        if (withReadme) pkg.readme = u"Hi";
        auto& f = StartImage(AssembleImage(pkg, AllFlags(pkg)), u"setup.exe -previewonly");
        f.edDirectory.SetCaption(u"");
        f.btnNext.Click();
        ASSERT_EQ(standin::Messages().size(), 1u);
        EXPECT_EQ(standin::Messages()[0].text,
                  u"After successful installation screensaver setup would open Windows Screen Saver Settings. This "
                  u"window is not displayed in setup preview mode.");
        EXPECT_EQ(standin::Messages()[0].caption, u"Aurora");
        EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONINFORMATION_);
        EXPECT_EQ(f.edDirectory.Caption(), u"\\");
        EXPECT_GT(f.ProgressBar.Position(), 90) << "the bar moved with the reading";
        EXPECT_EQ(f.Notebook.PageIndex(), withReadme ? kPageReadme : kPageFinished);
        EXPECT_EQ(f.Window.Closed(), !withReadme);
        EXPECT_TRUE(standin::ShellCalls().empty());
        EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
        EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, kUserKey));
        EXPECT_TRUE(FilesIn(kDesktop).empty());
        EXPECT_TRUE(FilesIn(kPrograms).empty());
        EXPECT_EQ(form_->ExitCode(), kExitDone);
    }
}

TEST_F(Install, SilentInstallsWithoutWindowOrSettingsDialog) {
    TestPackage pkg = Everything();
    InstallAsProgram(fs::path(drive_.Root()) / "setup.exe", AssembleImage(pkg, AllFlags(pkg)));
    EXPECT_EQ(SetupMain(u"setup.exe -silent C:\\Silent"), kExitDone);
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_FALSE(platform::Application::ShowMainForm());
    EXPECT_EQ(drive_.ReadFile(u"C:\\Silent\\Aurora.scr"), pkg.scr);
    EXPECT_TRUE(FilesIn(u"C:\\Silent").count("uninstall Aurora.exe"));
    EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, kUninstallKey, u"UninstallString"),
              u"\"C:\\Silent\\uninstall Aurora.exe\"");
    for (const auto& call : standin::ShellCalls()) EXPECT_NE(call.verb, u"install");
}

TEST_F(Install, RegistrationFailuresAreSwallowed) {
    TestPackage pkg;
    standin::DenyRegistryWrites(RegRoot::LocalMachine);
    standin::SetSpecialFolder(platform::CSIDL_PROGRAMS_, u"Q:\\Nowhere");
    standin::FailShellLink(standin::LinkStep::None, 0);
    auto& f = StartImage(AssembleImage(pkg, AllFlags(pkg)));
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(form_->ExitCode(), kExitDone);
    EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
    EXPECT_EQ(FilesIn(kDesktop), (std::set<std::string>{"Preview Aurora.lnk"})) << "the desktop link still comes";
    EXPECT_EQ(standin::RegString(RegRoot::CurrentUser, kUserKey, u"FileName_"), u"C:\\Savers\\Aurora.scr");
    for (const auto& call : standin::ShellCalls()) EXPECT_EQ(call.verb, u"install") << "no powercfg.exe here";
}

TEST_F(Install, EachMenuLinkStandsAlone) {
    TestPackage pkg = Everything();
    pkg.license.clear();
    // The readme link's target folder cannot hold the link: a name too long for the shell.
    pkg.title = std::u16string(31, u'T');
    auto& f = StartImage(AssembleImage(pkg, AllFlags(pkg)));
    f.edDirectory.SetCaption(u"C:\\Savers");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAMS_, u"C:\\" + std::u16string(190, u'p'));
    fs::create_directories(drive_.Host(u"C:\\" + std::u16string(190, u'p')));
    f.btnNext.Click();
    const std::u16string menu = u"C:\\" + std::u16string(190, u'p') + u"\\" + pkg.title;
    // "Preview <title>" and "Uninstall <title>" exceed 260 units with this folder, "Readme" does not.
    EXPECT_EQ(FilesIn(menu), (std::set<std::string>{"Readme.lnk"}));
    EXPECT_EQ(standin::PendingComInitialisations(), 0);
}

// Names come from a package nobody vouches for: one that is no plain Windows name would put a
// file or a link outside its folder, or make the uninstall entry the key of every program's.
TEST_F(Install, ANameThatIsNoPlainNameDamagesThePackage) {
    struct Case {
        const char* what;
        std::u16string title, scrName, lang;
    };
    const Case cases[] = {
        {"title a backslash", u"\\", u"Aurora.scr", u""},
        {"title climbing", u"..\\Aurora", u"Aurora.scr", u""},
        {"title empty", u"", u"Aurora.scr", u""},
        {"title dots", u"..", u"Aurora.scr", u""},
        {"title a device", u"NUL", u"Aurora.scr", u""},
        {"file name dots", u"Aurora", u"..", u""},
        {"file name a device", u"Aurora", u"COM1.scr", u""},
        {"file name in a folder, dots", u"Aurora", u"sub\\..", u""},
        {"translated Readme climbing", u"Aurora", u"Aurora.scr", u"Setup\r\nReadme=..\\..\\Notes\r\n"},
        {"translated Preview with a slash", u"Aurora", u"Aurora.scr", u"Setup\r\nPreview=a/b\r\n"},
        {"translated Uninstall with a colon", u"Aurora", u"Aurora.scr", u"Setup\r\nUninstall=x:y\r\n"},
    };
    const std::u16string other = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other";
    for (const TrailerKind role : {TrailerKind::Installer, TrailerKind::Uninstaller}) {
        for (const bool silent : {true, false}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.what) + (role == TrailerKind::Uninstaller ? ", uninstaller" : "") +
                             (silent ? ", silent" : ""));
                standin::Reset();
                SetUp();
                standin::SetRegValue(RegRoot::LocalMachine, other, u"DisplayName", u"Other");
                TestPackage pkg;
                pkg.readme = u"Read me";
                pkg.title = c.title;
                pkg.scrName = c.scrName;
                pkg.lang = c.lang;
                pkg.trailer = role;
                fs::create_directories(drive_.Host(u"C:\\Savers"));
                const std::u16string program = role == TrailerKind::Installer ? u"C:\\setup.exe" : u"C:\\Savers\\uninstall.exe";
                drive_.WriteFile(program, AssembleImage(pkg, AllFlags(pkg)));
                standin::SetModulePath(program);
                standin::SetMessageAnswer(platform::IDYES_);

                EXPECT_EQ(SetupMain(u"setup.exe" + std::u16string(silent ? u" -silent C:\\Savers" : u"")), kExitDamaged);
                if (silent) {
                    EXPECT_TRUE(standin::Messages().empty());
                } else {
                    ASSERT_EQ(standin::Messages().size(), 1u);
                    EXPECT_EQ(standin::Messages()[0].text, u"The file is corrupted. Setup can not continue.");
                }
                EXPECT_EQ(FilesIn(u"C:\\Savers").size(), role == TrailerKind::Installer ? 0u : 1u) << "nothing made";
                EXPECT_EQ(standin::RegString(RegRoot::LocalMachine, other, u"DisplayName"), u"Other");
                EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, u"Software\\Glimmerdeck"));
                EXPECT_TRUE(FilesIn(kPrograms).empty());
                EXPECT_TRUE(FilesIn(kDesktop).empty());
                EXPECT_TRUE(FilesIn(kTemp).empty()) << "no hand-off";
                EXPECT_TRUE(standin::ShellCalls().empty());
            }
        }
    }
}

TEST(Readme, SavedAsAnsiWhenExactElseUtf8) {
    EXPECT_EQ(EncodeReadme(u"Gr\u00fc\u00dfe\r\n"), "Gr\xfc\xdf" "e\r\n");
    EXPECT_EQ(EncodeReadme(u""), "");
    EXPECT_EQ(EncodeReadme(u"\u65e5\u672c \u00fc"), "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC");
}

TEST(UnsignStubHeaders, ClearsOnlyTheCertificateEntryAndChecksum) {
    // A minimal PE32 header: e_lfanew 0x80, 16 data directories.
    std::string pe = PeStub(0x200);
    const std::size_t opt = 0x80 + 24;
    for (std::size_t i = opt + 64; i < opt + 68; ++i) pe[i] = '\x55';         // checksum
    for (std::size_t i = opt + 96; i < opt + 96 + 128; ++i) pe[i] = '\x11';   // every directory
    std::string expected = pe;
    std::fill_n(expected.begin() + static_cast<long>(opt + 64), 4, '\0');
    std::fill_n(expected.begin() + static_cast<long>(opt + 96 + 32), 8, '\0');

    std::string signedHeaders = pe;
    UnsignStubHeaders(reinterpret_cast<std::uint8_t*>(signedHeaders.data()), signedHeaders.size());
    EXPECT_EQ(signedHeaders, expected);

    std::string unsignedHeaders = pe;  // no certificate table: the checksum stays
    std::fill_n(unsignedHeaders.begin() + static_cast<long>(opt + 96 + 32), 8, '\0');
    std::string copy = unsignedHeaders;
    UnsignStubHeaders(reinterpret_cast<std::uint8_t*>(copy.data()), copy.size());
    EXPECT_EQ(copy, unsignedHeaders);

    for (const std::size_t cut : {std::size_t{0x40}, opt + 96 + 36}) {  // headers cut short
        std::string shortHeaders = pe.substr(0, cut);
        UnsignStubHeaders(reinterpret_cast<std::uint8_t*>(shortHeaders.data()), shortHeaders.size());
        EXPECT_EQ(shortHeaders, pe.substr(0, cut));
    }
    std::string fewDirectories = pe;  // four directories: no certificate entry at all
    fewDirectories[opt + 92] = 4;
    copy = fewDirectories;
    UnsignStubHeaders(reinterpret_cast<std::uint8_t*>(copy.data()), copy.size());
    EXPECT_EQ(copy, fewDirectories);
}

}  // namespace

// An installer that carries a checksum installs only the bytes it was built with: a damaged
// download is refused after the copy, in any of its parts, and leaves nothing behind.
TEST_F(Install, ChecksumRefusesADamagedPackage) {
    constexpr char16_t kDamaged[] =
        u"The setup file of Aurora is damaged and nothing was installed. Please download it again.";
    TestPackage pkg = Everything();
    pkg.license.clear();
    pkg.scr = Payload(250000);
    const TSetupHeader header = AllFlags(pkg);
    const std::string intact = WithChecksum(AssembleImage(pkg, header), pkg.stub.size());
    const std::size_t payloadAt = pkg.stub.size() + kChecksumRecordSize;
    const std::size_t textsAt = payloadAt + pkg.scr.size();
    auto flipped = [&](std::size_t at) {
        std::string image = intact;
        image[at] = static_cast<char>(image[at] ^ 0x01);
        return image;
    };
    struct Case {
        const char* what;
        std::string image;
    };
    const Case damaged[] = {
        {"first payload byte", flipped(payloadAt)},
        {"payload byte in the last chunk", flipped(textsAt - 1)},
        {"readme text", flipped(textsAt + 1)},
        {"reserved header byte", flipped(intact.size() - kHeaderAndTrailer + hdr::Reserved3)},
        {"stated checksum", flipped(payloadAt - 1)},
    };
    for (const bool silent : {false, true}) {
        for (const auto& c : damaged) {
            SCOPED_TRACE(std::string(c.what) + (silent ? ", silent" : ""));
            standin::Reset();
            SetUp();
            fs::remove_all(drive_.Host(u"C:\\Savers"));
            fs::create_directories(drive_.Host(u"C:\\Savers"));
            int exitCode = kExitDone;
            if (silent) {
                InstallAsProgram(fs::path(drive_.Root()) / "setup.exe", c.image);
                exitCode = SetupMain(u"setup.exe -silent C:\\Savers\\New");
                EXPECT_TRUE(standin::Messages().empty());
            } else {
                auto& f = StartImage(c.image);
                f.edDirectory.SetCaption(u"C:\\Savers\\New");
                f.btnNext.Click();
                ASSERT_EQ(standin::Messages().size(), 1u);
                EXPECT_EQ(standin::Messages()[0].text, kDamaged);
                EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONERROR_);
                EXPECT_TRUE(f.Window.Closed());
                exitCode = f.ExitCode();
            }
            EXPECT_EQ(exitCode, kExitDamaged);
            EXPECT_FALSE(fs::exists(drive_.Host(u"C:\\Savers\\New")));
            EXPECT_FALSE(standin::RegKeyExists(RegRoot::LocalMachine, kUninstallKey));
            EXPECT_FALSE(standin::RegKeyExists(RegRoot::CurrentUser, kUserKey));
            EXPECT_TRUE(FilesIn(kDesktop).empty());
            EXPECT_TRUE(standin::ShellCalls().empty()) << "no settings opened for a damaged screensaver";
        }
    }

    // The intact installer installs, and its uninstaller carries no record of its own.
    standin::Reset();
    SetUp();
    auto& f = StartImage(intact);
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_EQ(f.ExitCode(), kExitDone);
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), pkg.scr);
    TestPackage asUninstaller = pkg;
    asUninstaller.trailer = TrailerKind::Uninstaller;
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\uninstall Aurora.exe"), AssembleImage(asUninstaller, header));
}

// While it is written the screensaver goes with its handle, so that an ended process leaves
// no partial file; once whole it stays.
TEST_F(Install, TheScreensaverStaysOnlyOnceWhole) {
    TestPackage pkg;
    pkg.scr = Payload(250000);
    std::vector<bool> pending;
    standin::SetMessagePump([&] { pending.push_back(standin::DeleteOnClosePending(u"C:\\Savers\\Aurora.scr")); });
    standin::SetClockStep(40);
    auto& f = InstallInto(pkg, u"C:\\Savers");
    EXPECT_EQ(f.ExitCode(), kExitDone);
    EXPECT_EQ(pending, std::vector<bool>(3, true));
    EXPECT_FALSE(standin::DeleteOnClosePending(u"C:\\Savers\\Aurora.scr"));
    EXPECT_FALSE(standin::DeleteOnClosePending(u"C:\\Savers\\uninstall Aurora.exe"));
    EXPECT_EQ(drive_.ReadFile(u"C:\\Savers\\Aurora.scr"), pkg.scr);
    EXPECT_TRUE(fs::exists(drive_.Host(u"C:\\Savers\\uninstall Aurora.exe")));
}

// A fast copy repaints the bar and passes the messages on at a bounded rate, not after every
// chunk; the bar still ends on the last chunk's percentage.
TEST_F(Install, ProgressIsRepaintedAtABoundedRate) {
    TestPackage pkg;
    constexpr std::size_t kChunk = 100001, kChunks = 30;
    pkg.scr = Payload(kChunk * kChunks);
    const std::string image = BuildImage(pkg);
    std::vector<int> passes;
    int repaints = 0;
    standin::SetMessagePump([&] { passes.push_back(form_->ProgressBar.Position()); });
    standin::SetClockStep(10);  // each chunk takes 10 ms
    auto& f = StartImage(image);
    const int paintsBefore = standin::RepaintCount(f.ProgressBar);
    f.edDirectory.SetCaption(u"C:\\Savers");
    f.btnNext.Click();
    repaints = standin::RepaintCount(f.ProgressBar) - paintsBefore;

    const auto size = static_cast<double>(image.size());
    auto percentAfter = [&](std::size_t chunks) {
        return static_cast<int>(std::nearbyint(100.0 * double(pkg.stub.size() + chunks * kChunk) / size));
    };
    // 40 ms apart at least: the first chunk, then every fourth.
    std::vector<int> expected;
    for (std::size_t chunk = 1; chunk <= kChunks; chunk += 4) expected.push_back(percentAfter(chunk));
    EXPECT_EQ(passes, expected);
    EXPECT_EQ(repaints, static_cast<int>(expected.size()));
    EXPECT_EQ(f.ProgressBar.Position(), percentAfter(kChunks));
    EXPECT_EQ(f.ExitCode(), kExitDone);
}
