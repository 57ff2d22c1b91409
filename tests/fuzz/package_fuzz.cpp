// Feeds arbitrary bytes to the package reader, the language parser and the version-resource reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/lang.h"
#include "common/text.h"
#include "package/package.h"
#include "package/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The language text alone, with and without a section filter.
    const auto langText = text::FromUtf16Le(data, size);
    LoadLangSection(langText, size % 2 ? u"" : u"Setup");
    (void)LangStr("Next");
    (void)LangStr("A\r\nB");
    FreeLangStrings();

    MemorySource source(bytes);
    // The bytes as a program, whole and as an image inside them (where an installer's
    // screensaver lies).
    if (const auto info = ReadVersionInfo(source, 0, source.Size())) (void)RegisteredVersion(*info);
    (void)ReadVersionInfo(source, static_cast<std::int64_t>(size % 64), static_cast<std::int64_t>(size / 2));

    // The loader the setup and the packer run, then what the setup does with a sound package.
    const TPackage package = LoadPackage(source);
    if (!package.Sound()) return 0;
    TSetupHeader header = *package.header;
    const std::int64_t end = package.fileEnd;
    ApplyShortNameRule(header, 7);
    (void)header.DefaultBaseDir();
    (void)header.DefaultSubDir();
    const std::int64_t texts = TextsStart(header, end);
    std::string raw(static_cast<std::size_t>(header.TextsSize()), '\0');
    if (!ReadExact(source, texts, raw.data(), raw.size())) return 0;
    if (package.role == TrailerKind::Installer) {
        StringSink sink;
        (void)WriteUninstallerImage(source, sink, end, header);
    }
    return 0;
}
