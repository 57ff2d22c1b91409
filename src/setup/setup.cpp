#include "setup.h"

#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "../platform/ui.h"
#include "../setupmain/cmdline.h"
#include "../setupmain/package.h"
#include "../setupmain/setupmain.h"
#include "../setupmain/sysroutines.h"
#include "../setupmain/uninstall.h"

namespace {
// The uninstaller that started us is still ending; a file that never becomes deletable
// (no rights) must not keep this process alive for ever.
constexpr unsigned kDeletePauseMs = 100;
constexpr int kDeleteTries = 600;

// The role of a sound image in a file on a disk (not a device that blocks or answers);
// None for anything else.
TrailerKind SoundImageRole(const std::u16string& path, platform::Share share) {
    platform::File file = platform::File::OpenRead(path, share);
    if (!file.IsOpen() || !file.IsDiskFile()) return TrailerKind::None;
    const TPackage package = LoadPackage(file);
    return package.Sound() ? package.role : TrailerKind::None;
}

bool IsUninstallerFile(const std::u16string& path, platform::Share share) {
    return SoundImageRole(path, share) == TrailerKind::Uninstaller;
}

// The temporary copy an uninstall run made of itself: in the temporary folder, under its name.
bool IsTemporaryCopy(const std::u16string& self) {
    const std::u16string temp = text::AsciiLower(GetTempDir());
    const std::u16string path = text::AsciiLower(self);
    const std::u16string prefix = text::AsciiLower(kTemporaryCopyPrefix);
    return !temp.empty() && text::DirPart(path) == temp && text::FileNamePart(path).substr(0, prefix.size()) == prefix;
}

}  // namespace

int RunDelFile() {
    const std::u16string self = platform::FullPath(platform::ModulePath());
    // Only the copy of an uninstaller goes at the next start, and only once.
    if (IsTemporaryCopy(self) && !platform::DeletionAtRebootPending(self)) platform::DeleteAtReboot(self);

    // Nothing but an uninstaller is deleted here, whatever the command line names.
    const std::u16string target = ParamStr(2);
    if (!IsUninstallerFile(target, platform::Share::DenyNone)) return kExitInstallFailed;
    platform::RemoveFile(target);
    for (int tries = 0; platform::FileExists(target) && tries < kDeleteTries; ++tries) {
        platform::SleepMs(kDeletePauseMs);
        platform::RemoveFile(target);
    }
    if (platform::FileExists(target)) return kExitInstallFailed;
    if (ParamCount() == 4) platform::ShowMessage(ParamStr(4), ParamStr(3), platform::MB_ICONINFORMATION_);
    return kExitDone;
}

int SetupMain(std::u16string_view commandLine) {
    SetParams(SplitCommandLine(commandLine));
    // Only an uninstaller receives the hand-off; any other image runs as it always does.
    if (IsDelFileSwitch() && IsUninstallerFile(platform::ModulePath(), platform::Share::DenyWrite)) return RunDelFile();
    // A silent run of a damaged package has nothing to show and nothing to do: it ends before
    // the application and its window are made.
    if (IsSilentSwitch() && SoundImageRole(platform::ModulePath(), platform::Share::DenyWrite) == TrailerKind::None)
        return ExitCode = kExitDamaged;
    platform::Application::SetTitle(kApplicationTitle);
    if (IsSilentSwitch()) {
        platform::Application::SetShowMainForm(false);
        SilentMode = true;
    }
    if (IsPreviewOnlySwitch()) PreviewOnlyMode = true;

    TSCRSetup form;
    SCRSetup = &form;
    form.FormCreate();
    if (!platform::Application::Terminated()) {
        form.Window.Run();
        // Closed before any installation ran: the user cancelled.
        if (form.Window.Closed() && !form.InstallationRan && ExitCode == kExitDone) ExitCode = kExitCancelled;
    }
    form.FormDestroy();
    SCRSetup = nullptr;
    return ExitCode;
}
