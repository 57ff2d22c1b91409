#include "sysroutines.h"

#include <cstring>

#include "../common/text.h"
#include "../package/package.h"
#include "../platform/files.h"
#include "run_log.h"

std::u16string GetWinDir() { return platform::WindowsDirectory(); }
std::u16string GetSystemDir() { return platform::SystemDirectory(); }
std::u16string GetTempDir() { return platform::TempDirectory(); }

std::u16string GetProgramFilesDir() {
    std::u16string path;
    if (platform::Failed(platform::SpecialFolderPath(platform::CSIDL_PROGRAM_FILES_, platform::FolderOwner::MainWindow,
                                                     path)))
        return {};
    return path;
}

std::u16string GetShellFolderDir(int FolderId) {
    std::u16string path;
    if (platform::Failed(platform::SpecialFolderPath(FolderId, platform::FolderOwner::None, path))) return {};
    path = text::TrimControl(path);
    if (!path.empty() && path.back() != u'\\') path += u'\\';
    return path;
}

bool ForceDirectories(const std::u16string& Dir, std::vector<std::u16string>* Created, bool Restricted) {
    std::u16string dir = Dir;
    if (!dir.empty() && dir.back() == u'\\') dir.pop_back();
    if (dir.size() <= 2 || platform::DirectoryExists(dir)) return true;
    const std::u16string parent(text::DirPart(dir));
    if (parent == dir) return true;
    if (parent.empty()) return false;
    // A folder that appeared meanwhile is not ours: creating it fails, and it is left as it is.
    if (!ForceDirectories(parent, Created, Restricted) ||
        !LogStep(platform::MakeDirectory(dir, Restricted), "Create folder", dir))
        return false;
    if (Created) Created->push_back(dir);
    return true;
}

// A level that cannot be created leaves the ones below it uncreated; the caller checks.
void CreateDirTree(const std::u16string& Dir) { (void)ForceDirectories(Dir, nullptr); }

platform::HResult CreateShortcut(const std::u16string& Target, const std::u16string& LinkName, int FolderId) {
    platform::ShellLink link;
    std::u16string folder;
    platform::HResult result = link.Status();
    if (!platform::Failed(result)) result = platform::SpecialFolderPath(FolderId, platform::FolderOwner::None, folder);
    const std::u16string linkPath = folder + u"\\" + LinkName + u".lnk";
    if (!platform::Failed(result)) {
        // Beyond MAX_PATH the shell's link code is not dependable; refuse rather than half-write.
        if (linkPath.size() > kMaxLinkPath) {
            result = platform::E_FILENAME_TOO_LONG_;
        } else {
            link.SetPath(Target);
            link.SetIconLocation(Target, 0);
            result = link.Save(linkPath);
        }
    }
    LogResult(platform::Failed(result) ? static_cast<std::uint32_t>(result) : 0, "Create link", linkPath);
    return result;
}

std::u16string LinkTarget(const std::u16string& LinkFile) {
    platform::ShellLink link;
    return platform::Failed(link.Status()) || platform::Failed(link.Load(LinkFile)) ? std::u16string() : link.Target();
}

bool SamePath(const std::u16string& a, const std::u16string& b) {
    return text::AsciiLower(platform::ShortPath(a)) == text::AsciiLower(platform::ShortPath(b));
}

platform::File CreateHeldCopy(ByteSource& Source, const std::u16string& FileName) {
    platform::File file = platform::File::CreateNew(FileName, platform::Share::DenyWrite);
    if (!file.IsOpen()) return file;
    const std::int64_t size = Source.Size();
    bool same = CopyRange(Source, 0, size, file) && file.HoldReadOnly(FileName) && file.Size() == size;
    // Held now: what is there stays, and must be what was written.
    char mine[2048], held[2048];
    for (std::int64_t offset = 0; same && offset < size; offset += static_cast<std::int64_t>(sizeof mine)) {
        const std::size_t want = size - offset < static_cast<std::int64_t>(sizeof mine)
                                     ? static_cast<std::size_t>(size - offset)
                                     : sizeof mine;
        same = Source.ReadAt(offset, mine, want) == want && file.ReadAt(offset, held, want) == want &&
               std::memcmp(mine, held, want) == 0;
    }
    if (same) return file;
    file.Close();
    platform::RemoveFile(FileName);
    return file;
}

bool TryDeleteFile(const std::u16string& FileName) {
    if (!platform::FileExists(FileName)) return true;
    {
        // Exclusive: an open by anybody else, whatever sharing they allow, means "held".
        platform::File probe = platform::File::OpenReadWrite(FileName, platform::Share::Exclusive);
        if (!probe.IsOpen()) return false;
    }
    return platform::RemoveFile(FileName);
}

Removal RemoveNowOrAtRestart(const std::u16string& FileName) {
    if (LogRemoval(platform::RemoveFile(FileName), "Remove file", FileName) || !platform::FileExists(FileName))
        return Removal::Done;
    // A running screensaver holds its file: it goes when the system starts next.
    return LogStep(platform::DeleteAtReboot(FileName), "Remove at restart:", FileName) ? Removal::AtRestart
                                                                                      : Removal::Stayed;
}
