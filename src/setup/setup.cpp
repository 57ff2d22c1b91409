#include "setup.h"

#include "../common/lang.h"
#include "../platform/system.h"
#include "../platform/ui.h"
#include "../setupmain/cmdline.h"
#include "../setupmain/form.h"
#include "../setupmain/handoff.h"
#include "../setupmain/install.h"
#include "../setupmain/package_names.h"
#include "../setupmain/setup_package.h"
#include "../setupmain/uninstall.h"
#include "exit_codes.h"

namespace {

constexpr char16_t kMsgCorrupted[] = u"The file is corrupted. Setup can not continue.";

// One handler for every failure from the first read on: nothing is installed. The message
// is translated once the package's language could be read.
Outcome ReportCorruptedPackage() {
    platform::ShowMessage(LangStr(kMsgCorrupted), kApplicationTitle, platform::MB_ICONERROR_);
    platform::Application::Terminate();
    return Outcome::Damaged;
}

Outcome Run(const TCommandLine& commandLine, TSetupPackage& package) {
    // Only an uninstaller receives the hand-off; any other image runs as it always does.
    if (commandLine.Mode == RunMode::DelFile && package.IsUninstaller()) return RunDelFile(commandLine);
    if (package.LanguageRead) LoadLangSection(package.LangText, u"Setup");
    // A name that is no plain name damages the package as much as a wrong size.
    if (package.Sound && !PackageNamesArePlain(package)) package.Sound = false;
    // A silent run of a damaged package has nothing to show and nothing to do: it ends before
    // the application and its window are made.
    if (commandLine.Silent() && !package.Sound) return Outcome::Damaged;

    platform::Application::SetTitle(kApplicationTitle);
    if (!package.Sound) return ReportCorruptedPackage();
    if (commandLine.Silent() || package.IsUninstaller()) platform::Application::SetShowMainForm(false);
    if (package.IsUninstaller()) return RunUninstall(package, commandLine);
    if (commandLine.Silent()) return InstallSilently(package, commandLine.SilentDirectory());
    return RunWizard(package, commandLine);
}

}  // namespace

int SetupMain(std::u16string_view commandLine) {
    const TCommandLine line = ParseCommandLine(commandLine);
    TSetupPackage package = LoadSetupPackage();
    const Outcome outcome = Run(line, package);
    // Built by the run from the package, released here whatever the run was.
    FreeLangStrings();
    return ExitCodeFor(outcome);
}
