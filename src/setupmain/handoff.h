// The uninstaller's own file: an uninstaller cannot delete itself while it runs, so it starts
// a temporary copy of itself that deletes it once it has ended. Both ends live here.
#pragma once

#include <cstdint>
#include <string>

#include "cmdline.h"
#include "outcome.h"
#include "setup_package.h"

// The name of every temporary copy begins so.
inline constexpr char16_t kTemporaryCopyPrefix[] = u"Parvolinexuninst";

// Name of the temporary copy for number N: "Parvolinexuninst<N>.exe".
std::u16string TemporaryCopyName(std::uint32_t N);

// What the temporary copy tells the user once the uninstaller is gone.
enum class ClosingBox { None, Removed, RemovedAtRestart };

// The parameters the temporary copy is started with: the path quoted, and for a box one of
// the fixed words of cmdline.h. No text of the package travels: the copy reads its title and
// translations from its own file, so that no translation can add a switch. With a LogPath the
// copy appends its part to the uninstaller's log.
std::u16string DelFileParameters(const std::u16string& UninstallerPath, ClosingBox Box,
                                 const std::u16string& LogPath = {});

// Sending end: starts a copy of the running uninstaller (from the file it holds), whose full
// path is Self, in the temporary folder. Without a temporary folder the uninstaller stays.
void HandOffToTemporaryCopy(TSetupPackage& Package, const std::u16string& Self, ClosingBox Box);

// Receiving end, the run of the temporary copy: deletes the uninstaller the command line
// names once it has ended and, when asked, shows the completion message: the one of its own
// package for a closing word, or the caption and text given. Schedules the copy's own
// deletion at the next start. FileStayed when the file stays (not an uninstaller, or it
// cannot be deleted).
Outcome RunDelFile(const TCommandLine& CommandLine, const TSetupPackage& Package);
