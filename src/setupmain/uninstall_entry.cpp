#include "uninstall_entry.h"

#include "../platform/registry.h"
#include "run_log.h"

void RegisterUninstall(const std::u16string& Title, const std::u16string& UninstallerPath) {
    const std::u16string path = kUninstallKeyBase + Title;
    const std::u16string name = u"HKLM\\" + path + u"\\";
    // A key that cannot be made fails each value with its code.
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::LocalMachine, path);
    LogStep(key.WriteString(u"DisplayName", Title), "Write value", name, u"DisplayName");
    LogStep(key.WriteString(u"UninstallString", u"\"" + UninstallerPath + u"\""), "Write value", name,
            u"UninstallString");
}

void RemoveUninstallEntry(const std::u16string& Title) {
    const std::u16string path = kUninstallKeyBase + Title;
    LogRemoval(platform::RegKey::DeleteTree(platform::RegRoot::LocalMachine, path), "Remove key",
               u"HKLM\\" + path);
}
