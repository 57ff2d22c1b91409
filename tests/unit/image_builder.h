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

// Writes the image as the running program's own file, as the setup then reads it.
inline std::u16string InstallAsProgram(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto path = text::Utf8ToUtf16(file.string());
    standin::SetModulePath(path);
    return path;
}
