#include "scrpack.h"

#include "fileio.h"
#include "setupmain/package.h"

namespace scrpack {

const char* RoleName(TrailerKind role) {
    switch (role) {
        case TrailerKind::Installer: return "installer";
        case TrailerKind::Uninstaller: return "uninstaller";
        case TrailerKind::None: break;
    }
    return "none";
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

    std::int64_t end = 0;
    try {
        end = LocateTrailer(*file);
    } catch (const EPackageError&) {
        info.problems.push_back("no installer or uninstaller signature found");
        return info;
    }
    info.fileEnd = end;

    std::uint8_t trailer[kTrailerSize];
    TSetupHeader h;
    try {
        ReadExact(*file, end - static_cast<std::int64_t>(kTrailerSize), trailer, sizeof trailer);
        info.role = ClassifyTrailer(trailer);
        if (end < static_cast<std::int64_t>(kHeaderAndTrailer)) {
            info.problems.push_back("the header would lie before the start of the file");
        } else {
            ReadExact(*file, end - static_cast<std::int64_t>(kHeaderAndTrailer), h.Raw.data(), h.Raw.size());
            info.header = h;
        }
    } catch (const EPackageError& e) {
        info.problems.push_back(std::string("cannot read the package: ") + e.what());
    }

    if (info.header) {
        for (auto& p : HeaderProblems(h, end, info.role)) info.problems.push_back(std::move(p));
        const std::int64_t texts = TextsStart(h, end);
        if (info.role == TrailerKind::Installer) {
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
    }
    info.blocks.push_back({"trailer", end - static_cast<std::int64_t>(kTrailerSize), static_cast<std::int64_t>(kTrailerSize)});
    if (info.fileSize > end) info.blocks.push_back({"afterTrailer", end, info.fileSize - end});
    return info;
}

}  // namespace scrpack
