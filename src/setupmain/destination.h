// The destination directory: its default and the checks at Install.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sysroutines.h"

// Message keys (passed to LangStr) of a refused directory.
inline constexpr char kMsgCannotCreateDirectory[] =
    "Unable to create the directory. Please select a different directory.";
inline constexpr char kMsgInvalidDirectory[] = "Invalid directory. Please select an existing directory.";
inline constexpr char kMsgAccessDenied[] =
    "Unable to copy the files. Access is denied. Please select a different directory.";

// The default destination from the header's base and sub folder, ending in a backslash,
// with "<Windows>" and "<Program Files>" replaced (exact case, every occurrence).
std::u16string ComposeDefaultDir(std::u16string_view Base, std::u16string_view Sub);

struct TDirectoryCheck {
    bool Accepted = false;
    std::u16string Text;            // accepted: the directory text, now ending in a backslash
    std::string_view MessageKey; // refused: one of the message keys above
    std::vector<std::u16string> Created;  // folders made by the check, outermost first
};

// The directory checks of the Install button: creation, existence, trailing backslash.
// In preview-only mode nothing is created or tested. Folders created stay after a refusal.
// An elevated run refuses, as access denied and before it creates anything, a folder that
// other users could change or swap away (see CheckDestinationDirectory).
TDirectoryCheck CheckDestinationDirectory(const std::u16string& Text, bool PreviewOnly);
