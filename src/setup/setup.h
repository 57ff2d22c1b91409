// The program's entry: reads the command line and the package once, chooses the run and
// turns its outcome into the exit code.
#pragma once

#include <string_view>

// Runs the program for the given command line and returns the process exit code.
int SetupMain(std::u16string_view commandLine);
