// The setup form: reads its package when created and runs the wizard.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "../platform/files.h"
#include "../platform/ui.h"
#include "setup_header.h"

class TSCRSetup {
public:
    TSCRSetup();
    ~TSCRSetup();

    // Reads the package and prepares the run; every read failure is reported here.
    void FormCreate();
    void FormDestroy();
    void LangRenameControls();
    // Header texts and buttons of the current page.
    void NotebookPageChanged();

    void btnNextClick();
    void btnBackClick();
    void btnCancelClick();
    void rbAcceptClick();
    void LinkClick();
    void btnBrowseClick();
    // The installation: directory checks first. False when a check refused and the wizard is
    // back on the Directory page: the refusal has been shown, and the caller's click ends there.
    [[nodiscard]] bool btnOKClick();
    // Replaces FileName (a path in Dir) by one that takes no other file's place: the
    // remembered file of an earlier installation into Dir, or a numbered name. False when
    // every numbered name is taken.
    [[nodiscard]] bool MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir);
    // Where the last installation of this title put the screensaver, or empty.
    std::u16string LoadInstalledFileName();
    void SaveInstalledFileName(const std::u16string& FileName);
    // The uninstall run of an uninstaller image; the window is never shown.
    void RunUninstall();
    // Every value of the per-user key and its "PlayList" tree; the key itself stays.
    void ClearUserSettings();
    // Escape activates Cancel, Back or Next, whichever comes first visible and enabled.
    void FormKeyEscape();

    platform::Form Window;

    // Declared in creation order, which is the tab order: Next, Cancel, the pages, Back.
    platform::Control btnNext;
    platform::Control btnCancel;
    platform::Notebook Notebook;
    // Page 0, License
    platform::Control Label2;
    platform::Control edLicense;
    platform::Control rbAccept;
    platform::Control rbNotAccept;
    // Page 1, Directory
    platform::Control Image1;
    platform::Control Label1;
    platform::Control btnBrowse;
    platform::Control edDirectory;
    // Page 2, Ready
    platform::Control Label5;
    // Page 3, Progress
    platform::Control ProgressBar;
    // Page 4, Readme
    platform::Control Label3;
    platform::Control edReadme;
    // Page 5, Finished
    platform::Control Label4;

    platform::Control btnBack;
    platform::Panel Panel2;
    platform::Control lbTitle;
    platform::Control lbDescription;
    platform::Control Image2;
    platform::Control Bevel2;
    platform::Control Bevel1;
    platform::Control Link;

    // The running program's own file, held from the start to the end of the run.
    platform::File Self;
    std::int64_t FileEnd = 0;
    TrailerKind Role = TrailerKind::None;
    // Set once an installation has run, whatever its outcome.
    bool InstallationRan = false;

private:
    // False when the package is damaged or the program file cannot be read.
    [[nodiscard]] bool ReadPackage();
    void StartInstallerPages();
    void ReportCorruptedPackage();
    void ReturnToDirectoryPage();
    // Puts the default directory into its box the first time a page or a silent run needs it:
    // finding it loads the shell, which the licence page has no use for.
    void FillDefaultDirectory();
    bool directoryFilled_ = false;
    // Shows the refusal (silent runs end instead) and returns to the Directory page; false.
    bool RefuseDirectory(std::u16string_view messageKey);
    [[nodiscard]] bool CopyPayload(platform::File& source, platform::File* target);
    [[nodiscard]] bool SaveReadme(const std::u16string& path);
    void ReportInstallFailure();
    // Starts a copy of the program, whose full path is self, that deletes it once it has ended.
    void HandOffToTemporaryCopy(const std::u16string& self);
};

// Page numbers of the wizard.
enum : int { kPageLicense, kPageDirectory, kPageReady, kPageProgress, kPageReadme, kPageFinished };

extern TSetupHeader SetupHeader;
extern std::u16string LangText;
extern std::array<std::u16string, 6> PageTitles;
extern std::array<std::u16string, 6> PageDescriptions;
extern TSCRSetup* SCRSetup;
