// The program's entry: chooses the run mode and runs it.
#pragma once

#include <string_view>

// Runs the program for the given command line and returns the process exit code.
int SetupMain(std::u16string_view commandLine);

// Deletes the uninstaller named by parameter 2 once it has ended, then schedules the
// running copy's own deletion and, given four parameters, shows the completion message.
void RunDelFile();
