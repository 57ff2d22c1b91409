// The installation: the destination checks, the copy of the screensaver, the readme copy,
// the uninstaller and the traces in the system. A plain routine: the wizard and the silent
// run both call it, each with its own progress sink.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "destination.h"
#include "outcome.h"
#include "setup_package.h"

// Told about the copy as it runs: the wizard's progress bar is one.
class TProgressSink {
public:
    // Around the copy, whatever ends it.
    virtual void CopyStarted() {}
    virtual void CopyEnded() {}
    // After each chunk: how far the reading has come through the program file, in percent.
    virtual void CopyProgress(int /*Percent*/) {}

protected:
    ~TProgressSink() = default;
};

struct TInstallOptions {
    // Reads the whole payload and changes nothing on the system.
    bool PreviewOnly = false;
    // Hands the copied screensaver to the system ("install" verb), which opens its settings.
    bool OpenSettings = false;
};

// The steps, in their order; a result names the one that failed.
enum class InstallStep {
    None,
    Directory,         // the folder cannot be created or does not exist
    FileName,          // every numbered name is taken
    Target,            // the screensaver's file cannot be created
    CopyPayload,       // the screensaver cannot be read or written whole
    Checksum,          // the package differs from its checksum: the installer file is damaged
    ReadmeCopy,        // the readme cannot be saved
    Uninstaller,       // the uninstaller cannot be created or written whole
    Replace,           // an earlier installation's file cannot give way to the new one
};

struct TInstallResult {
    InstallStep FailedStep = InstallStep::None;
    // A refused folder: the message key (passed to LangStr) to show.
    std::string_view MessageKey;
    // The folder as accepted, ending in a backslash; empty when the folder itself was refused.
    std::u16string Directory;
    // Done, but a file in use is replaced or removed at the next start of the system.
    bool RestartNeeded = false;

    bool Succeeded() const { return FailedStep == InstallStep::None; }
    // The folder or a file in it was refused before anything was written: the user may
    // choose another folder.
    bool DirectoryRefused() const {
        return FailedStep == InstallStep::Directory || FailedStep == InstallStep::FileName ||
               FailedStep == InstallStep::Target;
    }
    Outcome ToOutcome() const {
        if (FailedStep == InstallStep::Checksum) return Outcome::Damaged;
        if (Succeeded()) return RestartNeeded ? Outcome::RestartNeeded : Outcome::Done;
        return DirectoryRefused() ? Outcome::DirectoryRefused : Outcome::InstallFailed;
    }
};

// Installs the package's screensaver into Directory (as typed: created when missing). On a
// failure after the first byte nothing of the installation is left: no files, no folders it
// made, nothing registered. Folders made before a refusal stay.
TInstallResult RunInstallation(TSetupPackage& Package, const std::u16string& Directory, const TInstallOptions& Options,
                               TProgressSink& Sink);

// Replaces FileName (a path in Dir) by one that takes no other file's place: the remembered
// file of Title's earlier installation into Dir, or a numbered name. False when every
// numbered name is taken.
[[nodiscard]] bool MakeUniqueFileName(std::u16string& FileName, const std::u16string& Dir, const std::u16string& Title);

// "uninstall Aurora1.exe" for Aurora1.scr: the translated word with A to Z lower-cased,
// a blank, the screensaver's name with ".exe" for its extension.
std::u16string UninstallerFileName(std::u16string_view ScrName);

// Where an earlier installation of the title registered itself, so that a new version
// replaces it in place; else the package's default folder.
std::u16string DefaultInstallDirectory(const TSetupHeader& Header);

// The silent run: into Directory, or the default folder above when it is empty; no
// window, no question, no screen-saver settings.
Outcome InstallSilently(TSetupPackage& Package, const std::u16string& Directory);
