// Controls of the stand-in platform, for native tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../../common/osversion.h"
#include "../controls.h"
#include "../files.h"
#include "../registry.h"

namespace standin {

// Host path for a Windows path: backslashes become slashes; a drive "X:" maps to the
// folder given for it (unmapped drives do not exist).
std::string HostPath(const std::u16string& path);
void MapDrive(char16_t letter, const std::string& hostFolder);

// The program "starts" from the file at path: that file, by identity, is the running one,
// whatever is put at the path later.
void SetModulePath(const std::u16string& path);
void SetCommandLine(const std::u16string& commandLine);
void SetOsVersion(const OsVersionInfo& info);
// What LastError reports next; the stand-in's own failures set the code Windows would give.
void SetLastError(std::uint32_t code);
// The local time stands still at 2024-05-06 07:08:09.010. The process id is 4711 after Reset
// and the next number after each ResetProcess, as for a new process.

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
// Files scheduled to replace others at the next system start: (from, to).
std::vector<std::pair<std::u16string, std::u16string>>& RebootReplacements();
// Nothing can be scheduled for the next start, as without the rights to do so.
void DenyRebootOperations(bool deny);
// Called on every pause of the program, to let a test change the world meanwhile.
void SetSleepHook(std::function<void(unsigned)> hook);

// A file held open by another process that shares neither reading nor writing: opening
// it fails, and so does deleting it unless the holder allows deletion.
void LockFile(const std::u16string& path, bool allowsDelete = false);
// What ReadVersionStrings finds in the file at path (as long as it exists).
void SetVersionStrings(const std::u16string& path, const platform::VersionStrings& strings);
// The file is open and goes when its handle closes.
bool DeleteOnClosePending(const std::u16string& path);
// A program file that runs: it can be read, but not deleted until UnlockFile.
void HoldAsRunningProgram(const std::u16string& path);
void UnlockFile(const std::u16string& path);
// Called when a file is held read-only, in the moment between its writing handle and the
// reading one, to let a test change the file as another process could.
void SetHoldGapHook(std::function<void(const std::u16string&)> hook);
// Folders made with an access list of their own, in order.
std::vector<std::u16string>& RestrictedFolders();
// What other users may do to the file or folder at path (platform::kOthers... bits), as its
// owner and access list would say; nothing unless set. A host symbolic link is a link.
void SetOthersAccess(const std::u16string& path, unsigned others);
// Called on every look at a path's owner and access list, to let a test change the world
// meanwhile.
void SetOthersAccessHook(std::function<void(const std::u16string&)> hook);

// What the system reports as the Windows, System and temporary directories (Windows
// paths; defaults C:\Windows, C:\Windows\system32 and C:\Windows\Temp\).
void SetWindowsDir(const std::u16string& path);
void SetSystemDir(const std::u16string& path);
void SetTempDir(const std::u16string& path);
// Special folders by CSIDL; a folder never set cannot be located.
void SetSpecialFolder(int csidl, const std::u16string& path);

// Shell links are written as UTF-8 text: "target=<path>\nicon=<path>,<index>\n".
// A test can make one step of writing a link fail with the given result code.
enum class LinkStep { None, CreateObject, QueryPersistFile, Save };
void FailShellLink(LinkStep step, std::int32_t result);
// COM initialisations and shell-link objects not released yet.
int PendingComInitialisations();
int LiveShellLinks();

// Parts of Reset.
void ResetControls();
void ResetFileLocks();
void ResetShell();

// Every hand-over to the shell, in order.
struct ShellCall {
    bool ownedByMainForm;
    std::u16string verb, file, parameters, directory;
    int showCommand;
};
std::vector<ShellCall>& ShellCalls();

// What the folder chooser answers: nullptr pressed Cancel, otherwise the folder chosen.
// The folder it was opened with is kept for the test.
void SetBrowseAnswer(const std::u16string* chosen);
const std::u16string& LastBrowseStart();
const std::u16string& LastBrowseText();
int BrowseCount();

// The registry, kept in memory: keys by root and path, letter case ignored.
void SetRegValue(platform::RegRoot root, const std::u16string& key, const std::u16string& name,
                 const std::u16string& data, bool text = true);
// A value of exactly these bytes, as RegSetValueEx stores any length: a string without its
// terminator or of odd length.
void SetRegRawValue(platform::RegRoot root, const std::u16string& key, const std::u16string& name,
                    const std::string& bytes, bool text = true);
// Called before every query of a value while it is read, to let a test change the registry
// between the queries of one read.
void SetRegistryReadHook(std::function<void()> hook);
// The text of a string value; nullopt when the value is missing or not a string.
std::optional<std::u16string> RegString(platform::RegRoot root, const std::u16string& key, const std::u16string& name);
bool RegKeyExists(platform::RegRoot root, const std::u16string& key);
// A REG_DWORD value written by WriteDword.
std::optional<std::uint32_t> RegDword(platform::RegRoot root, const std::u16string& key, const std::u16string& name);
std::size_t RegValueCount(platform::RegRoot root, const std::u16string& key);
// Every key below key, as paths relative to it (lower case).
std::vector<std::u16string> RegSubkeys(platform::RegRoot root, const std::u16string& key);
// Keys under the root can no longer be created or written, as without the rights.
void DenyRegistryWrites(platform::RegRoot root);
void ResetRegistry();

void SetPerformanceCounter(std::uint64_t value);
// Each reading of the clock (TickCount) moves it on by ms; 0, the start, stops it.
void SetClockStep(std::uint64_t ms);
// Runs as the local system account, which is elevated as well.
void SetSystemAccount(bool system);
// Runs with an elevated token.
void SetElevated(bool elevated);
// How often the control was repainted at once (not only invalidated); by its handle too.
int RepaintCount(const platform::Control& control);
int RepaintCount(const void* handle);
// Whether the program file read is the image that runs (default: it is).
void SetRunningImage(bool matches);

// The screen cursor is the hourglass.
bool BusyCursor();
// Every change of the busy cursor and of the form's enabled state, in order ("busy",
// "idle", "form disabled", "form enabled").
std::vector<std::string>& UiTrace();
// Called on every pass of the message loop during long operations.
void SetMessagePump(std::function<void()> pump);

// Short (8.3) forms of paths; a path without one has none.
std::map<std::u16string, std::u16string>& ShortPaths();

// Room left on every drive: writes stop when it is used up, as on a full disk; -1 for
// no limit.
void SetFreeSpace(long long bytes);

// A new process on the same machine: no messages, shell calls or terminate request; files,
// registry, folders and settings stay.
void ResetProcess();

// Back to a fresh process: no messages, no terminate request, default settings.
void Reset();

}  // namespace standin
