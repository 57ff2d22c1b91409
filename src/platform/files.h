// Files and folders. Paths are Windows paths in UTF-16; the stand-in maps them onto
// the host's file system (see standin/standin.h).
#pragma once

#include <cstdint>
#include <string>

#include "../common/bytes.h"

namespace platform {

// Who else may use a file while we hold it.
enum class Share { DenyNone, DenyWrite, Exclusive };

class File final : public ByteSource, public ByteSink {
public:
    File() = default;
    ~File() override;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static File OpenRead(const std::u16string& path, Share share);
    static File OpenReadWrite(const std::u16string& path, Share share);
    // Creates or truncates the file for writing, nobody else may open it meanwhile.
    static File CreateExclusive(const std::u16string& path);
    // The same for a file that must not exist yet: never replaces one. Others may read it
    // meanwhile only when share says so.
    static File CreateNew(const std::u16string& path, Share share = Share::Exclusive);
    // Opens the file, created when missing, for writing at its end only: others may read it
    // and append to it meanwhile, each write landing whole after the last. Not open when the
    // file is not one this account could have written alone: another name leads to it (a hard
    // link), it is a link itself or the path passes one (a junction, a symbolic link, a mount
    // point), it is no file on a disk, or its owner is someone other than the running account,
    // the administrators or the system. A file made here for such a path is removed again.
    static File OpenForAppend(const std::u16string& path);

    bool IsOpen() const { return handle_ != kInvalid; }
    // With true, a file made by CreateExclusive or by CreateNew sharing nothing goes when its
    // handle closes, also when the process is ended meanwhile: a half-written file never
    // stays. False once it is whole.
    [[nodiscard]] bool SetDeleteOnClose(bool remove);
    // A file on a disk, not a device such as NUL or COM1.
    bool IsDiskFile() const;
    void Close();

    // Swaps this handle, which made path and shares reading, for one that only reads and
    // shares nothing but reading: the file can then be started, and nobody can write, rename
    // or delete it while it is held. False, and closed, when that cannot be had. A process
    // allowed to write the file may have done so in the moment between the two handles:
    // check the content once it is held.
    bool HoldReadOnly(const std::u16string& path);

    // True when this is the very file the running program was started from, not another put
    // at its path since. True where the system cannot tell.
    bool IsRunningProgramFile();

    std::int64_t Size() override;
    std::size_t ReadAt(std::int64_t offset, void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;

private:
    static constexpr std::intptr_t kInvalid = -1;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = kInvalid;
};

bool FileExists(const std::u16string& path);
bool DirectoryExists(const std::u16string& path);
bool RemoveFile(const std::u16string& path);
// Restricted: the folder gets an access list of its own rather than its parent's, which the
// folders and files made in it later inherit: the system, the administrators and the
// folder's owner (the user of a process that is not elevated) may do anything, all other
// users only read and run.
bool MakeDirectory(const std::u16string& path, bool restricted = false);
bool RemoveEmptyDirectory(const std::u16string& path);
// Renames a file within its volume, on the disk before it returns. With replace a file at to
// gives way (not one that is in use); without, one there makes it fail.
bool RenameFile(const std::u16string& from, const std::u16string& to, bool replace);

// What users other than the system, the administrators, TrustedInstaller and the running
// account may do to an existing file or folder, by its owner and access list. A link is
// judged as itself, not by where it leads.
enum : unsigned {
    kOthersOwnIt = 1,   // one of them owns it
    kOthersAddTo = 2,   // they may write it: add files or folders to a folder
    kOthersSwapIt = 4,  // they may delete or rename it or what it holds, or change its owner or access list
    kItIsALink = 8,     // a junction, symbolic link or mount point (any reparse point)
};
// Every bit when the path cannot be opened or its security not read.
unsigned OthersAccess(const std::u16string& path);
// Schedules the file's deletion at the next start of the system.
bool DeleteAtReboot(const std::u16string& path);
// Schedules from to replace to at the next start of the system.
bool ReplaceAtReboot(const std::u16string& from, const std::u16string& to);
// True when the file's deletion at the next start is already scheduled.
bool DeletionAtRebootPending(const std::u16string& path);

// What a program's version resource says (its first language): the "ProductVersion",
// "FileVersion" and "CompanyName" strings. False when it has none.
struct VersionStrings {
    std::u16string productVersion, fileVersion, companyName;
};
bool ReadVersionStrings(const std::u16string& path, VersionStrings& strings);

// The absolute form of a path, "." and ".." resolved; the path itself when that fails.
std::u16string FullPath(const std::u16string& path);

// The short (8.3) form of an existing path; the path itself where the volume has none.
std::u16string ShortPath(const std::u16string& path);

// Full path of the running executable.
std::u16string ModulePath();

void SleepMs(unsigned ms);

}  // namespace platform
