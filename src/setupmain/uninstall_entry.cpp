#include "uninstall_entry.h"

#include "../common/text.h"
#include "../package/names.h"
#include "../platform/files.h"
#include "../platform/registry.h"
#include "run_log.h"
#include "setup_package.h"
#include "sysroutines.h"

namespace {

using platform::RegRoot;

// The machine's list can be written: an elevated run, or one with rights given to it.
bool MachineListWritable() { return platform::RegKey::Create(RegRoot::LocalMachine, kUninstallKeyBase).IsOpen(); }

std::u16string Quoted(const std::u16string& path) { return u"\"" + path + u"\""; }

// The installation's own key, or the one named by the title that earlier versions wrote.
std::u16string EntryPath(const std::u16string& title, bool legacy = false) {
    return kUninstallKeyBase + (legacy ? title : UninstallKeyName(title));
}

// The uninstaller an entry starts, its UninstallString as the setup writes it: the path in
// quotes. Empty for anything else.
std::u16string EntryUninstaller(RegRoot root, const std::u16string& path) {
    std::u16string command;
    if (platform::RegKey::Open(root, path).ReadString(u"UninstallString", command) != platform::RegValue::Text ||
        command.size() <= 2 || command.front() != u'"' || command.back() != u'"')
        return {};
    return command.substr(1, command.size() - 2);
}

// Another program may list itself under the title: only an entry that starts an uninstaller
// of this setup is ours to follow, replace or remove.
bool IsOurEntry(RegRoot root, const std::u16string& path) {
    const std::u16string uninstaller = EntryUninstaller(root, path);
    return !uninstaller.empty() && IsUninstallerFile(uninstaller);
}

std::u16string KeyName(RegRoot root, const std::u16string& path) {
    return (root == RegRoot::LocalMachine ? u"HKLM\\" : u"HKCU\\") + path;
}

// Removes the entry at path where it starts Uninstaller or, with anyOfOurs, any uninstaller of
// this setup. The installation passes the uninstaller it has just made: it holds that file
// without sharing until it ends, so reading it could not tell it is one.
void RemoveEntryOf(RegRoot root, const std::u16string& path, const std::u16string& Uninstaller, bool anyOfOurs) {
    const std::u16string started = EntryUninstaller(root, path);
    if (!started.empty() && (SamePath(started, Uninstaller) || (anyOfOurs && IsUninstallerFile(started))))
        LogRemoval(platform::RegKey::DeleteTree(root, path), "Remove key", KeyName(root, path));
}

bool WriteEntry(RegRoot root, const TUninstallEntry& e) {
    const std::u16string path = EntryPath(e.Title);
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
    RegRoot root = RegRoot::LocalMachine;
    if (!WriteEntry(root, Entry)) {
        root = RegRoot::CurrentUser;
        if (!WriteEntry(root, Entry)) return;
    }
    // An earlier version's entry of this installation, under the title, would list it twice.
    RemoveEntryOf(root, EntryPath(Entry.Title, true), Entry.UninstallerPath, true);
}

void RemoveUninstallEntry(const std::u16string& Title, const std::u16string& UninstallerPath) {
    for (const RegRoot root : {RegRoot::LocalMachine, RegRoot::CurrentUser}) {
        for (const bool legacy : {false, true}) RemoveEntryOf(root, EntryPath(Title, legacy), UninstallerPath, false);
    }
}

std::u16string RegisteredInstallLocation(const std::u16string& Title) {
    // What the user's own list says steers only a run that would write there itself.
    const RegRoot root = MachineListWritable() ? RegRoot::LocalMachine : RegRoot::CurrentUser;
    for (const bool legacy : {false, true}) {
        const std::u16string path = EntryPath(Title, legacy);
        std::u16string folder;
        if ((!legacy || IsOurEntry(root, path)) &&
            platform::RegKey::Open(root, path).ReadString(u"InstallLocation", folder) == platform::RegValue::Text &&
            !folder.empty() && platform::DirectoryExists(folder))
            return folder.back() == u'\\' ? folder : folder + u'\\';
    }
    return {};
}
