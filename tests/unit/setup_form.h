// The setup form of a run with the given command line, created as the program's entry
// creates it (the package is read from the program file the stand-in names).
#pragma once

#include <memory>
#include <string>

#include "setupmain/cmdline.h"
#include "setupmain/setupmain.h"

inline std::unique_ptr<TSCRSetup> CreateSetupForm(const std::u16string& commandLine) {
    SetParams(SplitCommandLine(commandLine));
    SilentMode = IsSilentSwitch();
    PreviewOnlyMode = IsPreviewOnlySwitch();
    auto form = std::make_unique<TSCRSetup>();
    form->FormCreate();
    return form;
}
