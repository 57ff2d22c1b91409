// The Install button: the destination checks, the copy of the screensaver, the uninstaller
// and the registration with the system.
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/system.h"
#include "cmdline.h"
#include "destination.h"
#include "package.h"
#include "registration.h"
#include "setupmain.h"
#include "sysroutines.h"

namespace {

constexpr std::size_t kCopyBufferSize = 100001;
// Numbered names end here: eight digits would leave no room for the name itself.
constexpr int kLastNumber = 9999999;
// The library's std::nothrow object would bring its new-handler functions along.
constexpr std::nothrow_t kNoThrow{};

constexpr char16_t kMsgAccessDenied[] =
    u"Unable to copy the files. Access is denied. Please select a different directory.";
constexpr char16_t kMsgInstallError[] = u"There was an error installing %s. Installation is not complete.";
// Shown to authors only, so never translated.
constexpr char16_t kPreviewNotice[] =
    u"After successful installation screensaver setup would open Windows Screen Saver Settings. This window is "
    u"not displayed in setup preview mode.";

// 100 x Position / Size, halves to the even neighbour.
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

// The hourglass and a disabled form for exactly as long as the copy loop runs, whatever
// ends it.
class BusyState {
public:
    explicit BusyState(platform::Form& form) : form_(form) {
        platform::Application::SetBusyCursor(true);
        form_.SetEnabled(false);
    }
    ~BusyState() {
        form_.SetEnabled(true);
        platform::Application::SetBusyCursor(false);
    }
    BusyState(const BusyState&) = delete;
    BusyState& operator=(const BusyState&) = delete;

private:
    platform::Form& form_;
};

// Files and folders this run created, removed again when it fails.
struct RunLeftovers {
    std::vector<std::u16string> files;
    std::vector<std::u16string> folders;  // outermost first

    void Remove() {
        for (auto it = files.rbegin(); it != files.rend(); ++it) TryDeleteFile(*it);
        // Only empty folders go: anything else in them is not ours.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) platform::RemoveEmptyDirectory(*it);
    }
};

// The header the uninstaller carries names the file as it was installed (with its number,
// or under the remembered name), so that it finds it without the per-user record.
TSetupHeader UninstallerHeader(const std::u16string& ScrName) {
    TSetupHeader header = SetupHeader;
    const std::u16string packaged = SetupHeader.ScrFileName();
    const std::u16string installed = std::u16string(text::DirPart(packaged)) + ScrName;
    if (installed.size() < hdr::ScrFileNameUnits) header.SetChars(hdr::ScrFileName, hdr::ScrFileNameUnits, installed);
    return header;
}

}  // namespace

// Back on the Directory page, where the user can choose again.
void TSCRSetup::ReturnToDirectoryPage() {
    Notebook.SetPageIndex(kPageDirectory);
    NotebookPageChanged();
}

bool TSCRSetup::RefuseDirectory(std::u16string_view messageKey) {
    if (SilentMode) {
        ExitCode = kExitDirectoryRefused;
        platform::Application::Terminate();
    } else {
        platform::ShowMessage(LangStr(messageKey), kApplicationTitle, platform::MB_ICONERROR_);
    }
    ReturnToDirectoryPage();
    return false;
}

bool TSCRSetup::MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir) {
    if (!platform::FileExists(FileName)) return true;

    const std::u16string remembered = LoadInstalledFileName();
    // Case-sensitive on purpose: only the very folder of the last installation counts.
    if (!remembered.empty() && text::DirPart(remembered) == Dir) {
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

bool TSCRSetup::CopyPayload(platform::File& source, platform::File* target) {
    BusyState busy(Window);
    // The one allocation of any size: running short of memory here fails the installation.
    const std::unique_ptr<std::uint8_t[]> buffer(new (kNoThrow) std::uint8_t[kCopyBufferSize]);
    if (!buffer) return false;
    const std::int64_t size = source.Size();
    std::int64_t position = PayloadStart(SetupHeader, FileEnd);
    std::int64_t remaining = PayloadLength(SetupHeader);
    while (position < size && remaining > 0) {
        const auto chunk = static_cast<std::size_t>(remaining < static_cast<std::int64_t>(kCopyBufferSize)
                                                        ? remaining
                                                        : static_cast<std::int64_t>(kCopyBufferSize));
        const std::size_t got = source.ReadAt(position, buffer.get(), chunk);
        if (got == 0) break;
        position += static_cast<std::int64_t>(got);
        if (target && target->Write(buffer.get(), got) != got) return false;  // the disk is full
        remaining -= static_cast<std::int64_t>(got);
        ProgressBar.SetPosition(ProgressPercent(position, size));
        ProgressBar.Repaint();
        platform::Application::ProcessMessages();
    }
    // A file that ends early would leave a screensaver that cannot run.
    return remaining == 0;
}

bool TSCRSetup::SaveReadme(const std::u16string& path) {
    const std::string bytes = EncodeReadme(edReadme.Caption());
    platform::File file = platform::File::CreateExclusive(path);
    return file.IsOpen() && file.Write(bytes.data(), bytes.size()) == bytes.size();
}

void TSCRSetup::ReportInstallFailure() {
    ExitCode = kExitInstallFailed;
    if (SilentMode) {
        platform::Application::Terminate();
    } else {
        const std::u16string message = text::ReplaceAll(LangStr(kMsgInstallError), u"%s", SetupHeader.Title());
        platform::ShowMessage(message, Window.Caption(), platform::MB_ICONERROR_);
    }
    Window.Close();
}

bool TSCRSetup::btnOKClick() {
    Notebook.SetPageIndex(kPageProgress);
    btnNext.SetVisible(false);
    ProgressBar.SetMax(100);

    const TDirectoryCheck check = CheckDestinationDirectory(edDirectory.Caption(), PreviewOnlyMode);
    if (!check.Accepted) return RefuseDirectory(check.MessageKey);
    edDirectory.SetCaption(check.Text);
    const std::u16string Dir = check.Text;
    const std::u16string Title = SetupHeader.Title();

    std::u16string TargetFileName = Dir + std::u16string(text::FileNamePart(SetupHeader.ScrFileName()));
    if (!MakeUniqueFileName(TargetFileName, Dir)) return RefuseDirectory(kMsgAccessDenied);

    RunLeftovers written;
    written.folders = check.Created;
    platform::File target;
    if (!PreviewOnlyMode) {
        // Only the remembered file of an earlier installation may be replaced; any other name
        // was free a moment ago and must still be.
        target = platform::FileExists(TargetFileName) ? platform::File::CreateExclusive(TargetFileName)
                                                      : platform::File::CreateNew(TargetFileName);
        if (!target.IsOpen()) return RefuseDirectory(kMsgAccessDenied);
        written.files.push_back(TargetFileName);
    }
    InstallationRan = true;

    const std::u16string ScrName(text::FileNamePart(TargetFileName));
    const std::u16string ScrPath = Dir + ScrName;
    const std::u16string UninstallerName = Dir + UninstallerFileName(ScrName);
    std::u16string UninstallerPath;
    platform::File uninstaller;
    // The copy block: any step that fails ends it, and the installation with it.
    const bool InstallSucceeded = [&] {
        if (!Self.IsOpen() || !CopyPayload(Self, PreviewOnlyMode ? nullptr : &target)) return false;
        target.Close();

        if (PreviewOnlyMode) {
            platform::ShowMessage(kPreviewNotice, Title, platform::MB_ICONINFORMATION_);
            return true;
        }
        // The screen-saver settings would be a window nobody asked for in an unattended run.
        if (!SilentMode) platform::ShellOpen(false, u"install", ScrPath, u"", platform::SW_SHOWNOACTIVATE_);
        if (SetupHeader.ReadmeSize() > 0) {
            const std::u16string readme = Dir + ReadmeCopyName(Title);
            written.files.push_back(readme);
            if (!SaveReadme(readme)) return false;
        }
        uninstaller = platform::File::CreateExclusive(UninstallerName);
        if (!uninstaller.IsOpen()) return false;
        written.files.push_back(UninstallerName);
        TargetFileName = platform::FullPath(ScrPath);
        UninstallerPath = std::u16string(text::DirPart(TargetFileName)) + UninstallerFileName(ScrName);
        return WriteUninstallerImage(Self, uninstaller, FileEnd, UninstallerHeader(ScrName));
    }();
    if (!InstallSucceeded) {
        // Nothing of a failed installation stays: no files, and nothing registered that
        // would point at them.
        target.Close();
        uninstaller.Close();
        if (!PreviewOnlyMode) written.Remove();
        ReportInstallFailure();
        return true;
    }

    if (!PreviewOnlyMode) {
        if (SetupHeader.UninstallEntryFlag()) RegisterUninstall(Title, UninstallerPath);
        if (SetupHeader.MenuShortcutsFlag())
            CreateMenuShortcuts(Title, UninstallerPath, ScrPath, SetupHeader.ReadmeSize() > 0);
        if (SetupHeader.DesktopShortcutFlag()) CreateDesktopShortcut(Title, ScrPath);
        if (SetupHeader.PowerRequestOverride()) RequestPowerOverride(ScrName);
        uninstaller.Close();
        SaveInstalledFileName(TargetFileName);
    }
    if (SetupHeader.ReadmeSize() == 0) Notebook.SetPageIndex(kPageFinished);
    if (SilentMode) platform::Application::Terminate();
    return true;
}
