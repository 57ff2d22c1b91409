#include "../registry.h"

#include "win32.h"

namespace platform {

namespace {

HKEY RootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
HKEY K(void* handle) { return static_cast<HKEY>(handle); }

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
    if (RegOpenKeyExW(RootKey(root), win32::W(path), 0, KEY_READ, &key) != ERROR_SUCCESS) return RegKey();
    return RegKey(key);
}

RegKey RegKey::Create(RegRoot root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(RootKey(root), win32::W(path), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return RegKey();
    return RegKey(key);
}

RegValue RegKey::ReadString(const std::u16string& name, std::u16string& value) const {
    value.clear();
    if (!handle_) return RegValue::Absent;
    DWORD type = 0, bytes = 0;
    LONG status = RegQueryValueExW(K(handle_), win32::W(name), nullptr, &type, nullptr, &bytes);
    if (status != ERROR_SUCCESS) return RegValue::Absent;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return RegValue::OtherType;
    // The value may change between the two calls; ask again while the buffer is too small.
    std::u16string buffer;
    do {
        buffer.assign(bytes / sizeof(wchar_t) + 1, u'\0');
        bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(K(handle_), win32::W(name), nullptr, &type,
                                  reinterpret_cast<BYTE*>(win32::W(buffer)), &bytes);
    } while (status == ERROR_MORE_DATA);
    if (status != ERROR_SUCCESS) return RegValue::Absent;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return RegValue::OtherType;
    // Stored strings need not be terminated; the buffer's extra unit is.
    value = buffer.c_str();
    return RegValue::Text;
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

bool RegKey::DeleteValue(const std::u16string& name) {
    return handle_ && RegDeleteValueW(K(handle_), win32::W(name)) == ERROR_SUCCESS;
}

namespace {

bool DeleteTreeBelow(HKEY parent, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, win32::W(path), 0, KEY_READ | DELETE, &key) != ERROR_SUCCESS) return false;
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) == ERROR_SUCCESS) {
        std::u16string name(longest + 1, u'\0');
        // From the last index down, so deleting one does not shift the ones still to come.
        for (DWORD i = count; i-- > 0;) {
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(key, i, win32::W(name), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                DeleteTreeBelow(key, std::u16string(name.c_str(), length));
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, win32::W(path)) == ERROR_SUCCESS;
}

}  // namespace

bool RegKey::DeleteTree(RegRoot root, const std::u16string& path) {
    return DeleteTreeBelow(RootKey(root), path);
}

bool RegKey::WriteString(const std::u16string& name, const std::u16string& value) {
    if (!handle_) return false;
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    return RegSetValueExW(K(handle_), win32::W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

}  // namespace platform
