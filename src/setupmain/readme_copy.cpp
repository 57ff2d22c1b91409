#include "readme_copy.h"

#include "../common/lang.h"
#include "../common/text.h"
#include "../platform/files.h"
#include "../platform/system.h"
#include "run_log.h"

std::u16string ReadmeCopyName(const std::u16string& Title) { return Title + u" " + LangStr("Readme") + u".txt"; }

std::string EncodeReadme(std::u16string_view text) {
    std::string out;
    if (platform::ToAnsiExact(text, out)) return out;
    return "\xEF\xBB\xBF" + text::Utf16ToUtf8(text);
}

bool WriteReadmeCopy(platform::File& File, const std::u16string& Path, std::u16string_view Text) {
    const std::string bytes = EncodeReadme(Text);
    return File.Write(bytes.data(), bytes.size()) == bytes.size() || LogStep(false, "Write file", Path);
}
