#include "setup.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/system.h"
#include "../platform/ui.h"
#include "../setupmain/cmdline.h"
#include "../setupmain/form.h"
#include "../setupmain/handoff.h"
#include "../setupmain/install.h"
#include "../setupmain/package_names.h"
#include "../setupmain/run_log.h"
#include "../setupmain/setup_package.h"
#include "../setupmain/uninstall.h"
#include "exit_codes.h"

namespace {

constexpr char kMsgCorrupted[] = "The file is corrupted. Setup can not continue.";
// Never translated, as the switches themselves. Narrow: half the bytes.
constexpr char kHelp[] =
    "/S\tsilent\n"
    "/D=folder\tthe folder: last, unquoted\n"
    "/LOG=file, -log file\tlog to file\n"
    "-silent [folder]\t/S [/D=folder]\n"
    "-previewonly\tchange nothing\n\n"
    "Exit codes:\n0\tdone\n1\tdamaged package\n2\tfolder refused\n3\tfailed\n4\tcancelled\n"
    "3010\tdone, restart to complete";

// One handler for every failure from the first read on: nothing is installed. The message
// is translated once the package's language could be read.
Outcome ReportCorruptedPackage() {
    platform::ShowMessage(LangStr(kMsgCorrupted), kApplicationTitle, platform::MB_ICONERROR_);
    platform::Application::Terminate();
    return Outcome::Damaged;
}

// What the run is, as its log names it.
const char* RunName(const TCommandLine& commandLine, const TSetupPackage& package, bool delFile) {
    if (commandLine.Mode == RunMode::Help) return "Help";
    if (delFile) return "Uninstaller removal";
    // The same words as a package found damaged during the copy.
    if (!package.Sound) return "Damaged package";
    const bool uninstaller = package.IsUninstaller();
    if (commandLine.Silent()) return uninstaller ? "Silent uninstall" : "Silent install";
    if (commandLine.PreviewOnly()) return "Preview";
    return uninstaller ? "Uninstall" : "Wizard";
}

Outcome Run(const TCommandLine& commandLine, TSetupPackage& package) {
    // Only an uninstaller receives the hand-off; any other image runs as it always does.
    const bool delFile = commandLine.Mode == RunMode::DelFile && package.IsUninstaller();
    if (!delFile) {
        if (package.LanguageRead) LoadLangSection(package.LangText, u"Setup");
        // A name that is no plain name damages the package as much as a wrong size.
        if (package.Sound && !PackageNamesArePlain(package)) package.Sound = false;
    }
    LogLine(RunName(commandLine, package, delFile));
    if (commandLine.Mode == RunMode::Help) {
        platform::ShowMessage(text::Widen(kHelp), kApplicationTitle, platform::MB_ICONINFORMATION_);
        return Outcome::Done;
    }
    if (delFile) return RunDelFile(commandLine, package);
    // A silent run of a damaged package has nothing to show and nothing to do: it ends before
    // the application and its window are made.
    if (commandLine.Silent() && !package.Sound) return Outcome::Damaged;

    platform::Application::SetTitle(kApplicationTitle);
    if (!package.Sound) return ReportCorruptedPackage();
    if (commandLine.Silent() || package.IsUninstaller()) platform::Application::SetShowMainForm(false);
    if (package.IsUninstaller()) return RunUninstall(package, commandLine);
    if (commandLine.Silent()) return InstallSilently(package, commandLine.SilentDirectory);
    return RunWizard(package, commandLine);
}

}  // namespace

int SetupMain(std::u16string_view commandLine) {
    const TCommandLine line = ParseCommandLine(commandLine);
    const TRunLog log(line.LogFile, std::u16string(commandLine));
    TSetupPackage package = LoadSetupPackage();
    const Outcome outcome = Run(line, package);
    // Built by the run from the package, released here whatever the run was.
    FreeLangStrings();
    const int code = ExitCodeFor(outcome);
    LogLine("Exit code", text::DecimalText(code));
    return code;
}
