// The log of a run, when the command line asks for one (/LOG=file, -log file): the start with
// the command line and the program's version, what the run is, every file, folder, registry
// key and value and link made or removed, every failure with the system's error code, and
// the exit code. UTF-8 lines ending in CR LF appended to the file, a new file beginning with a
// byte-order mark. Each line begins with the local time and the process id: the uninstaller's
// temporary copy appends to the same file while the uninstaller may still write to it.
#pragma once

#include <cstdint>
#include <string>

#include "../platform/files.h"

// Holds the log open for the run and writes its first lines; the functions below write to it
// while it exists. A file that cannot be opened (or an empty path) gives no log, and the run
// goes on without one.
class TRunLog {
public:
    TRunLog(const std::u16string& Path, const std::u16string& CommandLine);
    ~TRunLog();
    TRunLog(const TRunLog&) = delete;
    TRunLog& operator=(const TRunLog&) = delete;

    // The full path, so that a process working in another folder finds the same file.
    std::u16string Path;
    platform::File File;
};

// "<What>" or "<What> <Subject>" in the open log; nothing without one.
void LogLine(const char* What);
void LogLine(const char* What, const std::u16string& Subject);
// A step that was tried, with its code: 0 when done, else the system's error code or a COM
// result, which the line ends with.
void LogResult(std::uint32_t Code, const char* What, const std::u16string& Subject);
// The same with the system's code of the failure that just happened (LastError). Detail
// follows the subject as it is: a registry value's name after its key, for one. Done.
bool LogStep(bool Done, const char* What, const std::u16string& Subject, const char16_t* Detail = nullptr);
// A removal: a file, folder, key or value that is not there says so rather than failing.
bool LogRemoval(bool Done, const char* What, const std::u16string& Subject, const char16_t* Detail = nullptr);

// The open log's full path; empty without one.
std::u16string RunLogPath();
