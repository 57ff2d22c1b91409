#include "handoff.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../package/names.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "run_log.h"
#include "sysroutines.h"

namespace {

constexpr char kMsgRemoved[] = "%s has been successfully removed from your computer.";
constexpr char kMsgRemovedAtRestart[] =
    "%s has been removed from your computer. Restart Windows to complete the removal.";
// Numbers of the temporary copy lie in 0 .. 9999998.
constexpr std::uint32_t kCopyNumbers = 9999999;
// A name whose file is in use (a copy still running) is not the end: try others.
constexpr int kCopyAttempts = 8;
// The uninstaller that started us is still ending; a file that never becomes deletable
// (no rights) must not keep this process alive for ever.
constexpr unsigned kDeletePauseMs = 100;
constexpr int kDeleteTries = 600;

// Small and good enough for names: a linear congruential generator.
class NameNumbers {
public:
    explicit NameNumbers(std::uint64_t seed) : state_(static_cast<std::uint32_t>(seed ^ (seed >> 32))) {}
    std::uint32_t Next() {
        state_ = state_ * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(state_) * kCopyNumbers) >> 32);
    }

private:
    std::uint32_t state_;
};

// The temporary copy an uninstall run made of itself: in the temporary folder, under its name.
bool IsTemporaryCopy(const std::u16string& self) {
    const std::u16string temp = text::AsciiLower(GetTempDir());
    const std::u16string path = text::AsciiLower(self);
    const std::u16string prefix = text::AsciiLower(kTemporaryCopyPrefix);
    return !temp.empty() && text::DirPart(path) == temp && text::FileNamePart(path).substr(0, prefix.size()) == prefix;
}

}  // namespace

std::u16string TemporaryCopyName(std::uint32_t N) {
    return kTemporaryCopyPrefix + text::DecimalText(N) + u".exe";
}

std::u16string DelFileParameters(const std::u16string& UninstallerPath, ClosingBox Box, const std::u16string& LogPath) {
    std::u16string parameters = u"-delfile \"" + UninstallerPath + u"\"";
    if (Box != ClosingBox::None) {
        parameters += u' ';
        parameters += Box == ClosingBox::Removed ? kClosingRemoved : kClosingRemovedAtRestart;
    }
    // Last and quoted whole: a path holds no quotation mark.
    if (!LogPath.empty()) parameters += u" \"/LOG=" + LogPath + u"\"";
    return parameters;
}

void HandOffToTemporaryCopy(TSetupPackage& Package, const std::u16string& Self, ClosingBox Box) {
    const std::u16string temp = GetTempDir();
    // Never the current folder: without a temporary folder the uninstaller file stays.
    if (temp.empty()) return;
    NameNumbers numbers(platform::PerformanceCounter());
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const std::u16string copy = temp + TemporaryCopyName(numbers.Next());
        // From the file held since the start: the very program that runs. Always a new file:
        // in a temporary folder others can write to, a file already there may be anybody's.
        const platform::File held = CreateHeldCopy(Package.Self, copy);
        if (!LogStep(held.IsOpen(), "Create file", copy)) continue;
        // Started while held, so that nobody can change or replace it before it runs; in the
        // system folder, so that it keeps no folder of the uninstaller's in use.
        const std::u16string parameters = DelFileParameters(platform::ShortPath(Self), Box, RunLogPath());
        LogStep(platform::ShellOpen(true, u"open", copy, parameters, GetSystemDir(), platform::SW_HIDE_), "Run",
                copy + u" " + parameters);
        return;
    }
}

Outcome RunDelFile(const TCommandLine& CommandLine, const TSetupPackage& Package) {
    const std::u16string self = platform::FullPath(platform::ModulePath());
    // Only the copy of an uninstaller goes at the next start, and only once.
    if (IsTemporaryCopy(self) && !platform::DeletionAtRebootPending(self))
        LogStep(platform::DeleteAtReboot(self), "Remove at restart:", self);

    // Nothing but an uninstaller is deleted here, whatever the command line names. One that is
    // gone already (a second copy, or the user was quicker) leaves nothing to do.
    const std::u16string target = CommandLine.DelFileTarget();
    const bool gone = !platform::FileExists(target) && !platform::DirectoryExists(target) &&
                      CheckWindowsName(text::FileNamePart(target)).Plain();
    if (!gone) {
        if (!IsUninstallerFile(target)) return Outcome::FileStayed;
        platform::RemoveFile(target);
        for (int tries = 0; platform::FileExists(target) && tries < kDeleteTries; ++tries) {
            platform::SleepMs(kDeletePauseMs);
            platform::RemoveFile(target);
        }
    }
    // A look-up that finds the file leaves the code of the last failure as it is, one that does
    // not find it leaves its own: the log says why the file stayed, or that it was gone already.
    const bool stayed = !gone && platform::FileExists(target);
    LogRemoval(!gone && !stayed, "Remove file", target);
    if (stayed) return Outcome::FileStayed;
    if (const std::u16string word = CommandLine.DelFileClosingWord(); !word.empty()) {
        LoadLangSection(Package.LangText, u"Setup");
        const char* message = word == kClosingRemoved ? kMsgRemoved : kMsgRemovedAtRestart;
        platform::ShowMessage(text::ReplaceAll(LangStr(message), u"%s", Package.SetupHeader.Title()), kApplicationTitle,
                              platform::MB_ICONINFORMATION_);
    } else if (CommandLine.DelFileBox()) {
        platform::ShowMessage(CommandLine.DelFileText(), CommandLine.DelFileCaption(), platform::MB_ICONINFORMATION_);
    }
    return Outcome::Done;
}
