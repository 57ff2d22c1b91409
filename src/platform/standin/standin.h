// Controls of the stand-in platform, for native tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "../../setupmain/package.h"

namespace standin {

// Host path for a Windows path: backslashes become slashes; a drive "X:" maps to the
// folder given for it (unmapped drives do not exist).
std::string HostPath(const std::u16string& path);
void MapDrive(char16_t letter, const std::string& hostFolder);

void SetModulePath(const std::u16string& path);
void SetCommandLine(const std::u16string& commandLine);
void SetOsVersion(const OsVersionInfo& info);

struct MessageRecord {
    std::u16string text;
    std::u16string caption;
    unsigned flags;
};
// Every message shown, in order; the answer given to each is the scripted one.
std::vector<MessageRecord>& Messages();
void SetMessageAnswer(int answer);

// Files scheduled for deletion at the next system start.
std::vector<std::u16string>& RebootDeletions();
// Called on every pause of the program, to let a test change the world meanwhile.
void SetSleepHook(std::function<void(unsigned)> hook);

// Back to a fresh process: no messages, no terminate request, default settings.
void Reset();

}  // namespace standin
