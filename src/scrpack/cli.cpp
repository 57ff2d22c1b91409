#include "scrpack.h"

#include <cstdio>
#include <iomanip>
#include <ostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "common/text.h"

namespace scrpack {

namespace {

// Ordered, so that fields keep the header's byte order and blocks the file order.
using json = nlohmann::ordered_json;

std::string Utf8(const std::u16string& s) { return text::Utf16ToUtf8(s); }

// Field names as the header defines them, values decoded.
json HeaderJson(const TSetupHeader& h) {
    const auto& raw = h.Raw;
    return json{
        {"PackageSize", h.PackageSize()},
        {"ScrFileName", Utf8(h.ScrFileName())},
        {"Title", Utf8(h.Title())},
        {"LinkAddress", Utf8(h.LinkAddress())},
        {"UninstallEntryFlag", h.UninstallEntryFlag()},
        {"MenuShortcutsFlag", h.MenuShortcutsFlag()},
        {"DesktopShortcutFlag", h.DesktopShortcutFlag()},
        {"Reserved1", raw[hdr::Reserved1]},
        {"TextsSize", h.TextsSize()},
        {"ReadmeSize", h.ReadmeSize()},
        {"LicenseSize", h.LicenseSize()},
        {"LanguageLength", h.LanguageLength()},
        {"Reserved2", raw[hdr::Reserved2]},
        {"DefaultBaseDir", Utf8(h.DefaultBaseDir())},
        {"DefaultSubDir", Utf8(h.DefaultSubDir())},
        {"SkipDirectoryPage", h.SkipDirectoryPage()},
        {"UninstallMarker", Utf8(h.UninstallMarker())},
        {"LicenseMode", h.LicenseMode()},
        {"Reserved3", raw[hdr::Reserved3]},
        {"PowerRequestOverride", h.PowerRequestOverride()},
        {"Reserved4", json::array({raw[hdr::Reserved4], raw[hdr::Reserved4 + 1], raw[hdr::Reserved4 + 2]})},
    };
}

std::string Hex32(std::uint32_t value) {
    char hex[11];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(value));
    return hex;
}

std::string ChecksumText(const ImageInfo& info) {
    if (info.checksum)
        return "CRC-32 " + Hex32(info.checksum->stated) +
               (info.checksum->Verified() ? ", verified" : ", MISMATCH (the package gives " + Hex32(info.checksum->computed) + ")");
    return info.role == TrailerKind::Installer ? "none (not checked when installing)" : "-";
}

// The uninstall entry's values the setup writes, name, version and publisher first (not the
// order the setup writes them in); those it leaves out are absent.
json RegistersJson(const Registration& r) {
    json j{{"DisplayName", r.displayName}};
    if (!r.displayVersion.empty()) j["DisplayVersion"] = r.displayVersion;
    if (!r.publisher.empty()) j["Publisher"] = r.publisher;
    if (!r.urlInfoAbout.empty()) j["URLInfoAbout"] = r.urlInfoAbout;
    j["NoModify"] = 1;
    j["NoRepair"] = 1;
    j["EstimatedSize"] = r.estimatedSizeKiB;
    j["UninstallString"] = r.uninstallString;
    j["QuietUninstallString"] = r.quietUninstallString;
    j["DisplayIcon"] = r.displayIcon;
    j["InstallLocation"] = r.installLocation;
    return j;
}

json InfoJson(const ImageInfo& info) {
    json blocks = json::object();
    for (const auto& b : info.blocks) blocks[b.name] = json{{"offset", b.offset}, {"size", b.size}};
    return json{
        {"file", info.path},
        {"fileSize", info.fileSize},
        {"architecture", info.machine ? json(ArchitectureName(*info.machine)) : json(nullptr)},
        {"role", RoleName(info.role)},
        {"fileEnd", info.fileEnd ? json(*info.fileEnd) : json(nullptr)},
        {"header", info.header ? HeaderJson(*info.header) : json(nullptr)},
        {"blocks", blocks},
        {"checksum", info.checksum ? json{{"algorithm", "CRC-32"}, {"stated", Hex32(info.checksum->stated)},
                                          {"computed", Hex32(info.checksum->computed)},
                                          {"verified", info.checksum->Verified()}}
                                   : json(nullptr)},
        {"productCode", info.registers ? json(info.registers->productCode) : json(nullptr)},
        {"registers", info.registers ? RegistersJson(*info.registers) : json(nullptr)},
        {"problems", info.problems},
    };
}

std::string Dump(const json& j, int indent = -1) { return j.dump(indent, ' ', false, json::error_handler_t::replace); }

void PrintInfoText(const ImageInfo& info, std::ostream& out) {
    out << "File:     " << info.path << "\n"
        << "Size:     " << info.fileSize << "\n"
        << "Arch:     "
        << (info.machine ? ArchitectureName(*info.machine) + (info.pe32Plus ? " (PE32+)" : " (PE32)") : "-") << "\n"
        << "Role:     " << RoleName(info.role) << "\n"
        << "FileEnd:  " << (info.fileEnd ? std::to_string(*info.fileEnd) : "-") << "\n"
        << "Checksum: " << ChecksumText(info) << "\n";
    if (info.header) {
        const json fields = HeaderJson(*info.header);
        out << "\nHeader\n";
        for (const auto& [name, value] : fields.items()) out << "  " << std::left << std::setw(22) << name << Dump(value) << "\n";
    }
    if (!info.blocks.empty()) {
        out << "\nBlocks" << std::right << std::setw(28) << "offset" << std::setw(14) << "size\n";
        for (const auto& b : info.blocks) {
            const std::string name = (b.inTexts ? "    " : "  ") + b.name;
            out << std::left << std::setw(20) << name << std::right << std::setw(14) << b.offset << std::setw(13)
                << b.size << "\n";
        }
    }
    if (info.registers) {
        out << "\nRegisters (uninstall entry of a first installation into the default folder; <Program Files> and\n"
               "<Windows> stand for the folders the setup finds; EstimatedSize in KiB; the key in HKLM, or in\n"
               "HKCU for a run without the rights for the machine's list)\n"
            << "  " << std::left << std::setw(22) << "Key"
            << "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" << info.registers->productCode << "\n";
        const json values = RegistersJson(*info.registers);
        for (const auto& [name, value] : values.items())
            out << "  " << std::left << std::setw(22) << name << (value.is_string() ? value.get<std::string>() : Dump(value))
                << "\n";
    } else if (info.role == TrailerKind::Installer && !info.Damaged()) {
        out << "\nRegisters: nothing (the package asks for no uninstall entry)\n";
    }
    if (info.Damaged()) {
        out << "\nProblems\n";
        for (const auto& p : info.problems) out << "  " << p << "\n";
    }
}

}  // namespace

int RunScrpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App app{"Builds screensaver installers from the setup stub, describes installer images and writes their winget manifests.", "scrpack"};
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("scrpack: ") + e.what() + "\nRun with --help for more information.\n";
    });

    BuildOptions o;
    std::string readme, license, lang, baseDir, subDir, scrName;
    int licenseMode = 0;
    auto* build = app.add_subcommand("build", "Append a package to a copy of the setup stub.");
    build->add_option("--stub", o.stub, "The bare setup stub (setup.exe)")->required();
    build->add_option("--scr", o.scr, "The screensaver file")->required();
    build->add_option("--title", o.title, "Title: window caption, folder and uninstall entry (1-31 characters)")->required();
    build->add_option("-o,--output", o.output, "The installer to write (replaced if it exists)")->required();
    auto* readmeOpt = build->add_option("--readme", readme, "Readme text (UTF-8 or UTF-16 with BOM)");
    auto* licenseOpt = build->add_option("--license", license, "Licence text (UTF-8 or UTF-16 with BOM)");
    auto* licenseModeOpt = build->add_option("--license-mode", licenseMode, "Licence page mode: 1-3 show it (default 1 with --license, else 0)")
                               ->check(CLI::Range(0, 255));
    auto* langOpt = build->add_option("--lang", lang, "Language text (UTF-8 or UTF-16 with BOM)");
    build->add_option("--link", o.link, "Web address shown by the wizard: http:, https: or mailto: (up to 101 characters)");
    auto* baseDirOpt = build->add_option("--base-dir", baseDir, "Default base folder (default \"<Program Files>\")");
    auto* subDirOpt = build->add_option("--sub-dir", subDir, "Default sub-folder (default: the title)");
    auto* scrNameOpt = build->add_option("--scr-name", scrName, "Installed file name (default: the --scr file's name)");
    build->add_flag("--uninstall-entry", o.uninstallEntry, "Register an uninstall entry");
    build->add_flag("--menu-shortcuts", o.menuShortcuts, "Create Start-menu shortcuts");
    build->add_flag("--desktop-shortcut", o.desktopShortcut, "Create a desktop shortcut");
    build->add_flag("--skip-directory-page", o.skipDirectoryPage, "Do not show the destination page");
    build->add_flag("--power-request-override", o.powerRequestOverride, "Register a display power-request override");

    std::string image;
    bool asJson = false;
    auto* info = app.add_subcommand("info", "Describe an installer or uninstaller image.");
    info->add_option("file", image, "The image")->required();
    info->add_flag("--json", asJson, "Write JSON");

    ManifestOptions m;
    std::string manifestVersion, publisher, packageUrl, publisherUrl;
    auto* manifest = app.add_subcommand("manifest", "Write the winget manifest (1.10.0) of an installer.");
    manifest->add_option("installer", m.installer, "The installer")->required();
    manifest->add_option("--id", m.id, "Package identifier: Publisher.Package")->required();
    auto* versionOpt = manifest->add_option("--version", manifestVersion, "Package version (default: the screensaver's own)");
    auto* publisherOpt = manifest->add_option("--publisher", publisher, "Publisher (default: the screensaver's CompanyName)");
    manifest->add_option("--url", m.url, "Where the installer is downloaded from (http: or https:)")->required();
    manifest->add_option("--license", m.license, "Licence, e.g. MIT or Proprietary")->required();
    manifest->add_option("--short-description", m.shortDescription, "One line about the package")->required();
    auto* packageUrlOpt = manifest->add_option("--package-url", packageUrl, "The package's home page");
    auto* publisherUrlOpt = manifest->add_option("--publisher-url", publisherUrl, "The publisher's home page");
    manifest->add_option("-o,--output", m.outputDir, "Folder for the three files (made when missing)")->required();

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (*build) {
            if (readmeOpt->count()) o.readme = readme;
            if (licenseOpt->count()) o.license = license;
            if (langOpt->count()) o.lang = lang;
            if (licenseModeOpt->count()) o.licenseMode = licenseMode;
            if (baseDirOpt->count()) o.baseDir = baseDir;
            if (subDirOpt->count()) o.subDir = subDir;
            if (scrNameOpt->count()) o.scrName = scrName;
            const BuildResult built = BuildInstaller(o);
            out << o.output << ": installer written, " << built.size << " bytes (" << ArchitectureName(built.machine)
                << " stub)\n";
            return kExitOk;
        }
        if (*manifest) {
            if (versionOpt->count()) m.version = manifestVersion;
            if (publisherOpt->count()) m.publisher = publisher;
            if (packageUrlOpt->count()) m.packageUrl = packageUrl;
            if (publisherUrlOpt->count()) m.publisherUrl = publisherUrl;
            const ManifestResult written = WriteWingetManifests(m);
            for (const auto& w : written.warnings) err << "scrpack: warning: " << w << "\n";
            for (const auto& f : written.files) out << f << "\n";
            out << "winget manifest written: version " << written.version << ", publisher " << written.publisher << "\n";
            return kExitOk;
        }
        const ImageInfo result = InspectImage(image);
        if (asJson)
            out << Dump(InfoJson(result), 2) << "\n";
        else
            PrintInfoText(result, out);
        return result.Damaged() ? kExitFailure : kExitOk;
    } catch (const EUsageError& e) {
        err << "scrpack: " << e.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "scrpack: " << e.what() << "\n";
        return kExitFailure;
    }
}

}  // namespace scrpack
