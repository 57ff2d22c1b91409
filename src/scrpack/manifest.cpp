// The three files of a winget manifest (version, default locale, installer) for an installer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "common/text.h"
#include "fileio.h"
#include "scrpack.h"
#include "sha256.h"

namespace scrpack {

namespace {

constexpr char kManifestVersion[] = "1.10.0";
constexpr char kLocale[] = "en-US";

// Lengths as the schemas count them: in characters (code points).
std::size_t Characters(std::string_view utf8) {
    std::size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string Quoted(std::string_view s) {
    std::string quoted(1, '"');
    quoted += s;
    return quoted + '"';
}

void CheckUtf8(const std::string& value, const std::string& option) {
    if (text::Utf16ToUtf8(text::Utf8ToUtf16(value)) != value) throw EUsageError(option + " is not valid UTF-8");
}

void CheckLength(const std::string& value, std::size_t minimum, std::size_t maximum, const std::string& what) {
    const std::size_t n = Characters(value);
    if (n < minimum || n > maximum)
        throw EUsageError(what + " " + Quoted(value) + " has " + std::to_string(n) + " characters; a manifest takes " +
                          std::to_string(minimum) + " to " + std::to_string(maximum));
}

// The characters the schemas' patterns refuse in identifiers and versions.
bool Forbidden(char16_t c) { return c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos; }

// What JSON Schema's \s matches besides the ASCII blanks.
bool UnicodeSpace(char16_t c) {
    return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

void CheckIdentifier(const std::string& id) {
    CheckUtf8(id, "--id");
    const std::string rule =
        "--id " + Quoted(id) +
        " is no package identifier: 2 to 8 parts joined by dots (Publisher.Package), each of 1 to 32 characters "
        "without blanks or \\ / : * ? \" < > |";
    if (Characters(id) > 128) throw EUsageError(rule);
    std::size_t parts = 0;
    std::u16string part;
    const std::u16string wide = text::Utf8ToUtf16(id) + u".";
    for (const char16_t c : wide) {
        if (c != u'.') {
            if (Forbidden(c) || c == u' ' || UnicodeSpace(c)) throw EUsageError(rule);
            part += c;
            continue;
        }
        if (part.empty() || Characters(text::Utf16ToUtf8(part)) > 32) throw EUsageError(rule);
        part.clear();
        ++parts;
    }
    if (parts < 2 || parts > 8) throw EUsageError(rule);
}

bool IsPackageVersion(const std::string& version) {
    if (version.empty() || Characters(version) > 128) return false;
    for (const char16_t c : text::Utf8ToUtf16(version))
        if (Forbidden(c)) return false;
    return true;
}

void CheckUrl(const std::string& url, const std::string& option) {
    CheckUtf8(url, option);
    const std::u16string wide = text::Utf8ToUtf16(url);
    const std::u16string lower = text::AsciiLower(wide);
    const std::size_t rest = lower.starts_with(u"http://") ? 7 : lower.starts_with(u"https://") ? 8 : 0;
    bool clean = rest != 0 && wide.size() > rest && Characters(url) <= 2048;
    for (const char16_t c : wide) clean = clean && c > 0x20 && c != 0x7F && !UnicodeSpace(c);
    if (!clean)
        throw EUsageError(option + " " + Quoted(url) +
                          " is no web address: http:// or https:// and more, no blanks or control characters, at most "
                          "2048 characters");
}

// YAML 1.1 reads these words, in any of their spellings, as booleans or null.
bool ReservedWord(std::string_view s) {
    std::string lower;
    for (const char c : s) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    for (const char* word : {"y", "n", "yes", "no", "true", "false", "on", "off", "null"})
        if (lower == word) return true;
    return false;
}

// A plain scalar only when a YAML reader cannot take it for anything but that text: starts
// with a letter or a slash, holds nothing that could start a comment, a mapping or an
// escape, and is no reserved word. Numbers and versions start with a digit and are quoted.
bool PlainSafe(std::string_view s) {
    if (s.empty() || s.back() == ' ' || ReservedWord(s)) return false;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!letter(s.front()) && s.front() != '/') return false;
    for (const char c : s)
        if (!letter(c) && !(c >= '0' && c <= '9') && std::string_view(" ._/()+=<>@-").find(c) == std::string_view::npos)
            return false;
    return true;
}

std::string Utf8Of(char32_t cp) {
    std::u16string unit;
    if (cp >= 0x10000) {
        unit += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        unit += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        unit += static_cast<char16_t>(cp);
    }
    return text::Utf16ToUtf8(unit);
}

std::string Yaml(int indent, std::string_view key, std::string_view value) {
    return std::string(static_cast<std::size_t>(indent), ' ') + std::string(key) + ": " + YamlScalar(value) + "\n";
}

std::string YamlNumber(int indent, std::string_view key, long long value) {
    return std::string(static_cast<std::size_t>(indent), ' ') + std::string(key) + ": " + std::to_string(value) + "\n";
}

std::string Head(const char* type) {
    return std::string("# Created with scrpack\n# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + type +
           "." + kManifestVersion + ".schema.json\n\n";
}

std::string Tail(const char* type) {
    return Yaml(0, "ManifestType", type) + Yaml(0, "ManifestVersion", kManifestVersion);
}

std::string InstallerSha256(const std::string& path) {
    InputFile file(path);
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1 << 20);
    for (std::int64_t at = 0; at < file.Size();) {
        const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(file.Size() - at, static_cast<std::int64_t>(buffer.size())));
        if (file.ReadAt(at, buffer.data(), chunk) != chunk) throw EBuildError("cannot read " + path + " for its hash");
        hash.Update(buffer.data(), chunk);
        at += static_cast<std::int64_t>(chunk);
    }
    return HexUpper(hash.Finish());
}

void WriteFile(const std::filesystem::path& folder, const std::string& name, const std::string& content) {
    try {
        AtomicOutput out(PathToUtf8(folder / PathFromUtf8(name)));
        if (out.Write(content.data(), content.size()) != content.size())
            throw EFileError("cannot write " + name + ": " + out.WriteError());
        out.Commit();
    } catch (const EFileError& e) {
        throw EBuildError(std::string("-o: ") + e.what());
    }
}

}  // namespace

std::string YamlScalar(std::string_view utf8) {
    if (PlainSafe(utf8)) return std::string(utf8);
    // Double quotes: the one style in which every character can be written, escaped where a
    // reader would otherwise change or refuse it.
    std::string out = "\"";
    const std::u16string wide = text::Utf8ToUtf16(utf8);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t cp = wide[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[++i] - 0xDC00);
        char escape[12];
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(cp));
            out += escape;
        } else if (cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF || cp == 0xFFFE || cp == 0xFFFF ||
                   (cp >= 0xD800 && cp <= 0xDFFF)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            out += Utf8Of(cp);
        }
    }
    return out + "\"";
}

namespace {

// The command line alone, before any file is read.
void CheckOptions(const ManifestOptions& o) {
    CheckIdentifier(o.id);
    CheckUrl(o.url, "--url");
    if (o.packageUrl) CheckUrl(*o.packageUrl, "--package-url");
    if (o.publisherUrl) CheckUrl(*o.publisherUrl, "--publisher-url");
    CheckUtf8(o.license, "--license");
    CheckUtf8(o.shortDescription, "--short-description");
    CheckLength(o.license, 3, 512, "--license");
    CheckLength(o.shortDescription, 3, 256, "--short-description");
    if (o.version) {
        CheckUtf8(*o.version, "--version");
        if (!IsPackageVersion(*o.version))
            throw EUsageError("--version " + Quoted(*o.version) +
                              " is no package version: 1 to 128 characters without \\ / : * ? \" < > | or control "
                              "characters");
    }
    if (o.publisher) {
        CheckUtf8(*o.publisher, "--publisher");
        CheckLength(*o.publisher, 2, 256, "--publisher");
    }
}

ImageInfo SoundInstaller(const std::string& path) {
    ImageInfo info = InspectImage(path);
    if (info.role == TrailerKind::Installer && !info.Damaged() && info.header) return info;
    std::string why = info.role == TrailerKind::Installer ? "it is damaged"
                      : info.role == TrailerKind::None    ? "it holds no package"
                                                          : "it is an uninstaller";
    for (const auto& p : info.problems) why += "; " + p;
    throw EBuildError(path + " is no sound installer: " + why);
}

std::string PackageVersion(const ManifestOptions& o, const ImageInfo& info) {
    if (o.version) return *o.version;
    const std::string version = info.scrVersion ? text::Utf16ToUtf8(RegisteredVersion(*info.scrVersion)) : "";
    if (version.empty()) throw EUsageError("the screensaver carries no version resource with a version: give --version");
    if (!IsPackageVersion(version))
        throw EUsageError("the screensaver's version " + Quoted(version) + " cannot be a package version: give --version");
    return version;
}

std::string Publisher(const ManifestOptions& o, const ImageInfo& info) {
    if (o.publisher) return *o.publisher;
    const std::string company = info.scrVersion ? text::Utf16ToUtf8(RegisteredPublisher(*info.scrVersion)) : "";
    if (company.empty()) throw EUsageError("the screensaver's version resource names no company: give --publisher");
    if (Characters(company) < 2 || Characters(company) > 256)
        throw EUsageError("the screensaver's company " + Quoted(company) + " cannot be a publisher: give --publisher");
    return company;
}

std::string InstallerFile(const ManifestOptions& o, const std::string& version, const std::string& architecture,
                          const std::string& sha256, const std::optional<Registration>& registers) {
    // One installer. The setup installs for the machine (Program Files, the machine's uninstall
    // list) and asks for elevation itself through its manifest ("highestAvailable").
    std::string f = Head("installer") + Yaml(0, "PackageIdentifier", o.id) + Yaml(0, "PackageVersion", version) +
                    "Installers:\n- " + Yaml(0, "Architecture", architecture) + Yaml(2, "InstallerType", "exe") +
                    Yaml(2, "InstallerUrl", o.url) + Yaml(2, "InstallerSha256", sha256) + Yaml(2, "Scope", "machine") +
                    "  InstallModes:\n  - interactive\n  - silent\n  - silentWithProgress\n";
    // Without the wizard there is no progress to show: both silent modes are /S. winget puts
    // the folder last, where /D= takes the rest of the command line as it stands, unquoted.
    f += "  InstallerSwitches:\n" + Yaml(4, "Silent", "/S") + Yaml(4, "SilentWithProgress", "/S") +
         Yaml(4, "Log", "/LOG=\"<LOGPATH>\"") + Yaml(4, "InstallLocation", "/D=<INSTALLPATH>");
    // The setup's exit codes; 0 is success and not listed.
    const std::pair<int, const char*> codes[] = {
        {1, "contactSupport"},    // the installer file is damaged: only its publisher can mend it
        {2, "invalidParameter"},  // the destination folder cannot be created or used
        {3, "custom"},            // a step failed (a full disk, a file in use, no memory) and was undone
        {4, "cancelledByUser"},
        {3010, "rebootRequiredToFinish"},  // done; a file in use is replaced or removed at the next start
    };
    f += "  ExpectedReturnCodes:\n";
    for (const auto& [code, response] : codes)
        f += "  - " + YamlNumber(0, "InstallerReturnCode", code) + Yaml(4, "ReturnResponse", response);
    f += Yaml(2, "UpgradeBehavior", "install") + Yaml(2, "ElevationRequirement", "elevatesSelf");
    if (registers) {
        // What the uninstall entry says, by which winget finds the installation. A DisplayVersion
        // equal to the package version is left out, as the manifest documentation asks.
        const Registration& r = *registers;
        f += "  AppsAndFeaturesEntries:\n  - " + Yaml(0, "DisplayName", r.displayName);
        if (!r.publisher.empty() && Characters(r.publisher) <= 256) f += Yaml(4, "Publisher", r.publisher);
        if (!r.displayVersion.empty() && r.displayVersion != version && Characters(r.displayVersion) <= 128)
            f += Yaml(4, "DisplayVersion", r.displayVersion);
        f += Yaml(4, "ProductCode", r.productCode) + Yaml(4, "InstallerType", "exe");
    }
    return f + Tail("installer");
}

}  // namespace

ManifestResult WriteWingetManifests(const ManifestOptions& o) {
    CheckOptions(o);
    const ImageInfo info = SoundInstaller(o.installer);
    const std::string architecture = info.machine ? ArchitectureName(*info.machine) : "none";
    if (architecture != "x86" && architecture != "x64" && architecture != "arm64")
        throw EBuildError(o.installer + ": the stub's architecture (" + architecture + ") has no name in a manifest");
    const std::string title = text::Utf16ToUtf8(info.header->Title());
    if (Characters(title) < 2)
        throw EBuildError(o.installer + ": the title " + Quoted(title) +
                          " names the package, and a package name needs at least 2 characters");
    ManifestResult result;
    result.version = PackageVersion(o, info);
    result.publisher = Publisher(o, info);
    const std::string& version = result.version;

    const std::string versionFile = Head("version") + Yaml(0, "PackageIdentifier", o.id) +
                                    Yaml(0, "PackageVersion", version) + Yaml(0, "DefaultLocale", kLocale) +
                                    Tail("version");
    std::string locale = Head("defaultLocale") + Yaml(0, "PackageIdentifier", o.id) + Yaml(0, "PackageVersion", version) +
                         Yaml(0, "PackageLocale", kLocale) + Yaml(0, "Publisher", result.publisher);
    if (o.publisherUrl) locale += Yaml(0, "PublisherUrl", *o.publisherUrl);
    locale += Yaml(0, "PackageName", title);
    if (o.packageUrl) locale += Yaml(0, "PackageUrl", *o.packageUrl);
    locale += Yaml(0, "License", o.license) + Yaml(0, "ShortDescription", o.shortDescription) + Tail("defaultLocale");
    const std::string installer = InstallerFile(o, version, architecture, InstallerSha256(o.installer), info.registers);
    if (!info.registers)
        result.warnings.push_back(o.installer +
                                  " writes no uninstall entry (built without --uninstall-entry): winget cannot find "
                                  "the installation afterwards");

    const std::filesystem::path folder = PathFromUtf8(o.outputDir);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw EBuildError("-o: cannot create " + o.outputDir + ": " + ec.message());
    for (const auto& [name, content] : {std::pair{o.id + ".yaml", &versionFile},
                                        {o.id + ".locale." + kLocale + ".yaml", &locale},
                                        {o.id + ".installer.yaml", &installer}}) {
        WriteFile(folder, name, *content);
        result.files.push_back(PathToUtf8(folder / PathFromUtf8(name)));
    }
    return result;
}

}  // namespace scrpack
