#include "run_log.h"

#include "../common/text.h"
#include "../platform/system.h"

namespace {

// The log of the running program while it is open: one run, one log.
TRunLog* openLog = nullptr;

// The system's codes for a file or folder that is not there, or whose folder is not.
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
// Set in a code by Write for a removal of what is not there.
constexpr std::uint64_t kRemoval = 1ull << 32;

void AppendNumber(std::u16string& out, std::uint64_t value, unsigned width = 1, unsigned base = 10) {
    char16_t digits[20];
    unsigned n = 0;
    do {
        digits[n++] = static_cast<char16_t>("0123456789ABCDEF"[value % base]);
        value /= base;
    } while (value || n < width);
    while (n) out += digits[--n];
}

// "2024-05-06 07:08:09.010 [4711] <What> <Subject><how it ended>" and the line break, written
// at once: another process appending meanwhile cannot tear it.
void Write(const char* What, const std::u16string* Subject, const char16_t* Detail, std::uint64_t Code) {
    if (!openLog) return;
    const platform::DateTime time = platform::LocalTime();
    std::u16string line;
    for (std::size_t i = 0; i < time.size(); ++i) {
        AppendNumber(line, time[i], static_cast<unsigned>("\4\2\2\2\2\2\3"[i]));
        line += static_cast<char16_t>("-- ::. "[i]);
    }
    line += u'[';
    AppendNumber(line, platform::ProcessId());
    line += u"] ";
    line += text::Widen(What);
    if (Subject) {
        line += u' ';
        line += *Subject;
    }
    if (Detail) line += Detail;
    const auto code = static_cast<std::uint32_t>(Code);
    if (Code >> 32 && (code == kFileNotFound || code == kPathNotFound)) {
        line += u": not found";
    } else if (code) {
        // System error codes in decimal, as Windows' documentation lists them; COM results in hex.
        line += u": failed, error ";
        if (code >= 0x10000) line += u"0x";
        AppendNumber(line, code, code < 0x10000 ? 1 : 8, code < 0x10000 ? 10 : 16);
    }
    line += u"\r\n";
    const std::string bytes = text::Utf16ToUtf8(line);
    openLog->File.Write(bytes.data(), bytes.size());
}

}  // namespace

TRunLog::TRunLog(const std::u16string& LogPath, const std::u16string& CommandLine) {
    if (LogPath.empty()) return;
    Path = platform::FullPath(LogPath);
    File = platform::File::OpenForAppend(Path);
    if (!File.IsOpen()) {
        Path.clear();
        return;
    }
    // Without the mark, Notepad before Windows 10 and PowerShell 5 read the file in the 8-bit
    // code page, and any path outside it comes out garbled.
    if (File.Size() == 0) File.Write("\xEF\xBB\xBF", 3);
    openLog = this;
#ifndef SETUP_VERSION
#define SETUP_VERSION "(no version)"
#endif
    LogLine("Setup " SETUP_VERSION ":", CommandLine);
}

TRunLog::~TRunLog() {
    if (openLog == this) openLog = nullptr;
}

void LogLine(const char* What) { Write(What, nullptr, nullptr, 0); }
void LogLine(const char* What, const std::u16string& Subject) { Write(What, &Subject, nullptr, 0); }
void LogResult(std::uint32_t Code, const char* What, const std::u16string& Subject) {
    Write(What, &Subject, nullptr, Code);
}

bool LogStep(bool Done, const char* What, const std::u16string& Subject, const char16_t* Detail) {
    Write(What, &Subject, Detail, Done ? 0 : platform::LastError());
    return Done;
}

bool LogRemoval(bool Done, const char* What, const std::u16string& Subject, const char16_t* Detail) {
    Write(What, &Subject, Detail, Done ? 0 : kRemoval | platform::LastError());
    return Done;
}

std::u16string RunLogPath() { return openLog ? openLog->Path : std::u16string(); }
