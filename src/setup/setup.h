// The program's entry: chooses the run mode and runs it.
#pragma once

#include <string_view>

// Runs the program for the given command line and returns the process exit code.
int SetupMain(std::u16string_view commandLine);

// The receiving end of an uninstallation, run by the uninstaller's temporary copy: deletes
// the uninstaller named by parameter 2 once it has ended and, given four parameters, shows
// the completion message. Schedules the copy's own deletion at the next start. Returns the
// exit code: 3 when the file stays (not an uninstaller, or it cannot be deleted).
int RunDelFile();
