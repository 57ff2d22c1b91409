// Process exit codes, for unattended deployment, and the one mapping from how a run ended.
#pragma once

#include "../setupmain/outcome.h"

enum ExitCodes : int {
    kExitDone = 0,
    kExitDamaged = 1,
    kExitDirectoryRefused = 2,
    kExitInstallFailed = 3,
    kExitCancelled = 4,
    // The code Windows installers give for "done, a restart completes it" (ERROR_SUCCESS_REBOOT_REQUIRED).
    kExitRestartNeeded = 3010,
};

// Running out of memory ends the run where it happens, before any outcome exists.
inline constexpr int kExitOutOfMemory = kExitInstallFailed;

constexpr int ExitCodeFor(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done: return kExitDone;
        case Outcome::Damaged: return kExitDamaged;
        case Outcome::DirectoryRefused: return kExitDirectoryRefused;
        case Outcome::InstallFailed: return kExitInstallFailed;
        case Outcome::Cancelled: return kExitCancelled;
        // Shares the code of a failed installation: the uninstallation is not complete.
        case Outcome::FileStayed: return kExitInstallFailed;
        case Outcome::RestartNeeded: return kExitRestartNeeded;
    }
    return kExitInstallFailed;
}
