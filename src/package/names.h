// The rules for names that become names of files, folders, links and registry keys: the
// packer refuses a package that breaks them, the setup treats one as damaged.
#pragma once

#include <string>
#include <string_view>

enum class NameProblem { None, Empty, ControlCharacter, ForbiddenCharacter, DotsAndSpaces, ReservedDevice };

struct TNameCheck {
    NameProblem Problem = NameProblem::None;
    char16_t Character = 0;  // the offending character, for the two character problems
    bool Plain() const { return Problem == NameProblem::None; }
};

// A plain Windows name: not empty, no control character, none of \ / : * ? " < > |, not made
// of dots and spaces only (".." would climb out of its folder), not a device such as CON or
// COM1 (with any extension).
TNameCheck CheckWindowsName(std::u16string_view name);

bool IsReservedDeviceName(std::u16string_view name);

// The name of the installation's key in the system's list of installed programs (winget's
// ProductCode): a name-based UUID (version 8) in registry form, {XXXXXXXX-XXXX-8XXX-XXXX-
// XXXXXXXXXXXX} in upper-case hex. A title would take any other program's entry of that name;
// this cannot. Titles that differ in the
// letter case of A to Z name one key, as they named one key when the title was the key.
std::u16string UninstallKeyName(std::u16string_view Title);
