// The packer: builds an installer from the stub and a screensaver, and describes images.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "package/setup_header.h"
#include "package/version_info.h"

namespace scrpack {

// Exit code 2: an option value the package cannot hold.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit code 1: an input that cannot be read or used, or an output that cannot be written.
class EBuildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Paths and texts are UTF-8. Unset optionals take the documented defaults.
struct BuildOptions {
    std::string stub, scr, output, title;
    std::optional<std::string> readme, license, lang;
    std::optional<int> licenseMode;
    std::string link;
    std::optional<std::string> baseDir, subDir, scrName;
    bool uninstallEntry = false;
    bool menuShortcuts = false;
    bool desktopShortcut = false;
    bool skipDirectoryPage = false;
    bool powerRequestOverride = false;
};

// The option checks alone, made before any file is opened. Throws EUsageError.
TSetupHeader HeaderFromOptions(const BuildOptions& options);

struct BuildResult {
    std::int64_t size = 0;
    std::uint16_t machine = 0;  // the stub's
};

// Writes the installer; the output appears only when complete. Throws EUsageError or
// EBuildError; an existing output is then left as it was.
BuildResult BuildInstaller(const BuildOptions& options);

// Text files may be UTF-8 (with or without BOM) or UTF-16 with BOM. Throws EBuildError.
std::u16string DecodeTextFile(const std::string& bytes, const std::string& what);

struct Block {
    std::string name;
    std::int64_t offset = 0, size = 0;
    bool inTexts = false;  // readme, licence and language lie inside the texts block
};

// What an installation writes into its uninstall entry: the first installation of the package
// into its default folder, whose placeholders (<Program Files>, <Windows>) stay as the header
// has them. Empty texts are values the installation does not write.
struct Registration {
    std::string productCode;  // the name of the entry's key in the list (UninstallKeyName)
    std::string displayName;
    std::string displayVersion, publisher, urlInfoAbout;
    std::int64_t estimatedSizeKiB = 0;  // the screensaver, the uninstaller and the readme copy
    std::string uninstallString, quietUninstallString, displayIcon, installLocation;
};

// The default folder as the setup composes it from the header's two parts, ending in a
// backslash, with its placeholders left in place.
std::u16string DefaultFolderText(std::u16string_view base, std::u16string_view sub);
// The uninstaller's file name beside the installed screensaver scrName, with "Uninstall" as
// the package's language text translates it.
std::u16string UninstallerName(std::u16string_view scrName, std::u16string_view langText);
// The size of the readme copy an installation saves: one byte a character when the text is
// ASCII, else UTF-8 with a byte-order mark, the larger of the two forms the setup writes.
std::int64_t ReadmeCopyBytes(std::u16string_view readme);
// The registration of a sound installer's package. Throws EBuildError when its texts cannot be read.
Registration DescribeRegistration(ByteSource& image, const TSetupHeader& header, std::int64_t fileEnd,
                                  bool checksumRecord, const std::optional<TVersionInfo>& scrVersion);

struct ImageInfo {
    std::string path;
    std::int64_t fileSize = 0;
    std::optional<std::uint16_t> machine;  // unset without readable PE headers
    bool pe32Plus = false;
    TrailerKind role = TrailerKind::None;
    std::optional<std::int64_t> fileEnd;
    std::optional<TSetupHeader> header;
    std::vector<Block> blocks;  // file order; positions as the header states them
    std::vector<std::string> problems;
    // An installer's checksum record: what it states and what the package's bytes give.
    struct Checksum {
        std::uint32_t stated = 0;
        std::uint32_t computed = 0;
        bool Verified() const { return stated == computed; }
    };
    std::optional<Checksum> checksum;
    // A sound installer's: its screensaver's version resource, and the uninstall entry when
    // the package asks for one.
    std::optional<TVersionInfo> scrVersion;
    std::optional<Registration> registers;

    bool Damaged() const { return !problems.empty(); }
};

// Describes an installer or uninstaller image, damaged or not. Throws EBuildError only
// when the file cannot be read at all.
ImageInfo InspectImage(const std::string& path);

const char* RoleName(TrailerKind role);
// "x86", "x64", "arm64", else "machine 0x1c4".
std::string ArchitectureName(std::uint16_t machine);

struct ManifestOptions {
    std::string installer, id, url, license, shortDescription, outputDir;
    std::optional<std::string> version, publisher;  // unset: the screensaver's own
    std::optional<std::string> packageUrl, publisherUrl;
};

struct ManifestResult {
    std::vector<std::string> files;  // version, default locale, installer
    std::string version, publisher;  // as written
    std::vector<std::string> warnings;
};

// Writes the winget manifest (schema 1.10.0) of an installer into the output folder, made
// when missing. Throws EUsageError for an option a manifest cannot hold and for a version or
// publisher neither given nor found in the screensaver, EBuildError for an installer that is
// not sound or a file that cannot be written.
ManifestResult WriteWingetManifests(const ManifestOptions& options);

// A YAML scalar that reads back as exactly the UTF-8 text: plain where that is safe, else
// double-quoted.
std::string YamlScalar(std::string_view utf8);

// The whole command line without the program name; returns the exit code.
int RunScrpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace scrpack
