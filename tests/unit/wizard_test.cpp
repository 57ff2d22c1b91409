#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "common/lang.h"
#include "image_builder.h"
#include "setup_form.h"
#include "platform/standin/standin.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "setup/setup.h"
#include "setupmain/cmdline.h"
#include "setupmain/form.h"

namespace fs = std::filesystem;

namespace {

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        dir_ = fs::temp_directory_path() / ("wizard_test_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "drive_c");
        standin::MapDrive(u'C', (dir_ / "drive_c").string());
        standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILES_, u"C:\\Program Files");
        fs::create_directories(dir_ / "drive_c" / "Program Files");
    }
    void TearDown() override {
        form_.reset();
        FreeLangStrings();
        fs::remove_all(dir_);
    }

    TestForm& Start(const TestPackage& pkg, const std::u16string& commandLine = u"setup.exe") {
        InstallAsProgram(dir_ / "setup.exe", BuildImage(pkg));
        form_ = CreateSetupForm(commandLine);
        return *form_;
    }

    static TestPackage Licensed(std::uint8_t mode = 1) {
        TestPackage s;
        s.license = u"Terms";
        s.licenseMode = mode;
        return s;
    }

    struct Buttons {
        std::u16string next;
        bool nextVisible, nextEnabled, backVisible, cancelEnabled;
    };
    static Buttons Read(TSCRSetup& f) {
        return {f.btnNext.Caption(), f.btnNext.Visible(), f.btnNext.Enabled(), f.btnBack.Visible(),
                f.btnCancel.Enabled()};
    }

    fs::path dir_;
    std::unique_ptr<TestForm> form_;
};

TEST_F(Wizard, StartPage) {
    struct Case {
        std::uint8_t mode;
        bool licenceText;
        bool skip;
        int page;
    };
    const Case cases[] = {
        {1, true, false, kPageLicense}, {2, true, true, kPageLicense},    {3, true, false, kPageLicense},
        {0, true, false, kPageDirectory}, {4, true, true, kPageReady},    {1, false, false, kPageDirectory},
        {1, false, true, kPageReady},   {0, false, false, kPageDirectory}, {255, true, false, kPageDirectory},
    };
    for (const auto& c : cases) {
        TestPackage pkg;
        pkg.licenseMode = c.mode;
        if (c.licenceText) pkg.license = u"Terms";
        pkg.skipDirectoryPage = c.skip;
        auto& f = Start(pkg);
        EXPECT_EQ(f.Notebook.PageIndex(), c.page) << int(c.mode) << c.licenceText << c.skip;
        EXPECT_EQ(f.lbTitle.Caption(), f.PageTitles[static_cast<std::size_t>(c.page)]);
        EXPECT_FALSE(f.btnBack.Visible()) << "no page before the start page";
        EXPECT_EQ(f.edLicense.Caption(), c.page == kPageLicense ? u"Terms" : u"");
    }
}

TEST_F(Wizard, ButtonsOfEveryPage) {
    auto& f = Start(Licensed());
    EXPECT_EQ(f.Window.Caption(), u"Aurora Setup");
    const Buttons license = Read(f);
    EXPECT_EQ(license.next, u"Next >");
    EXPECT_TRUE(license.nextVisible);
    EXPECT_FALSE(license.nextEnabled);
    EXPECT_FALSE(license.backVisible);
    EXPECT_TRUE(license.cancelEnabled);

    f.rbAccept.Click();
    f.btnNext.Click();
    ASSERT_EQ(f.Notebook.PageIndex(), kPageDirectory);
    const Buttons dir = Read(f);
    EXPECT_EQ(dir.next, u"Install");
    EXPECT_TRUE(dir.nextEnabled);
    EXPECT_TRUE(dir.backVisible) << "the licence page lies behind";

    for (int p : {kPageReady, kPageProgress, kPageReadme, kPageFinished}) {
        f.Notebook.SetPageIndex(p);
        const Buttons b = Read(f);
        EXPECT_TRUE(b.nextVisible) << p;
        EXPECT_EQ(b.next, p == kPageReady ? u"Install" : p == kPageFinished ? u"Finish" : u"Next >") << p;
        EXPECT_EQ(b.backVisible, p == kPageReady) << p;
        EXPECT_EQ(b.cancelEnabled, p == kPageReady) << p;
        EXPECT_EQ(f.lbTitle.Caption(), f.PageTitles[static_cast<std::size_t>(p)]);
        EXPECT_EQ(f.lbDescription.Caption(), f.PageDescriptions[static_cast<std::size_t>(p)]);
    }
    // Once the installation pages were shown, Cancel stays disabled.
    f.Notebook.SetPageIndex(kPageDirectory);
    EXPECT_FALSE(f.btnCancel.Enabled());
}

TEST_F(Wizard, LicenceAcceptance) {
    for (std::uint8_t mode : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
        auto& f = Start(Licensed(mode));
        EXPECT_TRUE(f.rbNotAccept.Checked());
        EXPECT_FALSE(f.btnNext.Enabled());
        f.edLicense.SetFocus();
        f.rbAccept.Click();
        EXPECT_TRUE(f.rbAccept.Checked());
        EXPECT_FALSE(f.rbNotAccept.Checked());
        EXPECT_TRUE(f.btnNext.Enabled());
        EXPECT_TRUE(f.btnNext.Focused());
        f.rbNotAccept.Click();
        EXPECT_FALSE(f.btnNext.Enabled());
        f.btnNext.Click();
        EXPECT_EQ(f.Notebook.PageIndex(), kPageLicense) << "a disabled Next does nothing";
    }
}

TEST_F(Wizard, NextAndBackFlows) {
    auto& f = Start(Licensed());
    f.rbAccept.Click();
    f.btnNext.Click();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageDirectory);
    f.btnBack.Click();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageLicense);
    EXPECT_FALSE(f.btnBack.Visible());
    EXPECT_TRUE(f.btnNext.Enabled()) << "the licence stays accepted";

    auto pkg = Licensed();
    pkg.skipDirectoryPage = true;
    auto& g = Start(pkg);
    g.rbAccept.Click();
    g.btnNext.Click();
    EXPECT_EQ(g.Notebook.PageIndex(), kPageReady);
    EXPECT_TRUE(g.btnBack.Visible());
    g.btnBack.Click();
    EXPECT_EQ(g.Notebook.PageIndex(), kPageLicense) << "Back from Ready passes over the Directory page";
}

TEST_F(Wizard, BackOnLaterPages) {
    auto& f = Start(Licensed());
    f.Notebook.SetPageIndex(kPageReadme);
    f.btnBackClick();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageProgress);
    f.Notebook.SetPageIndex(kPageLicense);
    f.btnBackClick();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageLicense);
}

TEST_F(Wizard, ReadmeAndFinishPages) {
    auto& f = Start(Licensed());
    f.rbAccept.Click();
    f.Notebook.SetPageIndex(kPageReadme);
    f.btnNext.Click();
    EXPECT_EQ(f.Notebook.PageIndex(), kPageFinished);
    EXPECT_FALSE(f.Window.Closed());
    f.btnNext.Click();
    EXPECT_TRUE(f.Window.Closed()) << "Finish ends the program";
}

TEST_F(Wizard, PagesAreMadeWhenFirstShownFromWhatWasSetBefore) {
    TestPackage pkg = Licensed();
    pkg.readme = u"Read me";
    auto& f = Start(pkg);
    EXPECT_NE(f.edLicense.Handle(), nullptr);
    for (platform::Control* c : {&f.btnBrowse, &f.edDirectory, &f.Label5, &f.ProgressBar, &f.edReadme, &f.Label4})
        EXPECT_EQ(c->Handle(), nullptr) << static_cast<int>(c->Kind());
    EXPECT_EQ(f.edDirectory.Caption(), u"") << "the default directory is found when a page needs it";

    f.rbAccept.Click();
    f.btnNext.Click();
    ASSERT_EQ(f.Notebook.PageIndex(), kPageDirectory);
    EXPECT_NE(f.edDirectory.Handle(), nullptr);
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Program Files\\Aurora\\");

    f.Notebook.SetPageIndex(kPageReadme);
    EXPECT_NE(f.edReadme.Handle(), nullptr);
    EXPECT_EQ(f.edReadme.Caption(), u"Read me");
    EXPECT_EQ(f.Label4.Handle(), nullptr) << "a page not shown yet";
}

TEST_F(Wizard, EscapeActivatesCancelBackOrNext) {
    auto& f = Start(Licensed());
    f.btnNext.SetFocus();
    f.FormKeyEscape();
    EXPECT_TRUE(f.Window.Closed()) << "Cancel on the licence page";

    auto& g = Start(Licensed());
    g.edLicense.SetFocus();
    g.FormKeyEscape();
    EXPECT_FALSE(g.Window.Closed()) << "the licence box keeps Escape";

    g.rbAccept.Click();
    g.Notebook.SetPageIndex(kPageReadme);
    g.btnNext.SetFocus();
    g.FormKeyEscape();
    EXPECT_EQ(g.Notebook.PageIndex(), kPageFinished) << "Cancel disabled, Back hidden: Next";
    g.FormKeyEscape();
    EXPECT_TRUE(g.Window.Closed()) << "Finish";

    auto& h = Start(Licensed());
    h.Notebook.SetPageIndex(kPageReadme);
    h.edReadme.SetFocus();
    h.FormKeyEscape();
    EXPECT_EQ(h.Notebook.PageIndex(), kPageReadme) << "the readme box keeps Escape";
}

TEST_F(Wizard, TranslatedCaptionsKeepTheirDecorations) {
    TestPackage pkg = Licensed();
    pkg.lang = u"Setup\r\nBack=Zur\u00fcck\r\nNext=Weiter\r\n&Browse=&Durchsuchen\r\nCancel=Abbrechen\r\n"
                u"Setup=Installation\r\nInstall=Installieren\r\nLicense Agreement=Lizenz\r\n"
                u"I &accept the agreement=Ich &stimme zu\r\nFinish=Fertig\r\n"
                u"When you are ready, click Next.=Zeile 1#13Zeile 2\r\n";
    auto& f = Start(pkg);
    EXPECT_EQ(f.Window.Caption(), u"Aurora Installation");
    EXPECT_EQ(f.btnBack.Caption(), u"< Zur\u00fcck");
    EXPECT_EQ(f.btnNext.Caption(), u"Weiter >");
    EXPECT_EQ(f.btnBrowse.Caption(), u"&Durchsuchen...");
    EXPECT_EQ(f.btnCancel.Caption(), u"Abbrechen");
    EXPECT_EQ(f.rbAccept.Caption(), u"Ich &stimme zu");
    EXPECT_EQ(f.rbNotAccept.Caption(), u"I &do not accept the agreement");
    EXPECT_EQ(f.Label3.Caption(), u"Zeile 1\r\nZeile 2");
    EXPECT_EQ(f.lbTitle.Caption(), u"Lizenz");
    f.Notebook.SetPageIndex(kPageDirectory);
    EXPECT_EQ(f.btnNext.Caption(), u"Installieren");
    f.Notebook.SetPageIndex(kPageFinished);
    EXPECT_EQ(f.btnNext.Caption(), u"Fertig");
    EXPECT_EQ(f.lbTitle.Caption(), u"Fertig");
}

TEST_F(Wizard, LinkShownAndOpenedThroughTheShell) {
    for (const std::u16string link : {u"https://example.com/aurora", u"MAILTO:saver@example.com?subject=Aurora"}) {
        standin::ShellCalls().clear();
        TestPackage pkg;
        pkg.link = link;
        auto& f = Start(pkg);
        EXPECT_TRUE(f.Link.Visible());
        EXPECT_EQ(f.Link.Caption(), link);
        f.Link.Click();
        ASSERT_EQ(standin::ShellCalls().size(), 1u);
        const auto& call = standin::ShellCalls()[0];
        EXPECT_TRUE(call.ownedByMainForm);
        EXPECT_EQ(call.verb, u"");
        EXPECT_EQ(call.file, link);
        EXPECT_EQ(call.parameters, u"");
        EXPECT_EQ(call.directory, u"C:\\Windows\\system32") << "not the folder the setup was started from";
        EXPECT_EQ(call.showCommand, platform::SW_SHOWNORMAL_);
    }

    auto& g = Start(TestPackage{});
    EXPECT_FALSE(g.Link.Visible());
}

TEST_F(Wizard, LinkOtherThanAWebAddressIsNeitherShownNorOpened) {
    for (const std::u16string link : {u"file:///C:/windows/notepad.exe", u"calc.exe", u"C:\\Windows\\notepad.exe",
                                      u"javascript:alert(1)", u"https://example.com/\" --flag"}) {
        TestPackage pkg;
        pkg.link = link;
        auto& f = Start(pkg);
        EXPECT_FALSE(f.Link.Visible()) << text::Utf16ToUtf8(link);
        f.Link.NativeClick();
        f.LinkClick();
        EXPECT_TRUE(standin::ShellCalls().empty()) << text::Utf16ToUtf8(link);
    }
}

TEST_F(Wizard, ReportedClicksActOnlyOnShowingEnabledControls) {
    struct Case {
        const char* name;
        TestPackage pkg;
        std::function<void(TSCRSetup&)> before;
        platform::Control TSCRSetup::*control;
        int page;
        bool closed;
    };
    const auto none = [](TSCRSetup&) {};
    const Case cases[] = {
        {"disabled Next on the licence page", Licensed(), none, &TSCRSetup::btnNext, kPageLicense, false},
        {"Next once accepted", Licensed(), [](TSCRSetup& f) { f.rbAccept.Click(); }, &TSCRSetup::btnNext,
         kPageDirectory, false},
        {"hidden Back on the first page", TestPackage{}, none, &TSCRSetup::btnBack, kPageDirectory, false},
        {"disabled Cancel on the readme page", Licensed(),
         [](TSCRSetup& f) { f.Notebook.SetPageIndex(kPageReadme); }, &TSCRSetup::btnCancel, kPageReadme, false},
        {"Cancel", Licensed(), none, &TSCRSetup::btnCancel, kPageLicense, true},
    };
    for (const auto& c : cases) {
        auto& f = Start(c.pkg);
        c.before(f);
        (f.*c.control).NativeClick();
        EXPECT_EQ(f.Notebook.PageIndex(), c.page) << c.name;
        EXPECT_EQ(f.Window.Closed(), c.closed) << c.name;
    }

    // A native radio button has checked itself before it reports the click.
    auto& g = Start(Licensed());
    g.rbAccept.SetChecked(true);
    g.rbAccept.NativeClick();
    EXPECT_TRUE(g.btnNext.Enabled());
    g.rbNotAccept.SetEnabled(false);
    g.rbNotAccept.SetChecked(true);
    g.rbNotAccept.NativeClick();
    EXPECT_TRUE(g.btnNext.Enabled()) << "a disabled radio button's handler does not run";
}

TEST_F(Wizard, FocusFollowsThePageOnlyFromInsideTheNotebook) {
    auto& f = Start(Licensed());
    f.rbAccept.Click();  // focuses Next, outside the notebook
    f.btnNext.Click();
    EXPECT_TRUE(f.btnNext.Focused());

    f.btnBack.Click();
    f.edLicense.SetFocus();
    f.Notebook.SetPageIndex(kPageDirectory);
    EXPECT_TRUE(f.btnBrowse.Focused()) << "first control of the Directory page in tab order";
}

TEST_F(Wizard, DefaultDirectoryAndBrowse) {
    TestPackage pkg;
    pkg.baseDir = "<Program Files>";
    pkg.subDir = "My Saver";
    auto& f = Start(pkg);
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Program Files\\My Saver\\");

    f.btnBrowse.Click();
    EXPECT_EQ(standin::LastBrowseStart(), u"C:\\Program Files\\My Saver\\");
    EXPECT_EQ(standin::LastBrowseText(), u"Browse");
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Program Files\\My Saver\\") << "Cancel changes nothing";

    const std::u16string chosen = u"D:\\Savers";
    standin::SetBrowseAnswer(&chosen);
    f.btnBrowse.Click();
    EXPECT_EQ(f.edDirectory.Caption(), u"D:\\Savers");
}

TEST_F(Wizard, RefusedDirectoryReturnsToTheDirectoryPage) {
    struct Case {
        std::u16string dir;
        std::u16string message;
    };
    const Case cases[] = {
        {u"Q:\\Nowhere\\", u"Unable to create the directory. Please select a different directory."},
        {u"no-such-relative-dir", u"Unable to create the directory. Please select a different directory."},
        {u"", u"Invalid directory. Please select an existing directory."},
    };
    for (const auto& c : cases) {
        standin::Messages().clear();
        auto pkg = Licensed();
        pkg.skipDirectoryPage = true;
        auto& f = Start(pkg);
        f.rbAccept.Click();
        f.btnNext.Click();
        ASSERT_EQ(f.Notebook.PageIndex(), kPageReady);
        f.edDirectory.SetCaption(c.dir);
        f.btnNext.Click();
        ASSERT_EQ(standin::Messages().size(), 1u) << text::Utf16ToUtf8(c.dir);
        EXPECT_EQ(standin::Messages()[0].text, c.message);
        EXPECT_EQ(standin::Messages()[0].caption, u"Screensaver Setup");
        EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONERROR_);
        EXPECT_EQ(f.Notebook.PageIndex(), kPageDirectory) << "the Directory page, even when it was skipped";
        EXPECT_EQ(f.btnNext.Caption(), u"Install");
        EXPECT_TRUE(f.btnNext.Visible());
        EXPECT_FALSE(f.btnCancel.Enabled());
        // Cancel is out of reach now: Escape takes Back, which is visible with a licence.
        f.FormKeyEscape();
        EXPECT_EQ(f.Notebook.PageIndex(), kPageLicense);
    }
}

TEST_F(Wizard, EscapeAfterRefusalWithoutLicenceClicksInstall) {
    auto& f = Start(TestPackage{});
    f.edDirectory.SetCaption(u"Q:\\Nowhere");
    f.btnNext.Click();
    ASSERT_EQ(standin::Messages().size(), 1u);
    f.FormKeyEscape();
    EXPECT_EQ(standin::Messages().size(), 2u) << "Install ran again and was refused again";
}

TEST_F(Wizard, AcceptedDirectoryGetsItsBackslash) {
    auto& f = Start(TestPackage{});
    f.edDirectory.SetCaption(u"C:\\Savers\\New");
    f.btnNext.Click();
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_TRUE(fs::is_directory(dir_ / "drive_c" / "Savers" / "New"));
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Savers\\New\\");
}

TEST_F(Wizard, PreviewCreatesNothing) {
    auto& f = Start(TestPackage{}, u"setup.exe -previewonly");
    f.edDirectory.SetCaption(u"C:\\Preview\\Dir");
    f.btnNext.Click();
    ASSERT_EQ(standin::Messages().size(), 1u) << "only the preview notice";
    EXPECT_EQ(standin::Messages()[0].flags, platform::MB_ICONINFORMATION_);
    EXPECT_FALSE(fs::exists(dir_ / "drive_c" / "Preview"));
    EXPECT_EQ(f.edDirectory.Caption(), u"C:\\Preview\\Dir\\");
}

// A silent run makes no form: the folder of its command line goes straight to the installation.
TEST_F(Wizard, SilentRefusalEndsWithCodeTwo) {
    InstallAsProgram(dir_ / "setup.exe", BuildImage(TestPackage{}));
    EXPECT_EQ(SetupMain(u"setup.exe -silent Q:\\Nowhere"), kExitDirectoryRefused) << "the given folder, not the default";
    EXPECT_TRUE(standin::Messages().empty());
    EXPECT_FALSE(platform::Application::ShowMainForm());
}

TEST_F(Wizard, SilentUsesTheDefaultWithoutSecondParameter) {
    TestPackage pkg;
    pkg.baseDir = "C:\\Savers";
    InstallAsProgram(dir_ / "setup.exe", BuildImage(pkg));
    EXPECT_EQ(SetupMain(u"setup.exe -silent \"\""), kExitDone);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "drive_c" / "Savers" / "Aurora" / "Aurora.scr"));
    EXPECT_TRUE(standin::Messages().empty());
}

}  // namespace
