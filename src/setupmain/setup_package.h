// The package behind the running program, read once at the start and handed to every part
// of the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "../package/package.h"
#include "../package/setup_header.h"
#include "../platform/files.h"

struct TSetupPackage {
    // The running program's own file, held from the start to the end of the run: while it is
    // held nobody can write it.
    platform::File Self;
    // As stored; an installer's with the short-name rule of this system applied.
    TSetupHeader SetupHeader;
    std::int64_t FileEnd = 0;
    // An installer's checksum of its package, when the packer wrote one.
    std::optional<TPackageChecksum> Checksum;
    TrailerKind Role = TrailerKind::None;
    // False when the package is damaged or the program file cannot be read.
    bool Sound = false;
    // The translations could be read; a damaged package is then reported in its language.
    bool LanguageRead = false;
    std::u16string LangText;
    // An installer's texts, line breaks as CR LF; the licence only when its page is in use.
    std::u16string Readme;
    std::u16string License;

    bool IsInstaller() const { return Sound && Role == TrailerKind::Installer; }
    bool IsUninstaller() const { return Sound && Role == TrailerKind::Uninstaller; }
};

// Opens the running program's file, checks that it is the very file that runs (not another
// renamed into its place, whatever its headers) and reads its package.
TSetupPackage LoadSetupPackage();

// A sound uninstaller image of this setup in the file at Path, on a disk (not a device that
// blocks or answers).
bool IsUninstallerFile(const std::u16string& Path);
