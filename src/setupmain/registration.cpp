// The traces an installation leaves in the system, and the per-user record of it.
#include "registration.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/registry.h"
#include "../platform/system.h"
#include "setupmain.h"
#include "sysroutines.h"

std::u16string UninstallerFileName(std::u16string_view ScrName) {
    std::u16string name = text::AsciiLower(LangStr(u"Uninstall")) + u" " + std::u16string(ScrName);
    const std::size_t nameStart = name.size() - text::FileNamePart(name).size();
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot >= nameStart) name.erase(dot);
    return name + u".exe";
}

std::u16string PreviewLinkName(const std::u16string& Title) { return LangStr(u"Preview") + u" " + Title; }
std::u16string ReadmeLinkName() { return LangStr(u"Readme"); }
std::u16string UninstallLinkName(const std::u16string& Title) { return LangStr(u"Uninstall") + u" " + Title; }

std::u16string ReadmeCopyName(const std::u16string& Title) { return Title + u" " + LangStr(u"Readme") + u".txt"; }

std::string EncodeReadme(std::u16string_view text) {
    std::string out;
    if (platform::ToAnsiExact(text, out)) return out;
    return "\xEF\xBB\xBF" + text::Utf16ToUtf8(text);
}

// Without rights for the machine-wide key the installation still stands: nothing to report.
void RegisterUninstall(const std::u16string& Title, const std::u16string& UninstallerPath) {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::LocalMachine, kUninstallKeyBase + Title);
    key.WriteString(u"DisplayName", Title);
    key.WriteString(u"UninstallString", u"\"" + UninstallerPath + u"\"");
}

// Each link stands alone: one that cannot be written costs none of the others.
void CreateMenuShortcuts(const std::u16string& Title, const std::u16string& UninstallerPath,
                         const std::u16string& ScrPath, bool HasReadme) {
    const std::u16string programs = GetShellFolderDir(platform::CSIDL_PROGRAMS_);
    if (programs.empty()) return;
    CreateDirTree(programs + Title + u"\\");

    const std::u16string folder = Title + u"\\";
    (void)CreateShortcut(ScrPath, folder + PreviewLinkName(Title), platform::CSIDL_PROGRAMS_);
    if (HasReadme)
        (void)CreateShortcut(std::u16string(text::DirPart(ScrPath)) + ReadmeCopyName(Title), folder + ReadmeLinkName(),
                             platform::CSIDL_PROGRAMS_);
    (void)CreateShortcut(UninstallerPath, folder + UninstallLinkName(Title), platform::CSIDL_PROGRAMS_);
}

void CreateDesktopShortcut(const std::u16string& Title, const std::u16string& ScrPath) {
    (void)CreateShortcut(ScrPath, PreviewLinkName(Title), platform::CSIDL_DESKTOP_);
}

// Without the override the display may sleep during the screensaver; nothing more.
void RequestPowerOverride(const std::u16string& ScrName) {
    std::u16string program = GetSystemDir();
    if (program.empty() || program.back() != u'\\') program += u'\\';
    program += u"powercfg.exe";
    if (!platform::FileExists(program)) return;
    // The name is one parameter of powercfg even when it holds a blank.
    const std::u16string name = ScrName.find(u' ') == std::u16string::npos ? ScrName : u"\"" + ScrName + u"\"";
    platform::ShellOpen(false, u"", program, u"/requestsoverride process " + name + u" display", platform::SW_HIDE_);
}

std::u16string TSCRSetup::LoadInstalledFileName() {
    std::u16string path;
    const platform::RegKey key = platform::RegKey::Open(platform::RegRoot::CurrentUser, kUserKeyBase + SetupHeader.Title());
    // A value of another type is no path: treat it as none rather than stop the installation.
    if (key.ReadString(kInstalledFileValue, path) != platform::RegValue::Text) path.clear();
    return path;
}

void TSCRSetup::SaveInstalledFileName(const std::u16string& FileName) {
    platform::RegKey key = platform::RegKey::Create(platform::RegRoot::CurrentUser, kUserKeyBase + SetupHeader.Title());
    key.WriteString(kInstalledFileValue, FileName);
}
