#include "scrpack.h"

#include <cstdio>

#include "common/crc32.h"
#include "fileio.h"
#include "package/package.h"

namespace scrpack {

const char* RoleName(TrailerKind role) {
    switch (role) {
        case TrailerKind::Installer: return "installer";
        case TrailerKind::Uninstaller: return "uninstaller";
        case TrailerKind::None: break;
    }
    return "none";
}

std::string ArchitectureName(std::uint16_t machine) {
    switch (machine) {
        case 0x14C: return "x86";
        case 0x8664: return "x64";
        case 0xAA64: return "arm64";
        default: break;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%x", machine);
    return std::string("machine ") + hex;
}

ImageInfo InspectImage(const std::string& path) {
    ImageInfo info;
    info.path = path;
    std::optional<InputFile> file;
    try {
        file.emplace(path);
    } catch (const EFileError& e) {
        throw EBuildError(e.what());
    }
    info.fileSize = file->Size();

    // The very loader the setup runs, so both see the same package and the same problems.
    const TPackage package = LoadPackage(*file);
    if (package.pe) {
        info.machine = package.pe->machine;
        info.pe32Plus = package.pe->pe32Plus;
    }
    for (const char* p : package.readProblems) info.problems.push_back(p);
    for (const char* p : package.roleProblems) info.problems.push_back(p);
    if (package.fileEnd == 0) return info;
    const std::int64_t end = package.fileEnd;
    info.fileEnd = end;
    info.role = package.role;
    info.header = package.header;

    if (info.header) {
        const TSetupHeader& h = *info.header;
        const std::int64_t texts = TextsStart(h, end);
        if (info.role == TrailerKind::Installer && package.checksum) {
            const std::int64_t record = PayloadStart(h, end) - static_cast<std::int64_t>(kChecksumRecordSize);
            info.blocks.push_back({"stub", 0, record});
            info.blocks.push_back({"checksum", record, static_cast<std::int64_t>(kChecksumRecordSize)});
            info.blocks.push_back({"screensaver", PayloadStart(h, end), PayloadLength(h)});
            Crc32Sink computed;
            if (!CopyRange(*file, PayloadStart(h, end), end - PayloadStart(h, end), computed))
                throw EBuildError("the package cannot be read whole for its checksum");
            info.checksum = ImageInfo::Checksum{package.checksum->crc, computed.crc};
            if (!info.checksum->Verified())
                info.problems.push_back("the package differs from its checksum: the installer file is damaged");
        } else if (info.role == TrailerKind::Installer) {
            info.blocks.push_back({"stub", 0, PayloadStart(h, end)});
            info.blocks.push_back({"screensaver", PayloadStart(h, end), PayloadLength(h)});
        } else {
            // An uninstaller carries no screensaver, and its PackageSize describes nothing.
            info.blocks.push_back({"stub", 0, texts});
        }
        info.blocks.push_back({"texts", texts, h.TextsSize()});
        info.blocks.push_back({"readme", texts, h.ReadmeSize(), true});
        info.blocks.push_back({"license", texts + h.ReadmeSize(), h.LicenseSize(), true});
        info.blocks.push_back({"language", texts + h.ReadmeSize() + h.LicenseSize(),
                               2 * static_cast<std::int64_t>(h.LanguageLength()), true});
        info.blocks.push_back({"header", end - static_cast<std::int64_t>(kHeaderAndTrailer),
                               static_cast<std::int64_t>(kHeaderSize)});
        if (info.role == TrailerKind::Installer && !info.Damaged()) {
            info.scrVersion = ReadVersionInfo(*file, PayloadStart(h, end), PayloadLength(h));
            if (h.UninstallEntryFlag())
                info.registers = DescribeRegistration(*file, h, end, package.checksum.has_value(), info.scrVersion);
        }
    }
    info.blocks.push_back({"trailer", end - static_cast<std::int64_t>(kTrailerSize), static_cast<std::int64_t>(kTrailerSize)});
    std::int64_t behind = end;
    if (package.pe && package.pe->Signed() && package.pe->certOffset >= end) {
        if (package.pe->certOffset > end) info.blocks.push_back({"padding", end, package.pe->certOffset - end});
        info.blocks.push_back({"certificates", package.pe->certOffset, package.pe->certSize});
        behind = package.pe->certOffset + package.pe->certSize;
    }
    if (info.fileSize > behind) info.blocks.push_back({"afterTrailer", behind, info.fileSize - behind});
    return info;
}

}  // namespace scrpack
