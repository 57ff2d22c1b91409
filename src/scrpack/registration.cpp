// What an installation of a package registers, worked out as the setup does it. Where the
// setup asks the system (the Program Files folder, a file name already taken), the text of
// the package stands.
#include <vector>

#include "common/lang.h"
#include "common/text.h"
#include "package/names.h"
#include "package/package.h"
#include "scrpack.h"

namespace scrpack {

namespace {

std::u16string WithTrailingBackslash(std::u16string s) {
    if (s.empty() || s.back() != u'\\') s.push_back(u'\\');
    return s;
}

std::u16string ReadText(ByteSource& image, std::int64_t offset, std::int64_t bytes, const char* what) {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
    if (bytes > 0 && !ReadExact(image, offset, raw.data(), raw.size()))
        throw EBuildError(std::string("the ") + what + " cannot be read");
    return text::FromUtf16Le(raw.data(), raw.size());
}

}  // namespace

std::u16string DefaultFolderText(std::u16string_view base, std::u16string_view sub) {
    std::u16string tail = text::TrimControl(sub);
    if (!tail.empty() && tail.front() == u'\\') tail.erase(0, 1);
    if (!tail.empty() && tail.back() == u'\\') tail.pop_back();
    return WithTrailingBackslash(text::TrimControl(WithTrailingBackslash(text::TrimControl(base)) + tail));
}

std::u16string UninstallerName(std::u16string_view scrName, std::u16string_view langText) {
    // The setup looks the word up in its language text's "Setup" section.
    LoadLangSection(langText, u"Setup");
    std::u16string name = text::AsciiLower(LangStr("Uninstall")) + u" " + std::u16string(scrName);
    FreeLangStrings();
    const std::size_t nameStart = name.size() - text::FileNamePart(name).size();
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot >= nameStart) name.erase(dot);
    return name + u".exe";
}

std::int64_t ReadmeCopyBytes(std::u16string_view readme) {
    const std::u16string copy = text::NormalizeLineBreaks(readme);
    for (const char16_t c : copy)
        if (c >= 0x80) return 3 + static_cast<std::int64_t>(text::Utf16ToUtf8(copy).size());
    return static_cast<std::int64_t>(copy.size());
}

Registration DescribeRegistration(ByteSource& image, const TSetupHeader& h, std::int64_t fileEnd, bool checksumRecord,
                                  const std::optional<TVersionInfo>& scrVersion) {
    const std::int64_t texts = TextsStart(h, fileEnd);
    const std::u16string readme = ReadText(image, texts, h.ReadmeSize(), "readme");
    const std::u16string lang =
        ReadText(image, texts + h.ReadmeSize() + h.LicenseSize(), 2 * static_cast<std::int64_t>(h.LanguageLength()),
                 "language text");

    // Every Windows the setup runs on shortens the name (Windows 2000 and later).
    const std::u16string scrName = ShortScrName(text::FileNamePart(h.ScrFileName()));
    const std::u16string folder = DefaultFolderText(h.DefaultBaseDir(), h.DefaultSubDir());
    const std::u16string uninstaller = u"\"" + folder + UninstallerName(scrName, lang) + u"\"";

    // The uninstaller is the stub without the checksum record, the texts, the header and its trailer.
    const std::int64_t stub = PayloadStart(h, fileEnd) - (checksumRecord ? static_cast<std::int64_t>(kChecksumRecordSize) : 0);
    const std::int64_t uninstallerBytes = stub + h.TextsSize() + static_cast<std::int64_t>(kHeaderAndTrailer);
    const std::int64_t bytes = PayloadLength(h) + uninstallerBytes + (h.ReadmeSize() > 0 ? ReadmeCopyBytes(readme) : 0);

    Registration r;
    r.productCode = text::Utf16ToUtf8(UninstallKeyName(h.Title()));
    r.displayName = text::Utf16ToUtf8(h.Title());
    if (scrVersion) {
        r.displayVersion = text::Utf16ToUtf8(RegisteredVersion(*scrVersion));
        r.publisher = text::Utf16ToUtf8(RegisteredPublisher(*scrVersion));
    }
    const std::u16string link = h.LinkAddress();
    const std::u16string scheme = text::AsciiLower(link.substr(0, 6));
    if (text::IsWebAddress(link) && (scheme.starts_with(u"http:") || scheme.starts_with(u"https:")))
        r.urlInfoAbout = text::Utf16ToUtf8(link);
    r.estimatedSizeKiB = (bytes + 1023) / 1024;
    r.uninstallString = text::Utf16ToUtf8(uninstaller);
    r.quietUninstallString = r.uninstallString + " -silent";
    r.displayIcon = text::Utf16ToUtf8(folder + scrName);
    // Without its trailing backslash, but for a drive's root ("C:\").
    r.installLocation = text::Utf16ToUtf8(folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder);
    return r;
}

}  // namespace scrpack
