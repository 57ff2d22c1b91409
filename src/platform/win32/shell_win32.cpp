#include "../shell.h"

#include "win32.h"
#include "../files.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>


namespace platform {

namespace {

IShellLinkW* Link(void* p) { return static_cast<IShellLinkW*>(p); }
IPersistFile* Persist(void* p) { return static_cast<IPersistFile*>(p); }

}  // namespace

std::u16string WindowsDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    return win32::U(buffer);
}

std::u16string SystemDirectory() {
    constexpr UINT kSize = 1024;
    wchar_t buffer[kSize] = {};
    const UINT n = GetSystemDirectoryW(buffer, kSize);
    // A result of kSize or more is the size the call would have needed: nothing was written.
    return n < kSize ? win32::U(buffer, n) : std::u16string();
}

namespace {

std::u16string Variable(const wchar_t* name) {
    const DWORD need = GetEnvironmentVariableW(name, nullptr, 0);
    if (need == 0) return {};
    std::u16string buffer(need, u'\0');
    const DWORD n = GetEnvironmentVariableW(name, win32::W(buffer), need);
    if (n == 0 || n >= need) return {};
    buffer.resize(n);
    return buffer;
}

}  // namespace

std::u16string TempDirectory() {
    // TMP may name a folder longer than MAX_PATH; ask again with the size the system wants.
    std::u16string buffer(MAX_PATH + 1, u'\0');
    for (int tries = 0; tries < 3; ++tries) {
        const DWORD n = GetTempPathW(static_cast<DWORD>(buffer.size()), win32::W(buffer));
        if (n == 0) break;
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(n + 1, u'\0');
    }
    // Some systems refuse such a long folder outright; look it up the way GetTempPath does.
    std::u16string folder;
    for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"})
        if (folder.empty()) folder = Variable(name);
    if (folder.empty()) folder = WindowsDirectory();
    if (folder.empty()) return {};
    folder = FullPath(folder);
    if (folder.back() != u'\\') folder += u'\\';
    return folder;
}

HResult SpecialFolderPath(int csidl, FolderOwner owner, std::u16string& path) {
    path.clear();
    HWND window = owner == FolderOwner::MainWindow ? win32::MainWindow() : nullptr;
    PIDLIST_ABSOLUTE raw = nullptr;
    const HRESULT hr = SHGetSpecialFolderLocation(window, csidl, &raw);
    win32::PidlPtr pidl(raw);
    if (FAILED(hr)) return hr;
    if (!pidl) return E_FAIL;
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetPathFromIDListW(pidl.get(), buffer)) return E_FAIL;
    path = win32::U(buffer);
    return S_OK;
}

namespace {
// Our own copies: the import library that defines them brings every GUID of the system
// along, a seventh of the stub.
constexpr CLSID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}  // namespace

ShellLink::ShellLink() {
    // S_FALSE (already initialised on this thread) also needs its CoUninitialize; a
    // thread in another apartment mode keeps its own and creation is tried regardless.
    comInitialised_ = SUCCEEDED(CoInitialize(nullptr));
    IShellLinkW* link = nullptr;
    status_ = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, kIidShellLinkW,
                               reinterpret_cast<void**>(&link));
    if (FAILED(status_)) return;
    link_ = link;
    IPersistFile* persist = nullptr;
    status_ = link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&persist));
    if (FAILED(status_)) return;
    persist_ = persist;
}

ShellLink::~ShellLink() {
    if (persist_) Persist(persist_)->Release();
    if (link_) Link(link_)->Release();
    if (comInitialised_) CoUninitialize();
}

void ShellLink::SetPath(const std::u16string& target) {
    if (link_) Link(link_)->SetPath(win32::W(target));
}

void ShellLink::SetIconLocation(const std::u16string& file, int index) {
    if (link_) Link(link_)->SetIconLocation(win32::W(file), index);
}

HResult ShellLink::Save(const std::u16string& linkPath) {
    if (!persist_) return Failed(status_) ? status_ : E_FAIL;
    return Persist(persist_)->Save(win32::W(linkPath), TRUE);
}

HResult ShellLink::Load(const std::u16string& linkPath) {
    if (!persist_) return Failed(status_) ? status_ : E_FAIL;
    return Persist(persist_)->Load(win32::W(linkPath), STGM_READ);
}

std::u16string ShellLink::Target() const {
    wchar_t path[MAX_PATH];
    // As written: nothing is looked up or resolved.
    if (!link_ || Link(link_)->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK) return {};
    return win32::U(path);
}

}  // namespace platform
