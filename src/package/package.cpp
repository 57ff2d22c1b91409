#include "package.h"

#include <algorithm>
#include <memory>

#include "../common/text.h"

namespace {

constexpr std::size_t kScanBlock = 1 << 16;
constexpr std::size_t kCopyChunk = 1 << 16;
// The PE headers of the stub lie within its first page.
constexpr std::int64_t kStubHeadBytes = 4096;

// How far the next window may move down when the current one fails: the window's first
// byte must then fall on an equal byte of a signature, so windows in between cannot match.
struct ScanSkip {
    std::uint8_t by[256];
};

const ScanSkip& TheScanSkip() {
    static const ScanSkip table = [] {
        ScanSkip t{};
        for (auto& v : t.by) v = static_cast<std::uint8_t>(kTrailerSize);
        for (const TrailerKind kind : {TrailerKind::Installer, TrailerKind::Uninstaller}) {
            const auto sig = SignatureBytes(kind);
            for (std::size_t i = kTrailerSize - 1; i >= 1; --i)
                if (i < t.by[sig[i]]) t.by[sig[i]] = static_cast<std::uint8_t>(i);
        }
        return t;
    }();
    return table;
}

}  // namespace

bool ReadExact(ByteSource& source, std::int64_t offset, void* buffer, std::size_t count) {
    return offset >= 0 && source.ReadAt(offset, buffer, count) == count;
}

std::optional<std::int64_t> LocateTrailer(ByteSource& source) {
    const std::int64_t size = source.Size();
    if (size < static_cast<std::int64_t>(kTrailerSize)) return std::nullopt;
    std::uint8_t last[kTrailerSize];
    if (!ReadExact(source, size - static_cast<std::int64_t>(kTrailerSize), last, kTrailerSize)) return std::nullopt;
    if (ClassifyTrailer(last) != TrailerKind::None) return size;

    const ScanSkip& skip = TheScanSkip();
    // Scan backwards in large blocks; consecutive blocks overlap by 19 bytes so that
    // every 20-byte window is seen once. The highest window end wins.
    auto buffer = std::make_unique<std::uint8_t[]>(kScanBlock);
    std::int64_t blockEnd = size - 1;  // the largest window end still to test
    while (blockEnd >= static_cast<std::int64_t>(kTrailerSize)) {
        const std::int64_t blockStart =
            std::max<std::int64_t>(0, blockEnd - static_cast<std::int64_t>(kScanBlock));
        const auto len = static_cast<std::size_t>(blockEnd - blockStart);
        if (!ReadExact(source, blockStart, buffer.get(), len)) return std::nullopt;
        for (std::size_t end = len; end >= kTrailerSize;) {
            const std::uint8_t* w = buffer.get() + end - kTrailerSize;
            if ((w[0] == 'P' || w[0] == 'S') && w[1] == 0 && ClassifyTrailer(w) != TrailerKind::None)
                return blockStart + static_cast<std::int64_t>(end);
            end -= skip.by[w[0]];
        }
        blockEnd = blockStart + static_cast<std::int64_t>(kTrailerSize) - 1;
        if (blockStart == 0) break;
    }
    return std::nullopt;
}

namespace {

std::uint16_t Le16At(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32At(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Signing aligns the certificate table to eight bytes.
constexpr std::int64_t kMaxCertPadding = 7;

}  // namespace

std::optional<TPeLayout> ReadPeLayout(ByteSource& source) {
    std::uint8_t dos[0x40];
    if (source.ReadAt(0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const std::int64_t pe = Le32At(dos + 0x3C);
    // Signature, file header and the optional header up to the end of its data directories.
    std::uint8_t head[24 + 240];
    const std::size_t got = source.ReadAt(pe, head, sizeof head);
    if (got < 24 + 2 || Le32At(head) != 0x00004550u) return std::nullopt;
    const unsigned sections = Le16At(head + 6);
    const unsigned optionalSize = Le16At(head + 20);
    const std::uint8_t* optional = head + 24;
    const unsigned magic = Le16At(optional);
    std::size_t directories;
    if (magic == 0x10B) directories = 96;
    else if (magic == 0x20B) directories = 112;
    else return std::nullopt;
    if (optionalSize < directories || 24 + directories > got) return std::nullopt;

    TPeLayout layout;
    layout.machine = Le16At(head + 4);
    layout.pe32Plus = magic == 0x20B;
    const std::uint32_t rvaCount = Le32At(optional + directories - 4);
    const std::size_t security = directories + 4 * 8;  // the certificate table's entry
    if (rvaCount > 4 && optionalSize >= security + 8 && 24 + security + 8 <= got) {
        layout.certOffset = Le32At(optional + security);
        layout.certSize = Le32At(optional + security + 4);
        layout.checksumAt = pe + 24 + 64;
        layout.securityAt = pe + 24 + static_cast<std::int64_t>(security);
    }
    layout.overlayStart = Le32At(optional + 60);  // SizeOfHeaders
    const std::int64_t table = pe + 24 + optionalSize;
    for (unsigned i = 0; i < sections; ++i) {
        std::uint8_t section[40];
        if (source.ReadAt(table + 40 * static_cast<std::int64_t>(i), section, sizeof section) != sizeof section)
            return std::nullopt;
        const std::int64_t rawSize = Le32At(section + 16);
        const std::int64_t rawStart = Le32At(section + 20);
        if (rawSize > 0 && rawStart + rawSize > layout.overlayStart) layout.overlayStart = rawStart + rawSize;
    }
    return layout;
}

TPackage LoadPackage(ByteSource& source) {
    TPackage pkg;
    // Each failure returns pkg itself, never a copy of it.
    auto fail = [&](const char* problem) { pkg.readProblems.push_back(problem); };
    const std::int64_t size = source.Size();
    pkg.pe = ReadPeLayout(source);
    if (pkg.pe && pkg.pe->Signed()) {
        const std::int64_t cert = pkg.pe->certOffset;
        if (cert > size || pkg.pe->certSize > size - cert) {
            fail(PACKAGE_PROBLEM("the certificate table lies outside the file"));
            return pkg;
        }
        std::uint8_t window[kTrailerSize + kMaxCertPadding];
        const std::int64_t from = std::max<std::int64_t>(0, cert - static_cast<std::int64_t>(sizeof window));
        const auto length = static_cast<std::size_t>(cert - from);
        if (!ReadExact(source, from, window, length)) {
            fail(PACKAGE_PROBLEM("no installer or uninstaller signature found"));
            return pkg;
        }
        for (std::size_t end = length; end >= kTrailerSize && length - end <= kMaxCertPadding; --end) {
            if (ClassifyTrailer(window + end - kTrailerSize) != TrailerKind::None) {
                pkg.fileEnd = from + static_cast<std::int64_t>(end);
                break;
            }
        }
        if (pkg.fileEnd == 0) {
            fail(PACKAGE_PROBLEM("no package signature where the signed bytes end"));
            return pkg;
        }
    } else {
        const std::optional<std::int64_t> end = LocateTrailer(source);
        if (!end) {
            fail(PACKAGE_PROBLEM("no installer or uninstaller signature found"));
            return pkg;
        }
        pkg.fileEnd = *end;
    }

    const std::int64_t end = pkg.fileEnd;
    std::uint8_t trailer[kTrailerSize];
    if (source.ReadAt(end - static_cast<std::int64_t>(kTrailerSize), trailer, kTrailerSize) != kTrailerSize) {
        fail(PACKAGE_PROBLEM("the trailer cannot be read"));
        return pkg;
    }
    pkg.role = ClassifyTrailer(trailer);
    if (end < static_cast<std::int64_t>(kHeaderAndTrailer)) {
        fail(PACKAGE_PROBLEM("the header lies before the start of the file"));
        return pkg;
    }
    TSetupHeader header;
    if (source.ReadAt(end - static_cast<std::int64_t>(kHeaderAndTrailer), header.Raw.data(), kHeaderSize) != kHeaderSize) {
        fail(PACKAGE_PROBLEM("the header cannot be read"));
        return pkg;
    }
    pkg.header = header;
    pkg.readProblems = CommonHeaderProblems(header, end);
    pkg.roleProblems = RoleProblems(header, end, pkg.role);
    if (pkg.role == TrailerKind::Installer && pkg.roleProblems.empty()) {
        pkg.checksum = ReadChecksumRecord(source, header, end);
        if (pkg.checksum && pkg.checksum->covered != static_cast<std::uint32_t>(header.PackageSize()))
            pkg.roleProblems.push_back(PACKAGE_PROBLEM("the checksum record does not cover the package"));
    }
    if (pkg.pe) {
        // The package starts where the program ends: nothing it names lies inside the stub,
        // and nothing lies between the two but the checksum record.
        std::int64_t start = pkg.role == TrailerKind::Installer ? PayloadStart(header, end) : TextsStart(header, end);
        if (pkg.checksum) start -= static_cast<std::int64_t>(kChecksumRecordSize);
        if (pkg.role == TrailerKind::Installer && start != pkg.pe->overlayStart)
            pkg.roleProblems.push_back(PACKAGE_PROBLEM("the screensaver does not start where the program ends"));
        if (pkg.role == TrailerKind::Uninstaller && start != pkg.pe->overlayStart)
            pkg.roleProblems.push_back(PACKAGE_PROBLEM("the texts do not start where the program ends"));
    }
    return pkg;
}

namespace {
constexpr std::uint8_t kChecksumMagic[8] = {'S', 'c', 'r', 'C', 'R', 'C', '3', '2'};
}  // namespace

std::array<std::uint8_t, kChecksumRecordSize> ChecksumRecordBytes(const TPackageChecksum& checksum) {
    std::array<std::uint8_t, kChecksumRecordSize> record{};
    std::copy(std::begin(kChecksumMagic), std::end(kChecksumMagic), record.begin());
    for (int i = 0; i < 4; ++i) {
        record[8 + i] = static_cast<std::uint8_t>(checksum.covered >> (8 * i));
        record[12 + i] = static_cast<std::uint8_t>(checksum.crc >> (8 * i));
    }
    return record;
}

std::optional<TPackageChecksum> ReadChecksumRecord(ByteSource& source, const TSetupHeader& header, std::int64_t fileEnd) {
    std::uint8_t record[kChecksumRecordSize];
    if (!ReadExact(source, PayloadStart(header, fileEnd) - static_cast<std::int64_t>(kChecksumRecordSize), record,
                   sizeof record) ||
        !std::equal(std::begin(kChecksumMagic), std::end(kChecksumMagic), record))
        return std::nullopt;
    return TPackageChecksum{Le32At(record + 8), Le32At(record + 12)};
}

std::int64_t TextsStart(const TSetupHeader& header, std::int64_t fileEnd) {
    return fileEnd - static_cast<std::int64_t>(kHeaderAndTrailer) - header.TextsSize();
}

std::int64_t PayloadStart(const TSetupHeader& header, std::int64_t fileEnd) {
    return fileEnd - header.PackageSize();
}

std::int64_t PayloadLength(const TSetupHeader& header) {
    return static_cast<std::int64_t>(header.PackageSize()) - header.TextsSize() -
           static_cast<std::int64_t>(kHeaderAndTrailer);
}

std::vector<const char*> CommonHeaderProblems(const TSetupHeader& h, std::int64_t fileEnd) {
    std::vector<const char*> problems;
    auto add = [&](const char* s) { problems.push_back(s); };
    if (fileEnd < static_cast<std::int64_t>(kHeaderAndTrailer)) add(PACKAGE_PROBLEM("the header lies before the start of the file"));
    if (h.TextsSize() < 0) add(PACKAGE_PROBLEM("TextsSize is negative"));
    if (h.ReadmeSize() < 0) add(PACKAGE_PROBLEM("ReadmeSize is negative"));
    if (h.LicenseSize() < 0) add(PACKAGE_PROBLEM("LicenseSize is negative"));
    if (h.LanguageLength() < 0) add(PACKAGE_PROBLEM("LanguageLength is negative"));
    if (h.ReadmeSize() % 2 != 0) add(PACKAGE_PROBLEM("ReadmeSize is odd"));
    if (h.LicenseSize() % 2 != 0) add(PACKAGE_PROBLEM("LicenseSize is odd"));
    const std::int64_t sum = static_cast<std::int64_t>(h.ReadmeSize()) + h.LicenseSize() + 2 * static_cast<std::int64_t>(h.LanguageLength());
    if (sum != h.TextsSize()) add(PACKAGE_PROBLEM("TextsSize differs from ReadmeSize + LicenseSize + 2 x LanguageLength"));
    if (h.TextsSize() >= 0 && TextsStart(h, fileEnd) < 0) add(PACKAGE_PROBLEM("the texts block lies before the start of the file"));
    if (h.DefaultBaseDirLength() > hdr::DirMaxBytes) add(PACKAGE_PROBLEM("DefaultBaseDir length is above 250"));
    if (h.DefaultSubDirLength() > hdr::DirMaxBytes) add(PACKAGE_PROBLEM("DefaultSubDir length is above 250"));
    if (h.Title().empty()) add(PACKAGE_PROBLEM("Title is empty"));
    return problems;
}

std::vector<const char*> RoleProblems(const TSetupHeader& h, std::int64_t fileEnd, TrailerKind role) {
    std::vector<const char*> problems;
    if (role == TrailerKind::Installer) {
        if (h.PackageSize() < 0) problems.push_back(PACKAGE_PROBLEM("PackageSize is negative"));
        else if (PayloadStart(h, fileEnd) < 0) problems.push_back(PACKAGE_PROBLEM("the screensaver lies before the start of the file"));
        if (PayloadLength(h) < 0) problems.push_back(PACKAGE_PROBLEM("PackageSize is smaller than TextsSize + 1356"));
    } else if (role == TrailerKind::Uninstaller) {
        if (h.UninstallMarker() != text::Widen(kUninstallMarkerText)) problems.push_back(PACKAGE_PROBLEM("UninstallMarker is not SCRSet.sig"));
    } else {
        problems.push_back(PACKAGE_PROBLEM("the trailer names no role"));
    }
    return problems;
}

int WindowsVersionClass(const OsVersionInfo& v) {
    if (!v.ok) return -1;
    if (v.platformId == 1) {
        if (v.major == 4 && v.minor == 0) return 0;
        if (v.major == 4 && v.minor == 10) return v.servicePack.size() >= 2 && v.servicePack[1] == u'A' ? 2 : 1;
        if (v.major == 4 && v.minor == 90) return 3;
        return -1;
    }
    if (v.platformId == 2) {
        if (v.major <= 4) return 4;
        if (v.major == 5 && v.minor == 0) return 5;
        if (v.major == 5 && v.minor == 1) return 6;
        if (v.major == 6) return 7;
        return -1;
    }
    return -1;
}

std::u16string ShortScrName(std::u16string_view name) {
    std::u16string n(name);
    const auto dot = n.find(u'.');
    if (dot != std::u16string::npos && dot >= 8) n = n.substr(0, 8) + u".scr";
    if (n.size() > 4) {
        for (std::size_t i = 0; i < n.size() - 4; ++i) {
            const char16_t c = n[i];
            const bool ok = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
            if (!ok) n[i] = u'_';
        }
    }
    return n;
}

void ApplyShortNameRule(TSetupHeader& header, int versionClass) {
    if (versionClass < 5) return;
    const std::u16string full = header.ScrFileName();
    const std::u16string_view dir = text::DirPart(full);
    const std::u16string shortened = std::u16string(dir) + ShortScrName(text::FileNamePart(full));
    header.SetChars(hdr::ScrFileName, hdr::ScrFileNameUnits, shortened);
}

bool CopyRange(ByteSource& source, std::int64_t offset, std::int64_t count, ByteSink& target) {
    if (count <= 0) return count == 0;
    auto buffer = std::make_unique<std::uint8_t[]>(kCopyChunk);
    while (count > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count, kCopyChunk));
        if (source.ReadAt(offset, buffer.get(), chunk) != chunk) return false;
        if (target.Write(buffer.get(), chunk) != chunk) return false;
        offset += static_cast<std::int64_t>(chunk);
        count -= static_cast<std::int64_t>(chunk);
    }
    return true;
}

void UnsignStubHeaders(std::uint8_t* bytes, std::size_t count) {
    MemorySource headers(std::string_view(reinterpret_cast<const char*>(bytes), count));
    const std::optional<TPeLayout> layout = ReadPeLayout(headers);
    if (!layout || !layout->Signed()) return;
    std::fill_n(bytes + layout->securityAt, 8, std::uint8_t{0});
    std::fill_n(bytes + layout->checksumAt, 4, std::uint8_t{0});
}

bool WriteUninstallerImage(ByteSource& source, ByteSink& target, std::int64_t fileEnd, const TSetupHeader& header) {
    // The headers go through a buffer of their own: a signed installer's stub names a
    // certificate table that the uninstaller does not carry.
    std::int64_t stub = PayloadStart(header, fileEnd);
    if (ReadChecksumRecord(source, header, fileEnd)) stub -= static_cast<std::int64_t>(kChecksumRecordSize);
    const auto head = static_cast<std::size_t>(std::clamp<std::int64_t>(stub, 0, kStubHeadBytes));
    std::uint8_t headers[kStubHeadBytes];
    if (source.ReadAt(0, headers, head) != head) return false;
    UnsignStubHeaders(headers, head);
    if (target.Write(headers, head) != head ||
        !CopyRange(source, static_cast<std::int64_t>(head), stub - static_cast<std::int64_t>(head), target))
        return false;
    if (header.TextsSize() != 0 && !CopyRange(source, TextsStart(header, fileEnd), header.TextsSize(), target))
        return false;
    if (target.Write(header.Raw.data(), header.Raw.size()) != header.Raw.size()) return false;
    const auto trailer = SignatureBytes(TrailerKind::Uninstaller);
    return target.Write(trailer.data(), trailer.size()) == trailer.size();
}
