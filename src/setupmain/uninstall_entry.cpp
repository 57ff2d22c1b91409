#include "uninstall_entry.h"

#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/registry.h"
#include "run_log.h"
#include "sysroutines.h"

namespace {

using platform::RegRoot;

// The machine's list can be written: an elevated run, or one with rights given to it.
bool MachineListWritable() { return platform::RegKey::Create(RegRoot::LocalMachine, kUninstallKeyBase).IsOpen(); }

std::u16string Quoted(const std::u16string& path) { return u"\"" + path + u"\""; }

std::u16string KeyName(RegRoot root, const std::u16string& path) {
    return (root == RegRoot::LocalMachine ? u"HKLM\\" : u"HKCU\\") + path;
}

bool WriteEntry(RegRoot root, const TUninstallEntry& e) {
    const std::u16string path = kUninstallKeyBase + e.Title;
    platform::RegKey key = platform::RegKey::Create(root, path);
    // The first value tells whether the list can be written at all; the log says which one was.
    if (!LogStep(key.WriteString(u"DisplayName", e.Title), "Write key", KeyName(root, path))) return false;
    key.WriteString(u"UninstallString", Quoted(e.UninstallerPath));
    key.WriteString(u"QuietUninstallString", Quoted(e.UninstallerPath) + u" -silent");
    key.WriteString(u"DisplayIcon", e.ScrPath);
    key.WriteString(u"InstallLocation", e.InstallLocation);
    key.WriteDword(u"EstimatedSize", e.EstimatedSizeKiB);
    key.WriteDword(u"NoModify", 1);
    key.WriteDword(u"NoRepair", 1);
    const std::u16string link = text::AsciiLower(e.Link);
    const std::u16string page =
        text::IsWebAddress(e.Link) && (link.starts_with(u"http:") || link.starts_with(u"https:")) ? e.Link : std::u16string();
    // An upgrade by a package without them leaves none of the earlier installation's behind.
    for (const auto& [name, value] : {std::pair{u"URLInfoAbout", &page}, {u"DisplayVersion", &e.Version},
                                      {u"Publisher", &e.Publisher}}) {
        if (value->empty()) key.DeleteValue(name);
        else key.WriteString(name, *value);
    }
    return true;
}

}  // namespace

void RegisterUninstall(const TUninstallEntry& Entry) {
    if (!WriteEntry(RegRoot::LocalMachine, Entry)) static_cast<void>(WriteEntry(RegRoot::CurrentUser, Entry));
}

void RemoveUninstallEntry(const std::u16string& Title, const std::u16string& UninstallerPath) {
    const std::u16string path = kUninstallKeyBase + Title;
    for (const RegRoot root : {RegRoot::LocalMachine, RegRoot::CurrentUser}) {
        std::u16string command;
        if (platform::RegKey::Open(root, path).ReadString(u"UninstallString", command) == platform::RegValue::Text &&
            command.size() > 2 && command.front() == u'"' && command.back() == u'"' &&
            SamePath(command.substr(1, command.size() - 2), UninstallerPath))
            LogRemoval(platform::RegKey::DeleteTree(root, path), "Remove key", KeyName(root, path));
    }
}

std::u16string RegisteredInstallLocation(const std::u16string& Title) {
    // What the user's own list says steers only a run that would write there itself.
    const RegRoot root = MachineListWritable() ? RegRoot::LocalMachine : RegRoot::CurrentUser;
    std::u16string folder;
    if (platform::RegKey::Open(root, kUninstallKeyBase + Title).ReadString(u"InstallLocation", folder) !=
            platform::RegValue::Text ||
        folder.empty() || !platform::DirectoryExists(folder))
        return {};
    return folder.back() == u'\\' ? folder : folder + u'\\';
}
