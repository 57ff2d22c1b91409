// Removing an installation: what the uninstaller undoes, and the hand-off to the temporary
// copy that deletes the uninstaller once it has ended.
#pragma once

#include <cstdint>
#include <string>

// Each swallows its own failures; a part that is already gone is no error.
void RemoveUninstallEntry(const std::u16string& Title);
void RemoveMenuShortcuts(const std::u16string& Title);
void RemoveDesktopShortcut(const std::u16string& Title);

// The name of every temporary copy begins so.
inline constexpr char16_t kTemporaryCopyPrefix[] = u"Parvolinexuninst";

// Name of the temporary copy for number N: "Parvolinexuninst<N>.exe".
std::u16string TemporaryCopyName(std::uint32_t N);

// The parameters the temporary copy is started with. Each travels quoted, so that a path
// with blanks and a title with quotation marks cannot change how they split.
std::u16string DelFileParameters(const std::u16string& UninstallerPath, const std::u16string& Title, bool Silent);
