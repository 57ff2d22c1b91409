#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "../../common/text.h"
#include "../registry.h"
#include "../registry_read.h"
#include "standin.h"

namespace {

struct Value {
    std::u16string name;  // as written
    bool text = true;
    std::u16string data;
    std::optional<std::string> raw;  // the bytes stored, when a test gave them instead of data
};

// What a query of the value hands out: a string with its terminator, unless given as bytes.
std::string Stored(const Value& value) {
    if (value.raw) return *value.raw;
    std::string bytes;
    for (const char16_t c : value.data + u'\0') {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// Names of keys and values compare without letter case, as on Windows.
using Values = std::map<std::u16string, Value>;

struct RegistryState {
    std::map<std::u16string, Values> keys;  // "<root>\<lower-case path>"
    std::set<platform::RegRoot> readOnly;
    std::function<void()> readHook;
};

RegistryState& R() {
    static RegistryState state;
    return state;
}

std::u16string KeyId(platform::RegRoot root, std::u16string_view path) {
    return (root == platform::RegRoot::LocalMachine ? u"HKLM\\" : u"HKCU\\") + text::AsciiLower(path);
}

// A key handle of the stand-in is the address of its map entry's id.
const std::u16string* Handle(void* handle) { return static_cast<const std::u16string*>(handle); }

// Parents come into being with a key, as RegCreateKeyEx makes them.
Values& MakeKey(const std::u16string& id) {
    for (std::size_t i = id.find(u'\\', 5); i != std::u16string::npos; i = id.find(u'\\', i + 1))
        R().keys.try_emplace(id.substr(0, i));
    return R().keys[id];
}

bool ReadOnlyId(const std::u16string& id) {
    for (const auto root : R().readOnly)
        if (id.rfind(KeyId(root, u""), 0) == 0) return true;
    return false;
}

// The codes the registry gives for a missing key or value and for missing rights.
constexpr std::uint32_t kNotFound = 2;
constexpr std::uint32_t kAccessDenied = 5;

bool Failed(std::uint32_t code) {
    standin::SetLastError(code);
    return false;
}

// False, with the registry's code, when the key may not be changed.
bool Writable(const std::u16string& id) { return !ReadOnlyId(id) || Failed(kAccessDenied); }

}  // namespace

namespace standin {

void SetRegValue(platform::RegRoot root, const std::u16string& key, const std::u16string& name,
                 const std::u16string& data, bool text) {
    MakeKey(KeyId(root, key))[text::AsciiLower(name)] = Value{name, text, data, std::nullopt};
}

void SetRegRawValue(platform::RegRoot root, const std::u16string& key, const std::u16string& name,
                    const std::string& bytes, bool text) {
    MakeKey(KeyId(root, key))[text::AsciiLower(name)] = Value{name, text, u"", bytes};
}

std::optional<std::uint32_t> RegDword(platform::RegRoot root, const std::u16string& key, const std::u16string& name) {
    const auto k = R().keys.find(KeyId(root, key));
    if (k == R().keys.end()) return std::nullopt;
    const auto v = k->second.find(text::AsciiLower(name));
    if (v == k->second.end() || v->second.text || !v->second.raw || v->second.raw->size() != 4) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>((*v->second.raw)[static_cast<std::size_t>(i)]);
    return value;
}

void SetRegistryReadHook(std::function<void()> hook) { R().readHook = std::move(hook); }

std::optional<std::u16string> RegString(platform::RegRoot root, const std::u16string& key, const std::u16string& name) {
    const auto k = R().keys.find(KeyId(root, key));
    if (k == R().keys.end()) return std::nullopt;
    const auto v = k->second.find(text::AsciiLower(name));
    if (v == k->second.end() || !v->second.text) return std::nullopt;
    if (!v->second.raw) return v->second.data;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < v->second.raw->size(); i += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>((*v->second.raw)[i]) |
                                       static_cast<unsigned char>((*v->second.raw)[i + 1]) << 8);
    return units;
}

bool RegKeyExists(platform::RegRoot root, const std::u16string& key) { return R().keys.count(KeyId(root, key)) != 0; }

std::vector<std::u16string> RegSubkeys(platform::RegRoot root, const std::u16string& key) {
    std::vector<std::u16string> names;
    const std::u16string below = KeyId(root, key) + u"\\";
    for (const auto& [id, values] : R().keys)
        if (id.rfind(below, 0) == 0) names.push_back(id.substr(below.size()));
    return names;
}

std::size_t RegValueCount(platform::RegRoot root, const std::u16string& key) {
    const auto k = R().keys.find(KeyId(root, key));
    return k == R().keys.end() ? 0 : k->second.size();
}

void DenyRegistryWrites(platform::RegRoot root) { R().readOnly.insert(root); }

void ResetRegistry() { R() = RegistryState{}; }

}  // namespace standin

namespace platform {

RegKey::~RegKey() = default;

RegKey::RegKey(RegKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    handle_ = other.handle_;
    if (this != &other) other.handle_ = nullptr;
    return *this;
}

RegKey RegKey::Open(RegRoot root, const std::u16string& path) {
    const auto k = R().keys.find(KeyId(root, path));
    if (k == R().keys.end()) Failed(kNotFound);
    return k == R().keys.end() ? RegKey() : RegKey(const_cast<std::u16string*>(&k->first));
}

RegKey RegKey::Create(RegRoot root, const std::u16string& path) {
    const std::u16string id = KeyId(root, path);
    if (!Writable(id)) return RegKey();
    MakeKey(id);
    const auto k = R().keys.find(id);
    return RegKey(const_cast<std::u16string*>(&k->first));
}

RegValue RegKey::ReadString(const char16_t* nameText, std::u16string& value) const {
    const std::u16string name(nameText);
    value.clear();
    if (!handle_) return RegValue::Absent;
    const std::u16string id = *Handle(handle_);
    // Answers as RegQueryValueEx: the size always, the data only when it fits.
    return regread::ReadText(
        [&](char16_t* buffer, std::uint32_t& bytes, bool& isText) {
            if (const auto hook = R().readHook) hook();
            const auto k = R().keys.find(id);
            if (k == R().keys.end()) return regread::Answer::Failed;
            const auto v = k->second.find(text::AsciiLower(name));
            if (v == k->second.end()) return regread::Answer::Failed;
            const std::string stored = Stored(v->second);
            const std::uint32_t offered = bytes;
            bytes = static_cast<std::uint32_t>(stored.size());
            isText = v->second.text;
            if (!buffer) return regread::Answer::Done;
            if (offered < stored.size()) return regread::Answer::MoreData;
            std::memcpy(buffer, stored.data(), stored.size());
            return regread::Answer::Done;
        },
        value);
}

bool RegKey::WriteString(const char16_t* nameText, const std::u16string& value) {
    const std::u16string name(nameText);
    if (!handle_ || !Writable(*Handle(handle_))) return false;
    R().keys.at(*Handle(handle_))[text::AsciiLower(name)] = Value{name, true, value, std::nullopt};
    return true;
}

bool RegKey::WriteDword(const char16_t* nameText, std::uint32_t value) {
    const std::u16string name(nameText);
    if (!handle_ || !Writable(*Handle(handle_))) return false;
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
    R().keys.at(*Handle(handle_))[text::AsciiLower(name)] = Value{name, false, u"", bytes};
    return true;
}

std::vector<std::u16string> RegKey::ValueNames() const {
    std::vector<std::u16string> names;
    if (!handle_) return names;
    for (const auto& [id, value] : R().keys.at(*Handle(handle_))) names.push_back(value.name);
    return names;
}

bool RegKey::DeleteValue(const char16_t* nameText) {
    const std::u16string name(nameText);
    if (!handle_ || !Writable(*Handle(handle_))) return false;
    return R().keys.at(*Handle(handle_)).erase(text::AsciiLower(name)) != 0 || Failed(kNotFound);
}

bool RegKey::DeleteTree(RegRoot root, const std::u16string& path) {
    const std::u16string id = KeyId(root, path);
    if (R().keys.count(id) == 0) return Failed(kNotFound);
    if (!Writable(id)) return false;
    const std::u16string below = id + u"\\";
    for (auto it = R().keys.begin(); it != R().keys.end();) {
        if (it->first == id || it->first.rfind(below, 0) == 0) it = R().keys.erase(it);
        else ++it;
    }
    return true;
}

}  // namespace platform
