#include "user_record.h"

#include "../platform/registry.h"

std::u16string LoadInstalledFileName(const std::u16string& Title) {
    std::u16string path;
    const platform::RegKey key = platform::RegKey::Open(platform::RegRoot::CurrentUser, kUserKeyBase + Title);
    // A value of another type is no path: treat it as none rather than stop the installation.
    if (key.ReadString(kInstalledFileValue, path) != platform::RegValue::Text) path.clear();
    return path;
}

void SaveInstalledFileName(const std::u16string& Title, const std::u16string& FileName) {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, kUserKeyBase + Title);
    key.WriteString(kInstalledFileValue, FileName);
}

void ClearUserSettings(const std::u16string& Title) {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, kUserKeyBase + Title);
    if (!key.IsOpen()) return;
    for (const std::u16string& name : key.ValueNames()) key.DeleteValue(name);
    platform::RegKey::DeleteTree(platform::RegRoot::CurrentUser, kUserKeyBase + Title + u"\\PlayList");
}
