#include "uninstall_entry.h"

#include "../platform/registry.h"

void RegisterUninstall(const std::u16string& Title, const std::u16string& UninstallerPath) {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::LocalMachine, kUninstallKeyBase + Title);
    key.WriteString(u"DisplayName", Title);
    key.WriteString(u"UninstallString", u"\"" + UninstallerPath + u"\"");
}

void RemoveUninstallEntry(const std::u16string& Title) {
    platform::RegKey::DeleteTree(platform::RegRoot::LocalMachine, kUninstallKeyBase + Title);
}
