// Creating the form: reading the package behind the program and choosing the run.
#include "setupmain.h"

#include <vector>

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "cmdline.h"
#include "destination.h"
#include "package.h"

TSetupHeader SetupHeader;
std::u16string LangText;
TSCRSetup* SCRSetup = nullptr;

namespace {

bool ReadUtf16(ByteSource& source, std::int64_t offset, std::int64_t bytes, std::u16string& text) {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (bytes > 0 && !ReadExact(source, offset, raw.data(), raw.size())) return false;
    text = text::FromUtf16Le(raw.data(), raw.size());
    return true;
}

}  // namespace

void TSCRSetup::FormCreate() {
    // One handler for every failure from the first read on: nothing is installed.
    if (!ReadPackage()) {
        ReportCorruptedPackage();
        return;
    }
    if (Role == TrailerKind::Uninstaller) {
        RunUninstall();
        platform::Application::SetShowMainForm(false);
        Window.Collapse();
        platform::Application::Terminate();
        return;
    }

    if (!SilentMode) return;

    FillDefaultDirectory();
    if (!ParamStr(2).empty()) edDirectory.SetCaption(ParamStr(2));
    Notebook.SetPageIndex(kPageDirectory);
    (void)btnOKClick();
    platform::Application::Terminate();
}

bool TSCRSetup::ReadPackage() {
    // Opened once and held for every later read: while it is held nobody can write it, and
    // it is checked to be the very image that runs, not a file renamed into its place.
    Self = platform::File::OpenRead(platform::ModulePath(), platform::Share::DenyWrite);
    if (!Self.IsOpen() || !platform::IsRunningImage(Self)) return false;
    platform::File& file = Self;

    const TPackage package = LoadPackage(file);
    if (!package.readProblems.empty()) return false;
    FileEnd = package.fileEnd;
    SetupHeader = *package.header;
    const TrailerKind role = package.role;
    // An uninstaller carries the name its installer already shortened; shortening it again
    // is not always harmless ("My.Screen.Saver.scr" -> "My_Screen_Saver.scr" -> "My_Scree.scr").
    if (role != TrailerKind::Uninstaller)
        ApplyShortNameRule(SetupHeader, WindowsVersionClass(platform::OsVersion()));

    const std::int64_t texts = TextsStart(SetupHeader, FileEnd);
    if (!ReadUtf16(file, texts + SetupHeader.ReadmeSize() + SetupHeader.LicenseSize(),
                   2 * static_cast<std::int64_t>(SetupHeader.LanguageLength()), LangText))
        return false;
    LoadLangSection(LangText, u"Setup");
    LangRenameControls();

    Role = role;
    if (!package.roleProblems.empty()) return false;
    if (Role != TrailerKind::Installer) return true;

    std::u16string readme, license;
    if (SetupHeader.ReadmeSize() > 0) {
        if (!ReadUtf16(file, texts, SetupHeader.ReadmeSize(), readme)) return false;
        edReadme.SetCaption(text::NormalizeLineBreaks(readme));
    }
    if (SetupHeader.LicensePageInUse()) {
        if (!ReadUtf16(file, texts + SetupHeader.ReadmeSize(), SetupHeader.LicenseSize(), license)) return false;
        edLicense.SetCaption(text::NormalizeLineBreaks(license));
    }
    StartInstallerPages();
    return true;
}

void TSCRSetup::FillDefaultDirectory() {
    if (directoryFilled_) return;
    directoryFilled_ = true;
    edDirectory.SetCaption(ComposeDefaultDir(SetupHeader.DefaultBaseDir(), SetupHeader.DefaultSubDir()));
}

void TSCRSetup::ReportCorruptedPackage() {
    ExitCode = kExitDamaged;
    if (!SilentMode)
        platform::ShowMessage(LangStr(u"The file is corrupted. Setup can not continue."), kApplicationTitle,
                              platform::MB_ICONERROR_);
    platform::Application::Terminate();
}

void TSCRSetup::FormDestroy() { FreeLangStrings(); }
