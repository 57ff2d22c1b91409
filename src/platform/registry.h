// The registry: the machine-wide uninstall entry and the per-user key of the setup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class RegRoot { CurrentUser, LocalMachine };

// What a value read as text turned out to be.
enum class RegValue { Absent, Text, OtherType };

// An open registry key, closed by the destructor. Paths are below the root and do not
// start with a backslash. A failure leaves the system's code for LastError (system.h).
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // For reading; not open when the key is missing or cannot be opened.
    static RegKey Open(RegRoot root, const std::u16string& path);
    // Opens the key with full access, creating it and its parents when missing.
    static RegKey Create(RegRoot root, const std::u16string& path);

    bool IsOpen() const { return handle_ != nullptr; }

    // Value names are NUL-terminated. REG_SZ and REG_EXPAND_SZ give their text up to the first NUL (unexpanded).
    RegValue ReadString(const char16_t* name, std::u16string& value) const;
    bool WriteString(const char16_t* name, const std::u16string& value);
    bool WriteDword(const char16_t* name, std::uint32_t value);
    // Every value's name, the unnamed default value as "".
    std::vector<std::u16string> ValueNames() const;
    bool DeleteValue(const char16_t* name);

    // Deletes the key with every key below it. False when it did not exist or stays.
    static bool DeleteTree(RegRoot root, const std::u16string& path);

private:
    explicit RegKey(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

}  // namespace platform
