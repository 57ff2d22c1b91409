#include <gtest/gtest.h>

#include "platform/native.h"
#include "platform/standin/standin.h"
#include "setupmain/sysroutines.h"
#include "temp_drive.h"

namespace {

using platform::HResult;

TEST(ProgramFilesDir, IsTheShellFolderOrEmptyWhenTheShellFails) {
    TempDrive drive;
    EXPECT_EQ(GetProgramFilesDir(), u"");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILES_, u"D:\\Apps");
    EXPECT_EQ(GetProgramFilesDir(), u"D:\\Apps");
}

TEST(CreateDirTree, CreatesEveryMissingLevel) {
    TempDrive drive;
    CreateDirTree(u"C:\\A\\B\\C\\");
    EXPECT_TRUE(drive.IsDir(u"C:\\A\\B\\C"));

    // An existing level is kept as it is, and a deeper level is added below it.
    drive.WriteFile(u"C:\\A\\B\\keep.txt", "x");
    CreateDirTree(u"C:\\A\\B\\D");
    EXPECT_TRUE(drive.IsDir(u"C:\\A\\B\\D"));
    EXPECT_EQ(drive.ReadFile(u"C:\\A\\B\\keep.txt"), "x");
}

TEST(CreateDirTree, CreatesNothingAndReportsNothingWhenALevelCannotBeCreated) {
    TempDrive drive;
    drive.WriteFile(u"C:\\file.txt", "x");
    // "ab" is relative: shorter than three characters, it counts as a drive.
    for (const std::u16string dir : {u"", u"C:", u"C:\\", u"ab", u"Q:\\Savers\\Demo\\", u"C:\\file.txt\\A\\B"})
        EXPECT_NO_THROW(CreateDirTree(dir)) << text::Utf16ToUtf8(dir);
    EXPECT_FALSE(std::filesystem::exists(standin::HostPath(u"Q:\\")));
    EXPECT_TRUE(std::filesystem::is_regular_file(drive.Host(u"C:\\file.txt")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drive.Root()), {}), 1);
}

class Shortcut : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(drive.Host(u"C:\\Programs\\X"));
        standin::SetSpecialFolder(platform::CSIDL_PROGRAMS_, u"C:\\Programs");
        standin::SetSpecialFolder(platform::CSIDL_DESKTOP_, u"C:\\Desktop");
    }
    // Whatever happened, COM and the link object have been released.
    void TearDown() override {
        EXPECT_EQ(standin::PendingComInitialisations(), 0);
        EXPECT_EQ(standin::LiveShellLinks(), 0);
    }
    static HResult FailureOf(const std::u16string& linkName, int folder) {
        return CreateShortcut(u"C:\\Savers\\x.scr", linkName, folder);
    }
    TempDrive drive;
};

TEST_F(Shortcut, WritesTheLinkIntoTheSubFolderOfTheSpecialFolder) {
    EXPECT_EQ(CreateShortcut(u"C:\\Savers\\x.scr", u"X\\Preview X", platform::CSIDL_PROGRAMS_), platform::S_OK_);
    EXPECT_EQ(drive.ReadFile(u"C:\\Programs\\X\\Preview X.lnk"), "target=C:\\Savers\\x.scr\nicon=C:\\Savers\\x.scr,0\n");
}

TEST_F(Shortcut, ReturnsTheFailingResultAndWritesNothing) {
    struct Case {
        const char* name;
        standin::LinkStep step;
        HResult injected;
        std::u16string linkName;
        int folder;
        HResult expected;
    };
    constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);
    constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
    constexpr HResult kAccessDenied = static_cast<HResult>(0x80070005u);
    constexpr HResult kFolderNotFound = static_cast<HResult>(0x80070002u);
    constexpr HResult kPathNotFound = static_cast<HResult>(0x80030003u);
    using standin::LinkStep;
    const Case cases[] = {
        {"NoLinkObject", LinkStep::CreateObject, kClassNotRegistered, u"Preview", 2, kClassNotRegistered},
        {"NoPersistFile", LinkStep::QueryPersistFile, kNoInterface, u"Preview", 2, kNoInterface},
        {"SaveRefused", LinkStep::Save, kAccessDenied, u"Preview", 2, kAccessDenied},
        {"UnknownFolder", LinkStep::None, 0, u"Preview", 7, kFolderNotFound},
        {"MissingSubFolder", LinkStep::None, 0, u"Y\\Preview", 2, kPathNotFound},
        {"MissingSpecialFolder", LinkStep::None, 0, u"Preview", 0, kPathNotFound},
    };
    for (const auto& c : cases) {
        standin::FailShellLink(c.step, c.injected);
        EXPECT_EQ(FailureOf(c.linkName, c.folder), c.expected) << c.name;
        EXPECT_EQ(standin::PendingComInitialisations(), 0) << c.name;
        EXPECT_EQ(standin::LiveShellLinks(), 0) << c.name;
    }
    EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(drive.Root()), {}), 2)
        << "only the Programs and X folders";
}

TEST_F(Shortcut, LinkPathMayHave260Utf16UnitsAndNoMore) {
    // A sub-folder of two-byte characters: its UTF-8 form is longer than its UTF-16 form.
    const std::u16string sub(100, u'\u00e9');
    std::filesystem::create_directories(drive.Host(u"C:\\Programs\\" + sub));
    const std::size_t fixed = std::u16string(u"C:\\Programs\\").size() + sub.size() + 1 + 4;
    const std::u16string longest = sub + u"\\" + std::u16string(kMaxLinkPath - fixed, u'n');

    EXPECT_EQ(CreateShortcut(u"C:\\t.scr", longest, platform::CSIDL_PROGRAMS_), platform::S_OK_);
    EXPECT_TRUE(drive.Exists(u"C:\\Programs\\" + longest + u".lnk"));

    EXPECT_EQ(FailureOf(longest + u"n", platform::CSIDL_PROGRAMS_), platform::E_FILENAME_TOO_LONG_);
    EXPECT_FALSE(drive.Exists(u"C:\\Programs\\" + longest + u"n.lnk"));
}

TEST(TryDeleteFile, DeletesUnlessTheFileIsHeld) {
    TempDrive drive;
    EXPECT_TRUE(TryDeleteFile(u"C:\\missing.txt"));
    EXPECT_TRUE(TryDeleteFile(u"Q:\\on-a-missing-drive.txt"));

    drive.WriteFile(u"C:\\free.txt", "x");
    EXPECT_TRUE(TryDeleteFile(u"C:\\free.txt"));
    EXPECT_FALSE(drive.Exists(u"C:\\free.txt"));

    drive.WriteFile(u"C:\\held.txt", "kept");
    standin::LockFile(u"C:\\held.txt");
    EXPECT_FALSE(TryDeleteFile(u"C:\\held.txt"));
    EXPECT_EQ(drive.ReadFile(u"C:\\held.txt"), "kept");

    // A holder that allows deletion but not sharing still holds the file.
    standin::LockFile(u"C:\\held.txt", true);
    EXPECT_FALSE(TryDeleteFile(u"C:\\held.txt"));
    EXPECT_EQ(drive.ReadFile(u"C:\\held.txt"), "kept");

    standin::UnlockFile(u"C:\\held.txt");
    EXPECT_TRUE(TryDeleteFile(u"C:\\held.txt"));
    EXPECT_FALSE(drive.Exists(u"C:\\held.txt"));
}

}  // namespace

// A later test's controls may be made at an earlier one's addresses: a reset forgets which
// handle had the focus and how often each was repainted.
TEST(StandinReset, ForgetsFocusAndRepaints) {
    int handle = 0;
    platform::native::SetFocus(&handle);
    platform::native::Repaint(&handle);
    ASSERT_EQ(platform::native::FocusHandle(), &handle);
    ASSERT_EQ(standin::RepaintCount(&handle), 1);
    standin::Reset();
    EXPECT_EQ(platform::native::FocusHandle(), nullptr);
    EXPECT_EQ(standin::RepaintCount(&handle), 0);
}
