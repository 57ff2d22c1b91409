#include "../registry.h"

#include <cstdint>

#include "../registry_read.h"

#include "win32.h"

namespace platform {

namespace {

HKEY RootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
HKEY K(void* handle) { return static_cast<HKEY>(handle); }

// The registry returns its error codes rather than leaving them for GetLastError, as the
// rest of the platform does; they are left there too.
bool Succeeded(LONG status) {
    if (status == ERROR_SUCCESS) return true;
    SetLastError(static_cast<DWORD>(status));
    return false;
}

}  // namespace

RegKey::~RegKey() {
    if (handle_) RegCloseKey(K(handle_));
}

RegKey::RegKey(RegKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        if (handle_) RegCloseKey(K(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

RegKey RegKey::Open(RegRoot root, const std::u16string& path) {
    HKEY key = nullptr;
    if (!Succeeded(RegOpenKeyExW(RootKey(root), win32::W(path), 0, KEY_READ, &key))) return RegKey();
    return RegKey(key);
}

RegKey RegKey::Create(RegRoot root, const std::u16string& path) {
    HKEY key = nullptr;
    if (!Succeeded(RegCreateKeyExW(RootKey(root), win32::W(path), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr)))
        return RegKey();
    return RegKey(key);
}

RegValue RegKey::ReadString(const char16_t* name, std::u16string& value) const {
    value.clear();
    if (!handle_) return RegValue::Absent;
    return regread::ReadText(
        [&](char16_t* buffer, std::uint32_t& bytes, bool& isText) {
            DWORD type = 0, size = bytes;
            const LONG status = RegQueryValueExW(K(handle_), reinterpret_cast<const wchar_t*>(name), nullptr, &type,
                                                 reinterpret_cast<BYTE*>(buffer), &size);
            bytes = size;
            isText = type == REG_SZ || type == REG_EXPAND_SZ;
            if (status == ERROR_MORE_DATA) return regread::Answer::MoreData;
            return status == ERROR_SUCCESS ? regread::Answer::Done : regread::Answer::Failed;
        },
        value);
}

std::vector<std::u16string> RegKey::ValueNames() const {
    std::vector<std::u16string> names;
    if (!handle_) return names;
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyW(K(handle_), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::u16string name(longest + 1, u'\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumValueW(K(handle_), i, win32::W(name), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            names.emplace_back(name.c_str(), length);
    }
    return names;
}

bool RegKey::DeleteValue(const char16_t* name) {
    return handle_ && Succeeded(RegDeleteValueW(K(handle_), reinterpret_cast<const wchar_t*>(name)));
}

namespace {

// A link leads to a key of its own choosing, another user's or the machine's: the tree ends
// at it. Opened with REG_OPTION_OPEN_LINK, the link key itself holds this value.
bool IsLink(HKEY key) {
    DWORD type = 0;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// Deletes the key behind the handle. RegDeleteKey would open the name again and follow it if
// it had become a link meanwhile; a link itself can only go this way.
bool DeleteOpenKey(HKEY key) {
    using DeleteKeyFunction = LONG(NTAPI*)(HANDLE);
    const FARPROC address = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey");
    if (!address) return false;
    const auto deleteKey = reinterpret_cast<DeleteKeyFunction>(reinterpret_cast<void (*)()>(address));
    // The system's status code, for want of an error code.
    const LONG status = deleteKey(key);
    return status >= 0 || Succeeded(status);
}

bool DeleteTreeBelow(HKEY parent, const std::u16string& path) {
    HKEY key = nullptr;
    if (!Succeeded(RegOpenKeyExW(parent, win32::W(path), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key))) return false;
    DWORD count = 0, longest = 0;
    if (!IsLink(key) && RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        std::u16string name(longest + 1, u'\0');
        // From the last index down, so deleting one does not shift the ones still to come.
        for (DWORD i = count; i-- > 0;) {
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(key, i, win32::W(name), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                DeleteTreeBelow(key, std::u16string(name.c_str(), length));
        }
    }
    const bool deleted = DeleteOpenKey(key);
    RegCloseKey(key);
    return deleted;
}

}  // namespace

bool RegKey::DeleteTree(RegRoot root, const std::u16string& path) {
    return DeleteTreeBelow(RootKey(root), path);
}

bool RegKey::WriteString(const char16_t* name, const std::u16string& value) {
    if (!handle_) return false;
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    return Succeeded(RegSetValueExW(K(handle_), reinterpret_cast<const wchar_t*>(name), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

bool RegKey::WriteDword(const char16_t* name, std::uint32_t value) {
    const DWORD data = value;
    return handle_ && Succeeded(RegSetValueExW(K(handle_), reinterpret_cast<const wchar_t*>(name), 0, REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&data), sizeof data));
}

}  // namespace platform
