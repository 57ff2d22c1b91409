// Reading the package behind the stub, and writing the uninstaller image.
#pragma once

// The packer names every problem it finds; the setup only needs to know that there is one,
// and its build (PACKAGE_PROBLEMS_UNNAMED) keeps a single text for all of them.
#ifdef PACKAGE_PROBLEMS_UNNAMED
#define PACKAGE_PROBLEM(text) "damaged"
#else
#define PACKAGE_PROBLEM(text) text
#endif

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../common/bytes.h"
#include "../common/osversion.h"
#include "setup_header.h"

// Logical end of the package: the position just past the signature nearest the file's end.
// nullopt when the file holds no signature.
std::optional<std::int64_t> LocateTrailer(ByteSource& source);

// What the PE headers at the start of an image say about the bytes behind the program.
struct TPeLayout {
    std::int64_t overlayStart = 0;  // end of the last section's raw data
    std::int64_t certOffset = 0;    // the certificate table of a signed image
    std::int64_t certSize = 0;
    std::int64_t checksumAt = 0;  // file offsets of the checksum and of the certificate entry,
    std::int64_t securityAt = 0;  // 0 when the headers hold no certificate entry
    std::uint16_t machine = 0;    // the file header's Machine: 0x14C x86, 0x8664 x64
    bool pe32Plus = false;        // 64-bit optional header, its data directories 16 bytes later
    bool Signed() const { return certOffset != 0 || certSize != 0; }
};
// nullopt when the source does not start with PE headers.
std::optional<TPeLayout> ReadPeLayout(ByteSource& source);

// The packer writes this record between the program and the screensaver: the CRC-32 of every
// byte from the screensaver's start to the trailer's end. Packages of other tools have none, and
// nothing in the header changes meaning for it. As part of the program's overlay it is covered
// by an Authenticode signature of the installer.
inline constexpr std::size_t kChecksumRecordSize = 16;
struct TPackageChecksum {
    std::uint32_t covered = 0;  // bytes checked: the PackageSize of the header
    std::uint32_t crc = 0;
};
std::array<std::uint8_t, kChecksumRecordSize> ChecksumRecordBytes(const TPackageChecksum& checksum);
// The record that ends where an installer's screensaver starts, if one does.
std::optional<TPackageChecksum> ReadChecksumRecord(ByteSource& source, const TSetupHeader& header, std::int64_t fileEnd);

// A package as read from an image, with what is wrong with it.
struct TPackage {
    std::int64_t fileEnd = 0;  // just past the trailer
    TrailerKind role = TrailerKind::None;
    std::optional<TSetupHeader> header;  // as stored
    std::optional<TPeLayout> pe;
    std::optional<TPackageChecksum> checksum;  // an installer's, when it carries one
    // Found before the package's language can be known: no package, an unusable header.
    std::vector<const char*> readProblems;
    // The role's own problems, found once the language text could be read.
    std::vector<const char*> roleProblems;

    bool Sound() const { return header && readProblems.empty() && roleProblems.empty(); }
};

// Reads the package behind an image. In a signed image the package is the one whose trailer
// ends where the certificate table begins (after at most 7 bytes of padding): the signed
// bytes decide, and nothing inside the table is read as a package. The problems say what is
// wrong.
TPackage LoadPackage(ByteSource& source);

// Reads exactly count bytes at offset; false when any of them lies outside the source.
[[nodiscard]] bool ReadExact(ByteSource& source, std::int64_t offset, void* buffer, std::size_t count);

// The checks that do not depend on the role, made before the language text is read.
std::vector<const char*> CommonHeaderProblems(const TSetupHeader& header, std::int64_t fileEnd);
// The checks of the role alone. Uninstallers carry the installer's PackageSize, which then
// describes nothing and is not checked.
std::vector<const char*> RoleProblems(const TSetupHeader& header, std::int64_t fileEnd, TrailerKind role);

// Position of the texts block and of the screensaver bytes.
std::int64_t TextsStart(const TSetupHeader& header, std::int64_t fileEnd);
std::int64_t PayloadStart(const TSetupHeader& header, std::int64_t fileEnd);
std::int64_t PayloadLength(const TSetupHeader& header);

int WindowsVersionClass(const OsVersionInfo& info);

// Shortens the file-name part of ScrFileName on version class 5 and above.
void ApplyShortNameRule(TSetupHeader& header, int versionClass);
std::u16string ShortScrName(std::u16string_view name);

// Clears the certificate-table entry and the checksum of PE headers that name a
// certificate table; other bytes, and images that are not PE files, stay as they are.
void UnsignStubHeaders(std::uint8_t* bytes, std::size_t count);

// Stub (unsigned, without the installer's checksum record), texts block, header as held in
// memory, uninstaller signature.
// False when any part cannot be copied or written whole.
[[nodiscard]] bool WriteUninstallerImage(ByteSource& source, ByteSink& target, std::int64_t fileEnd, const TSetupHeader& header);

// Copies count bytes from offset in bounded chunks; false when any byte is missing.
[[nodiscard]] bool CopyRange(ByteSource& source, std::int64_t offset, std::int64_t count, ByteSink& target);
