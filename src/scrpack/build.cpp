#include "scrpack.h"

#include <cstring>
#include <limits>

#include "common/crc32.h"
#include "common/text.h"
#include "fileio.h"
#include "package/names.h"
#include "package/package.h"

namespace scrpack {

namespace {

constexpr std::int64_t kMaxField = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t kMaxTitle = hdr::TitleUnits - 1;
constexpr std::size_t kMaxScrName = hdr::ScrFileNameUnits - 1;
constexpr std::size_t kMaxLink = hdr::LinkAddressUnits - 1;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::u16string CheckedUtf16(const std::string& value, const std::string& option) {
    std::u16string wide = text::Utf8ToUtf16(value);
    // Invalid input comes back as U+FFFD and so no longer round-trips.
    if (text::Utf16ToUtf8(wide) != value) throw EUsageError(option + " is not valid UTF-8");
    return wide;
}

void CheckUnits(const std::u16string& value, std::size_t minimum, std::size_t maximum, const std::string& option) {
    if (value.size() < minimum) throw EUsageError(option + " is empty; it needs at least " + std::to_string(minimum) + " character");
    if (value.size() > maximum)
        throw EUsageError(option + " is too long: " + std::to_string(value.size()) + " UTF-16 units, the limit is " +
                          std::to_string(maximum));
}

// The title and the file name end up as names of files, folders and registry keys.
void CheckWindowsName(const std::u16string& name, const std::string& option, const std::string& utf8) {
    const TNameCheck check = ::CheckWindowsName(name);
    switch (check.Problem) {
        case NameProblem::None:
        case NameProblem::Empty:  // the length check has spoken
            return;
        case NameProblem::ControlCharacter:
            throw EUsageError(option + " " + Quoted(utf8) + " contains a control character");
        case NameProblem::ForbiddenCharacter:
            throw EUsageError(option + " " + Quoted(utf8) + " contains '" + static_cast<char>(check.Character) +
                              "', which Windows does not allow in file names (\\ / : * ? \" < > |)");
        case NameProblem::DotsAndSpaces:
            throw EUsageError(option + " " + Quoted(utf8) + " is made of dots and spaces only");
        case NameProblem::ReservedDevice:
            throw EUsageError(option + " " + Quoted(utf8) + " is a reserved Windows device name");
    }
}

void CheckDirText(const std::string& value, const std::string& option) {
    CheckedUtf16(value, option);
    if (value.size() > hdr::DirMaxBytes)
        throw EUsageError(option + " is too long: " + std::to_string(value.size()) + " UTF-8 bytes, the limit is " +
                          std::to_string(hdr::DirMaxBytes));
}

EBuildError FileProblem(const std::string& option, const EFileError& e) { return EBuildError(option + ": " + e.what()); }

// Returns the stub's machine.
std::uint16_t CheckStub(InputFile& stub, const std::string& path) {
    const std::string what = "--stub: " + path + " is not a Windows program";
    std::uint8_t dos[64];
    if (stub.Size() < 64 || stub.ReadAt(0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z')
        throw EBuildError(what + " (no MZ header)");
    const std::uint32_t lfanew = dos[0x3C] | (dos[0x3D] << 8) | (dos[0x3E] << 16) | (static_cast<std::uint32_t>(dos[0x3F]) << 24);
    std::uint8_t pe[4];
    if (static_cast<std::int64_t>(lfanew) + 4 > stub.Size() || stub.ReadAt(lfanew, pe, 4) != 4)
        throw EBuildError(what + " (its PE header offset " + std::to_string(lfanew) + " lies outside the file)");
    if (std::memcmp(pe, "PE\0\0", 4) != 0)
        throw EBuildError(what + " (no PE signature at offset " + std::to_string(lfanew) + ")");

    if (LocateTrailer(stub))
        throw EBuildError("--stub: " + path + " already carries a package (it holds an installer or uninstaller "
                          "signature); give the bare setup stub");
    // The setup finds its package only where its program image ends: a stub with anything
    // behind its image (a signature, debug symbols) would make installers it refuses.
    const std::optional<TPeLayout> layout = ReadPeLayout(stub);
    if (!layout) throw EBuildError(what + " (its PE headers cannot be read)");
    if (layout->Signed())
        throw EBuildError("--stub: " + path + " is signed; sign the finished installer, not the stub");
    if (layout->overlayStart != stub.Size())
        throw EBuildError("--stub: " + path + " has " + std::to_string(stub.Size() - layout->overlayStart) +
                          " bytes behind its program image; give the bare setup stub (stripped, unsigned)");
    return layout->machine;
}

std::u16string ReadTextFile(const std::string& path, const std::string& option) {
    try {
        InputFile file(path);
        if (file.Size() > kMaxField)
            throw EBuildError(option + ": " + path + " is " + std::to_string(file.Size()) +
                              " bytes; all texts together are limited to " + std::to_string(kMaxField) + " bytes");
        std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
        if (file.ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
            throw EBuildError(option + ": cannot read " + path + " whole");
        return DecodeTextFile(bytes, option + ": " + path);
    } catch (const EFileError& e) {
        throw FileProblem(option, e);
    }
}

// Into out, or through a sink that passes the bytes on to it.
void Copy(InputFile& source, std::int64_t size, AtomicOutput& out, const std::string& option, const std::string& path,
          ByteSink* through = nullptr) {
    if (CopyRange(source, 0, size, through ? *through : out)) return;
    if (!out.WriteError().empty()) throw EBuildError("cannot write the output: " + out.WriteError());
    throw EBuildError(option + ": cannot read " + path + " (was it changed while being read?)");
}

}  // namespace

std::u16string DecodeTextFile(const std::string& bytes, const std::string& what) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        if (n % 2 != 0) throw EBuildError(what + " has a UTF-16 byte-order mark but an odd number of bytes");
        std::u16string out = text::FromUtf16Le(b + 2, n - 2);
        if (b[0] == 0xFE)
            for (auto& c : out) c = static_cast<char16_t>((c >> 8) | (c << 8));
        return out;
    }
    std::string_view utf8(bytes);
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
    std::u16string out = text::Utf8ToUtf16(utf8);
    if (text::Utf16ToUtf8(out) != utf8)
        throw EBuildError(what + " is neither UTF-8 nor UTF-16 with a byte-order mark; save it in one of those");
    return out;
}

TSetupHeader HeaderFromOptions(const BuildOptions& o) {
    TSetupHeader h;
    for (const auto& [value, option] : {std::pair{&o.stub, "--stub"}, {&o.scr, "--scr"}, {&o.output, "--output"}})
        if (value->empty()) throw EUsageError(std::string(option) + " is required");

    const std::u16string title = CheckedUtf16(o.title, "--title");
    CheckUnits(title, 1, kMaxTitle, "--title");
    CheckWindowsName(title, "--title", o.title);
    h.SetChars(hdr::Title, hdr::TitleUnits, title);

    // Without --scr-name the installed file keeps the name the screensaver has here.
    const std::string scrName = o.scrName ? *o.scrName : PathToUtf8(PathFromUtf8(o.scr).filename());
    const std::string nameOption = o.scrName ? "--scr-name" : "--scr-name (taken from the --scr file name)";
    const std::u16string name = CheckedUtf16(scrName, nameOption);
    CheckUnits(name, 1, kMaxScrName, nameOption);
    CheckWindowsName(name, nameOption, scrName);
    h.SetChars(hdr::ScrFileName, hdr::ScrFileNameUnits, name);

    const std::u16string link = CheckedUtf16(o.link, "--link");
    CheckUnits(link, 0, kMaxLink, "--link");
    if (!link.empty() && !text::IsWebAddress(link))
        throw EUsageError("--link " + Quoted(o.link) +
                          " is not a web address: it must start with http:, https: or mailto: and hold no blanks, "
                          "control characters or quotes (the setup would not show it)");
    h.SetChars(hdr::LinkAddress, hdr::LinkAddressUnits, link);

    const std::string baseDir = o.baseDir.value_or("<Program Files>");
    const std::string subDir = o.subDir.value_or(o.title);
    CheckDirText(baseDir, "--base-dir");
    CheckDirText(subDir, o.subDir ? "--sub-dir" : "--sub-dir (taken from --title)");
    h.SetDirText(hdr::DefaultBaseDir, baseDir);
    h.SetDirText(hdr::DefaultSubDir, subDir);

    const int licenseMode = o.licenseMode.value_or(o.license ? 1 : 0);
    if (licenseMode < 0 || licenseMode > 255)
        throw EUsageError("--license-mode is " + std::to_string(licenseMode) + "; it must be 0 to 255");
    h.Raw[hdr::LicenseMode] = static_cast<std::uint8_t>(licenseMode);

    h.Raw[hdr::UninstallEntryFlag] = o.uninstallEntry ? 1 : 0;
    h.Raw[hdr::MenuShortcutsFlag] = o.menuShortcuts ? 1 : 0;
    h.Raw[hdr::DesktopShortcutFlag] = o.desktopShortcut ? 1 : 0;
    h.Raw[hdr::SkipDirectoryPage] = o.skipDirectoryPage ? 1 : 0;
    h.Raw[hdr::PowerRequestOverride] = o.powerRequestOverride ? 1 : 0;
    // The installer carries the marker already, so its uninstaller is accepted as is.
    h.SetChars(hdr::UninstallMarker, hdr::UninstallMarkerUnits, text::Widen(kUninstallMarkerText));
    return h;
}

BuildResult BuildInstaller(const BuildOptions& o) {
    TSetupHeader h = HeaderFromOptions(o);

    std::optional<InputFile> stub, scr;
    try {
        stub.emplace(o.stub);
    } catch (const EFileError& e) {
        throw FileProblem("--stub", e);
    }
    const std::uint16_t machine = CheckStub(*stub, o.stub);
    try {
        scr.emplace(o.scr);
    } catch (const EFileError& e) {
        throw FileProblem("--scr", e);
    }
    if (scr->Size() == 0) throw EBuildError("--scr: " + o.scr + " is empty");

    const std::u16string readme = o.readme ? ReadTextFile(*o.readme, "--readme") : u"";
    const std::u16string license = o.license ? ReadTextFile(*o.license, "--license") : u"";
    const std::u16string lang = o.lang ? ReadTextFile(*o.lang, "--lang") : u"";

    const std::int64_t textsSize = 2 * static_cast<std::int64_t>(readme.size() + license.size() + lang.size());
    if (textsSize > kMaxField)
        throw EBuildError("the readme, licence and language texts take " + std::to_string(textsSize) +
                          " bytes as UTF-16; TextsSize is limited to " + std::to_string(kMaxField));
    const std::int64_t packageSize = scr->Size() + textsSize + static_cast<std::int64_t>(kHeaderAndTrailer);
    if (packageSize > kMaxField)
        throw EBuildError("--scr: the screensaver and the texts make a package of " + std::to_string(packageSize) +
                          " bytes; PackageSize is limited to " + std::to_string(kMaxField));

    h.SetInt(hdr::PackageSize, static_cast<std::int32_t>(packageSize));
    h.SetInt(hdr::TextsSize, static_cast<std::int32_t>(textsSize));
    h.SetInt(hdr::ReadmeSize, static_cast<std::int32_t>(2 * readme.size()));
    h.SetInt(hdr::LicenseSize, static_cast<std::int32_t>(2 * license.size()));
    h.SetInt(hdr::LanguageLength, static_cast<std::int32_t>(lang.size()));

    std::optional<AtomicOutput> out;
    try {
        out.emplace(o.output);
    } catch (const EFileError& e) {
        throw FileProblem("--output", e);
    }
    std::string tail;
    tail.reserve(static_cast<std::size_t>(textsSize) + kHeaderAndTrailer);
    text::AppendUtf16Le(tail, readme);
    text::AppendUtf16Le(tail, license);
    text::AppendUtf16Le(tail, lang);
    tail.append(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size());
    const auto trailer = SignatureBytes(TrailerKind::Installer);
    tail.append(reinterpret_cast<const char*>(trailer.data()), trailer.size());

    // The checksum goes before the screensaver, so the screensaver is read twice: a file
    // changed in between would make an installer that refuses to install.
    Crc32Sink scrCrc;
    if (!CopyRange(*scr, 0, scr->Size(), scrCrc))
        throw EBuildError("--scr: cannot read " + o.scr + " (was it changed while being read?)");
    const TPackageChecksum checksum{static_cast<std::uint32_t>(packageSize), Crc32(scrCrc.crc, tail.data(), tail.size())};
    const auto record = ChecksumRecordBytes(checksum);

    const std::int64_t stubSize = stub->Size();
    Copy(*stub, stubSize, *out, "--stub", o.stub);
    if (out->Write(record.data(), record.size()) != record.size())
        throw EBuildError("cannot write the output: " + out->WriteError());
    Crc32Sink copied(&*out);
    Copy(*scr, scr->Size(), *out, "--scr", o.scr, &copied);
    if (copied.crc != scrCrc.crc) throw EBuildError("--scr: " + o.scr + " changed while it was being read");
    if (out->Write(tail.data(), tail.size()) != tail.size())
        throw EBuildError("cannot write the output: " + out->WriteError());

    // Windows will not rename over a file that is still open, and the output may be an input.
    stub->Close();
    scr->Close();
    try {
        out->Commit();
    } catch (const EFileError& e) {
        throw FileProblem("--output", e);
    }
    return {stubSize + static_cast<std::int64_t>(kChecksumRecordSize) + packageSize, machine};
}

}  // namespace scrpack
