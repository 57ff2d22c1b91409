// Builds package images in memory for the tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "common/crc32.h"
#include "common/text.h"
#include "platform/standin/standin.h"
#include "package/package.h"
#include "package/setup_header.h"

struct TestPackage {
    std::string stub = std::string("MZ-stub-bytes-") + std::string(50, 's');
    std::string scr = "SCREENSAVER-PAYLOAD";
    std::u16string readme;
    std::u16string license;
    std::u16string lang;
    std::u16string scrName = u"Aurora.scr";
    std::u16string title = u"Aurora";
    std::u16string link;
    std::string baseDir = "<Program Files>";
    std::string subDir = "Aurora";
    std::uint8_t licenseMode = 0;
    bool skipDirectoryPage = false;
    TrailerKind trailer = TrailerKind::Installer;
};

inline TSetupHeader MakeHeader(const TestPackage& s) {
    TSetupHeader h;
    const auto readme = static_cast<std::int32_t>(2 * s.readme.size());
    const auto license = static_cast<std::int32_t>(2 * s.license.size());
    const auto texts = readme + license + static_cast<std::int32_t>(2 * s.lang.size());
    h.SetInt(hdr::PackageSize, static_cast<std::int32_t>(s.scr.size()) + texts + 1356);
    h.SetChars(hdr::ScrFileName, hdr::ScrFileNameUnits, s.scrName);
    h.SetChars(hdr::Title, hdr::TitleUnits, s.title);
    h.SetChars(hdr::LinkAddress, hdr::LinkAddressUnits, s.link);
    h.SetInt(hdr::TextsSize, texts);
    h.SetInt(hdr::ReadmeSize, readme);
    h.SetInt(hdr::LicenseSize, license);
    h.SetInt(hdr::LanguageLength, static_cast<std::int32_t>(s.lang.size()));
    h.SetDirText(hdr::DefaultBaseDir, s.baseDir);
    h.SetDirText(hdr::DefaultSubDir, s.subDir);
    h.Raw[hdr::SkipDirectoryPage] = s.skipDirectoryPage ? 1 : 0;
    h.SetChars(hdr::UninstallMarker, hdr::UninstallMarkerUnits, text::Widen(kUninstallMarkerText));
    h.Raw[hdr::LicenseMode] = s.licenseMode;
    return h;
}

inline std::string TextsBlock(const TestPackage& s) {
    std::string out;
    text::AppendUtf16Le(out, s.readme);
    text::AppendUtf16Le(out, s.license);
    text::AppendUtf16Le(out, s.lang);
    return out;
}

inline std::string Trailer(TrailerKind kind) {
    const auto sig = SignatureBytes(kind);
    return std::string(reinterpret_cast<const char*>(sig.data()), sig.size());
}

inline std::string AssembleImage(const TestPackage& s, const TSetupHeader& h) {
    std::string img = s.stub;
    if (s.trailer == TrailerKind::Installer) img += s.scr;
    img += TextsBlock(s);
    img.append(reinterpret_cast<const char*>(h.Raw.data()), h.Raw.size());
    img += Trailer(s.trailer);
    return img;
}

inline std::string BuildImage(const TestPackage& s) { return AssembleImage(s, MakeHeader(s)); }

// The image with the packer's checksum record between the stub and the package.
inline std::string WithChecksum(const std::string& image, std::size_t stubSize) {
    const std::string package = image.substr(stubSize);
    const auto record = ChecksumRecordBytes(
        {static_cast<std::uint32_t>(package.size()), Crc32(0, package.data(), package.size())});
    return image.substr(0, stubSize) + std::string(record.begin(), record.end()) + package;
}

// The stub's two builds: PE32 for x86, PE32+ for x64.
enum class PeFormat { Pe32, Pe32Plus };

inline void PutLe(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

// The data directories follow the optional header's fixed fields, which PE32+ widens.
inline std::size_t DataDirectories(PeFormat format) { return 0x80 + 24 + (format == PeFormat::Pe32Plus ? 112 : 96); }

// The headers of a program whose one section's raw data ends at size: what lies behind
// that is the overlay, where a package begins. The fields a linker fills in carry values
// like a linker's, so that reading one format's offsets in the other gives wrong answers.
inline std::string PeStub(std::size_t size, PeFormat format = PeFormat::Pe32) {
    const bool plus = format == PeFormat::Pe32Plus;
    std::string pe(size, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    PutLe(pe, 0x3C, 0x80, 4);
    pe.replace(0x80, 4, std::string("PE\0\0", 4));
    PutLe(pe, 0x80 + 4, plus ? 0x8664 : 0x14C, 2);  // Machine
    PutLe(pe, 0x80 + 6, 1, 2);                      // one section
    const std::size_t optionalSize = plus ? 240 : 224;
    PutLe(pe, 0x80 + 20, optionalSize, 2);
    const std::size_t opt = 0x80 + 24;
    PutLe(pe, opt, plus ? 0x20B : 0x10B, 2);
    PutLe(pe, opt + 16, 0x1000, 4);  // AddressOfEntryPoint
    if (plus) {
        PutLe(pe, opt + 24, 0x140000000, 8);  // ImageBase
    } else {
        PutLe(pe, opt + 24, 0x2000, 4);  // BaseOfData
        PutLe(pe, opt + 28, 0x400000, 4);  // ImageBase
    }
    PutLe(pe, opt + 32, 0x1000, 4);  // SectionAlignment
    PutLe(pe, opt + 36, 0x200, 4);   // FileAlignment
    PutLe(pe, opt + 56, 0x3000, 4);  // SizeOfImage
    PutLe(pe, opt + 60, 0x200, 4);   // SizeOfHeaders
    PutLe(pe, opt + 68, 2, 2);       // Subsystem: GUI
    // Stack and heap sizes: in PE32+ they reach over where PE32 has its directories.
    const int width = plus ? 8 : 4;
    for (int i = 0; i < 4; ++i)
        PutLe(pe, opt + 72 + static_cast<std::size_t>(i * width), i % 2 == 0 ? 0x200000 : 0x1000, width);
    const std::size_t dirs = DataDirectories(format);
    PutLe(pe, dirs - 4, 16, 4);  // NumberOfRvaAndSizes
    PutLe(pe, dirs + 8 * 1, 0x2000, 4);   // import table
    PutLe(pe, dirs + 8 * 1 + 4, 0x3C, 4);
    PutLe(pe, dirs + 8 * 5, 0x2800, 4);   // base relocations, beside the certificate entry
    PutLe(pe, dirs + 8 * 5 + 4, 0x10, 4);
    const std::size_t section = opt + optionalSize;
    pe.replace(section, 5, ".text");
    PutLe(pe, section + 16, size - 0x200, 4);  // SizeOfRawData
    PutLe(pe, section + 20, 0x200, 4);         // PointerToRawData
    return pe;
}

// What signing does: pads to eight bytes, appends the certificate table, points the
// stub's certificate entry at it and sets a checksum.
inline std::string Signed(std::string image, const std::string& table, PeFormat format = PeFormat::Pe32,
                          std::size_t padding = std::string::npos) {
    if (padding == std::string::npos) padding = (8 - image.size() % 8) % 8;
    image.append(padding, '\0');
    const std::size_t offset = image.size();
    image += table;
    PutLe(image, DataDirectories(format) + 8 * 4, offset, 4);
    PutLe(image, DataDirectories(format) + 8 * 4 + 4, table.size(), 4);
    // Any value: nothing here checks it, and the uninstaller must not carry it.
    PutLe(image, 0x80 + 24 + 64, 0x0001B7E5, 4);
    return image;
}

// Writes the image as the running program's own file, as the setup then reads it.
inline std::u16string InstallAsProgram(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto path = text::Utf8ToUtf16(file.string());
    standin::SetModulePath(path);
    return path;
}
