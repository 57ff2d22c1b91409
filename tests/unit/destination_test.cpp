#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/shell.h"
#include "setupmain/destination.h"
#include "temp_drive.h"

namespace {

TEST(ComposeDefaultDir, TrimsJoinsAndReplacesPlaceholders) {
    TempDrive drive;
    // Unusual folders, so that only values asked from the system can match.
    standin::SetWindowsDir(u"E:\\WinNT");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILES_, u"F:\\Apps");
    struct Case {
        std::u16string base, sub, expected;
    };
    const Case cases[] = {
        {u"<Program Files>", u"My Saver", u"F:\\Apps\\My Saver\\"},
        {u"<Windows>\\", u"\\System32\\", u"E:\\WinNT\\System32\\"},
        {u"  D:\\Savers  ", u"\\Demo\\", u"D:\\Savers\\Demo\\"},
        {u"\t\r\nD:\\Savers\x01", u" \\Demo\\ ", u"D:\\Savers\\Demo\\"},
        {u"D:\\Savers", u"Demo \\", u"D:\\Savers\\Demo\\"},
        {u"", u"Demo", u"\\Demo\\"},
        {u"", u"", u"\\"},
        {u"D:\\Savers", u"   ", u"D:\\Savers\\"},
        {u"D:\\Savers", u"\\\\Demo\\\\", u"D:\\Savers\\\\Demo\\"},
        {u"<program files>", u"<WINDOWS>", u"<program files>\\<WINDOWS>\\"},
        {u"<Windows>", u"<Program Files>\\<Windows>", u"E:\\WinNT\\F:\\Apps\\E:\\WinNT\\"},
        {u"<Windows><Windows>", u"", u"E:\\WinNTE:\\WinNT\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposeDefaultDir(c.base, c.sub), c.expected)
            << text::Utf16ToUtf8(c.base) << " + " << text::Utf16ToUtf8(c.sub);
}

TEST(ComposeDefaultDir, UnavailableProgramFilesFolderLeavesNothingInItsPlace) {
    TempDrive drive;
    EXPECT_EQ(ComposeDefaultDir(u"<Program Files>", u"Demo"), u"\\Demo\\");
}

// The Install button's checks on real folders: C: (also the working directory) holds
// the regular file "file.txt" and the folder "Existing".
class DirectoryChecks : public ::testing::Test {
protected:
    void SetUp() override {
        drive.WriteFile(u"C:\\file.txt", "x");
        std::filesystem::create_directory(drive.Host(u"C:\\Existing"));
    }
    TempDrive drive;
};

struct CheckCase {
    const char* name;
    std::u16string text;
    bool previewOnly;
    std::u16string acceptedText;  // empty: refused
    std::string_view messageKey;
    std::u16string createdFolder;  // must exist afterwards (empty: none)
};

TEST_F(DirectoryChecks, AcceptOrRefuseTheText) {
    const std::string_view create = kMsgCannotCreateDirectory;
    const std::string_view invalid = kMsgInvalidDirectory;
    const CheckCase cases[] = {
        {"NewTree", u"C:\\Savers\\My Saver\\Deep", false, u"C:\\Savers\\My Saver\\Deep\\", {}, u"C:\\Savers\\My Saver\\Deep"},
        {"ExistingWithBackslash", u"C:\\Existing\\", false, u"C:\\Existing\\", {}, u""},
        {"DriveRoot", u"C:\\", false, u"C:\\", {}, u""},
        {"DriveWithoutBackslash", u"C:", false, u"C:\\", {}, u""},
        {"RelativeExisting", u"Existing", false, u"Existing\\", {}, u""},
        {"RelativeMissing", u"Missing", false, u"", create, u""},
        {"MissingDrive", u"Q:\\Savers\\Demo", false, u"", create, u""},
        {"BelowARegularFile", u"C:\\file.txt\\Demo", false, u"", create, u""},
        {"ARegularFile", u"C:\\file.txt", false, u"", create, u""},
        // Two characters pass the creation rule untouched, then fail the existence test.
        {"ShortRelativeMissing", u"ab", false, u"", invalid, u""},
        {"Empty", u"", false, u"", invalid, u""},
        {"PreviewEmpty", u"", true, u"\\", {}, u""},
        {"PreviewMissingDrive", u"Q:\\Savers", true, u"Q:\\Savers\\", {}, u""},
        {"PreviewNewTree", u"C:\\Preview\\Folder", true, u"C:\\Preview\\Folder\\", {}, u""},
    };
    for (const auto& c : cases) {
        const TDirectoryCheck check = CheckDestinationDirectory(c.text, c.previewOnly);
        EXPECT_EQ(check.Accepted, !c.acceptedText.empty()) << c.name;
        if (check.Accepted) {
            EXPECT_EQ(check.Text, c.acceptedText) << c.name;
        } else {
            EXPECT_EQ(check.MessageKey, c.messageKey) << c.name;
        }
        if (!c.createdFolder.empty()) EXPECT_TRUE(drive.IsDir(c.createdFolder)) << c.name;
    }
    // Neither the refusals nor preview mode created anything.
    EXPECT_FALSE(drive.Exists(u"C:\\Missing"));
    EXPECT_FALSE(drive.Exists(u"C:\\ab"));
    EXPECT_FALSE(drive.Exists(u"C:\\Preview"));
    EXPECT_FALSE(std::filesystem::exists(standin::HostPath(u"Q:\\")));
    EXPECT_TRUE(std::filesystem::is_regular_file(drive.Host(u"C:\\file.txt")));
}

TEST_F(DirectoryChecks, FoldersMadeOutsideTheSystemFoldersAreRestricted) {
    // Below these the system's own protection is inherited; the Windows folder as the system
    // spells it, in other letter case than the text.
    for (const auto* folder : {u"C:\\Windows\\Temp", u"C:\\Program Files", u"C:\\Program Files (x86)"})
        std::filesystem::create_directories(drive.Host(folder));
    standin::SetWindowsDir(u"C:\\WINDOWS");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILES_, u"C:\\Program Files");
    standin::SetSpecialFolder(platform::CSIDL_PROGRAM_FILESX86_, u"C:\\Program Files (x86)");
    struct Case {
        const char* name;
        std::u16string text;
        std::vector<std::u16string> created;
        bool restricted;
    };
    const Case cases[] = {
        {"every new level", u"C:\\Savers\\My Saver", {u"C:\\Savers", u"C:\\Savers\\My Saver"}, true},
        {"below an existing folder", u"C:\\Existing\\New\\", {u"C:\\Existing\\New"}, true},
        {"an existing folder stays as it is", u"C:\\Existing", {}, false},
        {"Program Files", u"C:\\Program Files\\Aurora\\Deep", {u"C:\\Program Files\\Aurora", u"C:\\Program Files\\Aurora\\Deep"}, false},
        {"Program Files (x86)", u"C:\\Program Files (x86)\\Aurora", {u"C:\\Program Files (x86)\\Aurora"}, false},
        {"Windows folder", u"C:\\Windows\\Savers\\Deep", {u"C:\\Windows\\Savers", u"C:\\Windows\\Savers\\Deep"}, false},
        // Users may add to these, and what they make inherits what lets them.
        {"below the Windows folder", u"C:\\Windows\\Temp\\Savers", {u"C:\\Windows\\Temp\\Savers"}, true},
        {"a name that only begins alike", u"C:\\Program Files Extra", {u"C:\\Program Files Extra"}, true},
        {"climbing out of Program Files", u"C:\\Program Files\\..\\Aurora", {u"C:\\Program Files\\..\\Aurora"}, true},
    };
    for (const auto& c : cases) {
        standin::RestrictedFolders().clear();
        const TDirectoryCheck check = CheckDestinationDirectory(c.text, false);
        EXPECT_TRUE(check.Accepted) << c.name;
        EXPECT_EQ(check.Created, c.created) << c.name;
        EXPECT_EQ(standin::RestrictedFolders(), c.restricted ? c.created : std::vector<std::u16string>{}) << c.name;
    }
    EXPECT_TRUE(drive.IsDir(u"C:\\Aurora"));
}

// An elevated run, or one as the system, takes no folder other users could change or swap
// away, and makes nothing for one it refuses.
TEST_F(DirectoryChecks, ElevatedRunsRefuseFoldersOthersMayChange) {
    constexpr unsigned own = platform::kOthersOwnIt, add = platform::kOthersAddTo, swap = platform::kOthersSwapIt;
    std::filesystem::create_directory(drive.Host(u"C:\\Existing\\Deep"));
    std::filesystem::create_directory_symlink(drive.Host(u"C:\\Existing"), drive.Host(u"C:\\Link"));
    enum class Run { User, Elevated, System };
    struct Case {
        const char* name;
        Run run;
        std::vector<std::pair<std::u16string, unsigned>> others;
        std::u16string text;
        std::string_view refusal;  // empty: accepted
    };
    const std::string_view denied = kMsgAccessDenied;
    const Case cases[] = {
        {"a user's own run takes any folder", Run::User, {{u"C:\\Existing", own | add | swap}}, u"C:\\Existing", {}},
        {"a folder only administrators may change", Run::Elevated, {}, u"C:\\Existing", {}},
        {"others may add to it", Run::Elevated, {{u"C:\\Existing", add}}, u"C:\\Existing", denied},
        {"others own it", Run::Elevated, {{u"C:\\Existing", own}}, u"C:\\Existing\\", denied},
        {"others may delete it", Run::Elevated, {{u"C:\\Existing", swap}}, u"C:\\Existing", denied},
        {"the system account", Run::System, {{u"C:\\Existing", add}}, u"Existing", denied},
        {"others may empty a folder above", Run::Elevated, {{u"C:\\Existing", swap}}, u"C:\\Existing\\Deep", denied},
        {"others own the folder a new one goes into", Run::Elevated, {{u"C:\\Existing", own}}, u"C:\\Existing\\New\\Deeper", denied},
        {"others may add to the folder a new one goes into", Run::Elevated, {{u"C:\\Existing", add}}, u"C:\\Existing\\New", {}},
        {"others may add folders to the drive", Run::Elevated, {{u"C:\\", add}}, u"C:\\Existing\\Deep", {}},
        {"the drive itself", Run::Elevated, {{u"C:\\", add}}, u"C:\\", denied},
        {"a link", Run::Elevated, {}, u"C:\\Link", denied},
        {"a link on the way", Run::Elevated, {}, u"C:\\Link\\Deep\\New", denied},
        {"a drive that is not there", Run::Elevated, {}, u"Q:\\Savers", kMsgCannotCreateDirectory},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ResetFileLocks();
        standin::SetElevated(c.run == Run::Elevated);
        standin::SetSystemAccount(c.run == Run::System);
        for (const auto& [path, others] : c.others) standin::SetOthersAccess(path, others);
        const TDirectoryCheck check = CheckDestinationDirectory(c.text, false);
        EXPECT_EQ(check.Accepted, c.refusal.empty());
        EXPECT_EQ(check.MessageKey, c.refusal);
        if (!check.Accepted) EXPECT_TRUE(check.Created.empty());
        for (auto made = check.Created.rbegin(); made != check.Created.rend(); ++made)
            std::filesystem::remove(drive.Host(*made));
        EXPECT_FALSE(drive.Exists(u"C:\\Existing\\New"));
    }
}

// A folder someone else makes between the look and the making is judged as well.
TEST_F(DirectoryChecks, AFolderMadeMeanwhileIsJudgedToo) {
    standin::SetElevated(true);
    standin::SetOthersAccessHook([this](const std::u16string&) {
        if (std::filesystem::create_directory(drive.Host(u"C:\\Savers")))
            standin::SetOthersAccess(u"C:\\Savers", platform::kOthersOwnIt);
    });
    const TDirectoryCheck check = CheckDestinationDirectory(u"C:\\Savers\\Deep", false);
    EXPECT_FALSE(check.Accepted);
    EXPECT_EQ(check.MessageKey, kMsgAccessDenied);
}

TEST_F(DirectoryChecks, FoldersCreatedBeforeAFailureStay) {
    // The host refuses a name this long, one level below a folder that is new.
    const std::u16string text = u"C:\\New\\" + std::u16string(300, u'a');
    const TDirectoryCheck check = CheckDestinationDirectory(text, false);
    EXPECT_FALSE(check.Accepted);
    EXPECT_EQ(check.MessageKey, kMsgCannotCreateDirectory);
    EXPECT_TRUE(drive.IsDir(u"C:\\New"));
}

TEST_F(DirectoryChecks, ForceDirectoriesRuleForShortAndSelfParentNames) {
    // At most two characters, or a name that is its own parent part, succeed untouched.
    for (const std::u16string dir : {u"zz", u"zz\\", u"Q:", u"abc:"})
        EXPECT_TRUE(ForceDirectories(dir)) << text::Utf16ToUtf8(dir);
    // A longer relative name without a separator has an empty parent part.
    EXPECT_FALSE(ForceDirectories(u"zzz"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drive.Root()), {}), 2) << "file.txt and Existing";
}

}  // namespace
