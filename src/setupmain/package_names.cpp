#include "package_names.h"

#include "../common/text.h"
#include "../package/names.h"
#include "install.h"
#include "links.h"
#include "readme_copy.h"

bool PackageNamesArePlain(const TSetupPackage& Package) {
    const auto plain = [](const std::u16string& name) { return CheckWindowsName(name).Plain(); };
    const std::u16string Title = Package.SetupHeader.Title();
    // The short-name rule has run: this is the name the file gets.
    const std::u16string ScrName(text::FileNamePart(Package.SetupHeader.ScrFileName()));
    return plain(Title) && plain(ScrName) && plain(UninstallerFileName(ScrName)) && plain(ReadmeCopyName(Title)) &&
           plain(PreviewLinkName(Title)) && plain(ReadmeLinkName()) && plain(UninstallLinkName(Title));
}
