// The wizard of an installer: its window, pages and navigation. The installation itself is
// a routine of its own (install.h); the form is one caller, with its progress bar for sink.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "../platform/ui.h"
#include "cmdline.h"
#include "install.h"
#include "outcome.h"
#include "setup_package.h"

class TSCRSetup : private TProgressSink {
public:
    // The package must be a sound installer's and outlive the form; the translation table is
    // built from it before.
    TSCRSetup(TSetupPackage& Package, const TCommandLine& CommandLine);
    ~TSCRSetup();
    TSCRSetup(const TSCRSetup&) = delete;
    TSCRSetup& operator=(const TSCRSetup&) = delete;

    // Captions, texts, start page: the wizard as it first shows.
    void FormCreate();
    void LangRenameControls();
    // Header texts and buttons of the current page.
    void NotebookPageChanged();

    void btnNextClick();
    void btnBackClick();
    void btnCancelClick();
    void rbAcceptClick();
    void LinkClick();
    void btnBrowseClick();
    // The installation into the folder of edDirectory. False when the folder was refused and
    // the wizard is back on the Directory page: the refusal has been shown, and the caller's
    // click ends there.
    [[nodiscard]] bool btnOKClick();
    // See the routine of the same name; the title is this package's.
    [[nodiscard]] bool MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir);
    // Escape activates Cancel, Back or Next, whichever comes first visible and enabled.
    void FormKeyEscape();

    // How the run ended so far: an installation's outcome, or cancelled once the window
    // closed before any installation ran.
    Outcome RunOutcome() const;

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

    TSetupPackage& Package;
    const bool PreviewOnlyMode;
    std::array<std::u16string, 6> PageTitles;
    std::array<std::u16string, 6> PageDescriptions;
    // Set once an installation has run, whatever its outcome.
    bool InstallationRan = false;

private:
    void StartInstallerPages();
    void ReturnToDirectoryPage();
    // Puts the default directory, or the one the command line gives (/D=), into its box the
    // first time a page needs it: finding the default loads the shell, which the licence page
    // has no use for.
    void FillDefaultDirectory();
    bool directoryFilled_ = false;
    std::u16string presetDirectory_;
    // Shows the refusal and returns to the Directory page; false.
    bool RefuseDirectory(std::string_view messageKey);
    void ReportInstallFailure(InstallStep FailedStep);

    // The copy's progress: hourglass and a disabled form while it runs, the bar after each chunk.
    void CopyStarted() override;
    void CopyEnded() override;
    void CopyProgress(int Percent) override;
    // When the bar was last repainted and the messages last passed on, in TickCount's time.
    std::uint64_t lastPass_ = 0;
    bool passed_ = false;

    Outcome outcome_ = Outcome::Done;
};

// Page numbers of the wizard.
enum : int { kPageLicense, kPageDirectory, kPageReady, kPageProgress, kPageReadme, kPageFinished };

// The interactive run of an installer (or its preview): the wizard until it closes.
Outcome RunWizard(TSetupPackage& Package, const TCommandLine& CommandLine);
