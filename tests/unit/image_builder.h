// Builds package images in memory for the tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "common/text.h"
#include "platform/standin/standin.h"
#include "setupmain/setup_header.h"

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

// The headers of a PE32 program whose one section's raw data ends at size: what lies
// behind that is the overlay, where a package begins.
inline std::string PeStub(std::size_t size) {
    std::string pe(size, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) pe[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    pe[0] = 'M';
    pe[1] = 'Z';
    put32(0x3C, 0x80);
    pe.replace(0x80, 4, std::string("PE\0\0", 4));
    pe[0x80 + 6] = 1;      // one section
    pe[0x80 + 20] = '\xE0';  // optional header of 224 bytes
    const std::size_t opt = 0x80 + 24;
    pe[opt] = '\x0B';
    pe[opt + 1] = '\x01';
    put32(opt + 60, 0x200);  // SizeOfHeaders
    put32(opt + 92, 16);     // data directories
    const std::size_t section = opt + 224;
    put32(section + 16, static_cast<std::uint32_t>(size - 0x200));  // SizeOfRawData
    put32(section + 20, 0x200);                                       // PointerToRawData
    return pe;
}

// What signing does: pads to eight bytes, appends the certificate table and points the
// stub's certificate entry at it.
inline std::string Signed(std::string image, const std::string& table, std::size_t padding = std::string::npos) {
    if (padding == std::string::npos) padding = (8 - image.size() % 8) % 8;
    image.append(padding, '\0');
    const auto offset = static_cast<std::uint32_t>(image.size());
    image += table;
    const std::size_t entry = 0x80 + 24 + 96 + 4 * 8;
    for (int i = 0; i < 4; ++i) {
        image[entry + static_cast<std::size_t>(i)] = static_cast<char>(offset >> (8 * i));
        image[entry + 4 + static_cast<std::size_t>(i)] = static_cast<char>(table.size() >> (8 * i));
    }
    return image;
}

// Writes the image as the running program's own file, as the setup then reads it.
inline std::u16string InstallAsProgram(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto path = text::Utf8ToUtf16(file.string());
    standin::SetModulePath(path);
    return path;
}
