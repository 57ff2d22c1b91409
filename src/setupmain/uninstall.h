// The uninstall run of an uninstaller: one question, then everything its installation left
// is removed, each trace by its owner, and the uninstaller's own file by a temporary copy.
#pragma once

#include "cmdline.h"
#include "outcome.h"
#include "setup_package.h"

// Silent: no question. Preview: the question, and nothing removed.
Outcome RunUninstall(TSetupPackage& Package, const TCommandLine& CommandLine);
