#include "sysroutines.h"

#include "../common/text.h"
#include "../platform/files.h"

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

bool ForceDirectories(const std::u16string& Dir, std::vector<std::u16string>* Created) {
    std::u16string dir = Dir;
    if (!dir.empty() && dir.back() == u'\\') dir.pop_back();
    if (dir.size() <= 2 || platform::DirectoryExists(dir)) return true;
    const std::u16string parent(text::DirPart(dir));
    if (parent == dir) return true;
    if (parent.empty()) return false;
    if (!ForceDirectories(parent, Created) || !platform::MakeDirectory(dir)) return false;
    if (Created) Created->push_back(dir);
    return true;
}

// A level that cannot be created leaves the ones below it uncreated; the caller checks.
void CreateDirTree(const std::u16string& Dir) { (void)ForceDirectories(Dir, nullptr); }

platform::HResult CreateShortcut(const std::u16string& Target, const std::u16string& LinkName, int FolderId) {
    platform::ShellLink link;
    if (platform::Failed(link.Status())) return link.Status();

    std::u16string folder;
    const platform::HResult located = platform::SpecialFolderPath(FolderId, platform::FolderOwner::None, folder);
    if (platform::Failed(located)) return located;

    const std::u16string linkPath = folder + u"\\" + LinkName + u".lnk";
    // Beyond MAX_PATH the shell's link code is not dependable; refuse rather than half-write.
    if (linkPath.size() > kMaxLinkPath) return platform::E_FILENAME_TOO_LONG_;

    link.SetPath(Target);
    link.SetIconLocation(Target, 0);
    return link.Save(linkPath);
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
