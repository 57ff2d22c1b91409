// Reading a string value through a query that answers as RegQueryValueEx does; the Windows
// registry and the stand-in's share it, so the native tests run the same sizing and retries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "registry.h"

namespace platform::regread {

enum class Answer { Done, MoreData, Failed };

// A value that keeps growing between the size query and the read is taken as absent after
// this many reads: another program may rewrite it, but no setting grows for ever.
inline constexpr int kReadAttempts = 4;

// query(buffer, bytes, text): buffer null asks for the size alone; bytes is the buffer's size
// in, the value's size out (on MoreData too); text whether the value is a string.
template <typename Query>
RegValue ReadText(Query&& query, std::u16string& value) {
    value.clear();
    std::uint32_t bytes = 0;
    bool text = false;
    if (query(nullptr, bytes, text) != Answer::Done) return RegValue::Absent;
    if (!text) return RegValue::OtherType;
    std::u16string buffer;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // Whole units rounded up, or a value of odd length would never fit; one unit more
        // terminates what was stored without a NUL.
        buffer.assign(bytes / 2 + bytes % 2 + 1, u'\0');
        bytes = static_cast<std::uint32_t>((buffer.size() - 1) * sizeof(char16_t));
        const Answer answer = query(buffer.data(), bytes, text);
        if (answer == Answer::MoreData) continue;
        if (answer == Answer::Failed) return RegValue::Absent;
        if (!text) return RegValue::OtherType;
        // An odd last byte is half a character: dropped.
        buffer.resize(std::min<std::size_t>(bytes / 2, buffer.size() - 1));
        value = buffer.c_str();
        return RegValue::Text;
    }
    return RegValue::Absent;
}

}  // namespace platform::regread
