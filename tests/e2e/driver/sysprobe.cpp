// Runs the setup's system routines on the real system and prints the result as one
// UTF-8 line. Exit code 0: success or true; 1: failure or false; 2: bad usage.
//
//   sysprobe windir | sysdir | tempdir | programfiles
//   sysprobe folder CSIDL                path of a special folder, or "error 0xXXXXXXXX"
//   sysprobe compose BASE SUB            default destination from base and sub folder
//   sysprobe createdirtree DIR           then prints whether DIR exists
//   sysprobe forcedirs DIR               prints true/false
//   sysprobe checkdir TEXT [preview]     prints "accepted TEXT" or "refused MESSAGE"
//   sysprobe shortcut TARGET LINKNAME CSIDL   prints "ok" or "error 0xXXXXXXXX"
//   sysprobe readlink FILE.lnk           prints "TARGET|ICONFILE,INDEX"
//   sysprobe trydelete FILE              prints true/false
//   sysprobe hold FILE SECONDS           holds FILE open without sharing, prints "held"
//   sysprobe heldcopy SRC DEST SECONDS   copies SRC to the new file DEST as the uninstaller copies
//                                        itself, holding it as for its start: prints "held" and
//                                        holds it, or prints "refused"
//   sysprobe programfile FILE            opens FILE as the setup opens its own file and prints
//                                        whether it is the running program's file, and whether
//                                        its headers are: "file true, headers true"
//   sysprobe elevated                    whether the process counts as elevated: true/false
//   sysprobe othersaccess PATH           what other users may do to PATH: the platform's bits,
//                                        as a number
//   sysprobe pictures                    makes the setup's header picture and Directory page icon
//                                        on a hidden form, destroys them, then prints whether the
//                                        images they showed are freed: "bitmap freed, icon freed"
#include <cstdio>
#include <cwchar>
#include <string>

#include "common/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/win32/win32.h"
#include "setupmain/destination.h"
#include "setupmain/sysroutines.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

using platform::win32::U;

int Print(const std::u16string& line, bool ok) {
    const std::string bytes = text::Utf16ToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok ? 0 : 1;
}

int PrintBool(bool value) { return Print(value ? u"true" : u"false", value); }

std::u16string Hex(unsigned long value) {
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"0x%08lX", value);
    return U(buffer);
}

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    void** Out() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool ok_;
};

int ReadLink(const std::u16string& file) {
    ComScope com;
    ComRef<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Out());
    if (FAILED(hr)) return Print(u"error " + Hex(static_cast<unsigned long>(hr)), false);
    ComRef<IPersistFile> persist;
    hr = link->QueryInterface(IID_IPersistFile, persist.Out());
    if (SUCCEEDED(hr)) hr = persist->Load(platform::win32::W(file), STGM_READ);
    if (FAILED(hr)) return Print(u"error " + Hex(static_cast<unsigned long>(hr)), false);
    wchar_t target[MAX_PATH + 1] = {};
    wchar_t icon[MAX_PATH + 1] = {};
    int index = -1;
    link->GetPath(target, MAX_PATH + 1, nullptr, SLGP_RAWPATH);
    link->GetIconLocation(icon, MAX_PATH + 1, &index);
    return Print(U(target) + u"|" + U(icon) + u"," + text::DecimalText(index), true);
}

int Hold(const std::u16string& file, int seconds) {
    const HANDLE h = CreateFileW(platform::win32::W(file), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Print(u"error " + Hex(GetLastError()), false);
    Print(u"held", true);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(h);
    return 0;
}

int HeldCopy(const std::u16string& source, const std::u16string& copy, int seconds) {
    platform::File from = platform::File::OpenRead(source, platform::Share::DenyWrite);
    const platform::File held = CreateHeldCopy(from, copy);
    if (!held.IsOpen()) return Print(u"refused", false);
    Print(u"held", true);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;
}

int ProgramFile(const std::u16string& path) {
    platform::File file = platform::File::OpenRead(path, platform::Share::DenyWrite);
    if (!file.IsOpen()) return Print(u"error " + Hex(GetLastError()), false);
    const bool same = file.IsRunningProgramFile();
    const bool headers = platform::IsRunningImage(file);
    return Print(std::u16string(u"file ") + (same ? u"true" : u"false") + u", headers " + (headers ? u"true" : u"false"),
                 true);
}

int Pictures() {
    constexpr int kImage = 2;  // the resource of both, as in the setup's form
    platform::Form form;
    HBITMAP bitmap = nullptr;
    HICON icon = nullptr;
    {
        platform::Control header(form, platform::ControlKind::Picture, {0, 0, 48, 48}, {}, platform::kStyleNone, kImage);
        platform::Control folder(form, platform::ControlKind::Picture, {0, 0, 32, 32}, {}, platform::kIcon, kImage);
        bitmap = reinterpret_cast<HBITMAP>(
            SendMessageW(static_cast<HWND>(header.Handle()), STM_GETIMAGE, IMAGE_BITMAP, 0));
        icon = reinterpret_cast<HICON>(SendMessageW(static_cast<HWND>(folder.Handle()), STM_GETIMAGE, IMAGE_ICON, 0));
        if (!bitmap || GetObjectType(bitmap) != OBJ_BITMAP || !icon) return Print(u"no images shown", false);
    }
    // The bitmap first: GetIconInfo makes bitmaps, which could take a freed bitmap's handle.
    const bool bitmapKept = GetObjectType(bitmap) != 0;
    ICONINFO info{};
    const bool iconKept = GetIconInfo(icon, &info) != FALSE;
    if (iconKept) {
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    return Print(std::u16string(bitmapKept ? u"bitmap kept" : u"bitmap freed") + (iconKept ? u", icon kept" : u", icon freed"),
                 !bitmapKept && !iconKept);
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::wstring command = argv[1];
    auto arg = [&](int i) { return i < argc ? U(argv[i]) : std::u16string(); };

    if (command == L"windir") return Print(GetWinDir(), true);
    if (command == L"sysdir") return Print(GetSystemDir(), true);
    if (command == L"tempdir") return Print(GetTempDir(), true);
    if (command == L"programfiles") return Print(GetProgramFilesDir(), true);
    if (command == L"folder" && argc == 3) {
        std::u16string path;
        const platform::HResult hr = platform::SpecialFolderPath(static_cast<int>(std::wcstol(argv[2], nullptr, 10)),
                                                                 platform::FolderOwner::None, path);
        if (platform::Failed(hr)) return Print(u"error " + Hex(static_cast<unsigned long>(hr)), false);
        return Print(path, true);
    }
    if (command == L"compose" && argc == 4) return Print(ComposeDefaultDir(arg(2), arg(3)), true);
    if (command == L"createdirtree" && argc == 3) {
        CreateDirTree(arg(2));
        return PrintBool(platform::DirectoryExists(arg(2)));
    }
    if (command == L"forcedirs" && argc == 3) return PrintBool(ForceDirectories(arg(2)));
    if (command == L"checkdir" && (argc == 3 || argc == 4)) {
        const TDirectoryCheck check = CheckDestinationDirectory(arg(2), argc == 4 && arg(3) == u"preview");
        if (check.Accepted) return Print(u"accepted " + check.Text, true);
        return Print(u"refused " + text::Widen(check.MessageKey), false);
    }
    if (command == L"shortcut" && argc == 5) {
        const platform::HResult result = CreateShortcut(arg(2), arg(3), std::wcstol(argv[4], nullptr, 10));
        if (platform::Failed(result)) return Print(u"error " + Hex(static_cast<unsigned long>(result)), false);
        return Print(u"ok", true);
    }
    if (command == L"readlink" && argc == 3) return ReadLink(arg(2));
    if (command == L"trydelete" && argc == 3) return PrintBool(TryDeleteFile(arg(2)));
    if (command == L"hold" && argc == 4) return Hold(arg(2), static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
    if (command == L"heldcopy" && argc == 5)
        return HeldCopy(arg(2), arg(3), static_cast<int>(std::wcstol(argv[4], nullptr, 10)));
    if (command == L"programfile" && argc == 3) return ProgramFile(arg(2));
    if (command == L"pictures" && argc == 2) return Pictures();
    if (command == L"elevated" && argc == 2) return PrintBool(platform::IsElevated());
    if (command == L"othersaccess" && argc == 3) return Print(text::DecimalText(platform::OthersAccess(arg(2))), true);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run(argc, argv);
    } catch (...) {
        return Print(u"error exception", false);
    }
}
