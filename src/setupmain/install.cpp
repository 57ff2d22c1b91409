// The Install button: the destination checks, then the installation.
#include "../common/lang.h"
#include "../platform/system.h"
#include "cmdline.h"
#include "destination.h"
#include "setupmain.h"

// Ends the click on the Directory page, where the user can choose again.
void TSCRSetup::ReturnToDirectoryPage() {
    Notebook.SetPageIndex(kPageDirectory);
    NotebookPageChanged();
    throw platform::SilentAbort();
}

void TSCRSetup::RefuseDirectory(std::u16string_view messageKey) {
    if (SilentMode) {
        ExitCode = kExitDirectoryRefused;
        platform::Application::Terminate();
    } else {
        platform::ShowMessage(LangStr(messageKey), kApplicationTitle, platform::MB_ICONERROR_);
    }
    ReturnToDirectoryPage();
}

void TSCRSetup::btnOKClick() {
    Notebook.SetPageIndex(kPageProgress);
    btnNext.SetVisible(false);
    ProgressBar.SetMax(100);

    const TDirectoryCheck check = CheckDestinationDirectory(edDirectory.Caption(), PreviewOnlyMode);
    if (!check.Accepted) RefuseDirectory(check.MessageKey);
    edDirectory.SetCaption(check.Text);

    // The copy of the screensaver is not built yet: nothing is installed, and the wizard
    // goes back to the Directory page so that it stays usable.
    if (SilentMode) {
        ExitCode = kExitInstallFailed;
        platform::Application::Terminate();
    }
    ReturnToDirectoryPage();
}
