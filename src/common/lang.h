// The translation table: English texts in the program, translations from the package.
#pragma once

#include <string>
#include <string_view>

// Builds the table from Text, keeping the entries of the sections whose header line
// equals Section exactly; an empty Section keeps every entry.
void LoadLangSection(std::u16string_view Text, std::u16string_view Section);

// The translation of English (ASCII, as every text the program is written with), or English
// itself.
std::u16string LangStr(std::string_view English);

// Releases the table; lookups then return their English text.
void FreeLangStrings();
