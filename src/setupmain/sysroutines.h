// Where the system keeps its folders, directory creation, shell shortcuts and guarded
// deletion: the setup's small wrappers around the operating system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../common/bytes.h"
#include "../platform/files.h"
#include "../platform/shell.h"

std::u16string GetWinDir();           // no trailing backslash
std::u16string GetSystemDir();        // no trailing backslash; empty when the system fails
std::u16string GetTempDir();          // ends in a backslash
std::u16string GetProgramFilesDir();  // no trailing backslash; empty when the shell fails

// The file-system path of a special folder (CSIDL), trimmed of blanks and control
// characters and ending in a backslash; empty when the shell cannot locate it.
std::u16string GetShellFolderDir(int FolderId);

// Creates Dir with all missing parents, outermost first. False when a parent part is
// empty (a relative name that does not exist) or a folder cannot be created. Created, when
// given, receives each folder made, outermost first. Names of at most two characters (a
// drive such as C:) and names that are their own parent count as existing. Restricted: each
// folder made gets an access list of its own (see platform::MakeDirectory).
bool ForceDirectories(const std::u16string& Dir, std::vector<std::u16string>* Created = nullptr,
                      bool Restricted = false);

// The same, reporting nothing: callers that need the folder test for it afterwards.
void CreateDirTree(const std::u16string& Dir);

// The longest link path (in UTF-16 code units) that CreateShortcut writes.
inline constexpr std::size_t kMaxLinkPath = 260;

// Writes <special folder FolderId>\<LinkName>.lnk pointing at Target, with Target's first
// icon. LinkName may start with a sub-folder, which must exist. Returns S_OK_ or the
// failing result code.
platform::HResult CreateShortcut(const std::u16string& Target, const std::u16string& LinkName, int FolderId);

// The path a link file starts, as it was written; empty when it cannot be read.
std::u16string LinkTarget(const std::u16string& LinkFile);

// One file or folder, however the two paths spell it (short or long names, letter case). A
// path that does not exist compares as it is written.
bool SamePath(const std::u16string& a, const std::u16string& b);

// A new file FileName with Source's bytes, held read-only (see File::HoldReadOnly) so that it
// can be started as it is. Not open when FileName exists already (whoever put it there could
// change it), or when it cannot be written or held as written (what it made is removed).
platform::File CreateHeldCopy(ByteSource& Source, const std::u16string& FileName);

// True when FileName is gone afterwards (or never existed); false while anybody holds it
// open or it cannot be deleted for any other reason.
bool TryDeleteFile(const std::u16string& FileName);

// How a removal of an installed file ended: gone, left for the next start of the system (it
// is in use), or still there.
enum class Removal { Done, AtRestart, Stayed };

// Deletes FileName now, or schedules its deletion at the next start when it cannot go now.
// A file that is not there counts as removed. Logged either way.
Removal RemoveNowOrAtRestart(const std::u16string& FileName);
