#include "install.h"

#include <memory>
#include <new>
#include <vector>

#include "../common/crc32.h"
#include "../common/lang.h"
#include "../common/text.h"
#include "../package/package.h"
#include "../package/version_info.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "destination.h"
#include "links.h"
#include "readme_copy.h"
#include "run_log.h"
#include "staged_files.h"
#include "sysroutines.h"
#include "uninstall_entry.h"
#include "user_record.h"

namespace {

// One progress step per chunk of at most this many bytes: the steps installers of this kind
// have always moved their bar in, and one buffer small enough to hold for the whole copy.
constexpr std::size_t kCopyBufferSize = 100001;
// Numbered names end here: eight digits would leave no room for the name itself.
constexpr int kLastNumber = 9999999;
// The library's std::nothrow object would bring its new-handler functions along.
constexpr std::nothrow_t kNoThrow{};

// 100 x Position / Size, halves to the even neighbour: the rounding the bar's values have always
// had, so that a copy shows the same steps as before.
int ProgressPercent(std::int64_t position, std::int64_t size) {
    if (size <= 0) return 0;
    const double exact = 100.0 * static_cast<double>(position) / static_cast<double>(size);
    // Rounded down and tested for oddness in integers: the library's floor and fmod would be
    // linked for this alone.
    auto whole = static_cast<std::int64_t>(exact);
    if (static_cast<double>(whole) > exact) --whole;
    const double rest = exact - static_cast<double>(whole);
    if (rest > 0.5 || (rest == 0.5 && whole % 2 != 0)) ++whole;
    return static_cast<int>(whole);
}

// The sink hears of the copy's end however it ends.
class CopyScope {
public:
    explicit CopyScope(TProgressSink& sink) : sink_(sink) { sink_.CopyStarted(); }
    ~CopyScope() { sink_.CopyEnded(); }
    CopyScope(const CopyScope&) = delete;
    CopyScope& operator=(const CopyScope&) = delete;

private:
    TProgressSink& sink_;
};

// Files and folders this run created, removed again when it fails.
struct RunLeftovers {
    std::vector<std::u16string> files;
    std::vector<std::u16string> folders;  // outermost first

    void Remove() {
        for (auto it = files.rbegin(); it != files.rend(); ++it) LogRemoval(TryDeleteFile(*it), "Remove file", *it);
        // Only empty folders go: anything else in them is not ours.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            LogRemoval(platform::RemoveEmptyDirectory(*it), "Remove folder", *it);
    }
};

// Logs the step that failed, with the system's code, and returns it.
InstallStep Failure(InstallStep step, const char* what, const std::u16string& subject) {
    LogStep(false, what, subject);
    return step;
}

constexpr char kDamaged[] = "Damaged package";
constexpr char kCopyTo[] = "Copy to";

// Target, named TargetName, is null in a preview: the payload is read all the same. A package
// with a checksum is checked on the way: the screensaver's bytes as they pass, then the rest
// of the package.
[[nodiscard]] InstallStep CopyPayload(TSetupPackage& package, platform::File* target, const std::u16string& TargetName,
                                      TProgressSink& sink) {
    CopyScope scope(sink);
    // The one allocation of any size: running short of memory here fails the installation.
    const std::unique_ptr<std::uint8_t[]> buffer(new (kNoThrow) std::uint8_t[kCopyBufferSize]);
    if (!buffer) return InstallStep::CopyPayload;
    std::uint32_t crc = 0;
    platform::File& source = package.Self;
    const std::int64_t size = source.Size();
    std::int64_t position = PayloadStart(package.SetupHeader, package.FileEnd);
    std::int64_t remaining = PayloadLength(package.SetupHeader);
    while (position < size && remaining > 0) {
        const auto chunk = static_cast<std::size_t>(remaining < static_cast<std::int64_t>(kCopyBufferSize)
                                                        ? remaining
                                                        : static_cast<std::int64_t>(kCopyBufferSize));
        const std::size_t got = source.ReadAt(position, buffer.get(), chunk);
        // The error code tells a failed read of the setup file (a network gone) from a failed
        // write (a full disk).
        if (got == 0 || (target && target->Write(buffer.get(), got) != got))
            return Failure(InstallStep::CopyPayload, kCopyTo, TargetName);
        position += static_cast<std::int64_t>(got);
        if (package.Checksum) crc = platform::Crc32(crc, buffer.get(), got);
        remaining -= static_cast<std::int64_t>(got);
        sink.CopyProgress(ProgressPercent(position, size));
    }
    // A file that ends early would leave a screensaver that cannot run.
    if (remaining != 0) {
        LogLine(kDamaged);
        return InstallStep::CopyPayload;
    }
    if (!package.Checksum) return InstallStep::None;
    // The texts, the header and the trailer: small, and read for the sum alone.
    Crc32Sink rest(nullptr, platform::Crc32, crc);
    if (!CopyRange(source, position, package.FileEnd - position, rest))
        return Failure(InstallStep::CopyPayload, kCopyTo, TargetName);
    if (rest.crc == package.Checksum->crc) return InstallStep::None;
    LogLine(kDamaged);
    return InstallStep::Checksum;
}

// The header the uninstaller carries names the file as it was installed (with its number,
// or under the remembered name), so that it finds it without the per-user record.
TSetupHeader UninstallerHeader(const TSetupHeader& installer, const std::u16string& ScrName) {
    TSetupHeader header = installer;
    const std::u16string packaged = installer.ScrFileName();
    const std::u16string installed = std::u16string(text::DirPart(packaged)) + ScrName;
    if (installed.size() < hdr::ScrFileNameUnits) header.SetChars(hdr::ScrFileName, hdr::ScrFileNameUnits, installed);
    return header;
}

// Keeps the display on while the screensaver runs, through the system's powercfg.exe.
// Without the override the display may sleep during the screensaver; nothing more.
void RequestPowerOverride(const std::u16string& ScrName) {
    const std::u16string system = GetSystemDir();
    std::u16string program = system;
    if (program.empty() || program.back() != u'\\') program += u'\\';
    program += u"powercfg.exe";
    if (!platform::FileExists(program)) return;
    // The name is one parameter of powercfg even when it holds a blank.
    const std::u16string name = ScrName.find(u' ') == std::u16string::npos ? ScrName : u"\"" + ScrName + u"\"";
    const std::u16string parameters = u"/requestsoverride process " + name + u" display";
    LogStep(platform::ShellOpen(false, u"", program, parameters, system, platform::SW_HIDE_), "Run",
            program + u" " + parameters);
}

TInstallResult Refused(InstallStep step, std::string_view messageKey, const std::u16string& directory = {}) {
    TInstallResult result;
    result.FailedStep = step;
    result.MessageKey = messageKey;
    result.Directory = directory;
    return result;
}

}  // namespace

std::u16string UninstallerFileName(std::u16string_view ScrName) {
    std::u16string name = text::AsciiLower(LangStr("Uninstall")) + u" " + std::u16string(ScrName);
    const std::size_t nameStart = name.size() - text::FileNamePart(name).size();
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot >= nameStart) name.erase(dot);
    return name + u".exe";
}

bool MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir, const std::u16string& Title) {
    if (!platform::FileExists(FileName)) return true;

    // Only the last installation's file in this very folder may be replaced.
    const std::u16string remembered = RememberedFileIn(Title, Dir, text::FileNamePart(FileName));
    if (!remembered.empty()) {
        FileName = remembered;
        return true;
    }

    const std::u16string name(text::FileNamePart(FileName));
    const std::size_t extLength = name.size() < 4 ? name.size() : 4;
    const std::u16string ext = name.substr(name.size() - extLength);
    std::u16string base = name.substr(0, name.size() - extLength);
    for (int counter = 1; counter <= kLastNumber; ++counter) {
        const std::u16string number = text::DecimalText(counter);
        if (base.size() + number.size() > 8) base.resize(8 - number.size());
        FileName = Dir + base + number + ext;
        if (!platform::FileExists(FileName)) return true;
    }
    return false;
}

TInstallResult RunInstallation(TSetupPackage& Package, const std::u16string& Directory, const TInstallOptions& Options,
                               TProgressSink& Sink) {
    const bool preview = Options.PreviewOnly;
    const TSetupHeader& header = Package.SetupHeader;
    const TDirectoryCheck check = CheckDestinationDirectory(Directory, preview);
    if (!check.Accepted) {
        LogLine("Folder refused:", Directory);
        return Refused(InstallStep::Directory, check.MessageKey);
    }
    const std::u16string& Dir = check.Text;
    const std::u16string Title = header.Title();

    std::u16string TargetFileName = Dir + std::u16string(text::FileNamePart(header.ScrFileName()));
    if (!MakeUniqueFileName(TargetFileName, Dir, Title)) return Refused(InstallStep::FileName, kMsgAccessDenied, Dir);

    RunLeftovers written;
    written.folders = check.Created;
    // An earlier installation's files stay as they are until every new one is whole.
    TStagedFiles staged;
    platform::File target;
    std::u16string targetPath = TargetFileName;
    if (!preview) {
        // Only the remembered file of an earlier installation may be replaced; any other name
        // was free a moment ago and must still be. Until it is whole the file goes with its
        // handle, also when the process is ended.
        target = staged.Create(TargetFileName, targetPath);
        if (!target.IsOpen()) return Refused(InstallStep::Target, kMsgAccessDenied, Dir);
        written.files.push_back(targetPath);
    }

    TInstallResult result;
    result.Directory = Dir;
    const std::u16string ScrName(text::FileNamePart(TargetFileName));
    const std::u16string ScrPath = Dir + ScrName;
    const std::u16string UninstallerName = Dir + UninstallerFileName(ScrName);
    const bool hasReadme = header.ReadmeSize() > 0;
    std::u16string UninstallerPath;
    std::int64_t uninstallerBytes = 0;
    // Any step that fails ends the installation.
    result.FailedStep = [&] {
        if (!Package.Self.IsOpen()) return InstallStep::CopyPayload;
        if (const InstallStep copied = CopyPayload(Package, preview ? nullptr : &target, targetPath, Sink);
            copied != InstallStep::None)
            return copied;
        if (!preview && !target.SetDeleteOnClose(false)) return Failure(InstallStep::CopyPayload, kCopyTo, targetPath);
        target.Close();
        if (preview) return InstallStep::None;

        if (hasReadme) {
            std::u16string path;
            platform::File readme = staged.Create(Dir + ReadmeCopyName(Title), path);
            if (!readme.IsOpen()) return InstallStep::ReadmeCopy;
            written.files.push_back(path);
            if (!WriteReadmeCopy(readme, path, Package.Readme) || !readme.SetDeleteOnClose(false))
                return InstallStep::ReadmeCopy;
        }
        std::u16string path;
        platform::File uninstaller = staged.Create(UninstallerName, path);
        if (!uninstaller.IsOpen()) return InstallStep::Uninstaller;
        written.files.push_back(path);
        TargetFileName = platform::FullPath(ScrPath);
        UninstallerPath = std::u16string(text::DirPart(TargetFileName)) + UninstallerFileName(ScrName);
        if (!WriteUninstallerImage(Package.Self, uninstaller, Package.FileEnd, UninstallerHeader(header, ScrName)) ||
            !uninstaller.SetDeleteOnClose(false))
            return Failure(InstallStep::Uninstaller, "Write file", path);
        uninstallerBytes = uninstaller.Size();
        uninstaller.Close();
        // Every file is whole: now the earlier installation's give way.
        return staged.Commit() ? InstallStep::None : InstallStep::Replace;
    }();
    if (!result.Succeeded()) {
        // Nothing of a failed installation stays: no files, and nothing registered that
        // would point at them.
        target.Close();
        if (!preview) written.Remove();
        return result;
    }
    if (preview) return result;
    result.RestartNeeded = staged.RestartNeeded();

    if (Options.OpenSettings) {
        // Once every file is in place: the settings open on the new screensaver, never on the
        // earlier one an upgrade replaces.
        // In the installation folder, never the one the setup was started from; both as full
        // paths, as a relative folder would now mean another.
        const std::u16string folder = platform::FullPath(Dir);
        platform::ShellOpen(false, u"install", folder + ScrName, u"", folder, platform::SW_SHOWNOACTIVATE_);
    }
    // Full paths from here on: a relative folder would mean another one to whoever reads them.
    const std::u16string folder(text::DirPart(TargetFileName));
    if (header.UninstallEntryFlag()) {
        // The readme copy counted at a byte a character, as most of it is written.
        const std::int64_t bytes = PayloadLength(header) + uninstallerBytes + static_cast<std::int64_t>(Package.Readme.size());
        TUninstallEntry entry;
        entry.Title = Title;
        entry.UninstallerPath = UninstallerPath;
        entry.ScrPath = TargetFileName;
        entry.InstallLocation = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        entry.EstimatedSizeKiB = static_cast<std::uint32_t>((bytes + 1023) / 1024);
        entry.Link = header.LinkAddress();
        // From the screensaver's own version resource: the package format has no field for them.
        // The same rule as scrpack's prediction of what an installation registers.
        if (platform::VersionStrings version; platform::ReadVersionStrings(TargetFileName, version)) {
            const TVersionInfo info{version.productVersion, version.fileVersion, version.companyName};
            entry.Version = RegisteredVersion(info);
            entry.Publisher = RegisteredPublisher(info);
        }
        RegisterUninstall(entry);
    }
    const TLinkTargets links{Title, TargetFileName, UninstallerPath, hasReadme ? folder + ReadmeCopyName(Title) : u""};
    if (header.MenuShortcutsFlag()) CreateMenuShortcuts(links);
    if (header.DesktopShortcutFlag()) CreateDesktopShortcut(links);
    if (header.PowerRequestOverride()) RequestPowerOverride(ScrName);
    SaveInstalledFileName(Title, TargetFileName);
    return result;
}

std::u16string DefaultInstallDirectory(const TSetupHeader& Header) {
    const std::u16string registered = RegisteredInstallLocation(Header.Title());
    return registered.empty() ? ComposeDefaultDir(Header.DefaultBaseDir(), Header.DefaultSubDir()) : registered;
}

Outcome InstallSilently(TSetupPackage& Package, const std::u16string& Directory) {
    const std::u16string folder = Directory.empty() ? DefaultInstallDirectory(Package.SetupHeader) : Directory;
    struct Unattended final : TProgressSink {} unattended;
    return RunInstallation(Package, folder, TInstallOptions{}, unattended).ToOutcome();
}
