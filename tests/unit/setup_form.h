// The wizard of a run with the given command line, made as the program's entry makes it: the
// command line and the package read once, the translations built, the form created.
#pragma once

#include <memory>
#include <string>

#include "common/lang.h"
#include "setup/exit_codes.h"
#include "setupmain/cmdline.h"
#include "setupmain/form.h"
#include "setupmain/setup_package.h"

struct EntryState {
    explicit EntryState(const std::u16string& commandLine)
        : entryLine_(ParseCommandLine(commandLine)), entryPackage_(LoadSetupPackage()) {
        if (entryPackage_.LanguageRead) LoadLangSection(entryPackage_.LangText, u"Setup");
    }
    TCommandLine entryLine_;
    TSetupPackage entryPackage_;
};

class TestForm final : private EntryState, public TSCRSetup {
public:
    explicit TestForm(const std::u16string& commandLine)
        : EntryState(commandLine), TSCRSetup(entryPackage_, entryLine_) {
        FormCreate();
    }
    // The exit code the run would end with now.
    int ExitCode() const { return ExitCodeFor(RunOutcome()); }
};

inline std::unique_ptr<TestForm> CreateSetupForm(const std::u16string& commandLine) {
    return std::make_unique<TestForm>(commandLine);
}
