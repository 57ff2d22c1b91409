#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "../../common/text.h"
#include "../files.h"
#include "../system.h"
#include "standin.h"

namespace standin {

namespace {
std::map<char16_t, std::string>& Drives() {
    static std::map<char16_t, std::string> drives;
    return drives;
}
std::u16string& Module() {
    static std::u16string path;
    return path;
}
// The host file the program was started from (device and inode), when there was one.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
};
FileIdentity& ModuleIdentity() {
    static FileIdentity identity;
    return identity;
}
std::function<void(const std::u16string&)>& HoldGapHook() {
    static std::function<void(const std::u16string&)> hook;
    return hook;
}
std::function<void(unsigned)>& SleepHook() {
    static std::function<void(unsigned)> hook;
    return hook;
}
// Host paths of open files that go when closed, by descriptor.
std::map<int, std::string>& DeletePending() {
    static std::map<int, std::string> pending;
    return pending;
}
// Held files, and whether their holder allows deletion.
std::map<std::string, bool>& Locked() {
    static std::map<std::string, bool> locked;
    return locked;
}
long long& FreeSpace() {
    static long long bytes = -1;
    return bytes;
}
std::map<std::string, unsigned>& Others() {
    static std::map<std::string, unsigned> others;
    return others;
}
std::function<void(const std::u16string&)>& OthersHook() {
    static std::function<void(const std::u16string&)> hook;
    return hook;
}
std::set<std::string>& Running() {
    static std::set<std::string> running;
    return running;
}
bool& RebootDenied() {
    static bool denied = false;
    return denied;
}
bool IsLocked(const std::string& hostPath) { return Locked().count(hostPath) != 0; }
bool IsUndeletable(const std::string& hostPath) {
    const auto it = Locked().find(hostPath);
    return (it != Locked().end() && !it->second) || Running().count(hostPath) != 0;
}
}  // namespace

std::map<std::string, platform::VersionStrings>& Versions() {
    static std::map<std::string, platform::VersionStrings> versions;
    return versions;
}
void SetVersionStrings(const std::u16string& path, const platform::VersionStrings& strings) {
    Versions()[HostPath(path)] = strings;
}

bool DeleteOnClosePending(const std::u16string& path) {
    std::error_code error;
    for (const auto& [fd, host] : DeletePending())
        if (std::filesystem::equivalent(host, HostPath(path), error)) return true;
    return false;
}

void LockFile(const std::u16string& path, bool allowsDelete) { Locked()[HostPath(path)] = allowsDelete; }
void UnlockFile(const std::u16string& path) {
    Locked().erase(HostPath(path));
    Running().erase(HostPath(path));
}
void HoldAsRunningProgram(const std::u16string& path) { Running().insert(HostPath(path)); }
void ResetFileLocks() {
    Locked().clear();
    Versions().clear();
    Running().clear();
    FreeSpace() = -1;
    ShortPaths().clear();
    RestrictedFolders().clear();
    Others().clear();
    OthersHook() = nullptr;
    HoldGapHook() = nullptr;
    RebootDenied() = false;
}
std::vector<std::pair<std::u16string, std::u16string>>& RebootReplacements() {
    static std::vector<std::pair<std::u16string, std::u16string>> replacements;
    return replacements;
}
void DenyRebootOperations(bool deny) { RebootDenied() = deny; }
void SetOthersAccess(const std::u16string& path, unsigned others) { Others()[HostPath(path)] = others; }
void SetOthersAccessHook(std::function<void(const std::u16string&)> hook) { OthersHook() = std::move(hook); }
std::vector<std::u16string>& RestrictedFolders() {
    static std::vector<std::u16string> folders;
    return folders;
}
void SetHoldGapHook(std::function<void(const std::u16string&)> hook) { HoldGapHook() = std::move(hook); }
void SetFreeSpace(long long bytes) { FreeSpace() = bytes; }
std::map<std::u16string, std::u16string>& ShortPaths() {
    static std::map<std::u16string, std::u16string> paths;
    return paths;
}

std::string HostPath(const std::u16string& path) {
    std::u16string p = path;
    std::string prefix;
    if (p.size() >= 2 && p[1] == u':') {
        const char16_t letter = static_cast<char16_t>(p[0] >= u'a' && p[0] <= u'z' ? p[0] - 32 : p[0]);
        const auto it = Drives().find(letter);
        // An unmapped drive resolves below a folder that never exists.
        prefix = it == Drives().end() ? std::string("/nonexistent-drive-") + static_cast<char>(letter) : it->second;
        p = p.substr(2);
        if (p.empty()) p = u"/";
    }
    for (auto& c : p)
        if (c == u'\\') c = u'/';
    return prefix + text::Utf16ToUtf8(p);
}

void MapDrive(char16_t letter, const std::string& hostFolder) { Drives()[letter] = hostFolder; }
void SetModulePath(const std::u16string& path) {
    Module() = path;
    struct stat st;
    const bool exists = ::stat(HostPath(path).c_str(), &st) == 0;
    ModuleIdentity() = exists ? FileIdentity{st.st_dev, st.st_ino, true} : FileIdentity{};
}
std::vector<std::u16string>& RebootDeletions() {
    static std::vector<std::u16string> list;
    return list;
}
void SetSleepHook(std::function<void(unsigned)> hook) { SleepHook() = std::move(hook); }

}  // namespace standin

namespace platform {

namespace {
// Windows error codes of the failures the stand-in has.
enum : std::uint32_t {
    kFileNotFound = 2,
    kPathNotFound = 3,
    kAccessDenied = 5,
    kGenFailure = 31,
    kSharingViolation = 32,
    kFileExists = 80,
    kDiskFull = 112,
    kDirNotEmpty = 145,
    kAlreadyExists = 183,
};

// Leaves the code Windows gives for the host's error for LastError; false.
bool Failed(const std::string& host, int error) {
    std::uint32_t code = kGenFailure;
    switch (error) {
        case ENOENT: {
            // A missing folder on the way is another code than a missing file.
            struct stat st;
            const std::string parent = std::filesystem::path(host).parent_path().string();
            code = ::stat(parent.c_str(), &st) == 0 ? kFileNotFound : kPathNotFound;
            break;
        }
        case ENOTDIR: code = kPathNotFound; break;
        case EACCES: case EPERM: case EISDIR: code = kAccessDenied; break;
        case EEXIST: code = kFileExists; break;
        case ENOSPC: code = kDiskFull; break;
        case ENOTEMPTY: code = kDirNotEmpty; break;
        default: break;
    }
    standin::SetLastError(code);
    return false;
}

std::intptr_t OpenHost(const std::u16string& path, int flags) {
    const std::string host = standin::HostPath(path);
    if (standin::IsLocked(host)) {
        standin::SetLastError(kSharingViolation);
        return -1;
    }
    const int fd = ::open(host.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) Failed(host, errno);
    return fd < 0 ? -1 : fd;
}
}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kInvalid;
    }
    return *this;
}

bool ReadVersionStrings(const std::u16string& path, VersionStrings& strings) {
    const auto found = standin::Versions().find(standin::HostPath(path));
    if (found == standin::Versions().end() || !std::filesystem::exists(found->first)) return false;
    strings = found->second;
    return true;
}

void File::Close() {
    if (handle_ != kInvalid) {
        auto& pendingFiles = standin::DeletePending();
        const auto pending = pendingFiles.find(static_cast<int>(handle_));
        if (pending != pendingFiles.end()) {
            ::unlink(pending->second.c_str());
            pendingFiles.erase(pending);
        }
        ::close(static_cast<int>(handle_));
    }
    handle_ = kInvalid;
}

bool File::SetDeleteOnClose(bool remove) {
    if (!IsOpen()) return false;
    const int fd = static_cast<int>(handle_);
    if (!remove) {
        standin::DeletePending().erase(fd);
        return true;
    }
    char target[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    standin::DeletePending()[fd] = std::string(target, static_cast<std::size_t>(n));
    return true;
}

// The host has no share modes; the stand-in opens files shared.
File File::OpenRead(const std::u16string& path, Share) { return File(OpenHost(path, O_RDONLY)); }
File File::OpenReadWrite(const std::u16string& path, Share) { return File(OpenHost(path, O_RDWR)); }
File File::CreateExclusive(const std::u16string& path) { return File(OpenHost(path, O_RDWR | O_CREAT | O_TRUNC)); }
File File::CreateNew(const std::u16string& path, Share) { return File(OpenHost(path, O_RDWR | O_CREAT | O_EXCL)); }
File File::OpenForAppend(const std::u16string& path) {
    // The last name is never followed, as the system opens a link itself.
    constexpr int flags = O_WRONLY | O_APPEND | O_NOFOLLOW;
    File file(OpenHost(path, flags));
    bool made = false;
    if (!file.IsOpen() && LastError() == kFileNotFound) {
        file = File(OpenHost(path, flags | O_CREAT | O_EXCL));
        made = file.IsOpen();
    }
    // A folder on the way that is a host link, as a junction would be.
    bool throughLink = false;
    for (std::size_t i = 3; i < path.size(); ++i) {
        struct stat st;
        if (path[i] == u'\\' && ::lstat(standin::HostPath(path.substr(0, i)).c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            throughLink = true;
    }
    struct stat st;
    if (file.IsOpen() && (throughLink || ::fstat(static_cast<int>(file.handle_), &st) != 0 || !S_ISREG(st.st_mode) ||
                          st.st_nlink != 1 || (OthersAccess(path) & kOthersOwnIt))) {
        file.Close();
        if (made) ::unlink(standin::HostPath(path).c_str());
    }
    return file;
}

bool File::HoldReadOnly(const std::u16string& path) {
    if (!IsOpen()) return false;
    Close();
    if (standin::HoldGapHook()) standin::HoldGapHook()(path);
    handle_ = OpenHost(path, O_RDONLY);
    return IsOpen();
}

bool File::IsRunningProgramFile() {
    struct stat st;
    const standin::FileIdentity& running = standin::ModuleIdentity();
    return IsOpen() && running.known && ::fstat(static_cast<int>(handle_), &st) == 0 &&
           st.st_dev == running.device && st.st_ino == running.inode;
}

bool File::IsDiskFile() const {
    struct stat st;
    return IsOpen() && ::fstat(static_cast<int>(handle_), &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t File::Size() {
    struct stat st;
    if (!IsOpen() || ::fstat(static_cast<int>(handle_), &st) != 0) return -1;
    return st.st_size;
}

std::size_t File::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
    std::size_t total = 0;
    while (IsOpen() && total < count) {
        const ssize_t n = ::pread(static_cast<int>(handle_), static_cast<char*>(buffer) + total, count - total,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(total)));
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

std::size_t File::Write(const void* buffer, std::size_t count) {
    const std::size_t wanted = count;
    long long& room = standin::FreeSpace();
    if (room >= 0 && static_cast<long long>(count) > room) count = static_cast<std::size_t>(room);
    std::size_t total = 0;
    while (IsOpen() && total < count) {
        const ssize_t n = ::write(static_cast<int>(handle_), static_cast<const char*>(buffer) + total, count - total);
        if (n <= 0) {
            Failed({}, errno);
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    if (room >= 0) room -= static_cast<long long>(total);
    if (total < wanted && room == 0) standin::SetLastError(kDiskFull);
    return total;
}

// A path that is not there leaves its code, as the system's look-up of its attributes does.
bool FileExists(const std::u16string& path) {
    struct stat st;
    const std::string host = standin::HostPath(path);
    if (::stat(host.c_str(), &st) != 0) return Failed(host, errno);
    return S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::u16string& path) {
    struct stat st;
    const std::string host = standin::HostPath(path);
    if (::stat(host.c_str(), &st) != 0) return Failed(host, errno);
    return S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::u16string& path) {
    const std::string host = standin::HostPath(path);
    if (standin::IsUndeletable(host)) {
        // A running program's file refuses deletion; a file held without sharing it, too.
        standin::SetLastError(standin::Running().count(host) ? kAccessDenied : kSharingViolation);
        return false;
    }
    return ::unlink(host.c_str()) == 0 || Failed(host, errno);
}
bool MakeDirectory(const std::u16string& path, bool restricted) {
    const std::string host = standin::HostPath(path);
    if (::mkdir(host.c_str(), 0755) != 0) {
        const int error = errno;
        Failed(host, error);
        // CreateDirectory's code for a name that is taken.
        if (error == EEXIST) standin::SetLastError(kAlreadyExists);
        return false;
    }
    if (restricted) standin::RestrictedFolders().push_back(path);
    return true;
}
bool RemoveEmptyDirectory(const std::u16string& path) {
    const std::string host = standin::HostPath(path);
    return ::rmdir(host.c_str()) == 0 || Failed(host, errno);
}

unsigned OthersAccess(const std::u16string& path) {
    if (standin::OthersHook()) standin::OthersHook()(path);
    const std::string host = standin::HostPath(path);
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return kOthersOwnIt | kOthersAddTo | kOthersSwapIt | kItIsALink;
    const auto set = standin::Others().find(host);
    return (set == standin::Others().end() ? 0 : set->second) | (S_ISLNK(st.st_mode) ? kItIsALink : 0);
}

bool DeletionAtRebootPending(const std::u16string& path) {
    for (const auto& p : standin::RebootDeletions())
        if (text::AsciiLower(p) == text::AsciiLower(path)) return true;
    return false;
}

std::u16string ShortPath(const std::u16string& path) {
    const auto it = standin::ShortPaths().find(path);
    return it == standin::ShortPaths().end() ? path : it->second;
}

bool RenameFile(const std::u16string& from, const std::u16string& to, bool replace) {
    const std::string source = standin::HostPath(from), target = standin::HostPath(to);
    // A running program's file may be renamed, as Windows allows; one held without sharing
    // deletion may not, and neither may a file in use be replaced.
    const auto held = standin::Locked().find(source);
    if (held != standin::Locked().end() && !held->second) {
        standin::SetLastError(kSharingViolation);
        return false;
    }
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
        if (!replace) {
            standin::SetLastError(kAlreadyExists);
            return false;
        }
        if (standin::IsUndeletable(target)) {
            standin::SetLastError(kAccessDenied);
            return false;
        }
    }
    if (::rename(source.c_str(), target.c_str()) != 0) return Failed(source, errno);
    if (standin::Running().erase(source)) standin::Running().insert(target);
    return true;
}

bool DeleteAtReboot(const std::u16string& path) {
    if (standin::RebootDenied()) {
        standin::SetLastError(kAccessDenied);
        return false;
    }
    standin::RebootDeletions().push_back(path);
    return true;
}

bool ReplaceAtReboot(const std::u16string& from, const std::u16string& to) {
    if (standin::RebootDenied()) {
        standin::SetLastError(kAccessDenied);
        return false;
    }
    standin::RebootReplacements().emplace_back(from, to);
    return true;
}

// Relative paths are taken from the root of C:, the tests' working directory.
std::u16string FullPath(const std::u16string& path) {
    const bool absolute = path.size() >= 3 && path[1] == u':' && path[2] == u'\\';
    const std::u16string full = absolute ? path : u"C:\\" + path;
    std::vector<std::u16string> parts;
    std::size_t start = 3;
    for (std::size_t i = start; i <= full.size(); ++i) {
        if (i < full.size() && full[i] != u'\\') continue;
        const std::u16string part = full.substr(start, i - start);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (part != u"." && !(part.empty() && i < full.size())) {
            parts.push_back(part);
        }
        start = i + 1;
    }
    std::u16string out = full.substr(0, 3);
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? u"\\" : u"") + parts[i];
    return out;
}

std::u16string ModulePath() { return standin::Module(); }

void SleepMs(unsigned ms) {
    if (standin::SleepHook()) standin::SleepHook()(ms);
}

}  // namespace platform
