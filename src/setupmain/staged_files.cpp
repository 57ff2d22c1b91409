#include "staged_files.h"

#include "../common/text.h"
#include "run_log.h"
#include "sysroutines.h"

namespace {

// Names beside a target: <target><suffix>, then <target><suffix>1 and on.
constexpr int kNameTries = 100;

std::u16string NameBeside(const std::u16string& target, const char16_t* suffix, int n) {
    return target + suffix + (n ? text::DecimalText(n) : std::u16string());
}

}  // namespace

platform::File TStagedFiles::Create(const std::u16string& Target, std::u16string& Path) {
    platform::File file;
    if (!platform::FileExists(Target)) {
        // A new file: written in place, so that it never takes a name that came meanwhile.
        Path = Target;
        file = platform::File::CreateNew(Target);
    } else if (count_ < kMaxFiles) {
        // Never a file already there: whoever put it there could change it meanwhile.
        for (int n = 0; n < kNameTries && !file.IsOpen(); ++n) {
            Path = NameBeside(Target, u".new", n);
            file = platform::File::CreateNew(Path);
            if (!file.IsOpen() && !platform::FileExists(Path)) break;
        }
        if (file.IsOpen()) replaced_[count_++] = Entry{Target, Path, {}, false};
    }
    if (LogStep(file.IsOpen(), "Create file", Path)) static_cast<void>(file.SetDeleteOnClose(true));
    return file;
}

bool TStagedFiles::Place(Entry& entry) {
    // The earlier file steps aside first, rather than being replaced, so that it can come back
    // when a later file cannot be placed. A running program's file can be renamed too.
    for (int n = 0; n < kNameTries && entry.aside.empty(); ++n) {
        const std::u16string aside = NameBeside(entry.target, u".old", n);
        if (platform::RenameFile(entry.target, aside, false)) entry.aside = aside;
        else if (!platform::FileExists(aside)) break;
    }
    if (entry.aside.empty()) {
        // Held without sharing even a rename: replaced at the next start, after the others.
        entry.delayed = true;
        return true;
    }
    if (LogStep(platform::RenameFile(entry.staging, entry.target, false), "Replace file", entry.target)) return true;
    platform::RenameFile(entry.aside, entry.target, false);
    entry.aside.clear();
    return false;
}

void TStagedFiles::TakeBack(Entry& entry) {
    if (entry.aside.empty()) return;
    if (platform::RenameFile(entry.target, entry.staging, false)) platform::RenameFile(entry.aside, entry.target, false);
    entry.aside.clear();
}

bool TStagedFiles::Commit() {
    Entry* const end = replaced_ + count_;
    bool placed = true;
    for (Entry* entry = replaced_; placed && entry != end; ++entry) placed = Place(*entry);
    // A replacement scheduled for the next start cannot be taken back: these come last.
    for (Entry* entry = replaced_; placed && entry != end; ++entry)
        if (entry->delayed)
            restart_ = placed =
                LogStep(platform::ReplaceAtReboot(entry->staging, entry->target), "Replace at restart:", entry->target);
    if (!placed) {
        for (Entry* entry = end; entry != replaced_;) TakeBack(*--entry);
        return false;
    }
    // An earlier file still in use goes at the next start; one that cannot even then stays
    // under its other name, which the log gives.
    for (Entry* entry = replaced_; entry != end; ++entry)
        if (!entry->aside.empty() && RemoveNowOrAtRestart(entry->aside) == Removal::AtRestart) restart_ = true;
    return true;
}
