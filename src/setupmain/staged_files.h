// The files of an upgrade: each written beside the earlier installation's file under a name of
// its own, and put in its place only once every file is whole, so that an installation that
// fails before then leaves the earlier one exactly as it was.
#pragma once

#include <string>

#include "../platform/files.h"

class TStagedFiles {
public:
    TStagedFiles() = default;
    TStagedFiles(const TStagedFiles&) = delete;
    TStagedFiles& operator=(const TStagedFiles&) = delete;

    // Opens the file that will become Target, for writing, nobody else may open it, and going
    // with its handle until it is whole: Target itself when it does not exist, else a new file
    // beside it. Path receives the name it is written under. Not open when it cannot be made.
    platform::File Create(const std::u16string& Target, std::u16string& Path);

    // Puts every file written beside its target in the target's place. An earlier file in
    // use (a running screensaver) is renamed aside and removed, at the next start when it is
    // still in use then; one that cannot even be renamed is replaced at the next start. False
    // when a file cannot be placed: the files placed are taken back and the earlier ones stay.
    [[nodiscard]] bool Commit();

    // Something is left for the next start of the system.
    bool RestartNeeded() const { return restart_; }

private:
    struct Entry {
        std::u16string target, staging, aside;
        bool delayed = false;
    };
    bool Place(Entry& entry);
    void TakeBack(Entry& entry);

    // The screensaver, the readme copy and the uninstaller.
    static constexpr int kMaxFiles = 3;
    Entry replaced_[kMaxFiles];
    int count_ = 0;
    bool restart_ = false;
};
