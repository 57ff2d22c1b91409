// System folders, special shell folders and shell links.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// COM result codes, with the values Windows gives them.
using HResult = std::int32_t;
inline constexpr HResult S_OK_ = 0;
inline constexpr HResult E_FAIL_ = static_cast<HResult>(0x80004005u);
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)
inline constexpr HResult E_FILENAME_TOO_LONG_ = static_cast<HResult>(0x800700CEu);
inline constexpr bool Failed(HResult hr) { return hr < 0; }

// Special folder identifiers (CSIDL), with the values Windows gives them.
enum : int {
    CSIDL_DESKTOP_ = 0,
    CSIDL_PROGRAMS_ = 2,
    CSIDL_COMMON_PROGRAMS_ = 23,
    CSIDL_COMMON_DESKTOPDIRECTORY_ = 25,
    CSIDL_PROGRAM_FILES_ = 38,
    CSIDL_PROGRAM_FILESX86_ = 42
};

// As the system reports them: the Windows and System directories without, the
// temporary directory with a trailing backslash. Empty when the system call fails.
std::u16string WindowsDirectory();
std::u16string SystemDirectory();
std::u16string TempDirectory();

enum class FolderOwner { None, MainWindow };

// The file-system path of a special folder. Returns the shell's failing result when it
// cannot locate the folder, E_FAIL_ when the folder has no file-system path.
HResult SpecialFolderPath(int csidl, FolderOwner owner, std::u16string& path);

// A shell-link object with its IPersistFile, inside a COM initialisation of its own.
// Every step that succeeded is undone by the destructor, whatever failed later.
class ShellLink {
public:
    ShellLink();  // initialise COM, create the object, ask for IPersistFile
    ~ShellLink();
    ShellLink(const ShellLink&) = delete;
    ShellLink& operator=(const ShellLink&) = delete;

    // S_OK_ or the failing result of creating the object or of asking for IPersistFile.
    HResult Status() const { return status_; }

    // Their results are deliberately not reported: the link is written regardless.
    void SetPath(const std::u16string& target);
    void SetIconLocation(const std::u16string& file, int index);
    // Writes the link file and makes it the object's current file.
    HResult Save(const std::u16string& linkPath);
    // Reads a link file; Target() then gives the path it starts, as it was written.
    HResult Load(const std::u16string& linkPath);
    std::u16string Target() const;

private:
    HResult status_ = S_OK_;
    bool comInitialised_ = false;
    void* link_ = nullptr;
    void* persist_ = nullptr;
};

}  // namespace platform
