#include "../files.h"
#include "../shell.h"

#include "win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <new>
#include <tuple>
#include <vector>

namespace platform {

using win32::W;

namespace {

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

DWORD ShareFlags(Share share) {
    switch (share) {
        case Share::DenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
        case Share::DenyWrite: return FILE_SHARE_READ;
        case Share::Exclusive: return 0;
    }
    return 0;
}

std::intptr_t Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    const HANDLE h = CreateFileW(W(path), access, share, nullptr, disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h);
}

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
using LocalPtr = std::unique_ptr<void, LocalFreer>;

// A text the system writes into a buffer and, when that is too small, says how much it needs
// (with the terminator); empty when it fails. Of what, Fill learns from its subject.
using Fill = DWORD (*)(const void* subject, wchar_t* buffer, DWORD size);
std::u16string SystemText(Fill fill, const void* subject) {
    std::u16string buffer;
    for (DWORD size = MAX_PATH;;) {
        buffer.assign(size, u'\0');
        const DWORD n = fill(subject, W(buffer), size);
        if (n == 0) return {};
        if (n < size) {
            buffer.resize(n);
            return buffer;
        }
        size = n + 1;
    }
}

// The system, the administrators, TrustedInstaller and the running account.
bool Trusted(PSID sid, PSID account) {
    // NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522408-1831038044-1853292631-2271478464.
    static const struct {
        BYTE revision, count, authority[6];
        DWORD parts[6];
    } kTrustedInstaller = {SID_REVISION, 6, {0, 0, 0, 0, 0, 5},
                           {80, 956008885, 3418522408, 1831038044, 1853292631, 2271478464}};
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           (account && EqualSid(sid, account)) || EqualSid(sid, const_cast<void*>(static_cast<const void*>(&kTrustedInstaller)));
}

// The owner (and the access list, when asked for) of an open file or folder.
struct Security {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    bool read = false;
    LocalPtr descriptor;
};

// A function rather than a constructor: the build keeps two bodies of every constructor.
Security ReadSecurity(HANDLE h, SECURITY_INFORMATION what) {
    Security security;
    PSECURITY_DESCRIPTOR sd = nullptr;
    security.read =
        GetSecurityInfo(h, SE_FILE_OBJECT, what, &security.owner, nullptr, &security.dacl, nullptr, &sd) == ERROR_SUCCESS;
    security.descriptor.reset(sd);
    return security;
}

bool SameText(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(W(a), static_cast<int>(a.size()), W(b), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// A log may only be what this account alone could have written: one name (no hard link),
// no link itself (it was opened as itself), on a disk, owned by the account, the
// administrators or the system, and reached through no junction, symbolic link or mount
// point. The last is told by the file's own path, which the system resolves from the open
// handle: it must be the one asked for, with short names written out. A file on a mapped
// network drive or a drive made with subst has another path of its own, and is refused too.
bool IsOwnPlainFile(HANDLE h, const std::u16string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const Security security = ReadSecurity(h, OWNER_SECURITY_INFORMATION);
    const win32::AccountSid account;
    if (!security.read || !Trusted(security.owner, account.sid)) return false;
    std::u16string own = SystemText(
        [](const void* file, wchar_t* buffer, DWORD size) {
            return GetFinalPathNameByHandleW(const_cast<HANDLE>(file), buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        },
        h);
    const std::u16string full = FullPath(path);
    std::u16string asked = SystemText(
        [](const void* name, wchar_t* buffer, DWORD size) {
            return GetLongPathNameW(static_cast<const wchar_t*>(name), buffer, size);
        },
        W(full));
    // "\\?\C:\..." as "C:\...", "\\?\UNC\server\share\..." as "\\server\share\...".
    for (std::u16string* text : {&own, &asked}) {
        if (text->compare(0, 8, u"\\\\?\\UNC\\") == 0) text->erase(2, 6);
        else if (text->compare(0, 4, u"\\\\?\\") == 0) text->erase(0, 4);
    }
    return !own.empty() && SameText(own, asked);
}

struct ViewUnmapper {
    void operator()(void* view) const { UnmapViewOfFile(view); }
};
using ViewPtr = std::unique_ptr<void, ViewUnmapper>;

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

void File::Close() {
    if (handle_ != kInvalid) CloseHandle(H(handle_));
    handle_ = kInvalid;
}

File File::OpenRead(const std::u16string& path, Share share) {
    return File(Open(path, GENERIC_READ, ShareFlags(share), OPEN_EXISTING));
}

File File::OpenReadWrite(const std::u16string& path, Share share) {
    return File(Open(path, GENERIC_READ | GENERIC_WRITE, ShareFlags(share), OPEN_EXISTING));
}

File File::CreateExclusive(const std::u16string& path) {
    return File(Open(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_ALWAYS));
}

File File::CreateNew(const std::u16string& path, Share share) {
    // A file others may open meanwhile cannot go with its handle: their opens would have to
    // share deletion.
    const DWORD remove = share == Share::Exclusive ? DELETE : 0;
    return File(Open(path, GENERIC_READ | GENERIC_WRITE | remove, ShareFlags(share), CREATE_NEW));
}

File File::OpenForAppend(const std::u16string& path) {
    // Without the right to write anywhere else, every write goes to the end of the file as it
    // is then, also when another process has appended meanwhile. A link is opened as itself,
    // and a pipe's server at the path may learn who writes, never act as this process.
    constexpr DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
    constexpr DWORD flags =
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    // Deletion is shared: a file made here is opened with the right to it, so that it can go
    // again by its handle, never by a path that may lead elsewhere by then.
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    File file;
    bool made = false;
    for (int attempt = 0; attempt < 2 && !file.IsOpen(); ++attempt) {
        file = File(Open(path, access, share, OPEN_EXISTING, flags));
        if (file.IsOpen() || GetLastError() != ERROR_FILE_NOT_FOUND) break;
        file = File(Open(path, access | DELETE, share, CREATE_NEW, flags));
        made = file.IsOpen();
    }
    if (file.IsOpen() && !IsOwnPlainFile(H(file.handle_), path)) {
        if (made) static_cast<void>(file.SetDeleteOnClose(true));
        file.Close();
    }
    return file;
}

bool File::SetDeleteOnClose(bool remove) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = remove ? TRUE : FALSE;
    return IsOpen() && SetFileInformationByHandle(H(handle_), FileDispositionInfo, &info, sizeof info);
}

bool File::HoldReadOnly(const std::u16string& path) {
    if (!IsOpen()) return false;
    // A program open for writing cannot be started, and a handle's access cannot be narrowed.
    // A second handle, sharing writing with this one, keeps the file from being renamed or
    // deleted until the read-only one is open.
    const File bridge(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    Close();
    if (bridge.IsOpen()) handle_ = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    return IsOpen();
}

bool File::IsRunningProgramFile() {
    // The system names the file behind a mapped view as it is named now, renames included,
    // and this handle keeps its file from being renamed (it never shares deletion): the same
    // name is the same file. Resolved at run time: kernel32 has it from Windows 7 on, psapi.dll
    // (from the system folder by its full path) before; without either the header comparison
    // decides alone.
    using QueryFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetMappedFileNameW")));
    if (!query) {
        const std::u16string system = SystemDirectory();
        const HMODULE module = system.empty() ? nullptr : LoadLibraryW(W(system + u"\\psapi.dll"));
        if (module) query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(module, "GetMappedFileNameW")));
    }
    if (!query) return true;
    const win32::HandlePtr mapping(CreateFileMappingW(H(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const ViewPtr view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1) : nullptr);
    if (!view) return false;
    // Room for the longest name there is, ours and the running image's, in device form.
    constexpr DWORD kUnits = 32768;
    const std::unique_ptr<wchar_t[]> names(new wchar_t[2 * kUnits]);
    wchar_t* mine = names.get();
    wchar_t* running = mine + kUnits;
    const DWORD n = query(GetCurrentProcess(), view.get(), mine, kUnits);
    const DWORD m = query(GetCurrentProcess(), GetModuleHandleW(nullptr), running, kUnits);
    return n > 0 && CompareStringOrdinal(mine, static_cast<int>(n), running, static_cast<int>(m), TRUE) == CSTR_EQUAL;
}

bool File::IsDiskFile() const { return IsOpen() && GetFileType(H(handle_)) == FILE_TYPE_DISK; }

std::int64_t File::Size() {
    LARGE_INTEGER size;
    if (!IsOpen() || !GetFileSizeEx(H(handle_), &size)) return -1;
    return size.QuadPart;
}

std::size_t File::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
    LARGE_INTEGER pos;
    pos.QuadPart = offset;
    if (!IsOpen() || !SetFilePointerEx(H(handle_), pos, nullptr, FILE_BEGIN)) return 0;
    std::size_t total = 0;
    auto* out = static_cast<char*>(buffer);
    while (total < count) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(count - total > 0x40000000 ? 0x40000000 : count - total);
        if (!ReadFile(H(handle_), out + total, want, &got, nullptr) || got == 0) break;
        total += got;
    }
    return total;
}

std::size_t File::Write(const void* buffer, std::size_t count) {
    std::size_t total = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (IsOpen() && total < count) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(count - total > 0x40000000 ? 0x40000000 : count - total);
        if (!WriteFile(H(handle_), in + total, want, &put, nullptr) || put == 0) break;
        total += put;
    }
    return total;
}

bool FileExists(const std::u16string& path) {
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::u16string& path) {
    const DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const std::u16string& path) { return DeleteFileW(W(path)) != 0; }

bool MakeDirectory(const std::u16string& path, bool restricted) {
    if (!restricted) return CreateDirectoryW(W(path), nullptr) != 0;
    // Protected from the parent's entries; each entry passes to the folders and files below.
    // The system, the administrators and the owner may do anything; users may read and run
    // (0x1200a9). The owner is the user of a process that is not elevated, and the
    // Administrators group for one that is: an elevated setup leaves its user's everyday
    // programs no more than the others.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Narrow: half the bytes.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1,
            &descriptor, nullptr))
        return false;
    const LocalPtr owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return CreateDirectoryW(W(path), &attributes) != 0;
}

bool RemoveEmptyDirectory(const std::u16string& path) { return RemoveDirectoryW(W(path)) != 0; }

unsigned OthersAccess(const std::u16string& path) {
    constexpr unsigned kAll = kOthersOwnIt | kOthersAddTo | kOthersSwapIt | kItIsALink;
    // The object at the path itself, a link as well, a folder as well as a file.
    const HANDLE opened = CreateFileW(W(path), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return kAll;
    const win32::HandlePtr h(opened);
    const Security security = ReadSecurity(opened, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    BY_HANDLE_FILE_INFORMATION info;
    if (!security.read || !GetFileInformationByHandle(opened, &info)) return kAll;
    const win32::AccountSid account;
    const bool ownerTrusted = Trusted(security.owner, account.sid);
    unsigned others = ownerTrusted ? 0u : unsigned{kOthersOwnIt};
    // Junctions, mount points, symbolic links; the placeholders of cloud storage too, which an
    // elevated run has no business writing into.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) others |= kItIsALink;
    // No access list at all lets everybody do everything.
    if (!security.dacl) return others | kOthersAddTo | kOthersSwapIt;
    for (DWORD i = 0; i < security.dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(security.dacl, i, &entry)) return kAll;
        const auto* ace = static_cast<const ACE_HEADER*>(entry);
        // Entries only for what is made inside it later, and those that deny, grant nothing here.
        if (ace->AceFlags & INHERIT_ONLY_ACE) continue;
        const BYTE type = ace->AceType;
        if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE &&
            type != ACCESS_ALLOWED_COMPOUND_ACE_TYPE && type != ACCESS_ALLOWED_OBJECT_ACE_TYPE &&
            type != ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE)
            continue;
        // Every kind that allows has its mask first; the plain two then the trustee, which the
        // others hide behind more fields: they count as granted to anybody.
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
            const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
            // CREATOR OWNER and OWNER RIGHTS stand for the owner.
            if (Trusted(sid, account.sid) ||
                (ownerTrusted && (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid))))
                continue;
        }
        DWORD mask = allowed->Mask;
        if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
        if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
        if (mask & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY)) others |= kOthersAddTo;
        if (mask & (DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD)) others |= kOthersSwapIt;
    }
    return others;
}

std::u16string ShortPath(const std::u16string& path) {
    const std::u16string shortPath = SystemText(
        [](const void* name, wchar_t* buffer, DWORD size) {
            return GetShortPathNameW(static_cast<const wchar_t*>(name), buffer, size);
        },
        W(path));
    return shortPath.empty() ? path : shortPath;
}

bool RenameFile(const std::u16string& from, const std::u16string& to, bool replace) {
    return MoveFileExW(W(from), W(to), MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

bool ReplaceAtReboot(const std::u16string& from, const std::u16string& to) {
    return MoveFileExW(W(from), W(to), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
}

bool DeleteAtReboot(const std::u16string& path) {
    return MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool DeletionAtRebootPending(const std::u16string& path) {
    HKEY key = nullptr;
    // The key's name is plain ASCII: narrow, half the bytes.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = 0;
    std::u16string list;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        // Two more terminators than the value holds: one that lacks its own still ends.
        list.assign(bytes / sizeof(wchar_t) + 2, u'\0');
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(W(list)),
                             &bytes) != ERROR_SUCCESS)
            list.clear();
    }
    RegCloseKey(key);
    // Pairs of "\\??\\<source>" and the new name, an empty one for a deletion.
    const std::u16string wanted = u"\\??\\" + path;
    const char16_t* const end = list.data() + list.size();
    for (const char16_t* name = list.data(); name < end && *name;) {
        const std::size_t n = std::char_traits<char16_t>::length(name);
        const char16_t* const target = name + n + 1;
        if (target >= end) break;
        if (!*target && CompareStringOrdinal(reinterpret_cast<const wchar_t*>(name), static_cast<int>(n), W(wanted),
                                             static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL)
            return true;
        name = target + std::char_traits<char16_t>::length(target) + 1;
    }
    return false;
}

bool ReadVersionStrings(const std::u16string& path, VersionStrings& strings) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(W(path), &ignored);
    if (size == 0) return false;
    // Not the library's std::nothrow object, which would bring its new-handler functions along.
    constexpr std::nothrow_t noThrow{};
    const std::unique_ptr<BYTE[]> data(new (noThrow) BYTE[size]);
    if (!data || !GetFileVersionInfoW(W(path), 0, size, data.get())) return false;
    // The first language the resource names; US English in Unicode when it names none.
    DWORD* translation = nullptr;
    UINT length = 0;
    DWORD language = 0x04B00409;
    if (VerQueryValueW(data.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= sizeof(DWORD))
        language = *translation;
    wchar_t prefix[32];
    wsprintfW(prefix, L"\\StringFileInfo\\%04x%04x\\", LOWORD(language), HIWORD(language));
    for (const auto& [name, value] : {std::pair{L"ProductVersion", &strings.productVersion},
                                      {L"FileVersion", &strings.fileVersion}, {L"CompanyName", &strings.companyName}}) {
        wchar_t query[64];
        wsprintfW(query, L"%s%s", prefix, name);
        wchar_t* text = nullptr;
        value->clear();
        if (VerQueryValueW(data.get(), query, reinterpret_cast<void**>(&text), &length) && text && length > 0) {
            // Within the stated length and the block: a string may lack its closing NUL.
            const auto* const end = reinterpret_cast<const wchar_t*>(data.get() + size);
            std::size_t n = 0;
            while (n < length && text + n < end && text[n]) ++n;
            *value = win32::U(text, n);
        }
    }
    // Without the strings, the numbers of the fixed part.
    VS_FIXEDFILEINFO* fixed = nullptr;
    if (VerQueryValueW(data.get(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        length >= sizeof *fixed && fixed->dwSignature == 0xFEEF04BD) {
        for (const auto& [value, ms, ls] : {std::tuple{&strings.productVersion, fixed->dwProductVersionMS, fixed->dwProductVersionLS},
                                            {&strings.fileVersion, fixed->dwFileVersionMS, fixed->dwFileVersionLS}}) {
            wchar_t number[48];
            wsprintfW(number, L"%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
            if (value->empty()) *value = win32::U(number);
        }
    }
    return true;
}

std::u16string FullPath(const std::u16string& path) {
    const std::u16string full = SystemText(
        [](const void* name, wchar_t* buffer, DWORD size) {
            return GetFullPathNameW(static_cast<const wchar_t*>(name), size, buffer, nullptr);
        },
        W(path));
    return full.empty() ? path : full;
}

std::u16string ModulePath() {
    std::u16string buffer(MAX_PATH, u'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, W(buffer), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void SleepMs(unsigned ms) { Sleep(ms); }

}  // namespace platform
