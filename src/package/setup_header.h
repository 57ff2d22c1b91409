// The 1336-byte package header and the trailer signatures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t kHeaderSize = 1336;
inline constexpr std::size_t kTrailerSize = 20;
inline constexpr std::size_t kHeaderAndTrailer = kHeaderSize + kTrailerSize;  // 1356

// Field offsets and sizes in the header.
namespace hdr {
inline constexpr std::size_t PackageSize = 0;
inline constexpr std::size_t ScrFileName = 4, ScrFileNameUnits = 256;
inline constexpr std::size_t Title = 516, TitleUnits = 32;
inline constexpr std::size_t LinkAddress = 580, LinkAddressUnits = 102;
inline constexpr std::size_t UninstallEntryFlag = 784;
inline constexpr std::size_t MenuShortcutsFlag = 785;
inline constexpr std::size_t DesktopShortcutFlag = 786;
inline constexpr std::size_t Reserved1 = 787;
inline constexpr std::size_t TextsSize = 788;
inline constexpr std::size_t ReadmeSize = 792;
inline constexpr std::size_t LicenseSize = 796;
inline constexpr std::size_t LanguageLength = 800;
inline constexpr std::size_t Reserved2 = 804;
inline constexpr std::size_t DefaultBaseDir = 805;
inline constexpr std::size_t DefaultSubDir = 1056;
inline constexpr std::size_t DirFieldSize = 251, DirMaxBytes = 250;
inline constexpr std::size_t SkipDirectoryPage = 1307;
inline constexpr std::size_t UninstallMarker = 1308, UninstallMarkerUnits = 11;
inline constexpr std::size_t LicenseMode = 1330;
inline constexpr std::size_t Reserved3 = 1331;
inline constexpr std::size_t PowerRequestOverride = 1332;
inline constexpr std::size_t Reserved4 = 1333, Reserved4Size = 3;
}  // namespace hdr

// The header is kept as its raw bytes so that an uninstaller receives exactly what the
// installer carried (reserved bytes, text after a NUL), changed only by the short-name rule.
class TSetupHeader {
public:
    std::array<std::uint8_t, kHeaderSize> Raw{};

    std::int32_t PackageSize() const { return Int(hdr::PackageSize); }
    std::u16string ScrFileName() const { return Chars(hdr::ScrFileName, hdr::ScrFileNameUnits); }
    std::u16string Title() const { return Chars(hdr::Title, hdr::TitleUnits); }
    std::u16string LinkAddress() const { return Chars(hdr::LinkAddress, hdr::LinkAddressUnits); }
    bool UninstallEntryFlag() const { return Raw[hdr::UninstallEntryFlag] != 0; }
    bool MenuShortcutsFlag() const { return Raw[hdr::MenuShortcutsFlag] != 0; }
    bool DesktopShortcutFlag() const { return Raw[hdr::DesktopShortcutFlag] != 0; }
    std::int32_t TextsSize() const { return Int(hdr::TextsSize); }
    std::int32_t ReadmeSize() const { return Int(hdr::ReadmeSize); }
    std::int32_t LicenseSize() const { return Int(hdr::LicenseSize); }
    std::int32_t LanguageLength() const { return Int(hdr::LanguageLength); }
    std::uint8_t DefaultBaseDirLength() const { return Raw[hdr::DefaultBaseDir]; }
    std::uint8_t DefaultSubDirLength() const { return Raw[hdr::DefaultSubDir]; }
    std::u16string DefaultBaseDir() const { return DirText(hdr::DefaultBaseDir); }
    std::u16string DefaultSubDir() const { return DirText(hdr::DefaultSubDir); }
    bool SkipDirectoryPage() const { return Raw[hdr::SkipDirectoryPage] != 0; }
    std::u16string UninstallMarker() const { return Chars(hdr::UninstallMarker, hdr::UninstallMarkerUnits); }
    std::uint8_t LicenseMode() const { return Raw[hdr::LicenseMode]; }
    bool PowerRequestOverride() const { return Raw[hdr::PowerRequestOverride] != 0; }

    // Licence modes 1 to 3 use the licence page, all alike.
    bool LicensePageMode() const { return LicenseMode() >= 1 && LicenseMode() <= 3; }
    // The wizard shows the licence page: a licence mode and a licence text.
    bool LicensePageInUse() const { return LicensePageMode() && LicenseSize() > 0; }

    void SetInt(std::size_t offset, std::int32_t value);
    // Writes the text and a NUL; the caller keeps it below the array's length.
    void SetChars(std::size_t offset, std::size_t units, std::u16string_view value);
    void SetDirText(std::size_t offset, std::string_view utf8);

private:
    std::int32_t Int(std::size_t offset) const;
    std::u16string Chars(std::size_t offset, std::size_t units) const;
    std::u16string DirText(std::size_t offset) const;
};

// Trailer signatures. Kept as eight-bit text so that the stub's own image never holds
// their 20-byte UTF-16 form, which the trailer search would otherwise find in a bare stub.
inline constexpr char kInstallerSignatureText[] = "Parvol.sig";
inline constexpr char kUninstallerSignatureText[] = "ScUnin.sig";
inline constexpr char kUninstallMarkerText[] = "SCRSet.sig";

enum class TrailerKind { None, Installer, Uninstaller };

// Tells which signature the 20 bytes hold.
TrailerKind ClassifyTrailer(const std::uint8_t* bytes20);
// The 20 bytes of a signature, built at run time.
std::array<std::uint8_t, kTrailerSize> SignatureBytes(TrailerKind kind);
