#include "setup_package.h"

#include <vector>

#include "../common/text.h"
#include "../package/package.h"
#include "../platform/system.h"

namespace {

bool ReadUtf16(ByteSource& source, std::int64_t offset, std::int64_t bytes, std::u16string& text) {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (bytes > 0 && !ReadExact(source, offset, raw.data(), raw.size())) return false;
    text = text::FromUtf16Le(raw.data(), raw.size());
    return true;
}

bool ReadPackage(TSetupPackage& setup) {
    setup.Self = platform::File::OpenRead(platform::ModulePath(), platform::Share::DenyWrite);
    // The same headers are not enough: another package behind the same stub has them too.
    if (!setup.Self.IsOpen() || !setup.Self.IsRunningProgramFile() || !platform::IsRunningImage(setup.Self))
        return false;
    ByteSource& file = setup.Self;

    const TPackage package = LoadPackage(file);
    if (!package.readProblems.empty()) return false;
    setup.FileEnd = package.fileEnd;
    setup.SetupHeader = *package.header;
    setup.Role = package.role;
    setup.Checksum = package.checksum;
    // An uninstaller carries the name its installer already shortened; shortening it again
    // is not always harmless ("My.Screen.Saver.scr" -> "My_Screen_Saver.scr" -> "My_Scree.scr").
    if (setup.Role != TrailerKind::Uninstaller)
        ApplyShortNameRule(setup.SetupHeader, WindowsVersionClass(platform::OsVersion()));

    const TSetupHeader& header = setup.SetupHeader;
    const std::int64_t texts = TextsStart(header, setup.FileEnd);
    if (!ReadUtf16(file, texts + header.ReadmeSize() + header.LicenseSize(),
                   2 * static_cast<std::int64_t>(header.LanguageLength()), setup.LangText))
        return false;
    setup.LanguageRead = true;
    if (!package.roleProblems.empty()) return false;
    if (setup.Role != TrailerKind::Installer) return true;

    if (header.ReadmeSize() > 0) {
        if (!ReadUtf16(file, texts, header.ReadmeSize(), setup.Readme)) return false;
        setup.Readme = text::NormalizeLineBreaks(setup.Readme);
    }
    if (header.LicensePageInUse()) {
        if (!ReadUtf16(file, texts + header.ReadmeSize(), header.LicenseSize(), setup.License)) return false;
        setup.License = text::NormalizeLineBreaks(setup.License);
    }
    return true;
}

}  // namespace

TSetupPackage LoadSetupPackage() {
    TSetupPackage setup;
    setup.Sound = ReadPackage(setup);
    return setup;
}

bool IsUninstallerFile(const std::u16string& Path) {
    platform::File file = platform::File::OpenRead(Path, platform::Share::DenyNone);
    if (!file.IsOpen() || !file.IsDiskFile()) return false;
    const TPackage package = LoadPackage(file);
    return package.Sound() && package.role == TrailerKind::Uninstaller;
}
