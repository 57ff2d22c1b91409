// How a run ended, as every part of the program reports it; the entry turns it into the
// process exit code.
#pragma once

enum class Outcome {
    Done,
    Damaged,           // the package is damaged or unreadable
    DirectoryRefused,  // the destination folder was refused
    InstallFailed,     // the installation failed; nothing of it is left
    Cancelled,         // cancelled or declined by the user
    FileStayed,        // a file of the installation stayed: the uninstallation is not complete
    RestartNeeded,     // done, but files in use are replaced or removed at the next start
};
