// Command-line parameters and the run modes they select.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits a command line the way the program's parameters are numbered: blanks and control
// characters separate, double quotes group and are removed, backslashes are plain text.
// Element 0 is the program name.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// The parameters of this run, element 0 being the program.
void SetParams(std::vector<std::u16string> params);
int ParamCount();
std::u16string ParamStr(int index);  // empty beyond ParamCount

bool IsDelFileSwitch();
bool IsSilentSwitch();
bool IsPreviewOnlySwitch();

extern bool SilentMode;
extern bool PreviewOnlyMode;

// Process exit codes, for unattended deployment.
enum ExitCodes : int {
    kExitDone = 0,
    kExitDamaged = 1,
    kExitDirectoryRefused = 2,
    kExitInstallFailed = 3,
    kExitCancelled = 4,
};
extern int ExitCode;

// The application title, caption of the messages without one of their own.
inline constexpr char16_t kApplicationTitle[] = u"Screensaver Setup";
