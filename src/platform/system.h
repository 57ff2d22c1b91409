// The process, the operating system and the user interface primitives the setup needs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "../common/bytes.h"
#include "../common/osversion.h"

namespace platform {

// The raw command line of the process, as one string.
std::u16string CommandLine();

OsVersionInfo OsVersion();

// True when the file's PE headers are those of the image this process runs.
bool IsRunningImage(ByteSource& file);

// CRC-32 (common/crc32.h) continued over Size bytes, by the fastest means the processor has.
std::uint32_t Crc32(std::uint32_t Crc, const void* Data, std::size_t Size);

// The process runs as the local system account, as deployment tools install.
bool IsSystemAccount();

// The process holds an administrator's powers: the system counts its token elevated (an
// administrator's after the consent prompt or with the prompt turned off, or one with such
// privileges), or it runs as the local system account. Counts as elevated where that cannot
// be read.
bool IsElevated();

// Milliseconds since the system started.
std::uint64_t TickCount();

// The system's code (GetLastError) of the last failure of a platform function, read right
// after the failing call. The registry's functions leave theirs here too.
std::uint32_t LastError();

std::uint32_t ProcessId();

// The local date and time: year, month, day, hour, minute, second and millisecond.
using DateTime = std::array<unsigned, 7>;
DateTime LocalTime();

// A value that differs from run to run, to seed names that must not collide.
std::uint64_t PerformanceCounter();

// Message box flags, with the values Windows gives them.
enum : unsigned {
    MB_OK_ = 0x0,
    MB_YESNO_ = 0x4,
    MB_ICONERROR_ = 0x10,
    MB_ICONQUESTION_ = 0x20,
    MB_ICONINFORMATION_ = 0x40,
};
enum : int { IDOK_ = 1, IDYES_ = 6, IDNO_ = 7 };

// The text in the system's 8-bit code page; false unless every character converts exactly
// (no best-fit substitute, no default character).
bool ToAnsiExact(std::u16string_view text, std::string& out);

// Modal over the application's windows; returns the button pressed.
int ShowMessage(const std::u16string& text, const std::u16string& caption, unsigned flags);

// Show commands, with the values Windows gives them.
enum : int { SW_HIDE_ = 0, SW_SHOWNORMAL_ = 1, SW_SHOWNOACTIVATE_ = 4 };

// Hands a file, program or address to the shell; an empty verb is the default action. What
// it starts works in directory (a full path), never in the folder this program was started
// from. Returns once that has started; false when it could not (see LastError).
bool ShellOpen(bool ownedByMainForm, const std::u16string& verb, const std::u16string& file,
               const std::u16string& parameters, const std::u16string& directory, int showCommand);

// The shell's folder chooser, modal over the application. Folder holds the folder to
// preselect and, when the user confirms, the chosen one.
bool BrowseForFolder(std::u16string& Folder, const std::u16string& Text, int HelpContext);

}  // namespace platform
