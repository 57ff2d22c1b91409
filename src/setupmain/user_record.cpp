#include "user_record.h"

#include "../common/text.h"
#include "../package/names.h"
#include "../platform/files.h"
#include "../platform/registry.h"
#include "run_log.h"

namespace {

// The same extension, letter case ignored (both empty without a dot).
bool SameExtension(std::u16string_view a, std::u16string_view b) {
    const std::size_t da = a.rfind(u'.'), db = b.rfind(u'.');
    if (da == std::u16string_view::npos || db == std::u16string_view::npos) return da == db;
    return text::AsciiLower(a.substr(da)) == text::AsciiLower(b.substr(db));
}

}  // namespace

std::u16string LoadInstalledFileName(const std::u16string& Title) {
    std::u16string path;
    const platform::RegKey key = platform::RegKey::Open(platform::RegRoot::CurrentUser, kUserKeyBase + Title);
    // A value of another type is no path: treat it as none rather than stop the installation.
    if (key.ReadString(kInstalledFileValue, path) != platform::RegValue::Text) path.clear();
    return path;
}

void SaveInstalledFileName(const std::u16string& Title, const std::u16string& FileName) {
    const std::u16string path = kUserKeyBase + Title;
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, path);
    LogStep(key.WriteString(kInstalledFileValue, FileName), "Write value", u"HKCU\\" + path + u"\\",
            kInstalledFileValue);
}

void ClearUserSettings(const std::u16string& Title) {
    const std::u16string path = kUserKeyBase + Title;
    const std::u16string name = u"HKCU\\" + path + u"\\";
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, path);
    if (!key.IsOpen()) return;
    for (const std::u16string& value : key.ValueNames())
        LogRemoval(key.DeleteValue(value.c_str()), "Remove value", name, value.c_str());
    static constexpr char16_t kPlayList[] = u"\\PlayList";
    LogRemoval(platform::RegKey::DeleteTree(platform::RegRoot::CurrentUser, path + kPlayList), "Remove key", name,
               kPlayList + 1);
}

std::u16string RememberedFileIn(const std::u16string& Title, const std::u16string& Dir, std::u16string_view ScrName) {
    const std::u16string stored = LoadInstalledFileName(Title);
    if (stored.empty() || Dir.empty() || Dir.back() != u'\\') return {};
    // Resolved first: "C:\\Savers\\..\\victim\\keep.txt" lies in C:\\victim, not in C:\\Savers.
    const std::u16string full = platform::FullPath(stored);
    const std::u16string_view name = text::FileNamePart(full);
    if (text::AsciiLower(text::DirPart(full)) != text::AsciiLower(platform::FullPath(Dir))) return {};
    if (!CheckWindowsName(name).Plain() || !SameExtension(name, text::FileNamePart(ScrName))) return {};
    return Dir + std::u16string(name);
}
