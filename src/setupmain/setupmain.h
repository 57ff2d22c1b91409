// The setup form: reads its package when created and runs the wizard.
#pragma once

#include <cstdint>
#include <string>

#include "../platform/ui.h"
#include "setup_header.h"

class TSCRSetup {
public:
    TSCRSetup() = default;

    // Reads the package and prepares the run; every read failure is reported here.
    void FormCreate();
    void FormDestroy();
    void LangRenameControls();

    platform::Form Window;
    std::u16string edReadme;
    std::u16string edLicense;

    std::int64_t FileEnd = 0;
    TrailerKind Role = TrailerKind::None;

private:
    void ReadPackage();
    void ReportCorruptedPackage();
};

extern TSetupHeader SetupHeader;
extern std::u16string LangText;
extern TSCRSetup* SCRSetup;
