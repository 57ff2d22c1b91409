#include "setup.h"

#include "../platform/files.h"
#include "../platform/system.h"
#include "../platform/ui.h"
#include "../setupmain/cmdline.h"
#include "../setupmain/setupmain.h"

namespace {
// The uninstaller that started us is still ending; a file that never becomes deletable
// (no rights) must not keep this process alive for ever.
constexpr unsigned kDeletePauseMs = 100;
constexpr int kDeleteTries = 600;
}  // namespace

void RunDelFile() {
    const std::u16string target = ParamStr(2);
    platform::RemoveFile(target);
    for (int tries = 0; platform::FileExists(target) && tries < kDeleteTries; ++tries) {
        platform::SleepMs(kDeletePauseMs);
        platform::RemoveFile(target);
    }
    platform::DeleteAtReboot(platform::ModulePath());
    if (ParamCount() == 4) platform::ShowMessage(ParamStr(4), ParamStr(3), platform::MB_ICONINFORMATION_);
}

int SetupMain(std::u16string_view commandLine) {
    SetParams(SplitCommandLine(commandLine));
    if (IsDelFileSwitch()) {
        RunDelFile();
        return kExitDone;
    }
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
